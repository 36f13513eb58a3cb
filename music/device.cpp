// Device adapters. The silent device stands in when no device was chosen or the
// chosen one fails to open: it consumes the ring at the real-time rate, measured
// on the platform clock, so the song clock and the show's timeline still run.
#include <atomic>

#include "music/output.h"
#include "platform/platform.h"

namespace {

int32_t silentRate = PLAT_OUTPUT_RATE;
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

const PlatAudioDevice* chosenDevice = nullptr;

}  // namespace

const PlatAudioDevice silentAudioDevice = {silentOpen,     silentLoop,  silentNothing,
                                           silentPosition, silentReset, silentNothing};

void audioSetDevice(const PlatAudioDevice* device) {
    chosenDevice = device;
}

const PlatAudioDevice* audioChosenDevice() {
    return chosenDevice ? chosenDevice : &silentAudioDevice;
}
