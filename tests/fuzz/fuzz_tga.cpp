// TGA loader on arbitrary bytes: never outside a buffer, exactly one message
// box for every refused file, none and one upload for every accepted one.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "assets/tga.h"
#include "tests/box_recorder.h"
#include "tests/fuzz/gl_stub.h"

namespace {
void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "tga: %s (last box: %s)\n", what,
                     recordedBoxes.empty() ? "" : recordedBoxes.back().text.c_str());
        std::abort();
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const BoxRecorder recorder;
    if (size > 0xFFFFFFFFu)
        return 0;
    // A few header bytes can ask for up to 4 GiB, which the loader then
    // allocates before finding the data missing; under ASan each such
    // allocation costs tens of milliseconds. Inputs within the length limit
    // cannot fill more than a few MiB, so larger claims only repeat the
    // allocation and are left out (above 4 GiB the loader refuses at once).
    if (size >= 17) {
        uint64_t claimed = uint64_t(data[12] | data[13] << 8) * uint64_t(data[14] | data[15] << 8) *
                           (data[16] / 8u);
        if (claimed > (16u << 20) && claimed <= 0xFFFFFFFFu)
            return 0;
    }
    recordedBoxes.clear();
    glStubReset();

    TgaImage image{};
    image.textureId = 0xDEADBEEFu;
    bool ok = loadTgaTextureMemory(&image, data, static_cast<uint32_t>(size));
    for (const RecordedBox& box : recordedBoxes)
        check(!box.text.empty() && !box.caption.empty(), "message box without text or caption");
    if (ok) {
        check(recordedBoxes.empty(), "accepted file showed a message box");
        check(glStubCounters.texImages == 1, "accepted file was not uploaded once");
        check(image.textureId != 0xDEADBEEFu, "accepted file has no texture name");
        check(image.bitsPerPixel == 24 || image.bitsPerPixel == 32, "accepted odd depth");
    } else {
        check(recordedBoxes.size() == 1, "refused file did not show exactly one message box");
        check(glStubCounters.texImages == 0, "refused file was uploaded");
        check(image.textureId == 0xDEADBEEFu, "refused file wrote a texture name");
    }
    check(!image.pixels, "pixels kept after the load");
    return 0;
}
