// The render window is the page's canvas with a WebGL 1 context. Frames come
// from requestAnimationFrame, drawn only when a 20 ms tick is due, so the
// show keeps 50 ticks a second whatever the display's refresh rate. In
// capture mode every animation frame draws a batch of frames on the virtual
// clock instead, and the asked-for frames are read back for the test.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/letterbox.h"
#include "platform/offline_clock.h"
#include "platform/platform.h"
#include "platform/web/gl/webgl.h"
#include "platform/web/web.h"

struct PlatWindow {
    PlatWindowCallbacks callbacks;
    PlatWindowKind kind;
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
    int32_t modeWidth;    // full screen: the chosen mode
    int32_t modeHeight;
    bool fixed;           // capture mode and off screen: the canvas keeps its size
    bool open;
    bool sized;
};

namespace {

constexpr double TICK_MS = 20.0, CAPTURE_BATCH_MS = 30.0, LOADING_YIELD_MS = 100.0;

PlatWindow* current = nullptr;
bool insideLoop = false;
bool showStarted = false;
double lastYield = -1.0e9;
int32_t captureFrame = 0;   // index of the frame being drawn on the virtual clock
std::vector<uint8_t> shotPixels;

// The canvas takes the largest 4:3 rectangle of the page, centred on black.
// Windowed, its backing store has one pixel per device pixel there; full
// screen, it has the chosen mode fitted to 4:3 and the page scales it, as a
// display mode would. True when the backing store changed.
bool placeCanvas(PlatWindowKind kind, int32_t modeWidth, int32_t modeHeight) {
    int32_t page[2] = {1, 1};
    double ratio = 1.0;
    pageViewport(page, &ratio);
    const PictureRect css = letterbox43(page[0], page[1]);
    PictureRect backing = letterbox43(modeWidth, modeHeight);
    if (kind != PLAT_FULLSCREEN) {
        backing.width = std::max(1, static_cast<int32_t>(std::lround(css.width * ratio)));
        backing.height = std::max(1, static_cast<int32_t>(std::lround(css.height * ratio)));
    }
    return pageCanvasPlace(css.x, css.y, css.width, css.height, backing.width, backing.height) != 0;
}

void sendSize(PlatWindow* w) {
    int32_t width = 0, height = 0;
    pageCanvasSize(&width, &height);
    w->sized = true;
    if (w->callbacks.size)
        w->callbacks.size(width, height);
}

void readBackShot(int32_t frame) {
    shotPixels.resize(static_cast<size_t>(webCapture.width) * webCapture.height * 3);
    webglReadCanvas(webCapture.width, webCapture.height, shotPixels.data());
    pageStoreShot(frame, shotPixels.data(), static_cast<int>(shotPixels.size()));
}

void drawFrame(PlatWindow* w) {
    if (w->callbacks.frame)
        w->callbacks.frame();
}

}  // namespace

bool webInsideEventLoop() {
    return insideLoop;
}

bool webShowStarted() {
    return showStarted;
}

void platDesktopSize(int32_t* width, int32_t* height) {
    pageDesktopSize(width, height);
}

void platSwitchDisplay(int32_t, int32_t, int32_t) {
    // The browser has no display modes: the full-screen canvas has the mode's size, fitted to 4:3.
}

void platRestoreDisplay(int32_t, int32_t, int32_t) {
    pageLeaveFullscreen();
}

PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks) {
    if (!desc)
        return nullptr;
    const int32_t width = webCapture.enabled ? webCapture.width : desc->width;
    const int32_t height = webCapture.enabled ? webCapture.height : desc->height;
    const bool fixed = webCapture.enabled || desc->kind == PLAT_OFFSCREEN;
    pageCanvasPrepare(fixed ? 1 : 0, desc->kind == PLAT_FULLSCREEN ? 1 : 0, width, height);
    if (!fixed)
        placeCanvas(desc->kind, width, height);
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = false;   // the show clears to transparent black; the page must not show through
    attributes.depth = true;
    attributes.stencil = true;
    attributes.antialias = false;
    attributes.premultipliedAlpha = false;
    attributes.preserveDrawingBuffer = false;
    attributes.majorVersion = 1;
    attributes.minorVersion = 0;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context("#canvas", &attributes);
    if (context <= 0 || emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS ||
        !webglSubsetInit()) {
        platMessageBox("This browser cannot draw the show: WebGL is not available.", "Error", PLAT_ICON_ERROR);
        return nullptr;
    }
    PlatWindow* w = new PlatWindow{};
    if (callbacks)
        w->callbacks = *callbacks;
    w->kind = desc->kind;
    w->modeWidth = width;
    w->modeHeight = height;
    w->fixed = fixed;
    w->context = context;
    w->open = true;
    current = w;
    showStarted = desc->kind != PLAT_OFFSCREEN;
    return w;
}

bool platSwapBuffers(PlatWindow* window) {
    if (!window || !window->open)
        return false;
    webglFinishFrame();
    pageMarkFrame(insideLoop ? 1 : 0);
    if (webCapture.enabled && insideLoop && pageShotWanted(captureFrame))
        readBackShot(captureFrame);
    // Outside the frame loop (the loading screen) a picture shows only once the
    // page gets control back; a few times a second is enough for a progress bar.
    if (!insideLoop && emscripten_get_now() - lastYield >= LOADING_YIELD_MS) {
        pageWaitAnimationFrame();
        lastYield = emscripten_get_now();
    }
    return true;
}

void* platGlProcAddress(const char* name) {
    return webglProcAddress(name);
}

void platCloseWindow(PlatWindow* window) {
    if (!window)
        return;
    window->open = false;
    pageLeaveFullscreen();
}

void platRunEventLoop() {
    PlatWindow* w = current;
    if (!w)
        return;
    insideLoop = true;
    double nextTick = emscripten_get_now();
    while (w->open) {
        pageWaitAnimationFrame();
        for (int key; w->open && (key = pageNextKey()) != 0;)
            if (key == 1 && w->callbacks.key)
                w->callbacks.key(PLAT_KEY_ESCAPE);
        if (!w->open)
            break;
        const bool resized = !w->fixed && placeCanvas(w->kind, w->modeWidth, w->modeHeight);
        if (!w->sized || resized)
            sendSize(w);
        if (webCapture.enabled) {
            const double start = emscripten_get_now();
            do {
                advanceClock(captureFrame);
                webStepThreads();
                drawFrame(w);
                ++captureFrame;
            } while (w->open && emscripten_get_now() - start < CAPTURE_BATCH_MS);
            continue;
        }
        webStepThreads();
        const double now = emscripten_get_now();
        if (now < nextTick)
            continue;
        // After a stall (a hidden tab) the ticks start again from now instead of catching up.
        nextTick = now - nextTick > 10 * TICK_MS ? now + TICK_MS : nextTick + TICK_MS;
        drawFrame(w);
    }
    insideLoop = false;
    current = nullptr;
}
