// The WebGL side of the browser's GL subset, natively, against a fake of the
// WebGL calls it makes (fake/webgl/webgl1.h): what the show's OpenGL 1.1
// calls become.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/web/gl/webgl.h"
#include "webgl/webgl1.h"

extern "C" {   // past OpenGL 1.1: the system's header declares them only on request
void glGenFramebuffers(GLsizei n, GLuint* names);
void glBindFramebuffer(GLenum target, GLuint name);
}

namespace {

struct WebglSubset : ::testing::Test {
    void SetUp() override {
        fakeWebgl = FakeWebgl{};
        ASSERT_TRUE(webglSubsetInit());
        fakeWebgl.calls.clear();
    }
    // The calls made since the last look.
    std::vector<std::string> calls() {
        std::vector<std::string> c;
        c.swap(fakeWebgl.calls);
        return c;
    }
};

void triangle() {
    glBegin(GL_TRIANGLES);
    glVertex2f(0.0f, 0.0f);
    glVertex2f(1.0f, 0.0f);
    glVertex2f(0.0f, 1.0f);
    glEnd();
}

std::vector<std::string> matching(const std::vector<std::string>& calls, const std::string& prefix) {
    std::vector<std::string> m;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(m),
                 [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    return m;
}

}  // namespace

// Triangles wait for a real state change; an incomplete texture (no image, or
// a mipmap filter without mipmaps) draws untextured, as OpenGL 1.1 does.
TEST_F(WebglSubset, BatchesUntilTheStateChanges) {
    triangle();
    glBlendFunc(GL_ONE, GL_ZERO);   // what it already is
    triangle();
    EXPECT_TRUE(matching(calls(), "DrawArrays").empty());
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    std::vector<std::string> c = calls();
    ASSERT_EQ(matching(c, "DrawArrays"), std::vector<std::string>{"DrawArrays 4 0 6"});
    const std::vector<std::string> plain = matching(c, "UseProgram");
    ASSERT_EQ(plain.size(), 1u);

    glEnable(GL_TEXTURE_2D);
    triangle();
    glFlush();
    EXPECT_TRUE(matching(calls(), "UseProgram").empty()) << "no image yet: still untextured";
    const uint8_t texel[4] = {1, 2, 3, 4};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    triangle();
    glFlush();
    EXPECT_TRUE(matching(calls(), "UseProgram").empty()) << "mipmap filter, no mipmaps: still untextured";
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    triangle();
    glFlush();
    c = matching(calls(), "UseProgram");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_NE(c[0], plain[0]);
}

// Uploads reach WebGL as tight RGB or RGBA rows, whatever the caller's
// format, component type and row alignment.
TEST_F(WebglSubset, UploadsAreRepackedTightly) {
    // BGR, one pixel a row, rows 4-aligned: a pad byte after each.
    const uint8_t bgr[8] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1, 2, 0, 0x80E0 /* BGR */, GL_UNSIGNED_BYTE, bgr);
    EXPECT_EQ(fakeWebgl.image, (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

    const uint8_t grey[2] = {7, 9};
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 1, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, grey);
    EXPECT_EQ(fakeWebgl.image, (std::vector<uint8_t>{7, 7, 7, 255, 9, 9, 9, 255}));

    const uint32_t wide[3] = {0x11000000u, 0x22ffffffu, 0xff000000u};   // the top byte counts
    glTexImage2D(GL_TEXTURE_2D, 0, 3, 1, 1, 0, GL_RGB, GL_UNSIGNED_INT, wide);
    EXPECT_EQ(fakeWebgl.image, (std::vector<uint8_t>{0x11, 0x22, 0xff}));

    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, bgr);   // a border
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_VALUE));
}

