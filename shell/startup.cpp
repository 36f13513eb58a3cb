// Start-up: desktop size, resolution chooser, display mode switch, then the
// render window, GL context, loading sequence and message loop.
#include <cstdlib>
#include "shell/demo.h"
#include "shell/window_events.h"

namespace {

struct Resolution {
    int32_t width;
    int32_t height;
};

// Choices 1..7 switch the display; 8 is the 800 x 600 window.
const Resolution resolutionTable[8] = {
    {640, 480}, {800, 600}, {960, 720}, {1024, 768},
    {1152, 864}, {1280, 960}, {1280, 1024}, {800, 600},
};

}  // namespace

void setDisplayMode(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t flags) {
    platSetDisplayMode(width, height, bitsPerPixel, flags);
}

void fatalError(const char* text) {
    platMessageBox(text, "Error", PLAT_ICON_NONE);
    std::exit(0);
}

void chooseScreenSize(int32_t choice) {
    fullscreen = 1;
    if (choice == 8) {
        screenWidth = 800;
        screenHeight = 600;
        fullscreen = 0;
        return;
    }
    // Anything outside 1..8 is the labelled default, 1024 x 768.
    const Resolution& r = (choice >= 1 && choice <= 7) ? resolutionTable[choice - 1] : resolutionTable[3];
    screenWidth = r.width;
    screenHeight = r.height;
}

int demoMain() {
    platDesktopSize(&demo.desktopWidth, &demo.desktopHeight);

    chooserResult = platRunChooser(&resolutionChoice);
    if (chooserResult != 1)
        return 0;

    // Confirming without a pick gives the labelled default.
    if (resolutionChoice == 0)
        resolutionChoice = 4;
    chooseScreenSize(resolutionChoice);
    if (fullscreen) {
        setDisplayMode(screenWidth, screenHeight, 32, PLAT_MODE_FULLSCREEN);
        platCreateRenderWindow(screenWidth, screenHeight, PLAT_FULLSCREEN, &renderWindowEvents);
        platShowCursor(false);
    } else {
        platCreateRenderWindow(800, 600, PLAT_WINDOWED, &renderWindowEvents);
    }

    demo.deviceContext = platGetDeviceContext();
    if (!setPixelFormat(demo.deviceContext))
        return 0;
    demo.glContext = platCreateGlContext(demo.deviceContext);

    loadDemo();

    int code = platMessageLoop();
    platReleaseDeviceContext(demo.deviceContext);
    return code;
}
