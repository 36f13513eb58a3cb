// Drawing: glcore hands over each batch of triangles, drawn here with one of
// two shaders (plain colour, or colour times texel: the modulate environment)
// from one streamed vertex buffer.
#include <algorithm>
#include <cstddef>

#include "platform/web/gl/subset.h"
#include "platform/web/gl/webgl.h"

State st{};

namespace {

// The vertex stream: every flush appends to one large buffer, which is
// orphaned and refilled from the start only when it is full.
enum : uint32_t { STREAM_VERTICES = 1u << 16 };

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

}  // namespace

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

void webglFinishFrame() {
    glcFlush();
}
