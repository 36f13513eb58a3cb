// Display mode, render window, GL context, frame ticks and the event loop.
#include <GL/gl.h>
#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <atomic>
#include <string>
#include "platform/framebuffer.h"
#include "platform/letterbox.h"
#include "platform/platform.h"

struct PlatWindow {
    SDL_Window* window;
    SDL_GLContext context;
};

namespace {

PlatWindow renderWindow{};
const PlatWindowCallbacks* handlers = nullptr;
SDL_TimerID frameTimer = 0;
uint32_t timerEvent = 0;
std::atomic<bool> timerPending{false};
bool quitPosted = false;
int32_t modeWidth = 0, modeHeight = 0;
bool modeWanted = false;
PlatWindowKind windowKind = PLAT_WINDOWED;

// A frame tick pushed from the timer thread wakes the event loop through a
// message sent on another X connection; one in flight when the window goes
// may reach the server after it. That late wake-up is harmless, and Xlib's
// default handler would end the process for it. The error may only be read
// when SDL closes its connections, after SDL has put back the handler it
// found at start-up: so this one goes in before SDL starts.
XErrorHandler previousXErrorHandler = nullptr;   // never null once set: Xlib's default at the least
int ignoreLateWakeUps(Display* display, XErrorEvent* error) {
    if (error->error_code == BadWindow && error->request_code == X_SendEvent)
        return 0;
    return previousXErrorHandler ? previousXErrorHandler(display, error) : 0;
}

bool initVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO))
        return true;
    if (!previousXErrorHandler)
        previousXErrorHandler = XSetErrorHandler(ignoreLateWakeUps);
    // Probing for Wayland without a compositor only prints complaints.
    if (!SDL_getenv("WAYLAND_DISPLAY"))
        SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_DEFAULT);
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) == 0;
}

// Off-screen rendering needs no display: where none can be opened (none
// named, or a stale one), SDL's offscreen driver gives a context through EGL.
bool initOffscreenVideo() {
    if (initVideo())
        return true;
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "offscreen", SDL_HINT_OVERRIDE);
    return SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) == 0;
}

#define OFFSCREEN_NEEDS \
    "off screen it needs EGL with Mesa's software renderer (packages libegl1, libegl-mesa0, libgl1-mesa-dri)"

bool offscreenDriver() {
    const char* driver = SDL_GetCurrentVideoDriver();
    return driver && std::string(driver) == "offscreen";
}

void logFailure(const char* what) {
    platLog((std::string("tumble: ") + what + ": " + SDL_GetError()).c_str());
}

// Like a window timer: at most one tick waits in the queue.
uint32_t onTimer(uint32_t interval, void*) {
    if (!timerPending.exchange(true)) {
        SDL_Event e{};
        e.type = timerEvent;
        SDL_PushEvent(&e);
    }
    return interval;
}

// The display's own mode of exactly this size, if it has one.
bool findDisplayMode(int display, int32_t width, int32_t height, SDL_DisplayMode* mode) {
    SDL_DisplayMode want{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
    return SDL_GetClosestDisplayMode(display < 0 ? 0 : display, &want, mode) && mode->w == width &&
           mode->h == height;
}

// Where the display cannot switch (no such mode, most Wayland compositors),
// the window covers the desktop instead and reports its real size.
void applyDisplayMode() {
    SDL_Window* window = renderWindow.window;
    if (!window)
        return;
    if (!modeWanted) {
        SDL_SetWindowFullscreen(window, 0);
        return;
    }
    SDL_DisplayMode mode;
    if (findDisplayMode(SDL_GetWindowDisplayIndex(window), modeWidth, modeHeight, &mode)) {
        SDL_SetWindowDisplayMode(window, &mode);
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN);
    } else {
        // Sized by hand as well: without a window manager nobody else would.
        SDL_Rect desktop{0, 0, 0, 0};
        if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &desktop) == 0) {
            SDL_SetWindowPosition(window, desktop.x, desktop.y);
            SDL_SetWindowSize(window, desktop.w, desktop.h);
        }
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
}

