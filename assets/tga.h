// TGA reader: uncompressed (type 2) and run-length encoded (type 10)
// true-colour images at 24 or 32 bits, uploaded as one texture.
#pragma once
#include <cstdint>
#include <memory>
#include "data/reader.h"

// GL_RGB and GL_RGBA, named here so that decoding needs no GL header.
enum : uint32_t { TGA_FORMAT_RGB = 0x1907, TGA_FORMAT_RGBA = 0x1908 };

struct TgaImage {
    std::unique_ptr<uint8_t[]> pixels;   // red, green, blue(, alpha) while loading
    uint32_t bitsPerPixel;
    uint32_t width;
    uint32_t height;
    uint32_t textureId;                  // written only by a successful load
    uint32_t format;                     // TGA_FORMAT_RGB or TGA_FORMAT_RGBA
};

// Needs a current GL context. False after a message box; no texture then.
bool loadTgaTexture(TgaImage* record, const char* path);
bool loadTgaTextureMemory(TgaImage* record, const uint8_t* data, uint32_t size);

// Decodes into record->pixels without GL; false after a message box. Closes the stream.
bool tgaDecode(TgaImage* record, ByteReader* stream);
// The stream is positioned after the first twelve bytes; both close it.
bool readTgaUncompressed(TgaImage* record, ByteReader* stream);
bool readTgaRle(TgaImage* record, ByteReader* stream);
