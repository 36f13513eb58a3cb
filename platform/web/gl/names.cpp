// The subset's own name spaces for textures, framebuffers and renderbuffers:
// the show uses texture 0 and 8-bit colour renderbuffers, neither of which
// WebGL 1 has. The framebuffer-object entry points are handed out by name
// (webglProcAddress), as an OpenGL 1.1 system hands out its extensions.
#include <cstring>

#include "platform/web/gl/subset.h"
#include "platform/web/gl/webgl.h"

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

GLuint webFramebuffer(GLuint name) {
    auto it = st.framebuffers.find(name);
    return it == st.framebuffers.end() ? 0 : it->second;
}

extern "C" {

void glGenFramebuffers(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) {
        names[i] = ++st.nextFramebuffer;
        emscripten_glGenFramebuffers(1, &st.framebuffers[names[i]]);
    }
}

void glBindFramebuffer(GLenum target, GLuint name) {
    glcFlush();
    if (target != GLC_FRAMEBUFFER) {
        glcSetError(GL_INVALID_ENUM);
        return;
    }
    if (name != 0 && !st.framebuffers.count(name)) {
        glcSetError(GL_INVALID_OPERATION);
        return;
    }
    emscripten_glBindFramebuffer(GLC_FRAMEBUFFER, webFramebuffer(name));
    st.boundFramebuffer = name;
}

void glGenRenderbuffers(GLsizei n, GLuint* names) {
    for (GLsizei i = 0; i < n; ++i) {
        names[i] = ++st.nextRenderbuffer;
        st.renderbuffers[names[i]] = Renderbuffer{};
    }
}

void glBindRenderbuffer(GLenum, GLuint name) {
    st.boundRenderbuffer = name;
}

void glRenderbufferStorage(GLenum, GLenum format, GLsizei width, GLsizei height) {
    auto it = st.renderbuffers.find(st.boundRenderbuffer);
    if (it == st.renderbuffers.end()) {
        glcSetError(GL_INVALID_OPERATION);
        return;
    }
    Renderbuffer& r = it->second;
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

void glFramebufferRenderbuffer(GLenum, GLenum attachment, GLenum, GLuint name) {
    glcFlush();
    auto it = st.renderbuffers.find(name);
    if (name != 0 && it == st.renderbuffers.end()) {
        glcSetError(GL_INVALID_OPERATION);
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

GLenum glCheckFramebufferStatus(GLenum target) {
    return emscripten_glCheckFramebufferStatus(target);
}

}  // extern "C"

// Each entry is the gl* function of its name: a defined symbol, which is how
// the build's subset check sees what the show may look up.
void* webglProcAddress(const char* name) {
#define ENTRY(function) {#function, reinterpret_cast<void*>(function)}
    static const struct {
        const char* name;
        void* entry;
    } table[] = {
        ENTRY(glGenFramebuffers), ENTRY(glBindFramebuffer), ENTRY(glFramebufferRenderbuffer),
        ENTRY(glCheckFramebufferStatus), ENTRY(glGenRenderbuffers), ENTRY(glBindRenderbuffer),
        ENTRY(glRenderbufferStorage),
    };
#undef ENTRY
    if (!name)
        return nullptr;
    for (const auto& e : table)
        if (std::strcmp(e.name, name) == 0)
            return e.entry;
    return nullptr;
}
