// Glyph atlas of the browser build: rendered when the page is built, by the
// Linux backend's FreeType code from the build machine's bold face for
// "Arial" (scripts/web-atlas.sh), since every engine's canvas draws text its
// own way (hinting, weight) and the picture would differ from browser to
// browser. The show asks only for that face.
#include <cstring>
#include "platform/platform.h"

namespace {

const uint8_t coverage[256 * 256] = {
#include "web_atlas.inc"
};

}  // namespace

bool platRenderGlyphAtlas(const char*, uint8_t* bgr) {
    for (size_t i = 0; i < sizeof coverage; ++i)
        std::memset(bgr + i * 3, coverage[i], 3);
    return true;
}
