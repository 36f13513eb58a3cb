// Texture upload: one image into a named texture, repeat and linear filtering.
#include "platform/gl.h"
#include "texgen/texgen.h"

void uploadRepeatingTexture(const TextureUpload& upload) {
    glBindTexture(GL_TEXTURE_2D, upload.textureName);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, static_cast<GLfloat>(upload.environmentMode));
    glTexImage2D(GL_TEXTURE_2D, 0, upload.components, upload.width, upload.height, 0, upload.format,
                 GL_UNSIGNED_BYTE, upload.pixels);
}

void uploadTexture(const void* pixels, uint32_t textureName, int32_t width, int32_t height) {
    uploadRepeatingTexture({pixels, textureName, width, height, 4, GL_RGBA, GL_MODULATE});
}
