// Display mode, render window, GL context, frame timer and message loop.
#include <SDL.h>
#include <atomic>
#include "platform/platform.h"

namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
const PlatWindowEvents* handlers = nullptr;
SDL_TimerID frameTimer = 0;
uint32_t timerEvent = 0;
std::atomic<bool> timerPending{false};
bool quitPosted = false;
int quitCode = 0;
int32_t modeWidth = 0, modeHeight = 0;
bool modeWanted = false;

bool initVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO))
        return true;
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) == 0;
}

// Like WM_TIMER: at most one tick waits in the queue.
uint32_t onTimer(uint32_t interval, void*) {
    if (!timerPending.exchange(true)) {
        SDL_Event e{};
        e.type = timerEvent;
        SDL_PushEvent(&e);
    }
    return interval;
}

void applyDisplayMode() {
    if (!window)
        return;
    if (!modeWanted) {
        SDL_SetWindowFullscreen(window, 0);
        return;
    }
    SDL_DisplayMode want{SDL_PIXELFORMAT_RGB888, modeWidth, modeHeight, 0, nullptr};
    SDL_DisplayMode got;
    int display = SDL_GetWindowDisplayIndex(window);
    if (SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &want, &got))
        SDL_SetWindowDisplayMode(window, &got);
    SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
}

void sendSize() {
    if (!context || !handlers || !handlers->size)
        return;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    handlers->size(w, h);
}

void sendPaint() {
    if (context && handlers && handlers->paint)
        handlers->paint();
}

}  // namespace

void platDesktopSize(int32_t* width, int32_t* height) {
    SDL_DisplayMode mode{};
    if (initVideo() && SDL_GetDesktopDisplayMode(0, &mode) == 0) {
        *width = mode.w;
        *height = mode.h;
    } else {
        *width = 0;
        *height = 0;
    }
}

void platSetDisplayMode(int32_t width, int32_t height, int32_t, uint32_t flags) {
    // SDL switches modes through a full-screen window: remember the wish and
    // apply it to the render window (now, or when it is created).
    modeWanted = (flags & PLAT_MODE_FULLSCREEN) != 0;
    modeWidth = width;
    modeHeight = height;
    applyDisplayMode();
}

void platRestoreDisplayMode() {
    modeWanted = false;
    applyDisplayMode();
}

void platShowCursor(bool visible) {
    SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE);
}

bool platCreateRenderWindow(int32_t width, int32_t height, int kind, const PlatWindowEvents* events) {
    if (!initVideo())
        return false;
    handlers = events;
    if (!timerEvent)
        timerEvent = SDL_RegisterEvents(1);

    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);

    uint32_t flags = SDL_WINDOW_OPENGL;
    if (kind == PLAT_FULLSCREEN)
        flags |= SDL_WINDOW_FULLSCREEN;
    else if (kind == PLAT_HIDDEN)
        flags |= SDL_WINDOW_HIDDEN;
    else
        flags |= SDL_WINDOW_RESIZABLE;
    window = SDL_CreateWindow(":)", kind == PLAT_FULLSCREEN ? 0 : SDL_WINDOWPOS_UNDEFINED,
                              kind == PLAT_FULLSCREEN ? 0 : SDL_WINDOWPOS_UNDEFINED,
                              width, height, flags);
    if (!window)
        return false;
    if (kind == PLAT_FULLSCREEN)
        applyDisplayMode();
    if (kind != PLAT_HIDDEN)
        frameTimer = SDL_AddTimer(20, onTimer, nullptr);
    return true;
}

PlatDeviceContext platGetDeviceContext() {
    return window;
}

int platSetPixelFormat(PlatDeviceContext dc) {
    if (!dc) {
        platMessageBox("Failed to find acceptable pixel format.", "Error!", PLAT_ICON_ERROR);
        return 0;
    }
    return 1;
}

PlatGlContext platCreateGlContext(PlatDeviceContext dc) {
    SDL_Window* w = static_cast<SDL_Window*>(dc);
    context = SDL_GL_CreateContext(w);
    if (!context) {
        // Retry without the stencil buffer before giving up.
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
        context = SDL_GL_CreateContext(w);
    }
    if (context)
        SDL_GL_MakeCurrent(w, context);
    return context;
}

void platDeleteGlContext(PlatGlContext ctx) {
    if (!window)
        return;
    SDL_GL_MakeCurrent(window, nullptr);
    if (ctx)
        SDL_GL_DeleteContext(ctx);
}

void* platGlProcAddress(const char* name) {
    return SDL_GL_GetProcAddress(name);
}

int platSwapBuffers(PlatDeviceContext dc) {
    if (!dc)
        return 0;
    SDL_GL_SwapWindow(static_cast<SDL_Window*>(dc));
    return 1;
}

void platKillFrameTimer() {
    if (frameTimer)
        SDL_RemoveTimer(frameTimer);
    frameTimer = 0;
}

void platDestroyWindow() {
    if (!window)
        return;
    if (handlers && handlers->destroy)
        handlers->destroy();
    SDL_DestroyWindow(window);
    window = nullptr;
}

void platPostQuit(int code) {
    quitPosted = true;
    quitCode = code;
}

int platMessageLoop() {
    SDL_StartTextInput();
    SDL_Event e;
    while (!quitPosted && SDL_WaitEvent(&e)) {
        if (e.type == timerEvent) {
            timerPending = false;
            if (window)
                sendPaint();
            continue;
        }
        switch (e.type) {
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                sendSize();
            else if (e.window.event == SDL_WINDOWEVENT_EXPOSED)
                sendPaint();
            else if (e.window.event == SDL_WINDOWEVENT_CLOSE)
                platDestroyWindow();
            break;
        case SDL_KEYDOWN:
            if (e.key.keysym.sym == SDLK_ESCAPE && handlers && handlers->character)
                handlers->character(27);
            break;
        case SDL_QUIT:
            platDestroyWindow();
            break;
        default:
            break;
        }
    }
    return quitCode;
}

void platReleaseDeviceContext(PlatDeviceContext) {
    SDL_Quit();
}
