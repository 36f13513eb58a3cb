// Bitmap font builder.
#include "text/font.h"
#include <vector>
#include "platform/gl.h"
#include "platform/platform.h"
#include "assets/demo_state.h"
#include "texgen/texgen.h"

uint32_t titleListBase = 0;
uint32_t fontTexture = 0;

namespace {

void compileGlyph(GLuint list, int32_t code, GLint size, GLdouble advance) {
    GLfloat s0 = float(code % 16) * 0.0625f;
    GLfloat s1 = s0 + 0.0625f;
    GLfloat tTop = 1.0f - float(code / 16) * 0.0625f;
    GLfloat tBottom = tTop - 0.0625f;
    glNewList(list, GL_COMPILE);
    glBegin(GL_QUADS);
    glTexCoord2f(s0, tTop);
    glVertex2i(0, 0);
    glTexCoord2f(s1, tTop);
    glVertex2i(size, 0);
    glTexCoord2f(s1, tBottom);
    glVertex2i(size, size);
    glTexCoord2f(s0, tBottom);
    glVertex2i(0, size);
    glEnd();
    glTranslated(advance, 0.0, 0.0);
    glEndList();
}

}  // namespace

int buildFont() {
    // Bottom-up rows of 256 blue-green-red pixels.
    std::vector<uint8_t> atlas(256 * 256 * 3, 0);
    if (!platRenderGlyphAtlas("Arial", atlas.data()))
        return -2;

    // The bytes are blue-green-red but go up as red-green-blue; the glyphs are grey.
    uploadRepeatingTexture({atlas.data(), fontTexture, 256, 256, 3, GL_RGB, GL_MODULATE});

    demo.textListBase = glGenLists(FONT_LIST_COUNT);
    // Names are handed out in sequence, so the large set would start right at
    // textListBase + 255 and byte 255 would draw a large glyph 0. A spacer
    // list held across the second allocation keeps that name free.
    GLuint spacer = glGenLists(1);
    titleListBase = glGenLists(FONT_LIST_COUNT);
    if (spacer)
        glDeleteLists(spacer, 1);

    glBlendFunc(GL_SRC_COLOR, GL_ONE);
    glBindTexture(GL_TEXTURE_2D, fontTexture);
    glDisable(GL_TEXTURE_GEN_S);
    glDisable(GL_TEXTURE_GEN_T);

    for (int32_t k = 0; k < FONT_LIST_COUNT; ++k) {
        compileGlyph(demo.textListBase + k, k, 24, 10.0);
        compileGlyph(titleListBase + k, k, 32, 12.0);
    }
    return 0;
}
