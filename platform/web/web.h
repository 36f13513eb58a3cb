// What the browser backend's files share. The page's capture mode (?capture=1)
// runs the show on a virtual clock: each frame moves it on by one frame
// interval, and the audio device plays exactly that many samples.
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum : uint32_t { WEB_AUDIO_RATE = PLAT_OUTPUT_RATE, WEB_CAPTURE_BASE_TICKS = 1000 };

struct WebCapture {
    bool enabled;
    int32_t fps;
    int32_t width;           // the canvas size in capture mode
    int32_t height;
    uint64_t clockSamples;   // output samples since frame 0
};
extern WebCapture webCapture;

void webReadPageSettings();            // capture settings from the page address
uint32_t webRealTicks();
void webStepThreads();                 // one turn for each cooperative thread
void webAudioPlayUntil(uint64_t sample);   // capture: the device plays up to this clock sample
bool webInsideEventLoop();