// glReadPixels hands back the caller's format and row alignment; the canvas
// read-back is top-down RGB, and leaves the show's framebuffer bound.
TEST_F(WebglSubset, ReadsBackInTheCallersLayout) {
    uint8_t bgra[2 * 4] = {};
    glReadPixels(3, 5, 1, 2, 0x80E1 /* BGRA */, GL_UNSIGNED_BYTE, bgra);
    EXPECT_EQ(std::vector<uint8_t>(bgra, bgra + 8), (std::vector<uint8_t>{103, 5, 3, 205, 103, 6, 3, 206}));
    uint8_t rgb[2 * 4] = {};   // one pixel a row, 4-aligned
    glReadPixels(0, 0, 1, 2, GL_RGB, GL_UNSIGNED_BYTE, rgb);
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 7), (std::vector<uint8_t>{0, 0, 100, 0, 0, 1, 100}));

    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(0x8D40, framebuffer);
    calls();
    uint8_t canvas[2 * 2 * 3] = {};
    webglReadCanvas(2, 2, canvas);
    EXPECT_EQ(std::vector<uint8_t>(canvas, canvas + 12),
              (std::vector<uint8_t>{0, 1, 100, 1, 1, 101, 0, 0, 100, 1, 0, 101}));
    const std::vector<std::string> binds = matching(calls(), "BindFramebuffer");
    ASSERT_EQ(binds.size(), 2u);
    EXPECT_EQ(binds[0], "BindFramebuffer 36160 0");
    EXPECT_NE(binds[1], binds[0]);
}

// The framebuffer objects the show looks up by name, over the subset's own
// names; an 8-bit colour renderbuffer is a texture underneath.
TEST_F(WebglSubset, FramebufferObjectsByName) {
    using Gen = void (*)(GLsizei, GLuint*);
    using Bind = void (*)(GLenum, GLuint);
    using Storage = void (*)(GLenum, GLenum, GLsizei, GLsizei);
    using Attach = void (*)(GLenum, GLenum, GLenum, GLuint);
    const auto genRenderbuffers = reinterpret_cast<Gen>(webglProcAddress("glGenRenderbuffers"));
    const auto bindRenderbuffer = reinterpret_cast<Bind>(webglProcAddress("glBindRenderbuffer"));
    const auto storage = reinterpret_cast<Storage>(webglProcAddress("glRenderbufferStorage"));
    const auto attach = reinterpret_cast<Attach>(webglProcAddress("glFramebufferRenderbuffer"));
    const auto bindFramebuffer = reinterpret_cast<Bind>(webglProcAddress("glBindFramebuffer"));
    ASSERT_TRUE(genRenderbuffers && bindRenderbuffer && storage && attach && bindFramebuffer);
    EXPECT_EQ(webglProcAddress("glDeleteFramebuffers"), nullptr);

    GLuint names[2] = {};
    genRenderbuffers(2, names);
    EXPECT_EQ(names[0], 1u);
    EXPECT_EQ(names[1], 2u);
    bindRenderbuffer(0x8D41, names[0]);
    storage(0x8D41, 0x8051 /* RGB8 */, 64, 32);
    bindRenderbuffer(0x8D41, names[1]);
    storage(0x8D41, 0x81A6 /* DEPTH_COMPONENT24 */, 64, 32);
    attach(0x8D40, 0x8CE0 /* colour */, 0x8D41, names[0]);
    attach(0x8D40, 0x8D00 /* depth */, 0x8D41, names[1]);
    const std::vector<std::string> c = calls();
    EXPECT_EQ(matching(c, "TexImage2D"), std::vector<std::string>{"TexImage2D 3553 0 6407 64 32 0 6407 5121"});
    EXPECT_EQ(matching(c, "RenderbufferStorage"), std::vector<std::string>{"RenderbufferStorage 36161 34041 64 32"});
    ASSERT_EQ(matching(c, "FramebufferTexture2D").size(), 1u);
    EXPECT_EQ(matching(c, "FramebufferRenderbuffer").size(), 1u);

    bindFramebuffer(0x8D40, 99);   // never made
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_INVALID_OPERATION));
}

// One latch: the first error, whichever layer found it, then WebGL's own.
TEST_F(WebglSubset, ReportsTheFirstErrorOnce) {
    glPopMatrix();                      // fixed-function layer: underflow
    glPolygonMode(GL_FRONT, GL_LINE);   // WebGL layer: not in the subset
    fakeWebgl.error = GL_OUT_OF_MEMORY;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_STACK_UNDERFLOW));
    fakeWebgl.error = GL_OUT_OF_MEMORY;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_OUT_OF_MEMORY));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
