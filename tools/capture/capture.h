// Offline rendering of the show: a hidden window, an off-screen frame holding
// the 4:3 picture of the requested size (letterbox43), composed centred in a
// black frame of that size, on the offline clock (platform/offline_clock.h):
// one frame interval per frame, and a wave-out device that follows it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "platform/platform.h"
#include "tools/common/toolkit.h"   // writePng, readPng, the WAV helpers

constexpr int32_t CAPTURE_RATE = PLAT_OUTPUT_RATE;

struct CaptureFrame {
    float demoTime;
    float songPosition;
    bool mainPhase;       // the frame drew the main phase
    double renderMs;      // renderFrame plus glFinish, wall clock
    double renderCpuMs;   // the same span in CPU time of the whole process (GL threads included)
};

// Opens the window and context, installs the virtual clock and audio device,
// and runs the loading sequence. False with *error set on failure.
bool captureBegin(int32_t width, int32_t height, int32_t fps, std::string* error);

// Milliseconds captureBegin spent on the window and context, and on the loading sequence.
double captureWindowMs();
double captureLoadMs();

// Renders frame `captureFrameIndex()` and reads it back as top-down RGB
// (width x height x 3 bytes, the picture between black bars); then moves on
// to the next frame.
CaptureFrame captureFrame(uint8_t* rgb);
int32_t captureFrameIndex();

// The audio played so far (since the last captureTakeAudio), 16-bit stereo
// interleaved, sample 0 at frame 0. Covers the frames rendered so far;
// captureFinishAudio extends it to the end of the last frame's interval.
const std::vector<int16_t>& captureAudio();
void captureFinishAudio();
// Moves the audio played since the last call (all of it, the first time)
// into *samples, so that a long capture keeps none of it in memory.
void captureTakeAudio(std::vector<int16_t>* samples);

// Stops the music and closes the window and context.
void captureEnd();

