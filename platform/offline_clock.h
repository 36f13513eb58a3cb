// The offline clock, for rendering the show away from real time (the capture
// tool, the page's capture mode): time moves on one frame interval per frame,
// counted in output samples since frame 0, and a virtual wave-out device plays
// its looping ring at the speed of that clock. Frame n is drawn at its start
// sample, so a run gives the same frames and sound on any machine.
#pragma once
#include <cstdint>

#include "platform/platform.h"

// Receives what the device played while the clock moved: `frames` stereo
// frames, interleaved; null samples when nothing was looping (silence).
typedef void (*OfflineSoundSink)(const int16_t* samples, uint32_t frames);

// Sample 0 at `fps` frames per second, the device idle, and the clock as the
// platform's tick source until offlineClockStop.
void offlineClockStart(int32_t fps, OfflineSoundSink sink);
void offlineClockStop();
// Moves the clock on to the start of `frame`; the device plays meanwhile.
// The ring still holds those samples: blocks are re-rendered only after this.
void advanceClock(int64_t frame);

// Plays the ring handed over from the moment it is handed over.
extern const PlatAudioDevice virtualWaveDevice;
