// TGA reader: uncompressed (type 2) and run-length encoded (type 10)
// true-colour images at 24 or 32 bits, uploaded as one texture.
#pragma once
#include <cstdint>
#include <memory>
#include "data/reader.h"
#include "platform/gl_constants.h"

struct TgaImage {
    std::unique_ptr<uint8_t[]> pixels;   // red, green, blue(, alpha) while loading
    uint32_t bitsPerPixel;
    uint32_t width;
    uint32_t height;
    uint32_t textureId;                  // written only by a successful load
    uint32_t format;                     // GLC_RGB or GLC_RGBA
};

// Needs a current GL context. False after a message box; no texture then.
bool loadTgaTexture(TgaImage* record, const char* path);
bool loadTgaTextureMemory(TgaImage* record, const uint8_t* data, uint32_t size);

// Decodes into record->pixels without GL; false after a message box. Closes the stream.
bool tgaDecode(TgaImage* record, ByteReader* stream);
// The stream is positioned after the first twelve bytes; both close it.
bool readTgaUncompressed(TgaImage* record, ByteReader* stream);
bool readTgaRle(TgaImage* record, ByteReader* stream);
