// OpenGL 1.1 entry points over WebGL 1. The fixed-function state lives in
// glcore; this layer keeps its own name spaces for textures, framebuffers and
// renderbuffers (the show uses texture 0 and 8-bit colour renderbuffers,
// neither of which WebGL 1 has) and draws each batch with one of two shaders.
#include "platform/web/gl/webgl.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <webgl/webgl1.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/gl_constants.h"
#include "platform/web/gl/glcore.h"

namespace {

enum TexParam { PARAM_MIN, PARAM_MAG, PARAM_WRAP_S, PARAM_WRAP_T, PARAM_COUNT };

struct Texture {
    GLuint web;
    bool hasImage;
    GLint params[PARAM_COUNT];   // as last set, to skip a flush when a setter repeats them
    GLsizei width, height;       // level 0 as last specified
    GLenum format;               // GL_RGB or GL_RGBA
};

// Capabilities the subset tracks, to flush only when one really changes.
enum Cap { CAP_TEXTURE, CAP_BLEND, CAP_DEPTH, CAP_CULL, CAP_SCISSOR, CAP_COUNT };

// The vertex stream: every flush appends to one large buffer, which is
// orphaned and refilled from the start only when it is full.
enum : uint32_t { STREAM_VERTICES = 1u << 16 };

// A colour renderbuffer is a texture underneath: WebGL 1 has no 8-bit one.
struct Renderbuffer {
    GLuint webRenderbuffer;
    GLuint webTexture;
    GLenum format;
};

struct Framebuffer {
    GLuint web;
};

struct State {
    bool ready;
    std::unordered_map<GLuint, Texture> textures;
    GLuint nextTexture;
    GLuint boundTexture;
    std::unordered_map<GLuint, Renderbuffer> renderbuffers;
    GLuint nextRenderbuffer;
    GLuint boundRenderbuffer;
    std::unordered_map<GLuint, Framebuffer> framebuffers;
    GLuint nextFramebuffer;
    GLuint boundFramebuffer;
    bool caps[CAP_COUNT];
    GLenum blendSource, blendDestination;
    GLenum depthFunc;
    GLint viewport[4];
    bool viewportKnown;
    GLuint program;   // in use
    uint32_t streamUsed;   // vertices of the stream buffer already written
    GLint unpackAlignment;
    GLint packAlignment;
    GLenum error;
    GLuint plainProgram;
    GLuint texturedProgram;
    GLuint buffer;
    std::vector<uint8_t> scratch;
};

State st{};

void setError(GLenum e) {
    if (st.error == GL_NO_ERROR)
        st.error = e;
}

Texture& texture(GLuint name) {
    auto it = st.textures.find(name);
    if (it != st.textures.end())
        return it->second;
    Texture t{};
    emscripten_glGenTextures(1, &t.web);
    t.params[PARAM_MIN] = GL_NEAREST_MIPMAP_LINEAR;
    t.params[PARAM_MAG] = GL_LINEAR;
    t.params[PARAM_WRAP_S] = GL_REPEAT;
    t.params[PARAM_WRAP_T] = GL_REPEAT;
    return st.textures[name] = t;
}

bool textureComplete(const Texture& t) {
    return t.hasImage && (t.params[PARAM_MIN] == GL_NEAREST || t.params[PARAM_MIN] == GL_LINEAR);
}

void drawBatch(const GlcVertex* vertices, uint32_t count) {
    if (!st.ready)
        return;
    const bool textured = st.caps[CAP_TEXTURE] && textureComplete(texture(st.boundTexture));
    const GLuint program = textured ? st.texturedProgram : st.plainProgram;
    if (program != st.program) {
        emscripten_glUseProgram(program);
        st.program = program;
    }
    // The buffer stays bound to the array target from start-up on: nothing else binds one.
    while (count > 0) {
        const uint32_t n = std::min<uint32_t>(count, STREAM_VERTICES / 3 * 3);
        if (st.streamUsed + n > STREAM_VERTICES) {
            emscripten_glBufferData(GLC_ARRAY_BUFFER, STREAM_VERTICES * sizeof(GlcVertex), nullptr,
                                    GLC_DYNAMIC_DRAW);
            st.streamUsed = 0;
        }
        emscripten_glBufferSubData(GLC_ARRAY_BUFFER, static_cast<GLintptr>(st.streamUsed * sizeof(GlcVertex)),
                                   static_cast<GLsizeiptr>(n * sizeof(GlcVertex)), vertices);
        emscripten_glDrawArrays(GL_TRIANGLES, static_cast<GLint>(st.streamUsed), static_cast<GLsizei>(n));
        st.streamUsed += n;
        vertices += n;
        count -= n;
    }
}

int32_t capIndex(GLenum cap) {
    switch (cap) {
    case GL_TEXTURE_2D: return CAP_TEXTURE;
    case GL_BLEND: return CAP_BLEND;
    case GL_DEPTH_TEST: return CAP_DEPTH;
    case GL_CULL_FACE: return CAP_CULL;
    case GL_SCISSOR_TEST: return CAP_SCISSOR;
    default: return -1;
    }
}

void setCap(GLenum cap, bool on) {
    const int32_t i = capIndex(cap);
    if (i < 0 || st.caps[i] == on)
        return;
    glcFlush();
    st.caps[i] = on;
    if (i == CAP_TEXTURE)
        return;   // the shader choice, made at each flush
    if (on)
        emscripten_glEnable(cap);
    else
        emscripten_glDisable(cap);
}

const char* const VERTEX_SHADER =
    "attribute vec4 position;\n"
    "attribute vec4 colour;\n"
    "attribute vec2 texCoord;\n"
    "varying vec4 vColour;\n"
    "varying vec2 vTexCoord;\n"
    "void main() { gl_Position = position; vColour = colour; vTexCoord = texCoord; }\n";

const char* const PLAIN_SHADER =
    "precision mediump float;\n"
    "varying vec4 vColour;\n"
    "void main() { gl_FragColor = vColour; }\n";

// The texture environment is modulate: vertex colour times texel.
const char* const TEXTURED_SHADER =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n"
    "uniform sampler2D image;\n"
    "varying vec4 vColour;\n"
    "varying vec2 vTexCoord;\n"
    "void main() { gl_FragColor = vColour * texture2D(image, vTexCoord); }\n";

GLuint compile(GLenum kind, const char* source) {
    const GLuint shader = emscripten_glCreateShader(kind);
    emscripten_glShaderSource(shader, 1, &source, nullptr);
    emscripten_glCompileShader(shader);
    GLint ok = 0;
    emscripten_glGetShaderiv(shader, GLC_COMPILE_STATUS, &ok);
    return ok ? shader : 0;
}

GLuint link(GLuint vertex, const char* fragmentSource) {
    const GLuint fragment = compile(GLC_FRAGMENT_SHADER, fragmentSource);
    if (!vertex || !fragment)
        return 0;
    const GLuint program = emscripten_glCreateProgram();
    emscripten_glAttachShader(program, vertex);
    emscripten_glAttachShader(program, fragment);
    emscripten_glBindAttribLocation(program, 0, "position");
    emscripten_glBindAttribLocation(program, 1, "colour");
    emscripten_glBindAttribLocation(program, 2, "texCoord");
    emscripten_glLinkProgram(program);
    GLint ok = 0;
    emscripten_glGetProgramiv(program, GLC_LINK_STATUS, &ok);
    return ok ? program : 0;
}

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

// One pixel of the caller's data as RGBA bytes.
void readPixel(const uint8_t* p, GLenum format, GLenum type, uint8_t out[4]) {
    const int32_t n = formatComponents(format);
    uint8_t c[4] = {0, 0, 0, 255};
    for (int32_t i = 0; i < n; ++i) {
        if (type == GL_UNSIGNED_INT) {
            uint32_t v;
            std::memcpy(&v, p + i * 4, 4);
            c[i] = static_cast<uint8_t>(v >> 24);
        } else {
            c[i] = p[i];
        }
    }
    switch (format) {
    case GLC_BGR: case GLC_BGRA: std::swap(c[0], c[2]); break;
    case GL_LUMINANCE: c[1] = c[2] = c[0]; break;
    case GL_LUMINANCE_ALPHA: c[3] = c[1]; c[1] = c[2] = c[0]; break;
    case GL_ALPHA: c[3] = c[0]; c[0] = c[1] = c[2] = 0; break;
    default: break;
    }
    std::memcpy(out, c, 4);
}


// Framebuffer objects, handed out by name through webglProcAddress.
void subGenFramebuffers(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) {
        Framebuffer f{};
        emscripten_glGenFramebuffers(1, &f.web);
        names[i] = ++st.nextFramebuffer;
        st.framebuffers[names[i]] = f;
    }
}

