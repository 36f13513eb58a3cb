// What the browser backend's files share. The page address switches on the
// test hooks, read once (webReadPageSettings) and nowhere else:
//   capture=1   the show runs on the offline clock (platform/offline_clock.h):
//               each frame moves it on by one frame interval (fps=N, 50 by
//               default) and its wave-out device plays exactly that many
//               samples; the canvas has the size size=WxH
//               (640x480 by default), the frames listed in shots=A,B,... are
//               kept for the test, and so is the sound;
//   record=1    real time, but the first seconds of sound the page's audio
//               callback produced are kept for the test.
// A viewer's page (neither) keeps no frames and no sound.
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum : uint32_t { WEB_AUDIO_RATE = PLAT_OUTPUT_RATE };

struct WebCapture {
    bool enabled;            // capture=1
    bool record;             // keep the first seconds of sound: capture=1 or record=1
    int32_t fps;
    int32_t width;           // the canvas size in capture mode
    int32_t height;
};
extern WebCapture webCapture;

void webReadPageSettings();            // the test hooks from the page address
void webStepThreads();                 // one turn for each cooperative thread
void webAudioHeard(const int16_t* samples, uint32_t frames);   // capture: what the offline device played
bool webInsideEventLoop();
bool webShowStarted();

// The page's script library (page.js, which documents what the page, the
// module and the tests share): what the module asks of the page.
extern "C" {
void pageSettings(int32_t* fields);   // capture, record, fps, width, height
void pageShowMessage(const char* text, const char* caption, int quiet);
void pageEnded(int showed);
void pageChooserRow(int value, const char* label, int checked);
int pageChooserShow();                 // 0: the page has no chooser
int pageChooserPoll(int32_t* choice);
void pageDesktopSize(int32_t* width, int32_t* height);
void pageCanvasPrepare(int fixed, int fullscreen, int width, int height);
void pageViewport(int32_t* size, double* ratio);
int pageCanvasPlace(int x, int y, int width, int height, int backingWidth, int backingHeight);
void pageCanvasSize(int32_t* width, int32_t* height);
int pageNextKey();                     // 1: Escape; 0: none
void pageWaitAnimationFrame();
void pageLeaveFullscreen();
void pageMarkFrame(int inLoop);
int pageShotWanted(int frame);
void pageStoreShot(int frame, const uint8_t* pixels, int bytes);
void pagePublishAudio(const int16_t* samples, int count);
int pageAudioStart(int rate, int frames, int16_t* buffer);
double pageHeardTime();
void pageAudioStop();
}
