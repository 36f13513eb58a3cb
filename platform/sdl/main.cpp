#include <SDL.h>
#include <cstdio>
#include <cstdlib>
#include "platform/platform.h"
#include "platform/backend.h"

namespace {

void sdlMessageBox(const char* text, const char* caption, int icon) {
    uint32_t flags = icon == PLAT_ICON_ERROR ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
    // Without a display the failure has been named on stderr already.
    if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) != 0 &&
        (std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY")))
        std::fprintf(stderr, "tumble: %s: %s\n", caption, text);
}

}  // namespace

int main() {
    backendMessageBox = sdlMessageBox;
    return appMain();
}
