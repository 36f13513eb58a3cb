#include <SDL.h>
#include "platform/platform.h"
#include "platform/backend.h"

namespace {

void sdlMessageBox(const char* text, const char* caption, int icon) {
    uint32_t flags = icon == PLAT_ICON_ERROR ? SDL_MESSAGEBOX_ERROR : SDL_MESSAGEBOX_INFORMATION;
    if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) != 0)
        SDL_Log("%s: %s", caption, text);
}

}  // namespace

int main() {
    backendMessageBox = sdlMessageBox;
    return appMain();
}
