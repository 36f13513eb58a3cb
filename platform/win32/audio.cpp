// Wave-out through winmm: one prepared header looping over the whole ring.
#include "platform/win32/win32.h"
#include <mmsystem.h>

#include "platform/platform.h"

namespace {

struct WaveOut {
    HWAVEOUT device;
    WAVEHDR header;
};

WaveOut* wave = nullptr;   // the one open device, null when closed

bool waveOpen(int32_t rate) {
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
        return false;
    wave = new WaveOut{};
    wave->device = device;
    return true;
}

void waveLoop(void* pcm, uint32_t bytes) {
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

void waveUnprepare() {
    if (!wave || !wave->header.lpData)
        return;
    waveOutUnprepareHeader(wave->device, &wave->header, sizeof(WAVEHDR));
    wave->header.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
}

uint32_t wavePosition() {
    if (!wave)
        return 0;
    MMTIME time = {};
    time.wType = TIME_BYTES;
    waveOutGetPosition(wave->device, &time, sizeof(MMTIME));
    return time.u.cb;
}

void waveReset() {
    if (wave)
        waveOutReset(wave->device);
}

void waveClose() {
    if (!wave)
        return;
    waveOutReset(wave->device);
    if (wave->header.lpData && (wave->header.dwFlags & WHDR_PREPARED))
        waveOutUnprepareHeader(wave->device, &wave->header, sizeof(WAVEHDR));
    waveOutClose(wave->device);
    delete wave;
    wave = nullptr;
}

}  // namespace

const PlatAudioDevice platAudioDevice = {waveOpen, waveLoop, waveUnprepare, wavePosition, waveReset, waveClose};
