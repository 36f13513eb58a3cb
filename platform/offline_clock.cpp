#include "platform/offline_clock.h"

#include <algorithm>

namespace {

enum : uint32_t { BASE_TICKS = 1000 };   // a first frame at tick 0 would not take its start time

int32_t framesPerSecond = 50;
uint64_t clockSamples = 0;
OfflineSoundSink soundSink = nullptr;

struct VirtualWave {
    const int16_t* ring;
    uint32_t ringFrames;
    uint64_t startSample;
    bool playing;
};
VirtualWave wave{};

uint32_t virtualTicks() {
    return BASE_TICKS + static_cast<uint32_t>(clockSamples * 1000 / PLAT_OUTPUT_RATE);
}

uint64_t frameStartSample(int64_t frame) {
    return static_cast<uint64_t>(frame) * PLAT_OUTPUT_RATE / static_cast<uint64_t>(framesPerSecond);
}

bool waveOpen(int32_t rate) {
    return rate == PLAT_OUTPUT_RATE;
}

void waveLoop(void* pcm, uint32_t bytes) {
    wave.ring = static_cast<const int16_t*>(pcm);
    wave.ringFrames = bytes / 4;
    wave.startSample = clockSamples;
    wave.playing = wave.ring && wave.ringFrames > 0;
}

void waveStop() {
    wave.playing = false;
    wave.ring = nullptr;
}

uint32_t wavePosition() {
    if (!wave.playing)
        return 0;
    return static_cast<uint32_t>((clockSamples - wave.startSample) * 4);
}

void waveNothing() {}

}  // namespace

const PlatAudioDevice virtualWaveDevice = {waveOpen, waveLoop, waveStop, wavePosition, waveStop, waveNothing};

void offlineClockStart(int32_t fps, OfflineSoundSink sink) {
    framesPerSecond = fps;
    clockSamples = 0;
    soundSink = sink;
    wave = VirtualWave{};
    platSetTickSource(virtualTicks);
}

void offlineClockStop() {
    platSetTickSource(nullptr);
    waveStop();
}

void advanceClock(int64_t frame) {
    const uint64_t target = frameStartSample(frame);
    while (clockSamples < target) {
        uint64_t count = target - clockSamples;
        const int16_t* samples = nullptr;
        if (wave.playing) {
            const uint32_t at = static_cast<uint32_t>((clockSamples - wave.startSample) % wave.ringFrames);
            count = std::min<uint64_t>(count, wave.ringFrames - at);
            samples = wave.ring + static_cast<size_t>(at) * 2;
        }
        count = std::min<uint64_t>(count, UINT32_MAX);
        if (soundSink)
            soundSink(samples, static_cast<uint32_t>(count));
        clockSamples += count;
    }
}
