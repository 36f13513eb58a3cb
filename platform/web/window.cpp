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

EM_JS(void, desktopSize, (int32_t* width, int32_t* height), {
    HEAP32[width >> 2] = screen.width;
    HEAP32[height >> 2] = screen.height;
});

// Shows the canvas with its first backing store, listens for keys and Back,
// and asks for full screen. Where there is no keyboard, the browser's Back
// ends the show as Escape does: the show pushes a history entry to come back from.
EM_JS(void, canvasPrepare, (int fixed, int fullscreen, int width, int height), {
    const canvas = document.getElementById('canvas');
    canvas.hidden = false;
    canvas.className = fixed ? 'fixed' : 'page';
    canvas.width = width;
    canvas.height = height;
    Module.webKeys = [];
    if (!Module.webListening) {
        Module.webListening = true;
        window.addEventListener('keydown', (e) => {
            if (e.key === 'Escape') {
                Module.webKeys.push(1);
                e.preventDefault();
            }
        });
        window.addEventListener('popstate', () => {
            if (Module.webBackArmed) {
                Module.webBackArmed = false;
                Module.webKeys.push(1);
            }
        });
    }
    if (fixed)
        return;
    try {
        history.pushState({tumbleShow: true}, "");
        Module.webBackArmed = true;
    } catch (e) {
        console.log('no history entry: ' + e);
    }
    const page = document.documentElement;
    if (fullscreen && page.requestFullscreen)
        page.requestFullscreen().catch(() => {});
});

// The page's size in CSS pixels and its device pixels per CSS pixel; both
// change with the zoom and with the screen the window is on.
EM_JS(void, pageViewport, (int32_t* size, double* ratio), {
    HEAP32[size >> 2] = Math.max(1, window.innerWidth | 0);
    HEAP32[(size >> 2) + 1] = Math.max(1, window.innerHeight | 0);
    const r = window.devicePixelRatio;
    HEAPF64[ratio >> 3] = r > 0 && r <= 16 ? r : 1;
});

// Places the canvas (CSS pixels) and sizes its backing store; 1 when the latter changed.
EM_JS(int, canvasPlace, (int x, int y, int width, int height, int backingWidth, int backingHeight), {
    const canvas = document.getElementById('canvas');
    const place = [x, y, width, height].join();
    if (Module.webCanvasPlace !== place) {
        Module.webCanvasPlace = place;
        canvas.style.left = x + 'px';
        canvas.style.top = y + 'px';
        canvas.style.width = width + 'px';
        canvas.style.height = height + 'px';
    }
    if (canvas.width == backingWidth && canvas.height == backingHeight)
        return 0;
    canvas.width = backingWidth;
    canvas.height = backingHeight;
    return 1;
});

// The drawable: the drawing buffer, which a browser may make smaller than a
// very large canvas.
EM_JS(void, canvasSize, (int32_t* width, int32_t* height), {
    const canvas = document.getElementById('canvas');
    const gl = Module.ctx;
    HEAP32[width >> 2] = gl ? gl.drawingBufferWidth : canvas.width;
    HEAP32[height >> 2] = gl ? gl.drawingBufferHeight : canvas.height;
});

EM_JS(int, nextKey, (), {
    return Module.webKeys && Module.webKeys.length ? Module.webKeys.shift() : 0;
});

EM_ASYNC_JS(void, waitAnimationFrame, (), {
    await new Promise((resolve) => requestAnimationFrame(resolve));
});

EM_JS(void, leaveFullscreen, (), {
    if (document.fullscreenElement && document.exitFullscreen)
        document.exitFullscreen().catch(() => {});
    document.body.style.cursor = "";
});

EM_JS(void, hideCursor, (), {
    document.body.style.cursor = 'none';
});

// Start-up times for the curious (and the test): the first picture, and the first frame of the show itself.
EM_JS(void, markFrame, (int inLoop), {
    if (Module.webFirstFrameMs === undefined)
        Module.webFirstFrameMs = performance.now();
    if (inLoop && Module.webFirstShowFrameMs === undefined)
        Module.webFirstShowFrameMs = performance.now();
});

// Capture mode only: the frames the page address asked for (Module.webWantedShots).
EM_JS(int, shotWanted, (int frame), {
    Module.webFramesDrawn = frame + 1;
    return Module.webWantedShots.has(frame) ? 1 : 0;
});

// Top-down RGB rows, base64, for the test to fetch.
EM_JS(void, storeShot, (int frame, const uint8_t* pixels, int bytes), {
    const data = HEAPU8.subarray(pixels, pixels + bytes);
    let text = "";
    for (let i = 0; i < data.length; i += 0x8000)
        text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    Module.webShots[frame] = btoa(text);
});

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
    return canvasPlace(css.x, css.y, css.width, css.height, backing.width, backing.height) != 0;
}

void sendSize(PlatWindow* w) {
    int32_t width = 0, height = 0;
    canvasSize(&width, &height);
    w->sized = true;
    if (w->callbacks.size)
        w->callbacks.size(width, height);
}

void readBackShot(int32_t frame) {
    const int32_t w = webCapture.width, h = webCapture.height;
    std::vector<uint8_t> bottomUp(static_cast<size_t>(w) * h * 3);
    shotPixels.resize(bottomUp.size());
    webglReadCanvas(w, h, bottomUp.data());
    const size_t row = static_cast<size_t>(w) * 3;
    for (int32_t y = 0; y < h; ++y)
        std::copy_n(&bottomUp[row * (h - 1 - y)], row, &shotPixels[row * y]);
    storeShot(frame, shotPixels.data(), static_cast<int>(shotPixels.size()));
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
    desktopSize(width, height);
}

void platSwitchDisplay(int32_t, int32_t, int32_t) {
    // The browser has no display modes: the full-screen canvas has the mode's size, fitted to 4:3.
}

void platRestoreDisplay(int32_t, int32_t, int32_t) {
    leaveFullscreen();
}

PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks) {
    if (!desc)
        return nullptr;
    const int32_t width = webCapture.enabled ? webCapture.width : desc->width;
    const int32_t height = webCapture.enabled ? webCapture.height : desc->height;
    const bool fixed = webCapture.enabled || desc->kind == PLAT_OFFSCREEN;
    canvasPrepare(fixed ? 1 : 0, desc->kind == PLAT_FULLSCREEN ? 1 : 0, width, height);
    if (!fixed)
        placeCanvas(desc->kind, width, height);
    if (desc->kind == PLAT_FULLSCREEN && !webCapture.enabled)
        hideCursor();
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
    markFrame(insideLoop ? 1 : 0);
    if (webCapture.enabled && insideLoop && shotWanted(captureFrame))
        readBackShot(captureFrame);
    // Outside the frame loop (the loading screen) a picture shows only once the
    // page gets control back; a few times a second is enough for a progress bar.
    if (!insideLoop && emscripten_get_now() - lastYield >= LOADING_YIELD_MS) {
        waitAnimationFrame();
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
    leaveFullscreen();
}

void platRunEventLoop() {
    PlatWindow* w = current;
    if (!w)
        return;
    insideLoop = true;
    double nextTick = emscripten_get_now();
    while (w->open) {
        waitAnimationFrame();
        for (int key; w->open && (key = nextKey()) != 0;)
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
                webCapture.clockSamples = static_cast<uint64_t>(captureFrame) * WEB_AUDIO_RATE /
                                          static_cast<uint64_t>(webCapture.fps);
                webAudioPlayUntil(webCapture.clockSamples);
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
