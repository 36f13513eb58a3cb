#include "platform/framebuffer.h"
#include <cstring>
#include "platform/gl.h"
#include "platform/gl_constants.h"
#include "platform/platform.h"

namespace {

// Fetched at run time: a system's GL header may stop at 1.1.
typedef void (APIENTRY* NamesProc)(GLsizei, GLuint*);
typedef void (APIENTRY* ConstNamesProc)(GLsizei, const GLuint*);
typedef void (APIENTRY* BindProc)(GLenum, GLuint);
typedef void (APIENTRY* StorageProc)(GLenum, GLenum, GLsizei, GLsizei);
typedef void (APIENTRY* AttachProc)(GLenum, GLenum, GLenum, GLuint);
typedef GLenum (APIENTRY* StatusProc)(GLenum);
typedef void (APIENTRY* BlitProc)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum);

struct {
    NamesProc genFramebuffers;
    ConstNamesProc deleteFramebuffers;
    BindProc bindFramebuffer;
    NamesProc genRenderbuffers;
    ConstNamesProc deleteRenderbuffers;
    BindProc bindRenderbuffer;
    StorageProc renderbufferStorage;
    AttachProc framebufferRenderbuffer;
    StatusProc checkFramebufferStatus;
    BlitProc blitFramebuffer;
} gl{};

bool hasExtension(const char* name) {
    const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const size_t length = std::strlen(name);
    for (const char* p = all; p && (p = std::strstr(p, name)) != nullptr; p += length)
        if ((p == all || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0'))
            return true;
    return false;
}

template <typename Proc>
bool fetch(Proc* proc, const char* name) {
    *proc = reinterpret_cast<Proc>(platGlProcAddress(name));
    return *proc != nullptr;
}

}  // namespace

bool framebufferLoad() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return (hasExtension("GL_ARB_framebuffer_object") || (version && version[0] >= '3')) &&
           fetch(&gl.genFramebuffers, "glGenFramebuffers") &&
           fetch(&gl.deleteFramebuffers, "glDeleteFramebuffers") &&
           fetch(&gl.bindFramebuffer, "glBindFramebuffer") &&
           fetch(&gl.genRenderbuffers, "glGenRenderbuffers") &&
           fetch(&gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
           fetch(&gl.bindRenderbuffer, "glBindRenderbuffer") &&
           fetch(&gl.renderbufferStorage, "glRenderbufferStorage") &&
           fetch(&gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
           fetch(&gl.checkFramebufferStatus, "glCheckFramebufferStatus") &&
           fetch(&gl.blitFramebuffer, "glBlitFramebuffer");
}

bool framebufferCreate(Framebuffer* target, int32_t width, int32_t height) {
    *target = Framebuffer{0, 0, 0, width, height};
    gl.genFramebuffers(1, &target->name);
    gl.genRenderbuffers(1, &target->colour);
    gl.genRenderbuffers(1, &target->depthStencil);
    gl.bindRenderbuffer(GLC_RENDERBUFFER, target->colour);
    gl.renderbufferStorage(GLC_RENDERBUFFER, GLC_RGBA8, width, height);
    gl.bindRenderbuffer(GLC_RENDERBUFFER, target->depthStencil);
    gl.renderbufferStorage(GLC_RENDERBUFFER, GLC_DEPTH24_STENCIL8, width, height);
    gl.bindRenderbuffer(GLC_RENDERBUFFER, 0);
    gl.bindFramebuffer(GLC_FRAMEBUFFER, target->name);
    gl.framebufferRenderbuffer(GLC_FRAMEBUFFER, GLC_COLOR_ATTACHMENT0, GLC_RENDERBUFFER, target->colour);
    gl.framebufferRenderbuffer(GLC_FRAMEBUFFER, GLC_DEPTH_STENCIL_ATTACHMENT, GLC_RENDERBUFFER,
                               target->depthStencil);
    if (gl.checkFramebufferStatus(GLC_FRAMEBUFFER) == GLC_FRAMEBUFFER_COMPLETE)
        return true;
    framebufferRelease(target);
    return false;
}

void framebufferRelease(Framebuffer* target) {
    if (target->name) {
        gl.bindFramebuffer(GLC_FRAMEBUFFER, 0);
        gl.deleteFramebuffers(1, &target->name);
        gl.deleteRenderbuffers(1, &target->colour);
        gl.deleteRenderbuffers(1, &target->depthStencil);
    }
    *target = Framebuffer{};
}

void framebufferBind(const Framebuffer* target) {
    gl.bindFramebuffer(GLC_FRAMEBUFFER, target ? target->name : 0);
}

void framebufferBlitToWindow(const Framebuffer* source, int32_t x, int32_t y) {
    gl.bindFramebuffer(GLC_READ_FRAMEBUFFER, source->name);
    gl.bindFramebuffer(GLC_DRAW_FRAMEBUFFER, 0);
    gl.blitFramebuffer(0, 0, source->width, source->height, x, y, x + source->width, y + source->height,
                       GL_COLOR_BUFFER_BIT, GL_NEAREST);
}
