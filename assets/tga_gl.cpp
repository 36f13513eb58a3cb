// TGA texture upload: decode, then one texture with repeat and linear filtering.
#include "assets/tga.h"
#include "data/reader.h"
#include "platform/gl.h"
#include "platform/platform.h"

static_assert(GLC_RGB == GL_RGB && GLC_RGBA == GL_RGBA, "the decoder's format values are GL's");

namespace {

bool loadFromStream(TgaImage* record, ByteReader* stream) {
    if (!tgaDecode(record, stream))
        return false;
    GLuint name = 0;
    glGenTextures(1, &name);
    record->textureId = name;
    glBindTexture(GL_TEXTURE_2D, name);
    // Rows of a 24-bit image are not padded to four bytes.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GLint(record->bitsPerPixel / 8), GLsizei(record->width),
                 GLsizei(record->height), 0, record->format, GL_UNSIGNED_BYTE, record->pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    record->pixels.reset();
    return true;
}

}  // namespace

bool loadTgaTexture(TgaImage* record, const char* path) {
    ByteReader stream;
    if (!readerOpenFile(&stream, path)) {
        platMessageBox("Could not open texture file", "ERROR", PLAT_ICON_NONE);
        return false;
    }
    return loadFromStream(record, &stream);
}

bool loadTgaTextureMemory(TgaImage* record, const uint8_t* data, uint32_t size) {
    ByteReader stream;
    if (!readerOpenMemory(&stream, data, size)) {
        platMessageBox("Could not open texture file", "ERROR", PLAT_ICON_NONE);
        return false;
    }
    return loadFromStream(record, &stream);
}
