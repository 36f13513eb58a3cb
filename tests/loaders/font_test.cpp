#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/demo.h"
#include "text/font.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> renderAtlas() {
    std::vector<uint8_t> atlas(256 * 256 * 3, 0x55);
    EXPECT_TRUE(platRenderGlyphAtlas("Arial", atlas.data()));
    return atlas;
}

// Grey value of pixel (x, y) counted from the top left of the atlas.
uint8_t at(const std::vector<uint8_t>& atlas, int x, int y) {
    return atlas[((255 - y) * 256 + x) * 3];
}

struct Box {
    int left = 99, right = -1, top = 99, bottom = -1;
    int lit = 0;
};

Box inkOf(const std::vector<uint8_t>& atlas, int code) {
    Box b;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            if (at(atlas, (code % 16) * 16 + x, (code / 16) * 16 + y) > 0) {
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
                ++b.lit;
            }
    return b;
}

void buildFontOnce() {
    ensureGlContext();
    static bool built = false;
    if (!built) {
        ASSERT_EQ(buildFont(), 0);
        built = true;
    }
}

GLfloat penX() {
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    return m[12];
}

}  // namespace

TEST(GlyphAtlas, CellsHoldCentredTopAlignedGreyGlyphs) {
    std::vector<uint8_t> atlas = renderAtlas();
    for (size_t i = 0; i < atlas.size(); i += 3)
        ASSERT_TRUE(atlas[i] == atlas[i + 1] && atlas[i] == atlas[i + 2]) << i;

    Box a = inkOf(atlas, 'A');
    ASSERT_GT(a.lit, 20);
    EXPECT_GE(a.top, 1);        // capitals start a little below the cell top...
    EXPECT_LE(a.top, 4);
    EXPECT_GE(a.bottom, 11);    // ...and end on the baseline, 13 rows down
    EXPECT_LE(a.bottom, 13);
    EXPECT_LE(std::abs(a.left - (15 - a.right)), 2);   // centred

    // A descender reaches below the baseline; a space draws nothing.
    EXPECT_GT(inkOf(atlas, 'g').bottom, a.bottom);
    EXPECT_EQ(inkOf(atlas, ' ').lit, 0);
    // The text call swallows line breaks and a lone mnemonic prefix.
    EXPECT_EQ(inkOf(atlas, '\n').lit, 0);
    EXPECT_EQ(inkOf(atlas, '&').lit, 0);
    // Codes above 127 are Latin-1 characters, not an OEM code page.
    Box e = inkOf(atlas, 0xC9);   // E with acute
    EXPECT_LT(e.top, a.top);
    EXPECT_GT(e.lit, inkOf(atlas, 'E').lit);
    // Glyphs stay inside their cells: the narrow 'i' leaves the cell edges dark.
    Box i = inkOf(atlas, 'i');
    EXPECT_GT(i.left, 2);
    EXPECT_LT(i.right, 13);
}

TEST(Font, AtlasIsTheDefaultTexture) {
    buildFontOnce();
    EXPECT_EQ(fontTexture, 0u);
    std::vector<uint8_t> atlas = renderAtlas();
    std::vector<uint8_t> texels(256 * 256 * 3, 0x33);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    EXPECT_EQ(texels, atlas);   // bottom row first, grey so the channel order does not matter
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(value, GL_REPEAT);
    GLint src = 0, dst = 0;
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(src, GL_SRC_COLOR);
    EXPECT_EQ(dst, GL_ONE);
}

TEST(Font, ListsExistForCodes0To254Only) {
    buildFontOnce();
    ASSERT_NE(demo.textListBase, 0u);
    ASSERT_NE(titleListBase, 0u);
    for (uint32_t k = 0; k < 255; ++k) {
        EXPECT_TRUE(glIsList(demo.textListBase + k)) << k;
        EXPECT_TRUE(glIsList(titleListBase + k)) << k;
    }
    EXPECT_FALSE(glIsList(demo.textListBase + 255));
    EXPECT_FALSE(glIsList(titleListBase + 255));
}