void subBindFramebuffer(GLenum target, GLuint name) {
    glcFlush();
    if (target != GLC_FRAMEBUFFER) {
        setError(GL_INVALID_ENUM);
        return;
    }
    auto it = st.framebuffers.find(name);
    if (name != 0 && it == st.framebuffers.end()) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, name ? it->second.web : 0);
    st.boundFramebuffer = name;
}

void subGenRenderbuffers(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) {
        names[i] = ++st.nextRenderbuffer;
        st.renderbuffers[names[i]] = Renderbuffer{};
    }
}

void subBindRenderbuffer(GLenum, GLuint name) {
    st.boundRenderbuffer = name;
}

void subRenderbufferStorage(GLenum, GLenum format, GLsizei width, GLsizei height) {
    auto it = st.renderbuffers.find(st.boundRenderbuffer);
    if (it == st.renderbuffers.end()) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    Renderbuffer& r = it->second;
    r.format = format;
    if (format == GLC_DEPTH_COMPONENT24 || format == GLC_DEPTH24_STENCIL8 || format == GLC_DEPTH_STENCIL ||
        format == GLC_DEPTH_COMPONENT16) {
        // Depth and stencil together: the browser's way to more than 16 bits of depth.
        if (!r.webRenderbuffer)
            emscripten_glGenRenderbuffers(1, &r.webRenderbuffer);
        emscripten_glBindRenderbuffer(GLC_RENDERBUFFER, r.webRenderbuffer);
        emscripten_glRenderbufferStorage(GLC_RENDERBUFFER, GLC_DEPTH_STENCIL, width, height);
        emscripten_glBindRenderbuffer(GLC_RENDERBUFFER, 0);
        return;
    }
    if (!r.webTexture)
        emscripten_glGenTextures(1, &r.webTexture);
    emscripten_glBindTexture(GL_TEXTURE_2D, r.webTexture);
    const GLenum web = format == GLC_RGB8 || format == GL_RGB ? GL_RGB : GL_RGBA;
    emscripten_glTexImage2D(GL_TEXTURE_2D, 0, web, width, height, 0, web, GL_UNSIGNED_BYTE, nullptr);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GLC_CLAMP_TO_EDGE);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GLC_CLAMP_TO_EDGE);
    emscripten_glBindTexture(GL_TEXTURE_2D, texture(st.boundTexture).web);
}

