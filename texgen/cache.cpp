// Texture cache files (24-bit TGA, lower-left origin) and their upload format.
#include <cstdio>
#include <cstring>
#include "texgen/texgen.h"

char textureCacheName[13] = "tex00000.tga";

namespace {

enum { CACHE_HEADER_BYTES = 18, CACHE_PIXEL_BYTES = 256 * 256 * 3 };

// Two decimal digits before the dot. After 99 the counter starts again at 00
// rather than leaving the digits, which would make names no file system takes.
void advanceCacheName() {
    if (++textureCacheName[7] > '9') {
        textureCacheName[7] = '0';
        if (++textureCacheName[6] > '9') textureCacheName[6] = '0';
    }
}

uint8_t* rowBuffer() {
    if (!layerBank.buffersReady) allocateWorkBuffers();
    return layerBank.rowBuffer.get();
}

}  // namespace

bool readCacheFile(const char* name, Image* image) {
    if (!name || !image) return false;
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return false;
    uint8_t* rows = rowBuffer();
    // The header is not examined; a short file reads as black where it ends.
    std::memset(rows, 0, CACHE_PIXEL_BYTES);
    if (std::fseek(file, CACHE_HEADER_BYTES, SEEK_SET) == 0) {
        size_t got = std::fread(rows, 1, CACHE_PIXEL_BYTES, file);
        (void)got;
    }
    std::fclose(file);
    for (int j = 0; j < 256; j++) {
        uint32_t* dst = image->pixels + (255 - j) * 256;
        const uint8_t* src = rows + j * 256 * 3;
        for (int x = 0; x < 256; x++, src += 3)
            dst[x] = (static_cast<uint32_t>(src[2]) << 16) | (static_cast<uint32_t>(src[1]) << 8) | src[0];
    }
    advanceCacheName();
    return true;
}

void writeCacheFile(const Image* image) {
    if (!image) return;
    uint8_t* rows = rowBuffer();
    for (int j = 0; j < 256; j++) {
        const uint32_t* src = image->pixels + (255 - j) * 256;
        uint8_t* dst = rows + j * 256 * 3;
        for (int x = 0; x < 256; x++, dst += 3) {
            dst[0] = static_cast<uint8_t>(src[x]);
            dst[1] = static_cast<uint8_t>(src[x] >> 8);
            dst[2] = static_cast<uint8_t>(src[x] >> 16);
        }
    }
    std::FILE* file = std::fopen(textureCacheName, "wb");
    if (file) {
        static const uint8_t start[12] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        static const uint8_t width[2] = {0, 1}, height[2] = {0, 1}, depth[2] = {24, 0};
        std::fwrite(start, 1, sizeof start, file);
        std::fwrite(width, 1, sizeof width, file);
        std::fwrite(height, 1, sizeof height, file);
        std::fwrite(depth, 1, sizeof depth, file);
        std::fwrite(rows, 1, CACHE_PIXEL_BYTES, file);
        std::fclose(file);
    }
    advanceCacheName();
}

void toUploadFormat(uint32_t* pixels, int32_t count) {
    if (!pixels) return;
    for (int32_t i = 0; i < count; i++) {
        uint32_t v = pixels[i];
        pixels[i] = 0x80000000u | ((v & 0xFF) << 16) | (v & 0xFF00) | ((v >> 16) & 0xFF);
    }
}
