// Replaceable clock and message box, shared by both backends: tests record
// message boxes instead of blocking, and offline rendering runs on a virtual clock.
#include "platform/platform.h"

#include <cstdlib>

#include "platform/backend.h"

namespace {
PlatMessageBoxHook messageBoxHook = nullptr;
uint32_t (*tickSource)() = nullptr;
}  // namespace

uint32_t platTickCount() {
    return tickSource ? tickSource() : backendTickCount();
}

void platSetTickSource(uint32_t (*source)()) {
    tickSource = source;
}

void platSetMessageBoxHook(PlatMessageBoxHook hook) {
    messageBoxHook = hook;
}

void platMessageBox(const char* text, const char* caption, int icon) {
    if (messageBoxHook)
        messageBoxHook(text, caption, icon);
    else
        backendMessageBox(text, caption, icon);
}

void fatalError(const char* text) {
    platMessageBox(text, "Error", PLAT_ICON_NONE);
    std::exit(1);
}
