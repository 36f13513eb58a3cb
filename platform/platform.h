// The one seam between the production and the operating system.
// Two backends: platform/win32 (Win32, WGL, GDI, winmm) and platform/sdl
// (SDL2, GTK 3, FreeType). Nothing outside platform/ includes a system header.
#pragma once
#include <cstddef>
#include <cstdint>

// Clock and sleep.
uint32_t platTickCount();                 // milliseconds, wraps at 2^32
void platSetTickSource(uint32_t (*source)());   // offline rendering's clock; null: the real one
void platSleep(uint32_t milliseconds);

// Modal message box with no owner. Tests install a hook that records instead.
enum { PLAT_ICON_NONE = 0, PLAT_ICON_ERROR = 1 };
typedef void (*PlatMessageBoxHook)(const char* text, const char* caption, int icon);
void platMessageBox(const char* text, const char* caption, int icon);
void platSetMessageBoxHook(PlatMessageBoxHook hook);   // null restores the real box

// Resolution chooser: blocks until confirmed (returns 1) or cancelled (2);
// *choice is 0 until a radio button is picked, then 1..8.
int platRunChooser(int32_t* choice);

// Display.
void platDesktopSize(int32_t* width, int32_t* height);
enum { PLAT_MODE_FULLSCREEN = 4 };        // same value as CDS_FULLSCREEN
void platSetDisplayMode(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t flags);
void platRestoreDisplayMode();            // back to the stored desktop mode
void platShowCursor(bool visible);

// Render window with a 20 ms frame timer. Events arrive on the main thread
// from inside platMessageLoop (and, for size/paint, during creation).
struct PlatWindowEvents {
    void (*paint)();                      // only once a GL context exists
    void (*size)(int32_t width, int32_t height);   // client size, same rule
    void (*character)(int32_t code);      // 27 = Escape
    void (*destroy)();                    // window is going away
};
enum { PLAT_WINDOWED = 0, PLAT_FULLSCREEN = 1, PLAT_HIDDEN = 2 };
typedef void* PlatDeviceContext;
typedef void* PlatGlContext;
bool platCreateRenderWindow(int32_t width, int32_t height, int kind, const PlatWindowEvents* events);
PlatDeviceContext platGetDeviceContext();
int platSetPixelFormat(PlatDeviceContext dc);  // 1 ok, 0 failed (box shown)
PlatGlContext platCreateGlContext(PlatDeviceContext dc);   // created and made current
void platDeleteGlContext(PlatGlContext context);           // un-current, then delete
void* platGlProcAddress(const char* name);                 // extension entry points
int platSwapBuffers(PlatDeviceContext dc);
void platKillFrameTimer();
void platDestroyWindow();
void platPostQuit(int code);
int platMessageLoop();                    // until quit; returns the quit code
void platReleaseDeviceContext(PlatDeviceContext dc);

// Audio output: one looping ring of 16-bit stereo PCM and its play position.
struct PlatAudioDevice {
    bool (*open)(int32_t rate);
    void (*loop)(void* pcm, uint32_t bytes);    // start looping this buffer for ever
    void (*unprepare)();                        // let go of the buffer
    uint32_t (*position)();                     // bytes played, wraps at 2^32
    void (*reset)();                            // stop playing
    void (*close)();
};
extern const PlatAudioDevice platAudioDevice;   // the system's sound output

// A thread at time-critical priority; the handle is only forgotten, never joined.
struct PlatThread;
PlatThread* platThreadStart(int (*procedure)());
void platThreadForget(PlatThread* thread);

// Embedded resources by id and type ("RAWDATA"); false when missing.
bool platResource(int32_t id, const char* type, const uint8_t** data, uint32_t* size);

// Glyph atlas: the 256 codes (U+0000..U+00FF) of a bold 16-pixel face into a
// 256 x 256 bottom-up BGR bitmap, one centred, top-aligned 16 x 16 cell each.
// Returns 0, or -2 when the font cannot be had.
int platRenderGlyphAtlas(const char* face, uint8_t* bgr);
