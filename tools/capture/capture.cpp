// Offline rendering: the offline clock and its wave-out device, an off-screen frame.
#include "tools/capture/capture.h"
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include "music/output.h"
#include "music/player.h"
#include "platform/framebuffer.h"
#include "platform/letterbox.h"
#include "platform/offline_clock.h"
#include "shell/demo.h"

namespace {

int32_t frameWidth = 0;    // the output frame
int32_t frameHeight = 0;
PictureRect picture{};     // the 4:3 picture in it, rendered off screen at its own size
int32_t nextFrame = 0;
double windowMs = 0.0;
double loadMs = 0.0;
Framebuffer frameBuffer{};
std::vector<int16_t> played;   // what the listener heard, from frame 0 on

void hear(const int16_t* samples, uint32_t frames) {
    if (samples)
        played.insert(played.end(), samples, samples + static_cast<size_t>(frames) * 2);
    else
        played.resize(played.size() + static_cast<size_t>(frames) * 2, 0);
}

const PlatWindowCallbacks noCallbacks = {nullptr, nullptr, nullptr};

// Everything captureBegin installed or opened, taken back.
void release() {
    playerDestroy(demo.player);
    demo.player = nullptr;
    framebufferRelease(&frameBuffer);
    if (demo.window)
        platCloseWindow(demo.window);
    demo.window = nullptr;
    offlineClockStop();
    audioSetDevice(nullptr);
}

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

bool captureBegin(int32_t width, int32_t height, int32_t fps, std::string* error) {
    const auto begin = std::chrono::steady_clock::now();
    frameWidth = width;
    frameHeight = height;
    picture = letterbox43(width, height);
    nextFrame = 0;
    played.clear();
    offlineClockStart(fps, hear);
    audioSetDevice(&virtualWaveDevice);
    audioSetThreaded(false);

    const PlatWindowDesc desc = {":)", picture.width, picture.height, PLAT_OFFSCREEN};
    demo.window = platOpenWindow(&desc, &noCallbacks);
    if (!demo.window || !framebufferSupported() ||
        !framebufferCreate(&frameBuffer, picture.width, picture.height)) {
        *error = demo.window ? "the GL cannot render a frame of " + std::to_string(picture.width) + " x " +
                                   std::to_string(picture.height) + " pixels off screen"
                             : "cannot open an OpenGL context, on a display or off screen";
        release();
        return false;
    }
    screenWidth = picture.width;
    screenHeight = picture.height;
    resizeViewport();

    windowMs = millisecondsSince(begin);
    const auto start = std::chrono::steady_clock::now();
    loadDemo();
    loadMs = millisecondsSince(start);
    return true;
}

double captureWindowMs() {
    return windowMs;
}

double captureLoadMs() {
    return loadMs;
}

int32_t captureFrameIndex() {
    return nextFrame;
}

CaptureFrame captureFrame(uint8_t* rgb) {
    advanceClock(nextFrame);
    // One pass of the mixing thread's loop: re-render what the device has played.
    if (musicStarted)
        audioPumpOnce();

    const auto start = std::chrono::steady_clock::now();
    const double startCpu = processCpuMs();
    renderFrame(demo.window);
    glFinish();
    CaptureFrame frame;
    frame.renderMs = millisecondsSince(start);
    frame.renderCpuMs = processCpuMs() - startCpu;
    frame.demoTime = demo.demoTime;
    frame.songPosition = demo.songPosition;
    frame.mainPhase = loaded == 1 && inMainPhase(demo.songPosition);

    // The picture centred between black bars; at 4:3 sizes it is the whole frame.
    const size_t row = static_cast<size_t>(frameWidth) * 3;
    if (picture.width != frameWidth || picture.height != frameHeight)
        std::memset(rgb, 0, row * frameHeight);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer.name);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    uint8_t* top = rgb + row * picture.y + static_cast<size_t>(picture.x) * 3;
    for (int32_t y = 0; y < picture.height; ++y)
        glReadPixels(0, picture.height - 1 - y, picture.width, 1, GL_RGB, GL_UNSIGNED_BYTE, top + row * y);
    ++nextFrame;
    return frame;
}

const std::vector<int16_t>& captureAudio() {
    return played;
}

void captureTakeAudio(std::vector<int16_t>* samples) {
    samples->clear();
    samples->swap(played);
}

void captureFinishAudio() {
    advanceClock(nextFrame);
}

void captureEnd() {
    release();
}