void subFramebufferRenderbuffer(GLenum, GLenum attachment, GLenum, GLuint name) {
    glcFlush();
    auto it = st.renderbuffers.find(name);
    if (name != 0 && it == st.renderbuffers.end()) {
        setError(GL_INVALID_OPERATION);
        return;
    }
    if (attachment == GLC_COLOR_ATTACHMENT0) {
        const GLuint tex = name ? it->second.webTexture : 0;
        emscripten_glFramebufferTexture2D(GLC_FRAMEBUFFER, attachment, GL_TEXTURE_2D, tex, 0);
        return;
    }
    const GLuint rb = name ? it->second.webRenderbuffer : 0;
    emscripten_glFramebufferRenderbuffer(GLC_FRAMEBUFFER, GLC_DEPTH_STENCIL_ATTACHMENT, GLC_RENDERBUFFER, rb);
}

GLenum subCheckFramebufferStatus(GLenum target) {
    return emscripten_glCheckFramebufferStatus(target);
}

}  // namespace

bool webglSubsetInit() {
    glcReset();
    glcSetFlush(drawBatch);
    st = State{};
    st.unpackAlignment = 4;
    st.packAlignment = 4;
    st.blendSource = GL_ONE;
    st.blendDestination = GL_ZERO;
    st.depthFunc = GL_LESS;
    texture(0);   // the default texture is an object like any other here
    emscripten_glBindTexture(GL_TEXTURE_2D, texture(0).web);
    const GLuint vertex = compile(GLC_VERTEX_SHADER, VERTEX_SHADER);
    st.plainProgram = link(vertex, PLAIN_SHADER);
    st.texturedProgram = link(vertex, TEXTURED_SHADER);
    if (!st.plainProgram || !st.texturedProgram)
        return false;
    emscripten_glUseProgram(st.texturedProgram);
    emscripten_glUniform1i(emscripten_glGetUniformLocation(st.texturedProgram, "image"), 0);
    st.program = st.texturedProgram;
    emscripten_glGenBuffers(1, &st.buffer);
    emscripten_glBindBuffer(GLC_ARRAY_BUFFER, st.buffer);
    emscripten_glBufferData(GLC_ARRAY_BUFFER, STREAM_VERTICES * sizeof(GlcVertex), nullptr, GLC_DYNAMIC_DRAW);
    const GLsizei stride = sizeof(GlcVertex);
    emscripten_glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<void*>(offsetof(GlcVertex, position)));
    emscripten_glVertexAttribPointer(1, 4, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<void*>(offsetof(GlcVertex, colour)));
    emscripten_glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride,
                                     reinterpret_cast<void*>(offsetof(GlcVertex, texCoord)));
    for (GLuint i = 0; i < 3; ++i)
        emscripten_glEnableVertexAttribArray(i);
    // Uploads are repacked tightly here, whatever the caller's alignment.
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    emscripten_glPixelStorei(GL_PACK_ALIGNMENT, 1);
    st.ready = true;
    return true;
}

