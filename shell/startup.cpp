// Start-up: desktop size, resolution chooser, display mode switch, then the
// render window with its GL context, the loading sequence and the event loop.
#include "music/output.h"
#include "shell/demo.h"

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

int appMain() {
    platDesktopSize(&demo.desktopWidth, &demo.desktopHeight);

    chooserResult = platRunChooser(&resolutionChoice);
    if (chooserResult != PLAT_CHOOSER_CONFIRMED)
        return 0;

    // Confirming without a pick gives the labelled default.
    if (resolutionChoice == 0)
        resolutionChoice = 4;
    chooseScreenSize(resolutionChoice);
    PlatWindowDesc desc = {":)", 800, 600, PLAT_WINDOWED};
    if (fullscreen) {
        platSwitchDisplay(screenWidth, screenHeight, 32);
        desc = {":)", screenWidth, screenHeight, PLAT_FULLSCREEN};
    }
    demo.window = platOpenWindow(&desc, &renderWindowCallbacks);
    if (!demo.window)
        return 1;

    audioSetDevice(&platAudioDevice);
    loadDemo();
    platRunEventLoop();
    return 0;
}
