// Offline rendering: virtual clock, virtual audio device, off-screen frame.
#include "tools/capture/capture.h"
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include "music/output.h"
#include "platform/letterbox.h"
#include "music/player.h"
#include "shell/demo.h"

namespace {

enum : uint32_t { BASE_TICKS = 1000 };   // a first frame at tick 0 would not take its start time

int32_t frameWidth = 0;    // the output frame
int32_t frameHeight = 0;
PictureRect picture{};     // the 4:3 picture in it, rendered off screen at its own size
int32_t framesPerSecond = 50;
int32_t nextFrame = 0;
double windowMs = 0.0;
double loadMs = 0.0;
GLuint frameBuffer = 0;
GLuint renderBuffers[2] = {0, 0};

// The clock counts output samples since frame 0; ticks follow from it.
uint64_t clockSamples = 0;

uint32_t virtualTicks() {
    return BASE_TICKS + static_cast<uint32_t>(clockSamples * 1000 / CAPTURE_RATE);
}

uint64_t frameStartSample(int64_t frame) {
    return static_cast<uint64_t>(frame) * CAPTURE_RATE / static_cast<uint64_t>(framesPerSecond);
}

// The virtual wave-out device: plays its looping ring from the moment it is
// handed over, at the speed of the virtual clock.
struct VirtualWave {
    const int16_t* ring;
    uint32_t ringFrames;
    uint64_t startSample;
    bool playing;
};
VirtualWave wave{};
std::vector<int16_t> played;   // what the listener heard, from frame 0 on

bool waveOpen(int32_t rate) {
    return rate == CAPTURE_RATE;
}

void waveLoop(void* pcm, uint32_t bytes) {
    wave.ring = static_cast<const int16_t*>(pcm);
    wave.ringFrames = bytes / 4;
    wave.startSample = clockSamples;
    wave.playing = wave.ring && wave.ringFrames > 0;
}

void waveStop() {
    wave.playing = false;
    wave.ring = nullptr;
}

uint32_t wavePosition() {
    if (!wave.playing)
        return 0;
    return static_cast<uint32_t>((clockSamples - wave.startSample) * 4);
}

void waveNothing() {}

const PlatAudioDevice virtualDevice = {waveOpen, waveLoop, waveStop, wavePosition, waveStop, waveNothing};

// Moves the clock on, recording what the device plays meanwhile. The ring
// still holds those samples: blocks are re-rendered only by the pump, after this.
void advanceClock(uint64_t target) {
    for (uint64_t s = clockSamples; s < target; ++s) {
        if (wave.playing && s >= wave.startSample) {
            const uint32_t frame = static_cast<uint32_t>((s - wave.startSample) % wave.ringFrames);
            played.push_back(wave.ring[frame * 2]);
            played.push_back(wave.ring[frame * 2 + 1]);
        } else {
            played.push_back(0);
            played.push_back(0);
        }
    }
    clockSamples = target;
}

const PlatWindowCallbacks noCallbacks = {nullptr, nullptr, nullptr};

bool createFrameBuffer(std::string* error) {
    glGenRenderbuffers(2, renderBuffers);
    glBindRenderbuffer(GL_RENDERBUFFER, renderBuffers[0]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, picture.width, picture.height);
    glBindRenderbuffer(GL_RENDERBUFFER, renderBuffers[1]);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, picture.width, picture.height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glGenFramebuffers(1, &frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderBuffers[0]);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, renderBuffers[1]);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *error = "the GL cannot render a frame of " + std::to_string(picture.width) + " x " +
                 std::to_string(picture.height) + " pixels off screen";
        return false;
    }
    return true;
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
    framesPerSecond = fps;
    nextFrame = 0;
    clockSamples = 0;
    played.clear();
    wave = VirtualWave{};
    platSetTickSource(virtualTicks);
    audioSetDevice(&virtualDevice);
    audioSetThreaded(false);

    const PlatWindowDesc desc = {":)", picture.width, picture.height, PLAT_OFFSCREEN};
    demo.window = platOpenWindow(&desc, &noCallbacks);
    if (!demo.window) {
        *error = "cannot open an OpenGL context, on a display or off screen";
        return false;
    }
    if (!createFrameBuffer(error))
        return false;
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
    advanceClock(frameStartSample(nextFrame));
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
    glBindFramebuffer(GL_READ_FRAMEBUFFER, frameBuffer);
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
    advanceClock(frameStartSample(nextFrame));
}

void captureEnd() {
    playerDestroy(demo.player);
    demo.player = nullptr;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    platCloseWindow(demo.window);
    demo.window = nullptr;
    platSetTickSource(nullptr);
    audioSetDevice(nullptr);
}


