// What the WebGL side of the browser's OpenGL 1.1 subset shares between its
// files: names.cpp (the subset's own name spaces), draw.cpp (shaders and
// batching), pixels.cpp (pixel conversion) and entry.cpp (the 1.1 entry points).
// The fixed-function state lives in glcore.
#pragma once
#include <GL/gl.h>
#include <GL/glu.h>
#include <webgl/webgl1.h>

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "platform/gl_constants.h"
#include "platform/web/gl/glcore.h"

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

// A colour renderbuffer is a texture underneath: WebGL 1 has no 8-bit one.
struct Renderbuffer {
    GLuint webRenderbuffer;
    GLuint webTexture;
};

struct State {
    bool ready;
    std::unordered_map<GLuint, Texture> textures;
    GLuint nextTexture;
    GLuint boundTexture;
    std::unordered_map<GLuint, Renderbuffer> renderbuffers;
    GLuint nextRenderbuffer;
    GLuint boundRenderbuffer;
    std::unordered_map<GLuint, GLuint> framebuffers;   // the show's name: WebGL's
    GLuint nextFramebuffer;
    GLuint boundFramebuffer;
    bool caps[CAP_COUNT];
    GLenum blendSource, blendDestination;
    GLenum depthFunc;
    GLint viewport[4];
    bool viewportKnown;
    GLuint program;        // in use
    uint32_t streamUsed;   // vertices of the stream buffer already written
    GLint unpackAlignment;
    GLint packAlignment;
    GLuint plainProgram;
    GLuint texturedProgram;
    GLuint buffer;
    std::vector<uint8_t> scratch;
};
extern State st;

// names.cpp: a texture by the show's name, made on first use as in OpenGL 1.1.
Texture& texture(GLuint name);
GLuint webFramebuffer(GLuint name);   // the WebGL framebuffer behind a bound name; 0: the canvas

// draw.cpp
void setCap(GLenum cap, bool on);

// pixels.cpp
int32_t formatComponents(GLenum format);    // 0: not a format the subset takes
int32_t internalComponents(GLint internal);
