// TGA decoder: the 12-byte header picks the reader, the 6 info bytes size the
// image, and the pixels come out red, green, blue(, alpha) in file row order.
#include "assets/tga.h"
#include <cstring>
#include <new>
#include "platform/platform.h"

namespace {

const uint8_t uncompressedPattern[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const uint8_t rlePattern[12] = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};

void report(const char* text) {
    platMessageBox(text, "ERROR", PLAT_ICON_NONE);
}

bool fail(TgaImage* record, ByteReader* stream, const char* text) {
    report(text);
    readerClose(stream);
    record->pixels.reset();
    return false;
}

// Shared start of both readers: the six info bytes and the image buffer.
// Returns the image size in bytes, 0 after a failure (already reported).
uint64_t readInfo(TgaImage* record, ByteReader* stream) {
    uint8_t info[6];
    if (readerRead(stream, info, 6) != 6) {
        fail(record, stream, "Could not read info header");
        return 0;
    }
    record->width = info[0] + 256u * info[1];
    record->height = info[2] + 256u * info[3];
    record->bitsPerPixel = info[4];
    if (record->width == 0 || record->height == 0 ||
        (record->bitsPerPixel != 24 && record->bitsPerPixel != 32)) {
        fail(record, stream, "Invalid texture information");
        return 0;
    }
    record->format = record->bitsPerPixel == 24 ? GLC_RGB : GLC_RGBA;
    // 64-bit so that 65535 x 65535 x 4 cannot wrap in the 32-bit build.
    uint64_t imageSize = uint64_t(record->bitsPerPixel / 8) * record->width * record->height;
    uint8_t* buffer = nullptr;
    if (imageSize <= SIZE_MAX && imageSize <= UINT32_MAX)
        buffer = new (std::nothrow) uint8_t[static_cast<size_t>(imageSize)];
    if (!buffer) {
        fail(record, stream, "Could not allocate memory for image");
        return 0;
    }
    record->pixels.reset(buffer);
    return imageSize;
}

}  // namespace

bool readTgaUncompressed(TgaImage* record, ByteReader* stream) {
    uint64_t imageSize = readInfo(record, stream);
    if (imageSize == 0)
        return false;
    uint8_t* pixels = record->pixels.get();
    uint32_t size = static_cast<uint32_t>(imageSize);
    if (readerRead(stream, pixels, size) != size)
        return fail(record, stream, "Could not read image data");
    uint32_t b = record->bitsPerPixel / 8;
    for (uint32_t i = 0; i < size; i += b) {
        uint8_t blue = pixels[i];
        pixels[i] = pixels[i + 2];
        pixels[i + 2] = blue;
    }
    readerClose(stream);
    return true;
}

bool readTgaRle(TgaImage* record, ByteReader* stream) {
    if (readInfo(record, stream) == 0)
        return false;
    uint8_t* out = record->pixels.get();
    uint32_t b = record->bitsPerPixel / 8;
    uint32_t total = record->width * record->height;
    uint32_t counter = 0;
    uint8_t pixel[4];

    auto store = [&]() -> bool {
        if (counter >= total)
            return false;
        out[0] = pixel[2];
        out[1] = pixel[1];
        out[2] = pixel[0];
        if (b == 4)
            out[3] = pixel[3];
        out += b;
        ++counter;
        return true;
    };

    while (counter < total) {
        uint8_t h;
        if (readerRead(stream, &h, 1) != 1)
            return fail(record, stream, "Could not read RLE header");
        if (h < 128) {
            for (uint32_t i = 0; i <= h; ++i) {
                if (readerRead(stream, pixel, b) != b)
                    return fail(record, stream, "Could not read image data");
                if (!store())
                    return fail(record, stream, "Too many pixels read");
            }
        } else {
            if (readerRead(stream, pixel, b) != b)
                return fail(record, stream, "Could not read from file");
            for (uint32_t i = 0; i < uint32_t(h) - 127; ++i) {
                if (!store())
                    return fail(record, stream, "Too many pixels read");
            }
        }
    }
    readerClose(stream);
    return true;
}

bool tgaDecode(TgaImage* record, ByteReader* stream) {
    uint8_t header[12];
    if (readerRead(stream, header, 12) != 12) {
        report("Could not read file header");
        readerClose(stream);
        return false;
    }
    if (std::memcmp(header, uncompressedPattern, 12) == 0)
        return readTgaUncompressed(record, stream);
    if (std::memcmp(header, rlePattern, 12) == 0)
        return readTgaRle(record, stream);
    platMessageBox("TGA file be type 2 or type 10 ", "Invalid Image", PLAT_ICON_NONE);
    readerClose(stream);
    return false;
}
