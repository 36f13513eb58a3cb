// The output ring and the mixing thread. The ring holds two seconds of 16-bit
// stereo in blocks of 20 ms; the device loops over it for ever while the thread
// re-renders each block just after the device has played it. writeBlock is the
// next block to render, heardBlock the one playing now, positions[] the song
// order and row each block started at. Only the mixing thread renders once it
// runs; stop waits for mixBusy and threadDone before it frees the ring.
#include "music/output.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/sequencer.h"
#include "music/stream.h"
#include "platform/platform.h"

int32_t outputRate = PLAT_OUTPUT_RATE;
int32_t blockFrames = 884;
int32_t ringFrames = 88400;

namespace {

const PlatAudioDevice* device = nullptr;   // the open device, null when closed
bool threaded = true;
bool looping = false;

std::vector<int16_t> pcm;
std::vector<float> mixStorage;
float* mix = nullptr;
std::unique_ptr<std::atomic<uint16_t>[]> positions;
int32_t blockCount = 100;

std::atomic<int32_t> writeBlock{0};
std::atomic<int32_t> heardBlock{0};
std::atomic<Player*> currentPlayer{nullptr};
std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> mixBusy{0};
std::atomic<uint8_t> threadDone{1};
PlatThread* thread = nullptr;

// The device counter is 32 bits; this extends it so the ring arithmetic never sees the wrap.
uint32_t lastDevicePosition = 0;
uint64_t playedBytes = 0;

}  // namespace

void renderFrames(Player* player, float* slot, int16_t* out, int32_t frames) {
    std::fill(slot, slot + 2 * frames, 0.0f);
    int32_t left = player->samplesLeftInTick;
    int32_t done = 0;
    while (done < frames) {
        if (left <= 0) {
            if (player->tickRoutine)
                player->tickRoutine(player);
            else
                playerTick(player);
            left = player->samplesPerTick > 0 ? player->samplesPerTick : 1;
        }
        int32_t n = std::min(left, frames - done);
        mixVoices(slot + 2 * done, n);
        done += n;
        left -= n;
    }
    player->samplesLeftInTick = left;
    convertBlock(out, slot, frames);
}

// 20 ms rounded up to whole groups of 4 frames; the ring holds two seconds.
void audioSetBlockGeometry(int32_t rate) {
    outputRate = rate;
    blockFrames = (outputRate * 20 / 1000 + 3) & ~3;
    ringFrames = (1000 / 20) * blockFrames * 2;
    blockCount = ringFrames / blockFrames;
}

void audioStop() {
    stopRequested = 1;
    while (mixBusy)
        platSleep(0);
    if (thread) {
        while (!threadDone)
            platSleep(50);
        platThreadForget(thread);
        thread = nullptr;
    }
    mixStorage.clear();
    mixStorage.shrink_to_fit();
    mix = nullptr;
    // Reset before unprepare: the device must let go of the ring before it is freed.
    if (looping && device) {
        device->reset();
        device->unprepare();
    }
    looping = false;
    pcm.clear();
    pcm.shrink_to_fit();
    currentPlayer = nullptr;
    positions.reset();
}

void audioSetThreaded(bool enabled) {
    threaded = enabled;
}

bool audioUsingSilentDevice() {
    return device == &silentAudioDevice;
}

bool audioOpen(int32_t rate) {
    if (!streamHooksInstalled())
        return false;
    audioClose();
    if (rate < 50 || rate > 1000000)
        return false;
    device = audioChosenDevice();
    bool opened = device->open(rate);
    if (!opened) {
        device = &silentAudioDevice;
        device->open(rate);
    }
    audioSetBlockGeometry(rate);
    mixerSetup(outputRate);
    return opened;
}

void audioClose() {
    if (currentPlayer)
        audioStop();
    if (!device)
        return;
    device->reset();
    device->close();
    device = nullptr;
    looping = false;
}

void renderBlock() {
    Player* player = currentPlayer;
    int32_t block = writeBlock;
    renderFrames(player, mix + static_cast<size_t>(block) * blockFrames * 2,
                 pcm.data() + static_cast<size_t>(block) * blockFrames * 2, blockFrames);
    positions[block] = static_cast<uint16_t>((player->order & 0xff) | ((player->row & 0xff) << 8));
    writeBlock = block + 1 >= blockCount ? 0 : block + 1;
}

void audioPumpOnce() {
    if (!currentPlayer || !device)
        return;
    uint32_t now = device->position();
    playedBytes += static_cast<uint32_t>(now - lastDevicePosition);
    lastDevicePosition = now;
    int32_t playBlock = static_cast<int32_t>(((playedBytes / 4) % static_cast<uint64_t>(ringFrames)) /
                                             static_cast<uint64_t>(blockFrames));
    while (writeBlock != playBlock) {
        mixBusy = 1;
        renderBlock();
        int32_t heard = heardBlock + 1;
        heardBlock = heard >= blockCount ? 0 : heard;
        mixBusy = 0;
    }
}

int mixThread() {
    threadDone = 0;
    while (!stopRequested) {
        audioPumpOnce();
        platSleep(5);
    }
    threadDone = 1;
    return 0;
}

void audioReleasePlayer(Player* player) {
    while (mixBusy)
        platSleep(0);
    if (player && currentPlayer == player)
        audioStop();
}

bool audioPlay(Player* player) {
    if (!device)
        return false;
    // Voices may still point into a song freed since the last start.
    mixerSetup(outputRate);
    sequencerReset(player);   // also binds channel i to voice i
    currentPlayer = player;
    positions.reset(new std::atomic<uint16_t>[static_cast<size_t>(blockCount)]);
    for (int32_t i = 0; i < blockCount; ++i)
        positions[i] = 0;
    pcm.assign(static_cast<size_t>(ringFrames) * 2, 0);
    mixStorage.assign(static_cast<size_t>(ringFrames) * 2 + 64 + 4, 0.0f);
    uintptr_t address = reinterpret_cast<uintptr_t>(mixStorage.data());
    mix = mixStorage.data() + ((16 - (address & 15)) & 15) / sizeof(float);
    writeBlock = 0;
    do {
        renderBlock();
    } while (writeBlock != 0);
    heardBlock = 0;
    lastDevicePosition = 0;
    playedBytes = 0;
    device->loop(pcm.data(), static_cast<uint32_t>(ringFrames) * 4);
    looping = true;
    stopRequested = 0;
    if (threaded) {
        // Cleared here, not only in the thread: a stop right after the start must wait for it.
        threadDone = 0;
        thread = platThreadStart(mixThread);
        if (!thread)
            threadDone = 1;
    }
    return true;
}

int32_t audioBlockCount() { return blockCount; }
int32_t audioWriteBlock() { return writeBlock; }
int32_t audioHeardBlock() { return heardBlock; }
PositionRecord audioPositionRecord(int32_t block) {
    if (!positions || block < 0 || block >= blockCount)
        return {0, 0};
    uint16_t v = positions[block];
    return {static_cast<uint8_t>(v & 0xff), static_cast<uint8_t>(v >> 8)};
}
const int16_t* audioRing() { return pcm.empty() ? nullptr : pcm.data(); }
Player* audioCurrentPlayer() { return currentPlayer; }
