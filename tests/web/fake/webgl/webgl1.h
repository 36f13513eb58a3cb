// A fake of the WebGL calls the browser's GL subset makes, standing in for
// emscripten's header when the subset is built natively for its test: each
// call is noted as one line ("Name arg ..."), names are handed out counting
// up, shaders always compile, and glReadPixels reads a known picture.
#pragma once
#include <GL/gl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct FakeWebgl {
    std::vector<std::string> calls;
    GLuint nextName = 1;
    GLenum error = GL_NO_ERROR;   // what glGetError reports next
    std::vector<uint8_t> image;   // the last glTexImage2D's pixels
};
inline FakeWebgl fakeWebgl;

template <typename... Args>
void fakeCall(const char* name, Args... args) {
    std::string line = name;
    ((line += ' ' + std::to_string(args)), ...);
    fakeWebgl.calls.push_back(line);
}
inline void fakeNames(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i)
        names[i] = fakeWebgl.nextName++;
}

extern "C" {
inline void emscripten_glAttachShader(GLuint p, GLuint s) { fakeCall("AttachShader", p, s); }
inline void emscripten_glBindAttribLocation(GLuint p, GLuint i, const GLchar*) { fakeCall("BindAttribLocation", p, i); }
inline void emscripten_glBindBuffer(GLenum t, GLuint b) { fakeCall("BindBuffer", t, b); }
inline void emscripten_glBindFramebuffer(GLenum t, GLuint f) { fakeCall("BindFramebuffer", t, f); }
inline void emscripten_glBindRenderbuffer(GLenum t, GLuint r) { fakeCall("BindRenderbuffer", t, r); }
inline void emscripten_glBindTexture(GLenum t, GLuint x) { fakeCall("BindTexture", t, x); }
inline void emscripten_glBlendFunc(GLenum s, GLenum d) { fakeCall("BlendFunc", s, d); }
inline void emscripten_glBufferData(GLenum t, GLsizeiptr n, const void*, GLenum u) { fakeCall("BufferData", t, n, u); }
inline void emscripten_glBufferSubData(GLenum t, GLintptr o, GLsizeiptr n, const void*) { fakeCall("BufferSubData", t, o, n); }
inline GLenum emscripten_glCheckFramebufferStatus(GLenum t) { fakeCall("CheckFramebufferStatus", t); return 0x8CD5; }
inline void emscripten_glClear(GLbitfield m) { fakeCall("Clear", m); }
inline void emscripten_glClearColor(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { fakeCall("ClearColor", r, g, b, a); }
inline void emscripten_glCompileShader(GLuint s) { fakeCall("CompileShader", s); }
inline void emscripten_glCopyTexImage2D(GLenum t, GLint l, GLenum f, GLint x, GLint y, GLsizei w, GLsizei h, GLint b) {
    fakeCall("CopyTexImage2D", t, l, f, x, y, w, h, b);
}
inline void emscripten_glCopyTexSubImage2D(GLenum t, GLint l, GLint ox, GLint oy, GLint x, GLint y, GLsizei w, GLsizei h) {
    fakeCall("CopyTexSubImage2D", t, l, ox, oy, x, y, w, h);
}
inline GLuint emscripten_glCreateProgram() { fakeCall("CreateProgram"); return fakeWebgl.nextName++; }
inline GLuint emscripten_glCreateShader(GLenum k) { fakeCall("CreateShader", k); return fakeWebgl.nextName++; }
inline void emscripten_glDepthFunc(GLenum f) { fakeCall("DepthFunc", f); }
inline void emscripten_glDisable(GLenum c) { fakeCall("Disable", c); }
inline void emscripten_glDrawArrays(GLenum m, GLint f, GLsizei n) { fakeCall("DrawArrays", m, f, n); }
inline void emscripten_glEnable(GLenum c) { fakeCall("Enable", c); }
inline void emscripten_glEnableVertexAttribArray(GLuint i) { fakeCall("EnableVertexAttribArray", i); }
inline void emscripten_glFinish() { fakeCall("Finish"); }
inline void emscripten_glFlush() { fakeCall("Flush"); }
inline void emscripten_glFramebufferRenderbuffer(GLenum t, GLenum a, GLenum rt, GLuint r) {
    fakeCall("FramebufferRenderbuffer", t, a, rt, r);
}
inline void emscripten_glFramebufferTexture2D(GLenum t, GLenum a, GLenum tt, GLuint x, GLint l) {
    fakeCall("FramebufferTexture2D", t, a, tt, x, l);
}
inline void emscripten_glGenBuffers(GLsizei n, GLuint* b) { fakeNames(n, b); }
inline void emscripten_glGenFramebuffers(GLsizei n, GLuint* f) { fakeNames(n, f); }
inline void emscripten_glGenRenderbuffers(GLsizei n, GLuint* r) { fakeNames(n, r); }
inline void emscripten_glGenTextures(GLsizei n, GLuint* t) { fakeNames(n, t); }
inline GLenum emscripten_glGetError() { const GLenum e = fakeWebgl.error; fakeWebgl.error = GL_NO_ERROR; return e; }
inline void emscripten_glGetIntegerv(GLenum n, GLint* v) { fakeCall("GetIntegerv", n); *v = 0; }
inline void emscripten_glGetProgramiv(GLuint, GLenum, GLint* v) { *v = 1; }
inline void emscripten_glGetShaderiv(GLuint, GLenum, GLint* v) { *v = 1; }
inline GLint emscripten_glGetUniformLocation(GLuint, const GLchar*) { return 0; }
inline void emscripten_glLinkProgram(GLuint p) { fakeCall("LinkProgram", p); }
inline void emscripten_glPixelStorei(GLenum n, GLint v) { fakeCall("PixelStorei", n, v); }
// Pixel (x, y) of the picture read is RGBA (x, y, 100 + x, 200 + y).
inline void emscripten_glReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum f, GLenum t, void* pixels) {
    fakeCall("ReadPixels", x, y, w, h, f, t);
    uint8_t* p = static_cast<uint8_t*>(pixels);
    for (GLsizei row = 0; row < h; ++row)
        for (GLsizei col = 0; col < w; ++col, p += 4) {
            const uint8_t c[4] = {uint8_t(x + col), uint8_t(y + row), uint8_t(100 + x + col), uint8_t(200 + y + row)};
            std::memcpy(p, c, 4);
        }
}
inline void emscripten_glRenderbufferStorage(GLenum t, GLenum f, GLsizei w, GLsizei h) {
    fakeCall("RenderbufferStorage", t, f, w, h);
}
inline void emscripten_glShaderSource(GLuint s, GLsizei, const GLchar* const*, const GLint*) { fakeCall("ShaderSource", s); }
inline void emscripten_glTexImage2D(GLenum t, GLint l, GLint i, GLsizei w, GLsizei h, GLint b, GLenum f, GLenum y,
                                    const void* pixels) {
    fakeCall("TexImage2D", t, l, i, w, h, b, f, y);
    const size_t bytes = pixels ? static_cast<size_t>(w) * h * (f == GL_RGBA ? 4 : 3) : 0;
    fakeWebgl.image.assign(static_cast<const uint8_t*>(pixels), static_cast<const uint8_t*>(pixels) + bytes);
}
inline void emscripten_glTexParameteri(GLenum t, GLenum n, GLint v) { fakeCall("TexParameteri", t, n, v); }
inline void emscripten_glUniform1i(GLint l, GLint v) { fakeCall("Uniform1i", l, v); }
inline void emscripten_glUseProgram(GLuint p) { fakeCall("UseProgram", p); }
inline void emscripten_glVertexAttribPointer(GLuint i, GLint n, GLenum t, GLboolean b, GLsizei s, const void*) {
    fakeCall("VertexAttribPointer", i, n, t, b, s);
}
inline void emscripten_glViewport(GLint x, GLint y, GLsizei w, GLsizei h) { fakeCall("Viewport", x, y, w, h); }
}
