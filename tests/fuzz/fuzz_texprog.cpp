// Texture program interpreter on arbitrary programs with the real operators:
// any opcode, layer and operand byte, opcode 40 with a short or missing
// bitmap, counts beyond the bytes given.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "texgen/texgen.h"

namespace {
float lastFraction;
int calls;

void progress(float fraction) {
    if (!(fraction >= lastFraction) || !(fraction <= 1.0f)) {
        std::fprintf(stderr, "texprog: progress %g after %g\n", fraction, lastFraction);
        std::abort();
    }
    lastFraction = fraction;
    calls++;
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "texprog: %s\n", what);
        std::abort();
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Every instruction is a whole-image pass; 127 of them is the most a
    // program can hold, and two bitmaps are plenty.
    if (size > 4 + 127 * 9 + 2 * 8192)
        size = 4 + 127 * 9 + 2 * 8192;
    lastFraction = 0.0f;
    calls = 0;
    std::unique_ptr<Image> image(new Image);
    for (uint32_t& p : image->pixels) p = 0xA5A5A5A5u;

    bool ok = runTextureProgram(data, size, image.get(), progress);
    if (ok) {
        for (uint32_t p : image->pixels)
            check((p & 0xFF000000u) == 0, "a pixel with bits 24-31 set");
        check(calls <= 127, "more steps than a program can hold");
    } else {
        check(calls == 0, "refused program reported progress");
        for (uint32_t p : image->pixels)
            check(p == 0xA5A5A5A5u, "refused program wrote the output");
    }
    return 0;
}
