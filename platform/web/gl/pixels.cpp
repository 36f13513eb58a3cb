// Pixel transfer: every conversion between the caller's layout and WebGL's
// (uploads, glReadPixels and the canvas read-back) goes through one RGBA
// pixel on the way, in convertPixels.
#include <cstring>
#include <utility>

#include "platform/web/gl/subset.h"
#include "platform/web/gl/webgl.h"

int32_t formatComponents(GLenum format) {
    switch (format) {
    case GL_RGB: case GLC_BGR: return 3;
    case GL_RGBA: case GLC_BGRA: return 4;
    case GL_LUMINANCE: case GL_ALPHA: case GL_RED: return 1;
    case GL_LUMINANCE_ALPHA: return 2;
    default: return 0;
    }
}

int32_t internalComponents(GLint internal) {
    switch (internal) {
    case 1: case 2: case 3: case GL_RGB: case GLC_RGB8: case GL_LUMINANCE: return 3;
    case 4: case GL_RGBA: case GLC_RGBA8: case GL_LUMINANCE_ALPHA: return 4;
    default: return 0;
    }
}

namespace {

// How a caller lays out its pixel rows.
struct PixelRows {
    GLenum format;
    GLenum type;        // GL_UNSIGNED_BYTE, or GL_UNSIGNED_INT when reading
    GLint alignment;    // of each row's start
};

size_t pixelBytes(const PixelRows& rows) {
    return static_cast<size_t>(formatComponents(rows.format)) * (rows.type == GL_UNSIGNED_INT ? 4 : 1);
}

size_t rowBytes(const PixelRows& rows, GLsizei width) {
    const size_t bytes = static_cast<size_t>(width) * pixelBytes(rows);
    return (bytes + rows.alignment - 1) / rows.alignment * rows.alignment;
}

// One pixel of the caller's data, of n components, as RGBA bytes.
void readPixel(const uint8_t* p, const PixelRows& rows, int32_t n, uint8_t c[4]) {
    c[0] = c[1] = c[2] = 0;
    c[3] = 255;
    for (int32_t i = 0; i < n; ++i) {
        if (rows.type == GL_UNSIGNED_INT) {
            uint32_t v;
            std::memcpy(&v, p + i * 4, 4);
            c[i] = static_cast<uint8_t>(v >> 24);
        } else {
            c[i] = p[i];
        }
    }
    switch (rows.format) {
    case GLC_BGR: case GLC_BGRA: std::swap(c[0], c[2]); break;
    case GL_LUMINANCE: c[1] = c[2] = c[0]; break;
    case GL_LUMINANCE_ALPHA: c[3] = c[1]; c[1] = c[2] = c[0]; break;
    case GL_ALPHA: c[3] = c[0]; c[0] = c[1] = c[2] = 0; break;
    default: break;
    }
}

// An RGBA pixel in an RGB, RGBA, BGR or BGRA byte layout of `bytes` bytes.
void writePixel(uint8_t c[4], GLenum format, size_t bytes, uint8_t* q) {
    if (format == GLC_BGR || format == GLC_BGRA)
        std::swap(c[0], c[2]);
    std::memcpy(q, c, bytes);
}

// width x height pixels from one layout to another; flipped, the last row comes first.
void convertPixels(const uint8_t* in, const PixelRows& from, uint8_t* out, const PixelRows& to, GLsizei width,
                   GLsizei height, bool flip) {
    const size_t inRow = rowBytes(from, width), outRow = rowBytes(to, width);
    const size_t inPixel = pixelBytes(from), outPixel = pixelBytes(to);   // `to` is bytes: one per component
    const int32_t inComponents = formatComponents(from.format);
    for (GLsizei y = 0; y < height; ++y) {
        const uint8_t* p = in + static_cast<size_t>(flip ? height - 1 - y : y) * inRow;
        uint8_t* q = out + static_cast<size_t>(y) * outRow;
        for (GLsizei x = 0; x < width; ++x, p += inPixel, q += outPixel) {
            uint8_t c[4];
            readPixel(p, from, inComponents, c);
            writePixel(c, to.format, outPixel, q);
        }
    }
}

// The bound framebuffer's rectangle as tight RGBA rows, bottom up.
std::vector<uint8_t> readRgba(GLint x, GLint y, GLsizei w, GLsizei h) {
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    emscripten_glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    return rgba;
}

const PixelRows TIGHT_RGBA = {GL_RGBA, GL_UNSIGNED_BYTE, 1};

}  // namespace

void webglReadCanvas(int32_t width, int32_t height, uint8_t* rgb) {
    glcFlush();
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, 0);
    convertPixels(readRgba(0, 0, width, height).data(), TIGHT_RGBA, rgb, {GL_RGB, GL_UNSIGNED_BYTE, 1}, width,
                  height, true);
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, webFramebuffer(st.boundFramebuffer));
}

extern "C" {

void glTexImage2D(GLenum target, GLint level, GLint internal, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
    glcFlush();
    const int32_t outComponents = internalComponents(internal);
    if (formatComponents(format) == 0 || outComponents == 0 || (type != GL_UNSIGNED_BYTE && type != GL_UNSIGNED_INT) ||
        width < 0 || height < 0 || border != 0 || width > 8192 || height > 8192) {
        glcSetError(GL_INVALID_VALUE);
        return;
    }
    const GLenum web = outComponents == 3 ? GL_RGB : GL_RGBA;
    st.scratch.assign(static_cast<size_t>(width) * height * outComponents, 0);
    if (pixels)
        convertPixels(static_cast<const uint8_t*>(pixels), {format, type, st.unpackAlignment}, st.scratch.data(),
                      {web, GL_UNSIGNED_BYTE, 1}, width, height, false);
    emscripten_glTexImage2D(target, level, web, width, height, 0, web, GL_UNSIGNED_BYTE, st.scratch.data());
    if (level == 0) {
        Texture& t = texture(st.boundTexture);
        t.hasImage = true;
        t.width = width;
        t.height = height;
        t.format = web;
    }
}

void glReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid* pixels) {
    glcFlush();
    const int32_t n = formatComponents(format);
    if ((n != 3 && n != 4) || type != GL_UNSIGNED_BYTE || w < 0 || h < 0) {
        glcSetError(GL_INVALID_ENUM);
        return;
    }
    convertPixels(readRgba(x, y, w, h).data(), TIGHT_RGBA, static_cast<uint8_t*>(pixels),
                  {format, GL_UNSIGNED_BYTE, st.packAlignment}, w, h, false);
}

}  // extern "C"
