// Start-up: desktop size, resolution chooser, display mode switch, then the
// render window with its GL context, the loading sequence and the event loop.
#include <iterator>

#include "music/output.h"
#include "shell/demo.h"

// Every chooser shows these rows, top down; a row's place (1..) is the choice.
const PlatChooserRow chooserRows[] = {
    {"640x480", 640, 480, false, false},
    {"800x600", 800, 600, false, false},
    {"960x720", 960, 720, false, false},
    {"1024x768 (default)", 1024, 768, false, true},
    {"1152x864", 1152, 864, false, false},
    {"1280x960", 1280, 960, false, false},
    {"1280x1024", 1280, 1024, false, false},
    {"windowed", 800, 600, true, false},
};
const int32_t chooserRowCount = static_cast<int32_t>(std::size(chooserRows));

void chooseScreenSize(int32_t choice) {
    // Anything outside the rows, no pick included, is the default row.
    const PlatChooserRow* row = nullptr;
    for (const PlatChooserRow& r : chooserRows)
        if (r.isDefault)
            row = &r;
    if (choice >= 1 && choice <= chooserRowCount)
        row = &chooserRows[choice - 1];
    screenWidth = row->width;
    screenHeight = row->height;
    fullscreen = row->windowed ? 0 : 1;
}

int appMain() {
    platDesktopSize(&demo.desktopWidth, &demo.desktopHeight);

    chooserResult = platRunChooser(chooserRows, chooserRowCount, &resolutionChoice);
    if (chooserResult != PLAT_CHOOSER_CONFIRMED)
        return 0;

    chooseScreenSize(resolutionChoice);
    PlatWindowDesc desc = {":)", screenWidth, screenHeight, PLAT_WINDOWED};
    if (fullscreen) {
        platSwitchDisplay(screenWidth, screenHeight, 32);
        desc.kind = PLAT_FULLSCREEN;
    }
    demo.window = platOpenWindow(&desc, &renderWindowCallbacks);
    if (!demo.window)
        return 1;

    audioSetDevice(&platAudioDevice);
    loadDemo();
    platRunEventLoop();
    return 0;
}