void* webglProcAddress(const char* name) {
    static const struct {
        const char* name;
        void* entry;
    } table[] = {
        {"glGenFramebuffers", reinterpret_cast<void*>(subGenFramebuffers)},
        {"glBindFramebuffer", reinterpret_cast<void*>(subBindFramebuffer)},
        {"glFramebufferRenderbuffer", reinterpret_cast<void*>(subFramebufferRenderbuffer)},
        {"glCheckFramebufferStatus", reinterpret_cast<void*>(subCheckFramebufferStatus)},
        {"glGenRenderbuffers", reinterpret_cast<void*>(subGenRenderbuffers)},
        {"glBindRenderbuffer", reinterpret_cast<void*>(subBindRenderbuffer)},
        {"glRenderbufferStorage", reinterpret_cast<void*>(subRenderbufferStorage)},
    };
    if (!name)
        return nullptr;
    for (const auto& e : table)
        if (std::strcmp(e.name, name) == 0)
            return e.entry;
    return nullptr;
}

void webglFinishFrame() {
    glcFlush();
}

void webglReadCanvas(int32_t width, int32_t height, uint8_t* rgb) {
    glcFlush();
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, 0);
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    emscripten_glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i)
        std::memcpy(rgb + i * 3, &rgba[i * 4], 3);
    auto it = st.framebuffers.find(st.boundFramebuffer);
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, it == st.framebuffers.end() ? 0 : it->second.web);
}

uint32_t webglBoundFramebuffer() {
    return st.boundFramebuffer;
}

