#include "music/output.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer.h"
#include "music/stream.h"
#include "platform/platform.h"
#include "data/embedded.h"

int32_t outputRate = MUSIC_OUTPUT_RATE;
int32_t blockFrames = 884;
int32_t ringFrames = 88400;

namespace {

// The platform's wave-out behind the device interface.
bool waveOpen(int32_t rate) { return platAudioDevice.open(rate); }
void waveLoop(void* pcm, uint32_t bytes) { platAudioDevice.loop(pcm, bytes); }
void waveUnprepare() { platAudioDevice.unprepare(); }
uint32_t wavePosition() { return platAudioDevice.position(); }
void waveReset() { platAudioDevice.reset(); }
void waveClose() { platAudioDevice.close(); }
const AudioDevice platformDevice = {waveOpen, waveLoop, waveUnprepare, wavePosition, waveReset, waveClose};

// No device: the ring is consumed at the real-time rate so the song clock still runs.
int32_t silentRate = MUSIC_OUTPUT_RATE;
uint32_t silentStart = 0;
std::atomic<bool> silentLooping{false};
bool silentOpen(int32_t rate) {
    silentRate = rate;
    silentLooping = false;
    return true;
}
void silentLoop(void*, uint32_t) {
    silentStart = platTickCount();
    silentLooping = true;
}
void silentNothing() {}
uint32_t silentPosition() {
    if (!silentLooping)
        return 0;
    uint64_t elapsed = static_cast<uint32_t>(platTickCount() - silentStart);
    return static_cast<uint32_t>(elapsed * static_cast<uint64_t>(silentRate) * 4 / 1000);
}
void silentReset() { silentLooping = false; }
const AudioDevice silentDevice = {silentOpen, silentLoop, silentNothing, silentPosition, silentReset, silentNothing};

const AudioDevice* chosenDevice = nullptr;
const AudioDevice* device = nullptr;   // the open device, null when closed
bool usingSilent = false;
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

void renderInto(Player* player, float* slot, int16_t* out, int32_t frames) {
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
void setBlockGeometry(int32_t rate) {
    outputRate = rate;
    blockFrames = (outputRate * 20 / 1000 + 3) & ~3;
    ringFrames = (1000 / 20) * blockFrames * 2;
    blockCount = ringFrames / blockFrames;
}

void stopPlayback() {
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

}  // namespace

void audioSetDevice(const AudioDevice* dev) {
    chosenDevice = dev;
}

void audioSetThreaded(bool enabled) {
    threaded = enabled;
}

bool audioUsingSilentDevice() {
    return device && usingSilent;
}

bool audioOpen(int32_t rate) {
    if (!streamHooksInstalled())
        return false;
    audioClose();
    if (rate < 50 || rate > 1000000)
        return false;
    const AudioDevice* wanted = chosenDevice ? chosenDevice : &platformDevice;
    bool opened = wanted->open(rate);
    if (opened) {
        device = wanted;
        usingSilent = false;
    } else {
        device = &silentDevice;
        usingSilent = true;
        device->open(rate);
    }
    setBlockGeometry(rate);
    mixerSetup(outputRate);
    return opened;
}

void audioClose() {
    if (currentPlayer)
        stopPlayback();
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
    renderInto(player, mix + static_cast<size_t>(block) * blockFrames * 2,
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
        stopPlayback();
}

Player* playerCreate() {
    installResourceStreamHooks();
    audioOpen(MUSIC_OUTPUT_RATE);
    Player* player = moduleOpen(MUSIC_RESOURCE_ID, nullptr);
    if (player)
        player->tickRoutine = playerTick;
    return player;
}

void playerDestroy(Player* player) {
    moduleFree(player);
    audioClose();
}

bool playerStart(Player* player) {
    if (!player)
        return false;
    playerStop(player);
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

bool playerStop(Player* player) {
    if (!player)
        return false;
    stopPlayback();
    return true;
}

int playerGetOrder(Player* player) {
    if (!player || !positions)
        return 0;
    return positions[heardBlock] & 0xff;
}

int playerGetRow(Player* player) {
    if (!player || !positions)
        return 0;
    return positions[heardBlock] >> 8;
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

// Offline rendering shares the block renderer's arithmetic, block by block.
namespace {
std::vector<float> offlineSlot;
std::vector<int16_t> offlineBlock;
int32_t offlineUsed = 0;   // frames of offlineBlock already handed out
}  // namespace

Player* moduleOpenMemory(const uint8_t* data, uint32_t size) {
    installMemoryStreamHooks();
    MemoryBlock block = {data, size};
    return moduleOpenStream(reinterpret_cast<intptr_t>(&block), nullptr);
}

void offlineRenderStart(Player* player) {
    if (!player)
        return;
    setBlockGeometry(MUSIC_OUTPUT_RATE);
    mixerSetup(outputRate);
    sequencerReset(player);
    offlineSlot.assign(static_cast<size_t>(blockFrames) * 2, 0.0f);
    offlineBlock.assign(static_cast<size_t>(blockFrames) * 2, 0);
    offlineUsed = blockFrames;
}

void offlineRender(Player* player, int16_t* out, uint32_t frames) {
    if (!player || !out || offlineBlock.empty())
        return;
    while (frames > 0) {
        if (offlineUsed >= blockFrames) {
            renderInto(player, offlineSlot.data(), offlineBlock.data(), blockFrames);
            offlineUsed = 0;
        }
        uint32_t n = std::min<uint32_t>(frames, static_cast<uint32_t>(blockFrames - offlineUsed));
        std::copy_n(offlineBlock.data() + offlineUsed * 2, n * 2, out);
        out += n * 2;
        frames -= n;
        offlineUsed += static_cast<int32_t>(n);
    }
}
