#include <gtest/gtest.h>
#include "shell/demo.h"

TEST(ResolutionTable, MapsEveryChoice) {
    struct Row { int choice, w, h, full; } rows[] = {
        {1, 640, 480, 1}, {2, 800, 600, 1}, {3, 960, 720, 1}, {4, 1024, 768, 1},
        {5, 1152, 864, 1}, {6, 1280, 960, 1}, {7, 1280, 1024, 1}, {8, 800, 600, 0},
        {0, 1024, 768, 1}, {9, 1024, 768, 1}, {-3, 1024, 768, 1},
    };
    for (const Row& r : rows) {
        chooseScreenSize(r.choice);
        EXPECT_EQ(screenWidth, r.w) << r.choice;
        EXPECT_EQ(screenHeight, r.h) << r.choice;
        EXPECT_EQ(fullscreen, r.full) << r.choice;
    }
}

TEST(ShellGlobals, StartValues) {
    EXPECT_FLOAT_EQ(fieldOfView, 100.0f);
    EXPECT_EQ(loaded, 0);
    EXPECT_EQ(demo.player, nullptr);
}