TEST(Font, PenAdvancesTenOrTwelvePerCharacter) {
    buildFontOnce();
    const unsigned char text[] = "Hello, ~\x01\xC9\xFE";
    const int n = int(sizeof text) - 1;
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glListBase(demo.textListBase);
    glCallLists(n, GL_UNSIGNED_BYTE, text);
    EXPECT_FLOAT_EQ(penX(), 10.0f * n);
    glLoadIdentity();
    glListBase(titleListBase);
    glCallLists(n, GL_UNSIGNED_BYTE, text);
    EXPECT_FLOAT_EQ(penX(), 12.0f * n);
    // Byte 255 has no list: nothing is drawn and the pen stays.
    const unsigned char ff[] = {0xFF, 0xFF};
    for (uint32_t base : {demo.textListBase, titleListBase}) {
        glLoadIdentity();
        glListBase(base);
        glCallLists(2, GL_UNSIGNED_BYTE, ff);
        EXPECT_FLOAT_EQ(penX(), 0.0f);
    }
    glListBase(0);
}

TEST(Font, GlyphQuadOfAUsesItsCell) {
    buildFontOnce();
    static GLfloat buffer[4096];
    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 640, 0, 480, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(100.0f, 100.0f, 0.0f);
    glEnable(GL_TEXTURE_2D);
    glFeedbackBuffer(4096, GL_3D_COLOR_TEXTURE, buffer);
    glRenderMode(GL_FEEDBACK);
    glCallList(titleListBase + 'A');
    GLint n = glRenderMode(GL_RENDER);
    ASSERT_GT(n, 0);
    // Each feedback vertex: x y z, r g b a, s t r q.
    int vertices = 0;
    for (GLint i = 0; i < n;) {
        int count = int(buffer[i + 1]);
        for (int v = 0; v < count; ++v) {
            const GLfloat* p = buffer + i + 2 + v * 11;
            float x = p[0] - 100.0f, y = p[1] - 100.0f, s = p[7], t = p[8];
            bool right = std::fabs(x - 32.0f) < 1e-3f;
            bool far = std::fabs(y - 32.0f) < 1e-3f;
            EXPECT_TRUE(right || std::fabs(x) < 1e-3f) << x;
            EXPECT_TRUE(far || std::fabs(y) < 1e-3f) << y;
            EXPECT_FLOAT_EQ(s, right ? 0.125f : 0.0625f);
            EXPECT_FLOAT_EQ(t, far ? 0.6875f : 0.75f);
            ++vertices;
        }
        i += 2 + count * 11;
    }
    EXPECT_GE(vertices, 4);
}

namespace {

bool isColour(int x, int y, int r, int g, int b) {
    uint8_t p[3];
    glReadPixels(x, y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
    return std::abs(p[0] - r) <= 1 && std::abs(p[1] - g) <= 1 && std::abs(p[2] - b) <= 1;
}

const int GREY = 77, ORANGE_G = 102;

}  // namespace

TEST(LoadingBar, FrameTrackAndFill) {
    ensureGlContext();
    glViewport(0, 0, 640, 480);
    // The software rasteriser keeps the back buffer across the swap; the
    // front buffer of the test window is not readable.
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);

    drawLoadingBar(0.0f);
    EXPECT_TRUE(isColour(10, 240, 255, 255, 255));   // frame
    EXPECT_TRUE(isColour(629, 240, 255, 255, 255));
    EXPECT_TRUE(isColour(320, 230, 255, 255, 255));
    EXPECT_TRUE(isColour(320, 249, 255, 255, 255));
    EXPECT_TRUE(isColour(320, 250, 0, 0, 0));        // outside
    EXPECT_TRUE(isColour(11, 240, 0, 0, 0));         // gap
    EXPECT_TRUE(isColour(12, 240, 0, 0, 0));
    EXPECT_TRUE(isColour(320, 232, 0, 0, 0));
    EXPECT_TRUE(isColour(13, 240, GREY, GREY, GREY));   // empty track
    EXPECT_TRUE(isColour(626, 246, GREY, GREY, GREY));
    EXPECT_TRUE(isColour(627, 240, 0, 0, 0));

    drawLoadingBar(1.0f / 104.0f);                      // fill to x = 18.9
    EXPECT_TRUE(isColour(13, 240, 255, ORANGE_G, 0));
    EXPECT_TRUE(isColour(18, 233, 255, ORANGE_G, 0));
    EXPECT_TRUE(isColour(19, 240, GREY, GREY, GREY));

    drawLoadingBar(1.0f);
    EXPECT_TRUE(isColour(13, 233, 255, ORANGE_G, 0));
    EXPECT_TRUE(isColour(626, 246, 255, ORANGE_G, 0));
    EXPECT_TRUE(isColour(627, 240, 0, 0, 0));

    // The bar leaves texturing and depth testing on, and the model-view matrix current.
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
}