// A drawable that is not 4:3 gets its picture drawn into a framebuffer of
// the picture's size, which is shown centred between black bars when the
// frame is presented: the show draws exactly what a 4:3 window of that size
// would hold, without knowing. A 4:3 drawable is drawn into directly.
struct Letterbox {
    bool loaded;
    bool available;
    Framebuffer target;        // none: the show draws into the window
    PictureRect picture;       // within the drawable, top-left origin
    int32_t drawableHeight;
};
Letterbox letterbox{};

bool loadLetterbox() {
    if (letterbox.loaded)
        return letterbox.available;
    letterbox.loaded = true;
    letterbox.available = framebufferSupported();
    if (!letterbox.available)
        platLog("tumble: no framebuffer objects: the picture fills the window's shape");
    return letterbox.available;
}

// Fits the picture to a new drawable size and binds where the show draws.
// A minimised window (0 x 0) keeps the last picture.
void fitPicture(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        return;
    const PictureRect picture = letterbox43(width, height);
    const bool boxed = windowKind != PLAT_OFFSCREEN && (picture.width != width || picture.height != height);
    if (!boxed || !loadLetterbox()) {
        framebufferRelease(&letterbox.target);
        letterbox.picture = {0, 0, width, height};
        letterbox.drawableHeight = height;
        return;
    }
    const bool sameSize = letterbox.target.name && letterbox.target.width == picture.width &&
                          letterbox.target.height == picture.height;
    letterbox.picture = picture;
    letterbox.drawableHeight = height;
    if (sameSize)
        return;
    framebufferRelease(&letterbox.target);
    if (!framebufferCreate(&letterbox.target, picture.width, picture.height)) {
        platLog("tumble: no picture-sized framebuffer: the picture fills the window's shape");
        letterbox.picture = {0, 0, width, height};
        return;
    }
    // What a new window of the picture's size starts with.
    glViewport(0, 0, picture.width, picture.height);
}

// The window black, the picture blitted into the middle; the show's clear
// colour, write mask and scissor as they were.
void showPicture() {
    GLfloat clearColour[4];
    GLboolean writeMask[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clearColour);
    glGetBooleanv(GL_COLOR_WRITEMASK, writeMask);
    const GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
    framebufferBind(nullptr);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    framebufferBlitToWindow(&letterbox.target, letterbox.picture.x,
                            letterboxGlY(letterbox.picture, letterbox.drawableHeight));
    glClearColor(clearColour[0], clearColour[1], clearColour[2], clearColour[3]);
    glColorMask(writeMask[0], writeMask[1], writeMask[2], writeMask[3]);
    if (scissor)
        glEnable(GL_SCISSOR_TEST);
}

// The size the show draws at: the picture's.
void sendSize() {
    if (!renderWindow.context)
        return;
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(renderWindow.window, &w, &h);
    fitPicture(w, h);
    if (!handlers || !handlers->size)
        return;
    if (w > 0 && h > 0)
        handlers->size(letterbox.picture.width, letterbox.picture.height);
    else
        handlers->size(w, h);
}

void sendFrame() {
    if (renderWindow.context && handlers && handlers->frame)
        handlers->frame();
}

SDL_GLContext createContext(SDL_Window* window) {
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
        // Retry without the stencil buffer before giving up.
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
        context = SDL_GL_CreateContext(window);
    }
    if (context)
        SDL_GL_MakeCurrent(window, context);
    return context;
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

// SDL switches modes through a full-screen window: remember the wish and
// apply it to the render window (now, or when it is created).
void platSwitchDisplay(int32_t width, int32_t height, int32_t) {
    modeWanted = true;
    modeWidth = width;
    modeHeight = height;
    applyDisplayMode();
}

void platRestoreDisplay(int32_t, int32_t, int32_t) {
    modeWanted = false;
    applyDisplayMode();
}

PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks) {
    if (desc->kind == PLAT_OFFSCREEN && !initOffscreenVideo()) {
        logFailure("no OpenGL context: no display could be opened, and " OFFSCREEN_NEEDS);
        return nullptr;
    }
    if (!initVideo()) {
        logFailure("no display: set DISPLAY or WAYLAND_DISPLAY");
        return nullptr;
    }
    handlers = callbacks;
    quitPosted = false;
    if (!timerEvent)
        timerEvent = SDL_RegisterEvents(1);

    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);

    windowKind = desc->kind;
    const bool full = desc->kind == PLAT_FULLSCREEN;
    uint32_t flags = SDL_WINDOW_OPENGL;
    if (full)
        flags |= SDL_WINDOW_BORDERLESS;   // made full screen below, once the mode is known
    else if (desc->kind == PLAT_OFFSCREEN)
        flags |= SDL_WINDOW_HIDDEN;
    else
        flags |= SDL_WINDOW_RESIZABLE;
    const int position = full ? 0 : SDL_WINDOWPOS_UNDEFINED;
    SDL_Window* window = SDL_CreateWindow(desc->title, position, position, desc->width, desc->height, flags);
    if (!window) {
        logFailure(offscreenDriver() ? "no window: no display could be opened, and " OFFSCREEN_NEEDS
                                     : "no window");
        platMessageBox("Failed to find acceptable pixel format.", "Error!", PLAT_ICON_ERROR);
        return nullptr;
    }
    renderWindow.window = window;
    if (full) {
        applyDisplayMode();
        SDL_ShowCursor(SDL_DISABLE);
    }
    if (desc->kind != PLAT_OFFSCREEN)
        frameTimer = SDL_AddTimer(20, onTimer, nullptr);

    renderWindow.context = createContext(window);
    if (!renderWindow.context) {
        logFailure(offscreenDriver() ? "no OpenGL context: no display could be opened, and " OFFSCREEN_NEEDS
                                     : "no OpenGL context");
        platMessageBox("Failed to set pixel format.", "Error!", PLAT_ICON_ERROR);
        platCloseWindow(&renderWindow);
        return nullptr;
    }
    // The shell draws for the size it asked for until told otherwise; the
    // loading sequence already draws into the picture.
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    fitPicture(w, h);
    if ((letterbox.picture.width != desc->width || letterbox.picture.height != desc->height) &&
        desc->kind != PLAT_OFFSCREEN)
        sendSize();
    return &renderWindow;
}

void* platGlProcAddress(const char* name) {
    return SDL_GL_GetProcAddress(name);
}

bool platSwapBuffers(PlatWindow* window) {
    if (!window || !window->window)
        return false;
    if (letterbox.target.name)
        showPicture();
    SDL_GL_SwapWindow(window->window);
    if (letterbox.target.name)
        framebufferBind(&letterbox.target);
    return true;
}

void platCloseWindow(PlatWindow* window) {
    if (!window || !window->window)
        return;
    modeWanted = false;
    applyDisplayMode();
    framebufferRelease(&letterbox.target);
    letterbox = Letterbox{};
    SDL_GL_MakeCurrent(window->window, nullptr);
    if (window->context)
        SDL_GL_DeleteContext(window->context);
    window->context = nullptr;
    if (frameTimer)
        SDL_RemoveTimer(frameTimer);
    frameTimer = 0;
    quitPosted = true;
    SDL_DestroyWindow(window->window);
    window->window = nullptr;
}

void platRunEventLoop() {
    SDL_StartTextInput();
    SDL_Event e;
    while (!quitPosted && SDL_WaitEvent(&e)) {
        if (e.type == timerEvent) {
            timerPending = false;
            if (renderWindow.window)
                sendFrame();
            continue;
        }
        switch (e.type) {
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                sendSize();
            else if (e.window.event == SDL_WINDOWEVENT_EXPOSED)
                sendFrame();
            else if (e.window.event == SDL_WINDOWEVENT_CLOSE)
                platCloseWindow(&renderWindow);
            break;
        case SDL_KEYDOWN:
            if (e.key.keysym.sym == SDLK_ESCAPE && handlers && handlers->key)
                handlers->key(PLAT_KEY_ESCAPE);
            break;
        case SDL_QUIT:
            platCloseWindow(&renderWindow);
            break;
        default:
            break;
        }
    }
    SDL_Quit();
}
