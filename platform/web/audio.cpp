// Sound output shaped like the other backends' devices: one looping ring read
// by the page's audio callback (a Web Audio script processor), and a 32-bit
// count of the bytes played. In capture mode nothing sounds: the same
// callback is called by the frame loop for exactly the samples of each frame
// interval. The first seconds the callback produced are kept for the test.
#include <emscripten.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/pull_ring.h"
#include "platform/web/web.h"

namespace {

enum : uint32_t { CALLBACK_FRAMES = 2048, RECORD_SECONDS = 12 };

struct Wave {
    bool open;
    PullRing ring;
    uint32_t latencyBytes;      // what the page holds beyond the callback
    uint64_t playedUntil;       // capture: clock sample the device has played up to
    std::vector<int16_t> recorded;
    std::vector<int16_t> scratch;
};

Wave wave{};

EM_JS(int, pageAudioStart, (int rate, int frames, int16_t* buffer), {
    try {
        let context = Module.webAudioContext;
        if (!context) {
            const Context = window.AudioContext || window.webkitAudioContext;
            if (!Context)
                return 0;
            context = Module.webAudioContext = new Context({sampleRate: rate});
        }
        // A context the browser keeps suspended would never ask for samples, and
        // the song clock would stand still: the silent device keeps time instead.
        if (context.sampleRate != rate || context.state !== 'running')
            return 0;
        const node = context.createScriptProcessor(frames, 0, 2);
        node.onaudioprocess = (e) => {
            const out = e.outputBuffer;
            const n = out.length;
            Module._webAudioCallback(buffer, n);
            const left = out.getChannelData(0), right = out.getChannelData(1);
            const pcm = HEAP16.subarray(buffer >> 1, (buffer >> 1) + n * 2);
            for (let i = 0; i < n; ++i) {
                left[i] = pcm[i * 2] / 32768;
                right[i] = pcm[i * 2 + 1] / 32768;
            }
        };
        node.connect(context.destination);
        Module.webAudioNode = node;
        if (context.state !== 'running')
            context.resume().catch(() => {});
        return 1;
    } catch (e) {
        console.log('no sound: ' + e);
        return 0;
    }
});

EM_JS(void, pageAudioStop, (), {
    if (Module.webAudioNode) {
        Module.webAudioNode.onaudioprocess = null;
        Module.webAudioNode.disconnect();
        Module.webAudioNode = null;
    }
});

EM_JS(void, publish, (const int16_t* samples, int count), {
    const data = HEAPU8.subarray(samples, samples + count * 2);
    let text = "";
    for (let i = 0; i < data.length; i += 0x8000)
        text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    Module.webAudio = btoa(text);
});

bool deviceOpen(int32_t rate) {
    if (wave.open)
        return true;
    wave = Wave{};
    wave.scratch.assign(CALLBACK_FRAMES * 2, 0);
    if (webCapture.enabled) {
        if (rate != static_cast<int32_t>(WEB_AUDIO_RATE))
            return false;
    } else if (!pageAudioStart(rate, CALLBACK_FRAMES, wave.scratch.data())) {
        return false;
    }
    wave.latencyBytes = webCapture.enabled ? 0 : CALLBACK_FRAMES * 4;
    wave.open = true;
    return true;
}

void deviceLoop(void* pcm, uint32_t bytes) {
    pullRingLoop(wave.ring, pcm, bytes);
    wave.playedUntil = webCapture.clockSamples;
    wave.recorded.clear();
}

void deviceUnprepare() {
    pullRingRelease(wave.ring);
}

uint32_t devicePosition() {
    return pullRingPosition(wave.ring, wave.latencyBytes);
}

void deviceReset() {
    pullRingReset(wave.ring);
}

void deviceClose() {
    if (!webCapture.enabled)
        pageAudioStop();
    wave.open = false;
}

}  // namespace

// The audio callback: the next `frames` stereo frames of the ring, silence when none loops.
extern "C" EMSCRIPTEN_KEEPALIVE void webAudioFill(int16_t* out, uint32_t frames) {
    const bool silent = !wave.ring.ring || wave.ring.ringBytes == 0;
    pullRingFill(wave.ring, reinterpret_cast<uint8_t*>(out), frames * 4);
    if (silent || !webCapture.record)
        return;
    const size_t limit = static_cast<size_t>(RECORD_SECONDS) * WEB_AUDIO_RATE * 2;
    const size_t keep = std::min<size_t>(frames * 2, limit - std::min(limit, wave.recorded.size()));
    wave.recorded.insert(wave.recorded.end(), out, out + keep);
}

// The page's audio callback. It also gives the mixing thread a turn: a hidden
// page gets no animation frames, but its sound keeps playing.
extern "C" EMSCRIPTEN_KEEPALIVE void webAudioCallback(int16_t* out, uint32_t frames) {
    webAudioFill(out, frames);
    // The page code is waiting at one of its yields here, never inside the mixer.
    webStepThreads();
}

// Hands the recorded samples to the page as base64 (Module.webAudio) and returns their frame count.
extern "C" EMSCRIPTEN_KEEPALIVE uint32_t webPublishAudio() {
    publish(wave.recorded.data(), static_cast<int>(wave.recorded.size()));
    return static_cast<uint32_t>(wave.recorded.size() / 2);
}

void webAudioPlayUntil(uint64_t sample) {
    if (!wave.open || !wave.ring.ring || sample <= wave.playedUntil) {
        wave.playedUntil = std::max(wave.playedUntil, sample);
        return;
    }
    while (wave.playedUntil < sample) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(sample - wave.playedUntil, CALLBACK_FRAMES));
        webAudioFill(wave.scratch.data(), n);
        wave.playedUntil += n;
    }
}

const PlatAudioDevice platAudioDevice = {deviceOpen, deviceLoop, deviceUnprepare, devicePosition, deviceReset,
                                         deviceClose};
