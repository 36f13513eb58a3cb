#include <gtest/gtest.h>
#include "shell/demo.h"

TEST(ResolutionTable, MapsEveryChoice) {
    struct Row { int choice; const char* label; int w, h, full; } rows[] = {
        {1, "640x480", 640, 480, 1}, {2, "800x600", 800, 600, 1}, {3, "960x720", 960, 720, 1},
        {4, "1024x768 (default)", 1024, 768, 1}, {5, "1152x864", 1152, 864, 1}, {6, "1280x960", 1280, 960, 1},
        {7, "1280x1024", 1280, 1024, 1}, {8, "windowed", 800, 600, 0},
        {0, nullptr, 1024, 768, 1}, {chooserRowCount + 1, nullptr, 1024, 768, 1}, {-3, nullptr, 1024, 768, 1},
    };
    ASSERT_EQ(chooserRowCount, 8);
    for (const Row& r : rows) {
        if (r.label) {
            EXPECT_STREQ(chooserRows[r.choice - 1].label, r.label);
        }
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

// A minimised window reports 0 x 0; drawing keeps the last real size so no
// viewport or aspect computation sees a zero. (No GL context here: the GL
// calls behind the size callback do nothing.)
TEST(RenderWindow, MinimisedKeepsLastSize) {
    ASSERT_NE(renderWindowCallbacks.size, nullptr);
    renderWindowCallbacks.size(1024, 768);
    EXPECT_EQ(screenWidth, 1024);
    EXPECT_EQ(screenHeight, 768);
    for (auto [w, h] : {std::pair{0, 0}, {0, 768}, {1024, 0}}) {
        renderWindowCallbacks.size(w, h);
        EXPECT_EQ(screenWidth, 1024) << w << "x" << h;
        EXPECT_EQ(screenHeight, 768) << w << "x" << h;
    }
    renderWindowCallbacks.size(640, 480);
    EXPECT_EQ(screenWidth, 640);
    EXPECT_EQ(screenHeight, 480);
}