extern "C" {

// Matrices.
void glMatrixMode(GLenum mode) { glcMatrixMode(mode); }
void glLoadIdentity() { glcLoadIdentity(); }
void glPushMatrix() { glcPushMatrix(); }
void glPopMatrix() { glcPopMatrix(); }
void glTranslatef(GLfloat x, GLfloat y, GLfloat z) { glcTranslate(x, y, z); }
void glTranslated(GLdouble x, GLdouble y, GLdouble z) {
    glcTranslate(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
}
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) { glcRotate(angle, x, y, z); }
void glOrtho(GLdouble l, GLdouble r, GLdouble b, GLdouble t, GLdouble n, GLdouble f) { glcOrtho(l, r, b, t, n, f); }
void gluOrtho2D(GLdouble l, GLdouble r, GLdouble b, GLdouble t) { glcOrtho(l, r, b, t, -1.0, 1.0); }
void gluPerspective(GLdouble fovy, GLdouble aspect, GLdouble zNear, GLdouble zFar) {
    glcPerspective(fovy, aspect, zNear, zFar);
}
void gluLookAt(GLdouble ex, GLdouble ey, GLdouble ez, GLdouble cx, GLdouble cy, GLdouble cz, GLdouble ux,
               GLdouble uy, GLdouble uz) {
    glcLookAt(ex, ey, ez, cx, cy, cz, ux, uy, uz);
}

// Immediate mode.
void glBegin(GLenum mode) { glcBegin(mode); }
void glEnd() { glcEnd(); }
void glVertex2f(GLfloat x, GLfloat y) { glcVertex(x, y, 0.0f); }
void glVertex2i(GLint x, GLint y) { glcVertex(static_cast<float>(x), static_cast<float>(y), 0.0f); }
void glVertex3f(GLfloat x, GLfloat y, GLfloat z) { glcVertex(x, y, z); }
void glVertex3fv(const GLfloat* v) { glcVertex(v[0], v[1], v[2]); }
void glColor3f(GLfloat r, GLfloat g, GLfloat b) { glcColour(r, g, b, 1.0f); }
void glColor4f(GLfloat r, GLfloat g, GLfloat b, GLfloat a) { glcColour(r, g, b, a); }
void glTexCoord2f(GLfloat s, GLfloat t) { glcTexCoord(s, t); }

// Display lists.
GLuint glGenLists(GLsizei range) { return glcGenLists(range); }
void glDeleteLists(GLuint list, GLsizei range) { glcDeleteLists(list, range); }
void glNewList(GLuint list, GLenum mode) { glcNewList(list, mode); }
void glEndList() { glcEndList(); }
void glCallLists(GLsizei n, GLenum type, const GLvoid* lists) { glcCallLists(n, type, lists); }
void glListBase(GLuint base) { glcListBase(base); }

// Raster state: pending triangles are drawn with the state they were made under.
// A setter that changes nothing keeps the batch growing.
void glEnable(GLenum cap) { setCap(cap, true); }
void glDisable(GLenum cap) { setCap(cap, false); }
void glBlendFunc(GLenum s, GLenum d) {
    if (s == st.blendSource && d == st.blendDestination)
        return;
    glcFlush();
    st.blendSource = s;
    st.blendDestination = d;
    emscripten_glBlendFunc(s, d);
}
void glDepthFunc(GLenum f) {
    if (f == st.depthFunc)
        return;
    glcFlush();
    st.depthFunc = f;
    emscripten_glDepthFunc(f);
}
void glPolygonMode(GLenum, GLenum mode) {
    if (mode != GL_FILL)
        setError(GL_INVALID_ENUM);
}
void glClearColor(GLclampf r, GLclampf g, GLclampf b, GLclampf a) {
    // Only glClear reads it, and that flushes first.
    emscripten_glClearColor(r, g, b, a);
}
void glClear(GLbitfield mask) {
    glcFlush();
    emscripten_glClear(mask);
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h) {
    if (st.viewportKnown && st.viewport[0] == x && st.viewport[1] == y && st.viewport[2] == w && st.viewport[3] == h)
        return;
    glcFlush();
    st.viewport[0] = x;
    st.viewport[1] = y;
    st.viewport[2] = w;
    st.viewport[3] = h;
    st.viewportKnown = true;
    emscripten_glViewport(x, y, w, h);
}
void glFlush() {
    glcFlush();
    emscripten_glFlush();
}
void glFinish() {
    glcFlush();
    emscripten_glFinish();
}
void glReadBuffer(GLenum) {}
void glPixelStorei(GLenum name, GLint value) {
    if (value != 1 && value != 2 && value != 4 && value != 8) {
        setError(GL_INVALID_VALUE);
        return;
    }
    if (name == GL_UNPACK_ALIGNMENT)
        st.unpackAlignment = value;
    else if (name == GL_PACK_ALIGNMENT)
        st.packAlignment = value;
}

// Textures.
void glGenTextures(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) {
        while (st.textures.count(++st.nextTexture)) {
        }
        names[i] = st.nextTexture;
        texture(names[i]);
    }
}
void glBindTexture(GLenum, GLuint name) {
    if (name == st.boundTexture)
        return;
    glcFlush();
    st.boundTexture = name;
    emscripten_glBindTexture(GL_TEXTURE_2D, texture(name).web);
}
void glTexParameteri(GLenum target, GLenum name, GLint value) {
    const int32_t param = name == GL_TEXTURE_MIN_FILTER   ? PARAM_MIN
                          : name == GL_TEXTURE_MAG_FILTER ? PARAM_MAG
                          : name == GL_TEXTURE_WRAP_S     ? PARAM_WRAP_S
                          : name == GL_TEXTURE_WRAP_T     ? PARAM_WRAP_T
                                                          : -1;
    Texture& t = texture(st.boundTexture);
    if (param >= 0 && t.params[param] == value)
        return;
    glcFlush();
    if (param >= 0)
        t.params[param] = value;
    if ((name == GL_TEXTURE_WRAP_S || name == GL_TEXTURE_WRAP_T) && value == GLC_CLAMP)
        value = GLC_CLAMP_TO_EDGE;
    emscripten_glTexParameteri(target, name, value);
}
void glTexEnvi(GLenum, GLenum name, GLint value) {
    // Modulate is the only environment the shaders have.
    if (name == GL_TEXTURE_ENV_MODE && value != GL_MODULATE)
        setError(GL_INVALID_ENUM);
}
void glTexEnvf(GLenum target, GLenum name, GLfloat value) { glTexEnvi(target, name, static_cast<GLint>(value)); }

