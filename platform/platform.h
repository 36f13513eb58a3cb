// The one seam between the production and the operating system: what the show
// asks for, not how a system provides it. Backends: platform/win32 (Win32,
// WGL, GDI, winmm), platform/sdl (SDL2, GTK 3, FreeType) and platform/web
// (browser). Nothing outside platform/ includes a system header.
#pragma once
#include <cstddef>
#include <cstdint>

// The program's entry, called by the backend's own main/WinMain once the
// backend is ready; its result is the process exit code.
int appMain();

// Errors, one rule for every call below: a call that can fail returns bool
// (true: it did its job) or a pointer (null: nothing was made); a call that
// cannot fail returns nothing. A failure the viewer must hear of has been
// shown in a box before the call returns, in the words the show fixes for it;
// the caller only decides whether to go on. A start-up step the show cannot
// go on from ends the process through fatalError instead. No call returns a
// code or a message.

// Clock and sleep.
uint32_t platTickCount();                       // milliseconds, wraps at 2^32
void platSetTickSource(uint32_t (*source)());   // offline rendering's clock; null: the real one
void platSleep(uint32_t milliseconds);

// Modal message box with no owner. Tests install a hook that records instead.
enum { PLAT_ICON_NONE = 0, PLAT_ICON_ERROR = 1 };
typedef void (*PlatMessageBoxHook)(const char* text, const char* caption, int icon);
void platMessageBox(const char* text, const char* caption, int icon);
void platSetMessageBoxHook(PlatMessageBoxHook hook);   // null restores the real box
// The box (caption "Error", no icon), then the process ends with exit code 1:
// a start-up that cannot go on is a failure, whatever the viewer saw.
[[noreturn]] void fatalError(const char* text);

// One line on the diagnostic stream where the system has one (nowhere on Windows).
void platLog(const char* line);

// Resolution chooser: shows the rows' labels top down, as given, blocks until
// the viewer confirms or cancels and returns which. *choice is 0 until a row
// is picked, then 1..count. A chooser window that cannot be made is a
// fatalError naming it.
struct PlatChooserRow {
    const char* label;
    int32_t width;      // the render size; the display mode too unless windowed
    int32_t height;
    bool windowed;
    bool isDefault;     // what confirming without a pick gives
};
enum { PLAT_CHOOSER_OPEN = 0, PLAT_CHOOSER_CONFIRMED = 1, PLAT_CHOOSER_CANCELLED = 2 };
int32_t platRunChooser(const PlatChooserRow* rows, int32_t count, int32_t* choice);

// Display.
void platDesktopSize(int32_t* width, int32_t* height);
void platSwitchDisplay(int32_t width, int32_t height, int32_t bitsPerPixel);   // for the show only
void platRestoreDisplay(int32_t width, int32_t height, int32_t bitsPerPixel);  // the desktop's mode

// The render window: a double-buffered OpenGL 1.1 context on a window of
// the described size. A shown window gets a frame tick every 20 ms.
enum PlatWindowKind { PLAT_WINDOWED = 0, PLAT_FULLSCREEN = 1, PLAT_OFFSCREEN = 2 };
struct PlatWindowDesc {
    const char* title;
    int32_t width;         // full screen: the display mode switched to; windowed: outer size
    int32_t height;
    PlatWindowKind kind;   // off screen: never shown, no frame ticks, no events
};
enum PlatKey { PLAT_KEY_ESCAPE = 1 };
// Called on the main thread from inside platRunEventLoop; frame and size
// only once the context exists. Any may be null.
struct PlatWindowCallbacks {
    void (*frame)();                                // draw one frame (and present it)
    void (*key)(PlatKey key);                       // named keys only
    void (*size)(int32_t width, int32_t height);    // new drawable size
};
struct PlatWindow;
// Creates and shows the window (hiding the cursor in full screen), then the
// context, made current. Null when that fails (a box has said why).
PlatWindow* platOpenWindow(const PlatWindowDesc* desc, const PlatWindowCallbacks* callbacks);
bool platSwapBuffers(PlatWindow* window);       // true when the frame was presented
void* platGlProcAddress(const char* name);      // extension entry points
// Closes the window: the display back to the desktop mode, the context
// released, the frame ticks stopped, and the event loop told to end.
void platCloseWindow(PlatWindow* window);
void platRunEventLoop();                        // until the window is closed

// Audio output: one looping ring of 16-bit stereo PCM and its play position.
// The show mixes and every device plays at this one rate (frames per second).
enum : int32_t { PLAT_OUTPUT_RATE = 44100 };
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
// False when the font cannot be had (no box: the show words that failure itself).
bool platRenderGlyphAtlas(const char* face, uint8_t* bgr);
