// Wave-out through winmm: one prepared header looping over the whole ring.
#include "platform/win32/win32.h"
#include <mmsystem.h>

#include "platform/platform.h"

struct PlatWaveOut {
    HWAVEOUT device;
    WAVEHDR header;
};

namespace {

PlatWaveOut* platWaveOpen(int32_t rate) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
        return nullptr;
    PlatWaveOut* wave = new PlatWaveOut{};
    wave->device = device;
    return wave;
}

void platWaveLoop(PlatWaveOut* wave, void* pcm, uint32_t bytes) {
    if (!wave)
        return;
    WAVEHDR& h = wave->header;
    h = WAVEHDR{};
    h.lpData = static_cast<LPSTR>(pcm);
    h.dwBufferLength = bytes;
    h.dwBytesRecorded = 0;
    h.dwUser = 0;
    h.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    h.dwLoops = 0xffffffffu;
    waveOutPrepareHeader(wave->device, &h, sizeof(WAVEHDR));
    waveOutWrite(wave->device, &h, sizeof(WAVEHDR));
}

void platWaveUnprepare(PlatWaveOut* wave) {
    if (!wave || !wave->header.lpData)
        return;
    waveOutUnprepareHeader(wave->device, &wave->header, sizeof(WAVEHDR));
    wave->header.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
}

uint32_t platWavePosition(PlatWaveOut* wave) {
    if (!wave)
        return 0;
    MMTIME time = {};
    time.wType = TIME_BYTES;
    waveOutGetPosition(wave->device, &time, sizeof(MMTIME));
    return time.u.cb;
}

void platWaveReset(PlatWaveOut* wave) {
    if (wave)
        waveOutReset(wave->device);
}

void platWaveClose(PlatWaveOut* wave) {
    if (!wave)
        return;
    waveOutReset(wave->device);
    if (wave->header.lpData && (wave->header.dwFlags & WHDR_PREPARED))
        waveOutUnprepareHeader(wave->device, &wave->header, sizeof(WAVEHDR));
    waveOutClose(wave->device);
    delete wave;
}

// The one device the show plays through.
PlatWaveOut* wave = nullptr;
bool deviceOpen(int32_t rate) {
    wave = platWaveOpen(rate);
    return wave != nullptr;
}
void deviceLoop(void* pcm, uint32_t bytes) { platWaveLoop(wave, pcm, bytes); }
void deviceUnprepare() { platWaveUnprepare(wave); }
uint32_t devicePosition() { return platWavePosition(wave); }
void deviceReset() { platWaveReset(wave); }
void deviceClose() {
    platWaveClose(wave);
    wave = nullptr;
}

}  // namespace

const PlatAudioDevice platAudioDevice = {deviceOpen, deviceLoop, deviceUnprepare, devicePosition, deviceReset,
                                         deviceClose};
