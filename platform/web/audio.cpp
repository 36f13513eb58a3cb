// Sound output shaped like the other backends' devices: one looping ring read
// by the page's audio callback (a Web Audio script processor), and a 32-bit
// count of the bytes played. In capture mode nothing sounds: the offline
// clock's wave-out device stands in. The first seconds either produced are
// kept for the test.
// The position is what is heard now, not what the callback took: each
// callback's buffer starts sounding at its playback time on the context's
// clock, and the context says which of its moments reaches the ear now.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/offline_clock.h"
#include "platform/platform.h"
#include "platform/pull_ring.h"
#include "platform/web/web.h"

namespace {

enum : uint32_t { CALLBACK_FRAMES = 2048, RECORD_SECONDS = 12 };
// A frame drawn now reaches the screen about one display refresh later: the
// picture is drawn for the sound heard by then.
constexpr double PRESENT_SECONDS = 0.020;

struct Wave {
    bool open;
    PullRing ring;
    uint32_t latencyBytes;      // what the page holds beyond the callback, when its clock says nothing
    bool anchored;              // the last callback of this loop told its playback time
    double anchorTime;          // context seconds at which byte anchorBytes starts sounding
    uint64_t anchorBytes;
    uint64_t heardBytes;        // the last position given: it never goes back
    std::vector<int16_t> recorded;
    std::vector<int16_t> scratch;
};

Wave wave{};

void keep(const int16_t* samples, uint32_t frames) {
    const size_t limit = static_cast<size_t>(RECORD_SECONDS) * WEB_AUDIO_RATE * 2;
    const size_t count = std::min<size_t>(frames * 2, limit - std::min(limit, wave.recorded.size()));
    wave.recorded.insert(wave.recorded.end(), samples, samples + count);
}

bool deviceOpen(int32_t rate) {
    if (webCapture.enabled)
        return virtualWaveDevice.open(rate);
    if (wave.open)
        return true;
    wave = Wave{};
    wave.scratch.assign(CALLBACK_FRAMES * 2, 0);
    if (!pageAudioStart(rate, CALLBACK_FRAMES, wave.scratch.data()))
        return false;
    wave.latencyBytes = CALLBACK_FRAMES * 4;
    wave.open = true;
    return true;
}

void deviceLoop(void* pcm, uint32_t bytes) {
    wave.recorded.clear();
    if (webCapture.enabled)
        return virtualWaveDevice.loop(pcm, bytes);
    pullRingLoop(wave.ring, pcm, bytes);
    wave.anchored = false;
    wave.heardBytes = 0;
}

void deviceUnprepare() {
    if (webCapture.enabled)
        return virtualWaveDevice.unprepare();
    pullRingRelease(wave.ring);
}

uint32_t devicePosition() {
    if (webCapture.enabled)
        return virtualWaveDevice.position();
    const uint64_t consumed = __atomic_load_n(&wave.ring.consumed, __ATOMIC_SEQ_CST);
    const uint64_t taken = consumed > wave.latencyBytes ? consumed - wave.latencyBytes : 0;
    if (!wave.anchored)
        return static_cast<uint32_t>(taken);
    const double now = pageHeardTime();
    if (now < 0)
        return static_cast<uint32_t>(std::max(taken, wave.heardBytes));
    // Bytes are contiguous on the context's clock as long as no callback came
    // late; the last callback's anchor then holds for the ones before it too.
    const double bytes =
        static_cast<double>(wave.anchorBytes) + (now + PRESENT_SECONDS - wave.anchorTime) * WEB_AUDIO_RATE * 4;
    // Nothing can be heard that the callback has not taken, and no more than a
    // second of sound sits between the callback and the ear.
    const double low = std::max(0.0, static_cast<double>(consumed) - WEB_AUDIO_RATE * 4);
    const double heard = std::clamp(bytes, low, static_cast<double>(consumed));
    // The context's timestamps jitter; the mixer counts on a position that only moves on.
    wave.heardBytes = std::max(wave.heardBytes, static_cast<uint64_t>(heard) & ~uint64_t{3});
    return static_cast<uint32_t>(wave.heardBytes);
}

void deviceReset() {
    if (webCapture.enabled)
        return virtualWaveDevice.reset();
    pullRingReset(wave.ring);
    wave.anchored = false;
    wave.heardBytes = 0;
}

void deviceClose() {
    if (webCapture.enabled)
        return virtualWaveDevice.close();
    pageAudioStop();
    wave.open = false;
}

// The next `frames` stereo frames of the ring, silence when none loops.
void fillFromRing(int16_t* out, uint32_t frames) {
    const bool silent = !wave.ring.ring || wave.ring.ringBytes == 0;
    pullRingFill(wave.ring, reinterpret_cast<uint8_t*>(out), frames * 4);
    if (!silent && webCapture.record)
        keep(out, frames);
}

}  // namespace

void webAudioHeard(const int16_t* samples, uint32_t frames) {
    if (samples)
        keep(samples, frames);
}

// The page's audio callback, with the context time at which this buffer will
// sound (negative when the browser does not say). It also gives the mixing
// thread a turn: a hidden page gets no animation frames, but its sound keeps playing.
extern "C" EMSCRIPTEN_KEEPALIVE void webAudioCallback(int16_t* out, uint32_t frames, double playbackTime) {
    if (wave.ring.ring && playbackTime >= 0) {
        wave.anchored = true;
        wave.anchorTime = playbackTime;
        wave.anchorBytes = wave.ring.consumed;
    }
    fillFromRing(out, frames);
    // The page code is waiting at one of its yields here, never inside the mixer.
    webStepThreads();
}

// Hands the recorded samples to the page (Module.page.audio) and returns their frame count.
extern "C" EMSCRIPTEN_KEEPALIVE uint32_t webPublishAudio() {
    pagePublishAudio(wave.recorded.data(), static_cast<int>(wave.recorded.size()));
    return static_cast<uint32_t>(wave.recorded.size() / 2);
}

const PlatAudioDevice platAudioDevice = {deviceOpen, deviceLoop, deviceUnprepare, devicePosition, deviceReset,
                                         deviceClose};
