#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/offline.h"
#include "music/output.h"
#include "music/player.h"
#include "music/sequencer.h"
#include "platform/platform.h"
#include "tests/music/xm_modules.h"

namespace {

// A wave-out device whose play position the test sets by hand.
std::atomic<uint32_t> fakePosition{0};
std::atomic<uint32_t> fakeAdvance{0};   // added on every position query (threaded tests)
bool fakeOpens = true;
void* fakeRing = nullptr;
uint32_t fakeRingBytes = 0;
int fakeResets = 0;
bool fakeOpen(int32_t) { return fakeOpens; }
void fakeLoop(void* pcm, uint32_t bytes) {
    fakeRing = pcm;
    fakeRingBytes = bytes;
    fakePosition = 0;
}
void fakeUnprepare() { fakeRing = nullptr; }
uint32_t fakePositionQuery() { return fakePosition.fetch_add(fakeAdvance) + fakeAdvance; }
void fakeReset() { ++fakeResets; }
void fakeClose() {}
const PlatAudioDevice fakeDevice = {fakeOpen, fakeLoop, fakeUnprepare, fakePositionQuery, fakeReset, fakeClose};

const uint32_t BLOCK_BYTES = 884 * 4;

XmModule testSong(uint16_t rows = 64, uint16_t speed = 6) {
    XmModule m;
    m.channels = 2;
    m.speed = speed;
    m.songLength = 2;
    m.orders = {0, 1};
    m.patterns.push_back(emptyPattern(rows, 2));
    m.patterns.push_back(emptyPattern(rows, 2));
    for (uint16_t r = 0; r < rows; r += 3)
        m.patterns[0].cells[r * 2] = {static_cast<uint8_t>(40 + r % 20), 1, 0, 0, 0};
    m.patterns[1].cells[1] = {49, 1, 0, 0, 0};
    std::vector<int16_t> wave(2000);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] = static_cast<int16_t>((static_cast<int>(i % 100) - 50) * 300);
    m.instruments.push_back(simpleInstrument(wave, true, 1, 500, 1500));
    return m;
}

struct Session {
    std::vector<uint8_t> bytes;
    Player* player = nullptr;
    explicit Session(const XmModule& m, bool threaded = false) {
        audioSetDevice(&fakeDevice);
        audioSetThreaded(threaded);
        fakeOpens = true;
        fakeAdvance = 0;
        bytes = writeXm(m);
        player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        audioOpen(44100);
    }
    ~Session() {
        moduleFree(player);
        audioClose();
        audioSetDevice(nullptr);
        audioSetThreaded(true);
    }
    // Moves the device on by `blocks` blocks and runs one pass of the mixing loop.
    void play(uint32_t blocks) {
        fakePosition = fakePosition + blocks * BLOCK_BYTES;
        audioPumpOnce();
    }
};

TEST(Output, StartPreRendersTheWholeRingAndReadsTheFirstBlock) {
    Session s(testSong());
    ASSERT_NE(s.player, nullptr);
    EXPECT_EQ(blockFrames, 884);
    EXPECT_EQ(ringFrames, 88400);
    EXPECT_EQ(audioBlockCount(), 100);
    EXPECT_FALSE(playerStart(nullptr));
    ASSERT_TRUE(playerStart(s.player));
    EXPECT_EQ(fakeRingBytes, 88400u * 4);
    EXPECT_EQ(fakeRing, audioRing());
    EXPECT_EQ(audioWriteBlock(), 0);
    EXPECT_EQ(audioHeardBlock(), 0);
    EXPECT_EQ(playerGetOrder(s.player), 0);
    EXPECT_EQ(playerGetRow(s.player), 0);
    EXPECT_EQ(audioPositionRecord(4).row, 0);   // ends at frame 4420: tick 5 of row 0
    EXPECT_EQ(audioPositionRecord(5).row, 1);   // tick 6 (frame 5292) began row 1
    EXPECT_TRUE(playerStop(s.player));
    EXPECT_EQ(audioRing(), nullptr);
    EXPECT_EQ(playerGetOrder(s.player), 0);
    EXPECT_EQ(playerGetOrder(nullptr), 0);
    EXPECT_FALSE(playerStop(nullptr));
}