void glTexImage2D(GLenum target, GLint level, GLint internal, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
    glcFlush();
    const int32_t inComponents = formatComponents(format);
    const int32_t outComponents = internalComponents(internal);
    if (inComponents == 0 || outComponents == 0 || (type != GL_UNSIGNED_BYTE && type != GL_UNSIGNED_INT) ||
        width < 0 || height < 0 || border != 0 || width > 8192 || height > 8192) {
        setError(GL_INVALID_VALUE);
        return;
    }
    const size_t typeSize = type == GL_UNSIGNED_INT ? 4 : 1;
    size_t rowBytes = static_cast<size_t>(width) * inComponents * typeSize;
    rowBytes = (rowBytes + st.unpackAlignment - 1) / st.unpackAlignment * st.unpackAlignment;
    st.scratch.assign(static_cast<size_t>(width) * height * outComponents, 0);
    if (pixels) {
        const uint8_t* in = static_cast<const uint8_t*>(pixels);
        uint8_t* out = st.scratch.data();
        for (GLsizei y = 0; y < height; ++y)
            for (GLsizei x = 0; x < width; ++x) {
                uint8_t c[4];
                readPixel(in + y * rowBytes + x * inComponents * typeSize, format, type, c);
                std::memcpy(out, c, outComponents);
                out += outComponents;
            }
    }
    const GLenum web = outComponents == 3 ? GL_RGB : GL_RGBA;
    emscripten_glTexImage2D(target, level, web, width, height, 0, web, GL_UNSIGNED_BYTE, st.scratch.data());
    if (level == 0) {
        Texture& t = texture(st.boundTexture);
        t.hasImage = true;
        t.width = width;
        t.height = height;
        t.format = web;
    }
}

