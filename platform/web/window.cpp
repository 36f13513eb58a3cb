// The render window is the page's canvas with a WebGL 1 context. Frames come
// from requestAnimationFrame, drawn only when a 20 ms tick is due, so the
// show keeps 50 ticks a second whatever the display's refresh rate. In
// capture mode every animation frame draws a batch of frames on the virtual
// clock instead, and the asked-for frames are read back for the test.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <vector>

#include "platform/platform.h"
#include "platform/web/gl/webgl.h"
#include "platform/web/web.h"

struct PlatWindow {
    PlatWindowCallbacks callbacks;
    PlatWindowKind kind;
    EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
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

// Sizes the canvas and listens for keys and resizes. Full screen: the canvas
// has the mode's size and the Fullscreen API stretches it; windowed: it fits the page.
EM_JS(void, canvasPrepare, (int kind, int width, int height, int capture), {
    const canvas = document.getElementById('canvas');
    canvas.hidden = false;
    Module.webKeys = [];
    Module.webKind = kind;
    Module.webCaptureMode = capture;
    if (capture) {
        canvas.width = width;
        canvas.height = height;
        canvas.className = 'fixed';
    } else if (kind == 1) {
        canvas.width = width;
        canvas.height = height;
        canvas.className = 'fullscreen';
        if (canvas.requestFullscreen)
            canvas.requestFullscreen().catch(() => {});
    } else {
        canvas.width = Math.max(1, window.innerWidth);
        canvas.height = Math.max(1, window.innerHeight);
        canvas.className = 'page';
    }
    if (!Module.webListening) {
        Module.webListening = true;
        window.addEventListener('keydown', (e) => {
            if (e.key === 'Escape') {
                Module.webKeys.push(1);
                e.preventDefault();
            }
        });
    }
});

EM_JS(int, canvasFollowPage, (), {
    const canvas = document.getElementById('canvas');
    if (Module.webKind != 0 || Module.webCaptureMode)
        return 0;
    const w = Math.max(1, window.innerWidth), h = Math.max(1, window.innerHeight);
    if (canvas.width == w && canvas.height == h)
        return 0;
    canvas.width = w;
    canvas.height = h;
    return 1;
});

EM_JS(void, canvasSize, (int32_t* width, int32_t* height), {
    const canvas = document.getElementById('canvas');
    HEAP32[width >> 2] = canvas.width;
    HEAP32[height >> 2] = canvas.height;
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

EM_JS(int, shotWanted, (int frame), {
    if (!Module.webWantedShots) {
        const list = new URLSearchParams(location.search).get('shots') || "";
        Module.webWantedShots = new Set(list.split(',').filter((s) => s).map((s) => parseInt(s, 10)));
        Module.webShots = {};
    }
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
    // The browser has no display modes: the full-screen canvas has the mode's size.
}

void platRestoreDisplay(int32_t, int32_t, int32_t) {
    leaveFullscreen();
}

PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks) {
    if (!desc)
        return nullptr;
    const int32_t width = webCapture.enabled ? webCapture.width : desc->width;
    const int32_t height = webCapture.enabled ? webCapture.height : desc->height;
    canvasPrepare(desc->kind, width, height, webCapture.enabled ? 1 : 0);
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
        if (!w->sized || canvasFollowPage())
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
