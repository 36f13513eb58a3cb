#define GL_GLEXT_PROTOTYPES 1
#include "platform/framebuffer.h"
#include <GL/gl.h>
#include <GL/glext.h>
#include <cstring>

namespace {

bool hasExtension(const char* name) {
    const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const size_t length = std::strlen(name);
    for (const char* p = all; p && (p = std::strstr(p, name)) != nullptr; p += length)
        if ((p == all || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0'))
            return true;
    return false;
}

}  // namespace

bool framebufferSupported() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return hasExtension("GL_ARB_framebuffer_object") || (version && version[0] >= '3');
}

bool framebufferCreate(Framebuffer* target, int32_t width, int32_t height) {
    *target = Framebuffer{0, 0, 0, width, height};
    glGenFramebuffers(1, &target->name);
    glGenRenderbuffers(1, &target->colour);
    glGenRenderbuffers(1, &target->depthStencil);
    glBindRenderbuffer(GL_RENDERBUFFER, target->colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, target->depthStencil);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, width, height);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, target->name);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, target->colour);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, target->depthStencil);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
        return true;
    framebufferRelease(target);
    return false;
}

void framebufferRelease(Framebuffer* target) {
    if (target->name) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &target->name);
        glDeleteRenderbuffers(1, &target->colour);
        glDeleteRenderbuffers(1, &target->depthStencil);
    }
    *target = Framebuffer{};
}

void framebufferBind(const Framebuffer* target) {
    glBindFramebuffer(GL_FRAMEBUFFER, target ? target->name : 0);
}

void framebufferBlitToWindow(const Framebuffer* source, int32_t x, int32_t y) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, source->name);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glBlitFramebuffer(0, 0, source->width, source->height, x, y, x + source->width, y + source->height,
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
}