void glCopyTexImage2D(GLenum target, GLint level, GLenum internal, GLint x, GLint y, GLsizei w, GLsizei h,
                      GLint border) {
    glcFlush();
    const GLenum web = internalComponents(static_cast<GLint>(internal)) == 4 ? GL_RGBA : GL_RGB;
    Texture& t = texture(st.boundTexture);
    // The feedback effect copies the same rectangle every frame: into the
    // image the texture already has, without making a new one each time.
    if (level == 0 && border == 0 && t.hasImage && t.width == w && t.height == h && t.format == web) {
        emscripten_glCopyTexSubImage2D(target, 0, 0, 0, x, y, w, h);
        return;
    }
    emscripten_glCopyTexImage2D(target, level, web, x, y, w, h, border);
    if (level == 0) {
        t.hasImage = true;
        t.width = w;
        t.height = h;
        t.format = web;
    }
}

void glCopyTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLint x, GLint y, GLsizei w,
                         GLsizei h) {
    glcFlush();
    emscripten_glCopyTexSubImage2D(target, level, xoffset, yoffset, x, y, w, h);
}

void glReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format, GLenum type, GLvoid* pixels) {
    glcFlush();
    const int32_t n = formatComponents(format);
    if ((n != 3 && n != 4) || type != GL_UNSIGNED_BYTE || w < 0 || h < 0) {
        setError(GL_INVALID_ENUM);
        return;
    }
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
    emscripten_glReadPixels(x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    size_t rowBytes = static_cast<size_t>(w) * n;
    rowBytes = (rowBytes + st.packAlignment - 1) / st.packAlignment * st.packAlignment;
    uint8_t* out = static_cast<uint8_t*>(pixels);
    for (GLsizei row = 0; row < h; ++row)
        for (GLsizei col = 0; col < w; ++col) {
            const uint8_t* p = &rgba[(static_cast<size_t>(row) * w + col) * 4];
            uint8_t* q = out + row * rowBytes + col * n;
            const bool swap = format == GLC_BGR || format == GLC_BGRA;
            q[0] = swap ? p[2] : p[0];
            q[1] = p[1];
            q[2] = swap ? p[0] : p[2];
            if (n == 4)
                q[3] = p[3];
        }
}

// Queries.
GLenum glGetError() {
    GLenum e = glcTakeError();
    if (e == GL_NO_ERROR)
        e = st.error;
    st.error = GL_NO_ERROR;
    const GLenum web = emscripten_glGetError();
    return e != GL_NO_ERROR ? e : web;
}

void glGetIntegerv(GLenum name, GLint* value) {
    switch (name) {
    case GLC_FRAMEBUFFER_BINDING: *value = static_cast<GLint>(st.boundFramebuffer); return;
    case GLC_RENDERBUFFER_BINDING: *value = static_cast<GLint>(st.boundRenderbuffer); return;
    case GL_TEXTURE_BINDING_2D: *value = static_cast<GLint>(st.boundTexture); return;
    case GL_MATRIX_MODE: *value = static_cast<GLint>(glcCurrentMatrixMode()); return;
    case GL_MODELVIEW_STACK_DEPTH: *value = glcStackDepth(GL_MODELVIEW); return;
    case GL_PROJECTION_STACK_DEPTH: *value = glcStackDepth(GL_PROJECTION); return;
    default: emscripten_glGetIntegerv(name, value); return;
    }
}

const GLubyte* glGetString(GLenum name) {
    const char* s = nullptr;
    switch (name) {
    case GL_VENDOR: s = "tumble"; break;
    case GL_RENDERER: s = "OpenGL 1.1 subset over WebGL 1"; break;
    case GL_VERSION: s = "1.1 WebGL"; break;
    case GL_EXTENSIONS: s = "GL_ARB_framebuffer_object"; break;
    default: setError(GL_INVALID_ENUM); break;
    }
    return reinterpret_cast<const GLubyte*>(s);
}

}  // extern "C"
