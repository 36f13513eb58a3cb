#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include "shell/timeline.h"

TEST(Timeline, PhaseFollowsSongPosition) {
    EXPECT_FALSE(decideFrame(20.0f, 0.0f, 1).mainPhase);
    EXPECT_FALSE(decideFrame(20.0f, 0.999f, 1).mainPhase);
    EXPECT_FALSE(decideFrame(20.0f, songPositionOf(0, 255), 1).mainPhase);
    EXPECT_TRUE(decideFrame(20.0f, 1.0f, 1).mainPhase);
    EXPECT_TRUE(decideFrame(20.0f, songPositionOf(1, 0), 1).mainPhase);
    EXPECT_TRUE(decideFrame(20.0f, songPositionOf(2, 40), 1).mainPhase);
    // A position that is not a number counts as main phase.
    EXPECT_TRUE(decideFrame(20.0f, std::numeric_limits<float>::quiet_NaN(), 1).mainPhase);
    EXPECT_TRUE(decideFrame(20.0f, std::numeric_limits<float>::infinity(), 1).mainPhase);
    // The phase ignores the demo clock.
    EXPECT_TRUE(decideFrame(0.0f, 1.0f, 0).mainPhase);
}

TEST(Timeline, SongPositionIsOrderPlusRowThousandths) {
    EXPECT_EQ(songPositionOf(0, 0), 0.0f);
    EXPECT_EQ(songPositionOf(1, 0), 1.0f);
    EXPECT_EQ(songPositionOf(3, 17), static_cast<float>(3 + 17 * 0.001));
    EXPECT_LT(songPositionOf(0, 255), 0.256f);
}

TEST(Timeline, IntroThresholdsAreStrict) {
    FrameDecision d = decideFrame(2.0f, 0.0f, 0);
    EXPECT_FALSE(d.introCard);
    EXPECT_FALSE(d.introRing);
    d = decideFrame(std::nextafter(2.0f, 3.0f), 0.0f, 0);
    EXPECT_TRUE(d.introCard);
    EXPECT_FALSE(d.introRing);
    d = decideFrame(7.0f, 0.0f, 0);
    EXPECT_TRUE(d.introCard);
    EXPECT_FALSE(d.introRing);
    EXPECT_FALSE(d.startMusic);
    d = decideFrame(std::nextafter(7.0f, 8.0f), 0.0f, 0);
    EXPECT_TRUE(d.introRing);
    EXPECT_TRUE(d.startMusic);
}

TEST(Timeline, MusicStartsOnlyOnce) {
    EXPECT_TRUE(decideFrame(7.02f, 0.0f, 0).startMusic);
    EXPECT_FALSE(decideFrame(7.04f, 0.0f, 1).startMusic);
    // A late first frame still starts the music, whatever the phase.
    EXPECT_TRUE(decideFrame(100.0f, 1.5f, 0).startMusic);
    EXPECT_FALSE(decideFrame(-1.0f, 0.0f, 0).startMusic);
}