TEST(Output, TheRingEqualsTheOfflineRender) {
    Session s(testSong());
    ASSERT_TRUE(playerStart(s.player));
    std::vector<int16_t> ring(audioRing(), audioRing() + 88400 * 2);
    s.play(30);
    std::vector<int16_t> next(audioRing(), audioRing() + 30 * 884 * 2);
    playerStop(s.player);

    offlineRenderStart(s.player);
    std::vector<int16_t> offline(2 * (88400 + 30 * 884));
    // Uneven pieces: the offline renderer keeps the block structure itself.
    uint32_t done = 0;
    for (uint32_t piece = 1; done < offline.size() / 2; piece = piece * 3 + 7) {
        uint32_t n = std::min<uint32_t>(piece, static_cast<uint32_t>(offline.size() / 2) - done);
        offlineRender(s.player, offline.data() + 2 * done, n);
        done += n;
    }
    bool anyNonZero = false;
    for (size_t i = 0; i < ring.size(); ++i) {
        ASSERT_EQ(ring[i], offline[i]) << "sample " << i;
        anyNonZero |= ring[i] != 0;
    }
    EXPECT_TRUE(anyNonZero);
    for (size_t i = 0; i < next.size(); ++i)
        ASSERT_EQ(next[i], offline[ring.size() + i]) << "sample " << i;
}

TEST(Output, FloatMirrorAndSixteenBitDataMixTheSame) {
    Session s(testSong());
    offlineRenderStart(s.player);
    std::vector<int16_t> a(2 * 40000), b(2 * 40000);
    offlineRender(s.player, a.data(), 40000);
    Sample* smp = s.player->instruments[0].samples[0];
    float* mirror = smp->dataFloat;
    smp->dataFloat = nullptr;
    offlineRenderStart(s.player);
    offlineRender(s.player, b.data(), 40000);
    smp->dataFloat = mirror;
    EXPECT_EQ(a, b);
}

TEST(Output, ATickInsideABlockSplitsItAtFrame882) {
    XmModule m = testSong(4, 1);
    m.patterns[0] = emptyPattern(4, 2);
    m.patterns[0].cells[1 * 2] = {49, 1, 0, 0, 0};   // row 1 = tick 1 = frame 882
    Session s(m);
    offlineRenderStart(s.player);
    std::vector<int16_t> out(2 * 2000);
    offlineRender(s.player, out.data(), 2000);
    int first = -1;
    for (int i = 0; i < 2000 && first < 0; ++i)
        if (out[2 * i] != 0 || out[2 * i + 1] != 0)
            first = i;
    EXPECT_EQ(first, 883);   // frame 882 starts the ramp at gain 0
}

int ticksSeen = 0;
void countingTick(Player* p) {
    ++ticksSeen;
    playerTick(p);
}

TEST(Output, TicksFallAtExactSongFrames) {
    Session s(testSong());
    ASSERT_TRUE(playerStart(s.player));
    playerStop(s.player);
    s.player->tickRoutine = countingTick;
    ticksSeen = 0;
    ASSERT_TRUE(playerStart(s.player));   // 100 blocks = 88400 frames
    // Ticks at 882k for 882k < 88400: k = 0..100.
    EXPECT_EQ(ticksSeen, 101);
    EXPECT_EQ(s.player->samplesLeftInTick, 882 * 101 - 88400);
}

TEST(Output, PositionRecordsKeepTheLowEightBitsOfTheRow) {
    XmModule m = testSong(300, 1);
    Session s(m);
    ASSERT_TRUE(playerStart(s.player));
    s.play(99);
    s.play(99);
    // 298 blocks rendered; block 270 (in slot 70) ran its last tick on row 271.
    PositionRecord r = audioPositionRecord(270 % 100);
    int row = (884 * 271 - 1) / 882;
    EXPECT_EQ(r.row, row & 0xff);
    EXPECT_EQ(r.order, 0);
    EXPECT_GT(row, 255);
}

