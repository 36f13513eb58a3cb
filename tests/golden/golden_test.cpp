// Whole-show frames from the capture path at 640 x 480 and 50 frames per
// second, compared with the committed reference images. Set
// TUMBLE_GOLDEN_UPDATE=1 to rewrite the references (then look at them).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <cstdlib>
#include <string>
#include <vector>
#include "music/module.h"
#include "music/offline.h"
#include "shell/demo.h"
#include "text/messages.h"
#include "tools/capture/capture.h"
#include "data/embedded.h"

namespace {

constexpr int32_t WIDTH = 640, HEIGHT = 480, FPS = 50;

struct Golden {
    const char* name;
    std::vector<uint8_t> rgb;
    int32_t frame = -1;
};

// Per channel a few levels; a thin scatter of rasterisation differences on edges.
const int channelTolerance = 8;
const double outlierShare = 0.001;

void compareWithReference(const Golden& g) {
    const std::string ref = std::string(GOLDEN_REF_DIR) + "/" + g.name + ".png";
    if (std::getenv("TUMBLE_GOLDEN_UPDATE")) {
        ASSERT_TRUE(writePng(ref, WIDTH, HEIGHT, g.rgb.data(), 9)) << ref;
        return;
    }
    int32_t w = 0, h = 0;
    std::vector<uint8_t> expected;
    ASSERT_TRUE(readPng(ref, &w, &h, &expected)) << "missing reference " << ref;
    ASSERT_EQ(w, WIDTH);
    ASSERT_EQ(h, HEIGHT);
    size_t outliers = 0;
    int worst = 0;
    for (size_t p = 0; p < static_cast<size_t>(WIDTH) * HEIGHT; ++p) {
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d = std::max(d, std::abs(int(g.rgb[p * 3 + c]) - int(expected[p * 3 + c])));
        worst = std::max(worst, d);
        if (d > channelTolerance)
            ++outliers;
    }
    const bool ok = outliers <= static_cast<size_t>(outlierShare * WIDTH * HEIGHT);
    if (!ok) {
        mkdir(GOLDEN_OUT_DIR, 0755);
        writePng(std::string(GOLDEN_OUT_DIR) + "/" + g.name + ".png", WIDTH, HEIGHT, g.rgb.data(), 1);
    }
    EXPECT_TRUE(ok) << g.name << " (frame " << g.frame << "): " << outliers
                    << " pixels off by more than " << channelTolerance << ", worst " << worst
                    << "; actual frame written to " << GOLDEN_OUT_DIR;
}

}  // namespace

TEST(Golden, WholeShow) {
    std::string error;
    ASSERT_TRUE(captureBegin(WIDTH, HEIGHT, FPS, &error)) << error;

    Golden shots[6] = {{"t01s", {}}, {"t05s", {}}, {"t09s", {}},
                       {"main00s", {}}, {"main05s", {}}, {"main08s", {}}};
    std::vector<uint8_t> rgb(static_cast<size_t>(WIDTH) * HEIGHT * 3);
    int32_t firstMain = -1;
    int32_t musicFrame = -1;
    const int32_t limit = 90 * FPS;   // the first order position is far shorter
    for (int32_t i = 0; i < limit; ++i) {
        const CaptureFrame f = captureFrame(rgb.data());
        if (musicFrame < 0 && musicStarted)
            musicFrame = i;
        if (f.mainPhase && firstMain < 0) {
            firstMain = i;
            // Not before the music has played its first order position.
            EXPECT_GT(f.demoTime, 7.0f);
            EXPECT_NEAR(messageScreen.textTime, 1.0f / FPS, 1e-4) << "first increment is one frame interval";
        }
        if (firstMain >= 0 && !f.mainPhase)
            ADD_FAILURE() << "the intro came back at frame " << i;
        int slot = -1;
        if (i == 1 * FPS) slot = 0;
        if (i == 5 * FPS) slot = 1;
        if (i == 9 * FPS) slot = 2;
        if (firstMain >= 0 && i == firstMain) slot = 3;
        if (firstMain >= 0 && i == firstMain + 5 * FPS) slot = 4;
        if (firstMain >= 0 && i == firstMain + 8 * FPS) slot = 5;
        if (slot >= 0) {
            shots[slot].rgb = rgb;
            shots[slot].frame = i;
        }
        if (slot == 5)
            break;
    }
    captureFinishAudio();
    const std::vector<int16_t> audio = captureAudio();
    const int32_t frames = captureFrameIndex();
    captureEnd();

    ASSERT_GE(firstMain, 0) << "the main phase never began";
    // The music starts on the first frame after 7 s (frame 350 is exactly 7 s).
    EXPECT_EQ(musicFrame, 7 * FPS + 1);
    // music.wav: aligned with frame 0, silent until the start frame, then playing.
    EXPECT_EQ(audio.size(), static_cast<size_t>(frames) * (CAPTURE_RATE / FPS) * 2);
    const size_t startSample = static_cast<size_t>(musicFrame) * (CAPTURE_RATE / FPS) * 2;
    bool silentBefore = true, soundAfter = false;
    for (size_t s = 0; s < audio.size(); ++s) {
        if (s < startSample)
            silentBefore = silentBefore && audio[s] == 0;
        else
            soundAfter = soundAfter || audio[s] != 0;
    }
    EXPECT_TRUE(silentBefore);
    EXPECT_TRUE(soundAfter);
    // From the start frame on it is exactly the song as the block renderer makes it.
    const uint8_t* tune = nullptr;
    uint32_t tuneSize = 0;
    ASSERT_TRUE(platResource(MUSIC_RESOURCE_ID, "RAWDATA", &tune, &tuneSize));
    Player* song = moduleOpenMemory(tune, tuneSize);
    ASSERT_NE(song, nullptr);
    offlineRenderStart(song);
    std::vector<int16_t> reference(audio.size() - startSample);
    offlineRender(song, reference.data(), static_cast<uint32_t>(reference.size() / 2));
    moduleFree(song);
    size_t firstDifference = reference.size();
    for (size_t s = 0; s < reference.size() && firstDifference == reference.size(); ++s)
        if (audio[startSample + s] != reference[s])
            firstDifference = s;
    EXPECT_EQ(firstDifference, reference.size()) << "music.wav departs from the song at sample frame "
                                                 << firstDifference / 2;

    for (const Golden& g : shots) {
        ASSERT_FALSE(g.rgb.empty()) << g.name;
        compareWithReference(g);
    }
}
