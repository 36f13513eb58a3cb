// Audio output on SDL2, shaped like the winmm device: one looping ring played by
// the audio callback, and a 32-bit byte counter of what has been played.
#include <SDL.h>

#include <dlfcn.h>

#include "platform/platform.h"
#include "platform/pull_ring.h"

namespace {

struct WaveOut {
    SDL_AudioDeviceID device;
    uint32_t latencyBytes;          // what the device holds beyond the callback
    PullRing ring;                  // guarded by the device lock
};

WaveOut* wave = nullptr;   // the one open device, null when closed

namespace {

void audioCallback(void* user, Uint8* stream, int length) {
    WaveOut* wave = static_cast<WaveOut*>(user);
    pullRingFill(wave->ring, stream, length > 0 ? static_cast<uint32_t>(length) : 0);
}

}  // namespace

// The sound library prints its own errors on stderr when it finds no card;
// the show says once that it runs silent instead.
extern "C" void quietSoundLibrary(const char*, int, const char*, int, const char*, ...) {}

void keepSoundLibrariesQuiet() {
    // Sound servers first: the bare library is the noisy last resort.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "pipewire,pulseaudio,alsa,jack,dsp",
                            SDL_HINT_DEFAULT);
    typedef int (*SetHandler)(void (*)(const char*, int, const char*, int, const char*, ...));
    if (void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL)) {
        if (auto set = reinterpret_cast<SetHandler>(dlsym(library, "snd_lib_error_set_handler")))
            set(quietSoundLibrary);
    }
}

bool waveOpen(int32_t rate) {
    keepSoundLibrariesQuiet();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    WaveOut* opened = new WaveOut{};
    SDL_AudioSpec want{};
    SDL_AudioSpec have{};
    want.freq = rate;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = audioCallback;
    want.userdata = opened;
    opened->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (opened->device == 0) {
        delete opened;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    opened->latencyBytes = static_cast<uint32_t>(have.samples) * 4;
    wave = opened;
    return true;
}

void waveLoop(void* pcm, uint32_t bytes) {
    if (!wave)
        return;
    SDL_LockAudioDevice(wave->device);
    pullRingLoop(wave->ring, pcm, bytes);
    SDL_UnlockAudioDevice(wave->device);
    SDL_PauseAudioDevice(wave->device, 0);
}

void waveUnprepare() {
    if (!wave)
        return;
    // The ring may be freed after this: stop reading it.
    SDL_LockAudioDevice(wave->device);
    pullRingRelease(wave->ring);
    SDL_UnlockAudioDevice(wave->device);
}

uint32_t wavePosition() {
    if (!wave)
        return 0;
    // What the callback handed over is still queued in the device for a while.
    return pullRingPosition(wave->ring, wave->latencyBytes);
}

void waveReset() {
    if (!wave)
        return;
    SDL_PauseAudioDevice(wave->device, 1);
    SDL_LockAudioDevice(wave->device);
    pullRingReset(wave->ring);
    SDL_UnlockAudioDevice(wave->device);
}

void waveClose() {
    if (!wave)
        return;
    SDL_CloseAudioDevice(wave->device);
    delete wave;
    wave = nullptr;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace

const PlatAudioDevice platAudioDevice = {waveOpen, waveLoop, waveUnprepare, wavePosition, waveReset, waveClose};