TEST(Output, HeardBlockFollowsTheDeviceAndWrapsWithIt) {
    Session s(testSong());
    ASSERT_TRUE(playerStart(s.player));
    s.play(1);
    EXPECT_EQ(audioWriteBlock(), 1);
    EXPECT_EQ(audioHeardBlock(), 1);
    s.play(0);
    EXPECT_EQ(audioWriteBlock(), 1);
    // Jump to just before the 32-bit byte counter wraps, then cross it a block at a time.
    uint32_t start = 0xffffffffu - 5 * BLOCK_BYTES;
    fakePosition = start;
    audioPumpOnce();
    int32_t write = audioWriteBlock();
    int32_t heard = audioHeardBlock();
    for (int i = 0; i < 12; ++i) {
        s.play(1);
        write = (write + 1) % 100;
        heard = (heard + 1) % 100;
        ASSERT_EQ(audioWriteBlock(), write) << "step " << i;
        ASSERT_EQ(audioHeardBlock(), heard) << "step " << i;
    }
    EXPECT_LT(fakePosition.load(), 20 * BLOCK_BYTES);   // the counter did wrap
}

TEST(Output, RestartBeginsAgainAtBlockZero) {
    Session s(testSong());
    ASSERT_TRUE(playerStart(s.player));
    std::vector<int16_t> first(audioRing(), audioRing() + 88400 * 2);
    s.play(37);
    EXPECT_EQ(audioHeardBlock(), 37);
    ASSERT_TRUE(playerStart(s.player));
    EXPECT_EQ(audioHeardBlock(), 0);
    EXPECT_EQ(playerGetOrder(s.player), 0);
    EXPECT_EQ(playerGetRow(s.player), 0);
    // The restart renders the song from its beginning again.
    for (int i = 0; i < 88400 * 2; ++i)
        ASSERT_EQ(audioRing()[i], first[i]) << i;
}

TEST(Output, StartAndStopWhileTheThreadRenders) {
    Session s(testSong(), true);
    for (int round = 0; round < 3; ++round) {
        fakeAdvance = 40 * BLOCK_BYTES;   // every poll finds 40 blocks to render
        ASSERT_TRUE(playerStart(s.player));
        while (audioHeardBlock() == 0)
            platSleep(1);
        EXPECT_TRUE(playerStop(s.player));
        EXPECT_EQ(audioCurrentPlayer(), nullptr);
        EXPECT_EQ(audioRing(), nullptr);
    }
    // A stop right after the start waits for the thread as well.
    ASSERT_TRUE(playerStart(s.player));
    EXPECT_TRUE(playerStop(s.player));
}

TEST(Output, FreeingTheSongStopsItsPlayback) {
    Session s(testSong(), true);
    fakeAdvance = BLOCK_BYTES;
    ASSERT_TRUE(playerStart(s.player));
    moduleFree(s.player);
    s.player = nullptr;
    EXPECT_EQ(audioCurrentPlayer(), nullptr);
}

TEST(Output, WithoutADeviceTheRingIsConsumedInRealTime) {
    Session s(testSong());
    fakeOpens = false;
    EXPECT_FALSE(audioOpen(44100));
    EXPECT_TRUE(audioUsingSilentDevice());
    ASSERT_TRUE(playerStart(s.player));
    uint32_t begin = platTickCount();
    while (platTickCount() - begin < 70)
        platSleep(5);
    audioPumpOnce();
    // 70 ms is at least three 20 ms blocks.
    EXPECT_GE(audioHeardBlock(), 3);
    EXPECT_LE(audioHeardBlock(), 50);
    playerStop(s.player);
}

TEST(Output, MissingHooksKeepTheDeviceClosed) {
    audioSetDevice(&fakeDevice);
    audioClose();
    setStreamHooks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(audioOpen(44100));
    EXPECT_FALSE(audioUsingSilentDevice());
    audioSetDevice(nullptr);
}

TEST(Output, CreateHandsThePlayerToTheCallerAndDestroyClosesTheDevice) {
    audioSetDevice(&fakeDevice);
    fakeOpens = true;
    Player* p = playerCreate();
    if (p) {
        EXPECT_TRUE(playerStart(p));
        EXPECT_EQ(audioCurrentPlayer(), p);
    }
    playerDestroy(p);
    EXPECT_EQ(audioCurrentPlayer(), nullptr);
    audioSetDevice(nullptr);
}

}  // namespace
