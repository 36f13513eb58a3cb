// No-op OpenGL for the fuzz harnesses: enough of GL 1.1 for the asset
// loaders and the model renderer, without a context or a driver. Vertex
// arguments are read so that the sanitizers see every value the renderer
// passes, and texture uploads read the whole pixel block they are given.
#include "tests/fuzz/gl_stub.h"

#include "platform/gl.h"

#include <cstdio>
#include <cstdlib>

GlStubCounters glStubCounters;

void glStubReset() { glStubCounters = GlStubCounters{}; }

namespace {
volatile float floatSink;
volatile uint32_t byteSink;
GLuint nextTexture = 1;

void fail(const char* what) {
    std::fprintf(stderr, "gl stub: %s\n", what);
    std::abort();
}
}

extern "C" {

void glBegin(GLenum) {
    if (glStubCounters.depth != 0) fail("glBegin inside glBegin");
    glStubCounters.depth = 1;
    glStubCounters.begins++;
}
void glEnd() {
    if (glStubCounters.depth != 1) fail("glEnd without glBegin");
    glStubCounters.depth = 0;
    glStubCounters.ends++;
}
void glVertex3fv(const GLfloat* v) {
    floatSink = v[0] + v[1] + v[2];
    glStubCounters.vertices++;
}
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
    floatSink = x + y + z;
    glStubCounters.vertices++;
}
void glVertex2f(GLfloat x, GLfloat y) {
    floatSink = x + y;
    glStubCounters.vertices++;
}
void glTexCoord2f(GLfloat s, GLfloat t) { floatSink = s + t; }
void glTexCoord2fv(const GLfloat* v) { floatSink = v[0] + v[1]; }
void glNormal3f(GLfloat x, GLfloat y, GLfloat z) { floatSink = x + y + z; }
void glNormal3fv(const GLfloat* v) { floatSink = v[0] + v[1] + v[2]; }
void glColor3f(GLfloat, GLfloat, GLfloat) {}
void glColor4f(GLfloat, GLfloat, GLfloat, GLfloat) {}

void glGenTextures(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; i++) names[i] = nextTexture++;
}
void glDeleteTextures(GLsizei, const GLuint*) {}
void glBindTexture(GLenum, GLuint) {}
void glTexParameteri(GLenum, GLenum, GLint) {}
void glTexParameterf(GLenum, GLenum, GLfloat) {}
void glPixelStorei(GLenum, GLint) {}
void glTexImage2D(GLenum, GLint, GLint components, GLsizei width, GLsizei height, GLint,
                  GLenum format, GLenum type, const void* pixels) {
    if (type != GL_UNSIGNED_BYTE) fail("unexpected pixel type");
    uint32_t perPixel = format == GL_RGBA ? 4 : format == GL_RGB ? 3 : 0;
    if (perPixel == 0 || (components != 3 && components != 4)) fail("unexpected pixel format");
    if (width <= 0 || height <= 0) fail("empty texture upload");
    // The whole block the driver would read.
    const uint8_t* p = static_cast<const uint8_t*>(pixels);
    uint64_t bytes = uint64_t(width) * uint64_t(height) * perPixel;
    uint32_t sum = 0;
    for (uint64_t i = 0; i < bytes; i++) sum += p[i];
    byteSink = sum;
    glStubCounters.texImages++;
}
GLint gluBuild2DMipmaps(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*) { return 0; }

}
