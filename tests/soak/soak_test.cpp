// Long-run checks of the player against a fake wave-out device whose play
// position the test moves by hand: hours of song through the wrap of the
// device's 32-bit byte counter, and many start/stop cycles of the threaded
// player.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "music/module.h"
#include "music/offline.h"
#include "music/output.h"
#include "music/player.h"
#include "platform/platform.h"

namespace {

std::string modulePath;

// The fake device: a byte counter that only the test advances.
std::atomic<uint32_t> devicePosition{0};
std::atomic<int> deviceLoops{0};
std::atomic<int> deviceResets{0};
const int16_t* deviceRing = nullptr;
uint32_t deviceRingBytes = 0;

bool fakeOpen(int32_t) { return true; }
void fakeLoop(void* pcm, uint32_t bytes) {
    deviceRing = static_cast<const int16_t*>(pcm);
    deviceRingBytes = bytes;
    devicePosition = 0;
    deviceLoops++;
}
void fakeUnprepare() {}
uint32_t fakePosition() { return devicePosition; }
void fakeReset() {
    devicePosition = 0;
    deviceResets++;
}
void fakeClose() {}
const PlatAudioDevice fakeDevice = {fakeOpen, fakeLoop, fakeUnprepare, fakePosition, fakeReset, fakeClose};

std::vector<uint8_t> readModule() {
    std::ifstream in(modulePath, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint32_t blockChecksum(const int16_t* pcm, int32_t frames) {
    uint32_t h = 2166136261u;
    for (int32_t i = 0; i < frames * 2; i++) h = (h ^ static_cast<uint16_t>(pcm[i])) * 16777619u;
    return h;
}

struct Clock {
    uint8_t order;
    uint8_t row;
    bool operator==(const Clock&) const = default;
};

double soakHours() {
    const char* v = std::getenv("TUMBLE_SOAK_HOURS");
    return v ? std::atof(v) : 7.2;
}

class Soak : public ::testing::Test {
protected:
    void SetUp() override {
        bytes = readModule();
        ASSERT_FALSE(bytes.empty()) << "cannot read " << modulePath;
        player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        ASSERT_NE(player, nullptr) << moduleLoadError();
        audioSetDevice(&fakeDevice);
        ASSERT_TRUE(audioOpen(PLAT_OUTPUT_RATE));
    }
    void TearDown() override {
        if (player) {
            playerStop(player);
            moduleFree(player);
        }
        audioClose();
        audioSetDevice(nullptr);
        audioSetThreaded(true);
    }
    std::vector<uint8_t> bytes;
    Player* player = nullptr;
};

TEST_F(Soak, SongClockFollowsTheSongThroughTheByteCounterWrap) {
    const double hours = soakHours();
    const int32_t frames = blockFrames;
    const uint32_t blockBytes = static_cast<uint32_t>(frames) * 4;
    const uint64_t totalBlocks = static_cast<uint64_t>(hours * 3600.0 * double(PLAT_OUTPUT_RATE) / frames);

    // Reference 1: the first minute of the song as the offline renderer makes it.
    const uint64_t referenceBlocks = 3000;
    std::vector<uint32_t> reference(referenceBlocks);
    {
        std::vector<int16_t> block(static_cast<size_t>(frames) * 2);
        offlineRenderStart(player);
        for (uint64_t g = 0; g < referenceBlocks; g++) {
            offlineRender(player, block.data(), static_cast<uint32_t>(frames));
            reference[g] = blockChecksum(block.data(), frames);
        }
    }
    // Reference 2: the song position after every tick, from the sequencer
    // alone. Ticks fall at exact frame counts, so the clock of a block that
    // ends at frame F is the state after the last tick that started before F.
    offlineRenderStart(player);
    const int32_t samplesPerTick = player->samplesPerTick;
    ASSERT_GT(samplesPerTick, 0);
    // Rendering runs a ring ahead of the device, and the last step may pass the end.
    const uint64_t totalTicks = (totalBlocks + 200) * frames / samplesPerTick + 2;
    std::vector<Clock> afterTick(totalTicks);
    for (uint64_t k = 0; k < totalTicks; k++) {
        player->tickRoutine(player);
        ASSERT_EQ(player->samplesPerTick, samplesPerTick) << "tempo changed at tick " << k;
        afterTick[k] = {static_cast<uint8_t>(player->order), static_cast<uint8_t>(player->row)};
    }
    auto expectedClock = [&](uint64_t block) {
        uint64_t endFrame = (block + 1) * static_cast<uint64_t>(frames);
        return afterTick[(endFrame - 1) / static_cast<uint64_t>(samplesPerTick)];
    };

    audioSetThreaded(false);
    deviceLoops = 0;
    ASSERT_TRUE(playerStart(player));
    ASSERT_EQ(deviceLoops, 1);
    ASSERT_EQ(deviceRingBytes, static_cast<uint32_t>(ringFrames) * 4);
    const int32_t ringBlocks = audioBlockCount();

    // Checksums of every block rendered, by global block number, kept for
    // the ring's length: a block is checked when the device plays it.
    std::vector<uint32_t> rendered(static_cast<size_t>(ringBlocks));
    uint64_t renderedCount = 0;
    auto collect = [&](uint64_t upTo) {
        for (; renderedCount < upTo; renderedCount++) {
            int32_t slot = static_cast<int32_t>(renderedCount % static_cast<uint64_t>(ringBlocks));
            const int16_t* pcm = audioRing() + static_cast<size_t>(slot) * frames * 2;
            uint32_t sum = blockChecksum(pcm, frames);
            rendered[static_cast<size_t>(slot)] = sum;
            if (renderedCount < referenceBlocks) {
                ASSERT_EQ(sum, reference[renderedCount]) << "block " << renderedCount << " differs from the offline render";
            }
            PositionRecord record = audioPositionRecord(slot);
            Clock want = expectedClock(renderedCount);
            ASSERT_TRUE(record.order == want.order && record.row == want.row)
                << "position record of block " << renderedCount << " is " << int(record.order) << ":"
                << int(record.row) << ", song says " << int(want.order) << ":" << int(want.row);
        }
    };
    collect(static_cast<uint64_t>(ringBlocks));   // the pre-rendered ring

    std::mt19937 random(12345);
    uint64_t played = 0;           // bytes, 64-bit: the device's counter wraps
    bool wrapped = false;
    Clock previous = expectedClock(0);
    while (played / blockBytes < totalBlocks) {
        // Whole blocks most of the time, now and then a partial one; never
        // more than half the ring, as a device that keeps up would.
        uint32_t step = (1 + random() % 40) * blockBytes;
        if (random() % 8 == 0)
            step += 4 * (random() % static_cast<uint32_t>(frames));
        uint32_t before = devicePosition;
        devicePosition = before + step;
        if (devicePosition < before)
            wrapped = true;
        played += step;
        audioPumpOnce();

        uint64_t heard = played / blockBytes;   // global number of the block being played
        ASSERT_EQ(audioHeardBlock(), static_cast<int32_t>(heard % static_cast<uint64_t>(ringBlocks)));
        ASSERT_EQ(audioWriteBlock(), audioHeardBlock());
        // Everything up to the block before the one being played was re-rendered.
        collect(heard + static_cast<uint64_t>(ringBlocks));
        if (HasFatalFailure())
            return;
        // The block being played holds what was rendered for it.
        int32_t slot = audioHeardBlock();
        ASSERT_EQ(blockChecksum(deviceRing + static_cast<size_t>(slot) * frames * 2, frames),
                  rendered[static_cast<size_t>(slot)]);
        // The song clock reads that block's position, and moves on smoothly.
        Clock now = {static_cast<uint8_t>(playerGetOrder(player)), static_cast<uint8_t>(playerGetRow(player))};
        Clock want = expectedClock(heard);
        ASSERT_TRUE(now == want) << "clock " << int(now.order) << ":" << int(now.row) << " at block " << heard
                                 << ", song says " << int(want.order) << ":" << int(want.row);
        if (!(now == previous)) {
            bool sameOrderForward = now.order == previous.order && now.row > previous.row;
            bool nextOrder = now.order != previous.order;
            ASSERT_TRUE(sameOrderForward || nextOrder)
                << "clock went back from " << int(previous.order) << ":" << int(previous.row) << " to "
                << int(now.order) << ":" << int(now.row) << " at block " << heard;
        }
        previous = now;
    }
    EXPECT_TRUE(wrapped) << "the device counter never wrapped";
    EXPECT_GT(played, uint64_t(1) << 32);
    std::printf("played %.2f hours (%llu blocks), counter wrapped: %s\n",
                double(played) / 4 / double(PLAT_OUTPUT_RATE) / 3600, static_cast<unsigned long long>(played / blockBytes),
                wrapped ? "yes" : "no");
}

int startStopCycles() {
    const char* v = std::getenv("TUMBLE_SOAK_CYCLES");
    return v ? std::atoi(v) : 1000;
}

// The real mixing thread against a device the test moves while it runs;
// each stop lands at a different moment of the thread's loop. A hang fails
// the test instead of blocking it for ever.
TEST_F(Soak, StartStopCyclesNeverHang) {
    const int cycles = startStopCycles();
    audioSetThreaded(true);
    std::atomic<int> done{0};
    std::atomic<bool> allStarted{true};
    auto work = std::async(std::launch::async, [&] {
        std::mt19937 random(777);
        const uint32_t blockBytes = static_cast<uint32_t>(blockFrames) * 4;
        for (int i = 0; i < cycles; i++) {
            if (!playerStart(player))
                allStarted = false;
            int steps = static_cast<int>(random() % 4);
            for (int s = 0; s < steps; s++) {
                devicePosition = devicePosition + (1 + random() % 20) * blockBytes;
                std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            }
            if (random() % 4 == 0)
                devicePosition = devicePosition + 30 * blockBytes;   // the thread is likely rendering now
            playerStop(player);
            done++;
        }
    });
    // Generous: a cycle costs a pre-render and at most one 50 ms wait.
    auto limit = std::chrono::seconds(60 + cycles / 2);
    if (work.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "start/stop hung after %d of %d cycles\n", done.load(), cycles);
        std::fflush(stderr);
        std::_Exit(1);
    }
    work.get();
    EXPECT_TRUE(allStarted);
    EXPECT_EQ(done, cycles);
    EXPECT_EQ(audioCurrentPlayer(), nullptr);
    EXPECT_EQ(audioRing(), nullptr);
    EXPECT_EQ(playerGetOrder(player), 0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    modulePath = argc > 1 ? argv[1] : "data/tune.xm";
    return RUN_ALL_TESTS();
}
