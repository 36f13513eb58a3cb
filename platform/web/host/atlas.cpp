// Build-time helper of the browser build, run on the build machine: renders
// the glyph atlas with the Linux backend's FreeType code and writes its
// coverage (one byte a pixel, bottom-up) as a C array for the page to embed.
#include <cstdio>
#include <vector>
#include "platform/platform.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FACE OUT\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> bgr(256 * 256 * 3, 0);
    if (!platRenderGlyphAtlas(argv[1], bgr.data())) {
        std::fprintf(stderr, "%s: no bold face for \"%s\" (fontconfig and FreeType; fonts-liberation has one)\n",
                     argv[0], argv[1]);
        return 1;
    }
    FILE* out = std::fopen(argv[2], "w");
    if (!out) {
        std::perror(argv[2]);
        return 1;
    }
    for (size_t i = 0; i < bgr.size(); i += 3)
        std::fprintf(out, "%u,%s", bgr[i], (i / 3) % 32 == 31 ? "\n" : "");
    return std::fclose(out) == 0 ? 0 : 1;
}
