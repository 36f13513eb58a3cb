// Feedback effect over a 512 x 512 render target.
#include "scenes/feedback.h"
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include "platform/gl.h"
#include "platform/gl_constants.h"
#include "assets/demo_state.h"

FeedbackState feedback{true};

void feedbackReset() {
    feedback = FeedbackState{true};
}

namespace {

// Framebuffer-object entry points, fetched at run time: the Windows GL
// headers stop at 1.1.
typedef void (APIENTRY* GenNamesProc)(GLsizei, GLuint*);
typedef void (APIENTRY* BindNameProc)(GLenum, GLuint);
typedef void (APIENTRY* AttachRenderbufferProc)(GLenum, GLenum, GLenum, GLuint);
typedef GLenum (APIENTRY* CheckStatusProc)(GLenum);
typedef void (APIENTRY* StorageProc)(GLenum, GLenum, GLsizei, GLsizei);

struct FramebufferApi {
    GenNamesProc genFramebuffers;
    BindNameProc bindFramebuffer;
    AttachRenderbufferProc framebufferRenderbuffer;
    CheckStatusProc checkFramebufferStatus;
    GenNamesProc genRenderbuffers;
    BindNameProc bindRenderbuffer;
    StorageProc renderbufferStorage;
};

FramebufferApi fb{};
GLuint sceneFramebuffer = 0;    // 0: draw into the back buffer
GLint outerFramebuffer = 0;     // what was bound when the pass began

bool hasExtension(const char* name) {
    const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!all)
        return false;
    const size_t length = std::strlen(name);
    for (const char* p = all; (p = std::strstr(p, name)) != nullptr; p += length) {
        const bool startsWord = p == all || p[-1] == ' ';
        const bool endsWord = p[length] == ' ' || p[length] == '\0';
        if (startsWord && endsWord)
            return true;
    }
    return false;
}

bool coreFramebuffers() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    return version && version[0] >= '3' && version[0] <= '9' && version[1] == '.';
}

template <typename T>
bool fetch(T* entry, const char* name, const char* suffix) {
    char full[64];
    std::strcpy(full, name);
    std::strcat(full, suffix);
    *entry = reinterpret_cast<T>(platGlProcAddress(full));
    return *entry != nullptr;
}

bool loadFramebufferApi() {
    const char* suffix;
    if (coreFramebuffers() || hasExtension("GL_ARB_framebuffer_object"))
        suffix = "";
    else if (hasExtension("GL_EXT_framebuffer_object"))
        suffix = "EXT";
    else
        return false;
    return fetch(&fb.genFramebuffers, "glGenFramebuffers", suffix) &&
           fetch(&fb.bindFramebuffer, "glBindFramebuffer", suffix) &&
           fetch(&fb.framebufferRenderbuffer, "glFramebufferRenderbuffer", suffix) &&
           fetch(&fb.checkFramebufferStatus, "glCheckFramebufferStatus", suffix) &&
           fetch(&fb.genRenderbuffers, "glGenRenderbuffers", suffix) &&
           fetch(&fb.bindRenderbuffer, "glBindRenderbuffer", suffix) &&
           fetch(&fb.renderbufferStorage, "glRenderbufferStorage", suffix);
}

// A colour and a depth buffer of the target's size. The render target itself
// cannot be the colour attachment: the pass samples it while drawing.
void createSceneFramebuffer() {
    sceneFramebuffer = 0;
    if (!feedback.allowFramebuffer || !loadFramebufferApi())
        return;
    GLint outer = 0;
    glGetIntegerv(GLC_FRAMEBUFFER_BINDING, &outer);
    GLuint buffers[2] = {0, 0};
    fb.genRenderbuffers(2, buffers);
    fb.bindRenderbuffer(GLC_RENDERBUFFER, buffers[0]);
    fb.renderbufferStorage(GLC_RENDERBUFFER, GLC_RGBA8, demo.renderTargetWidth, demo.renderTargetHeight);
    fb.bindRenderbuffer(GLC_RENDERBUFFER, buffers[1]);
    fb.renderbufferStorage(GLC_RENDERBUFFER, GLC_DEPTH_COMPONENT24, demo.renderTargetWidth,
                           demo.renderTargetHeight);
    fb.bindRenderbuffer(GLC_RENDERBUFFER, 0);
    GLuint name = 0;
    fb.genFramebuffers(1, &name);
    fb.bindFramebuffer(GLC_FRAMEBUFFER, name);
    fb.framebufferRenderbuffer(GLC_FRAMEBUFFER, GLC_COLOR_ATTACHMENT0, GLC_RENDERBUFFER, buffers[0]);
    fb.framebufferRenderbuffer(GLC_FRAMEBUFFER, GLC_DEPTH_ATTACHMENT, GLC_RENDERBUFFER, buffers[1]);
    const bool complete = fb.checkFramebufferStatus(GLC_FRAMEBUFFER) == GLC_FRAMEBUFFER_COMPLETE;
    fb.bindFramebuffer(GLC_FRAMEBUFFER, static_cast<GLuint>(outer));
    // An incomplete one is simply not used; its few objects are left alone.
    if (complete)
        sceneFramebuffer = name;
    while (glGetError() != GL_NO_ERROR) {
    }
}

void drawRegionQuad(float width, float height) {
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f); glVertex2f(0.0f, 0.0f);
    glTexCoord2f(0.0f, 0.0f); glVertex2f(0.0f, height);
    glTexCoord2f(1.0f, 0.0f); glVertex2f(width, height);
    glTexCoord2f(1.0f, 1.0f); glVertex2f(width, 0.0f);
    glEnd();
}

}  // namespace

bool feedbackUsesFramebuffer() {
    return sceneFramebuffer != 0;
}

bool createBlankTexture(uint32_t* texture, int32_t width, int32_t height, int32_t components,
                        uint32_t format, int32_t minFilter, int32_t magFilter) {
    if (width <= 0 || height <= 0 || components <= 0)
        return false;
    const uint64_t count = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) *
                           static_cast<uint64_t>(components);
    if (count > SIZE_MAX / sizeof(uint32_t))
        return false;
    std::unique_ptr<uint32_t[]> pixels(new (std::nothrow) uint32_t[static_cast<size_t>(count)]());
    if (!pixels)
        return false;
    GLuint name = 0;
    glGenTextures(1, &name);
    *texture = name;
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, components, width, height, 0, format, GL_UNSIGNED_INT, pixels.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, minFilter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, magFilter);
    return glGetError() == GL_NO_ERROR;
}

bool createRenderTarget() {
    demo.renderTargetWidth = 512;
    demo.renderTargetHeight = 512;
    demo.renderTargetComponents = 3;
    demo.renderTargetFormat = GL_RGB;
    const bool created = createBlankTexture(&demo.renderTargetTexture, demo.renderTargetWidth,
                                            demo.renderTargetHeight, demo.renderTargetComponents,
                                            demo.renderTargetFormat, GL_LINEAR, GL_LINEAR);
    createSceneFramebuffer();
    return created;
}

void renderToTexture(SceneCallback scene) {
    if (sceneFramebuffer) {
        glGetIntegerv(GLC_FRAMEBUFFER_BINDING, &outerFramebuffer);
        fb.bindFramebuffer(GLC_FRAMEBUFFER, sceneFramebuffer);
    }
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glViewport(0, 0, demo.renderTargetWidth, demo.renderTargetHeight);

    scene();

    // The previous result over the new scene at 60 percent.
    glPushMatrix();
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1.0f, 1.0f, 1.0f, 0.6f);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glBindTexture(GL_TEXTURE_2D, demo.renderTargetTexture);
    glLoadIdentity();
    glOrtho(0.0, demo.renderTargetWidth, demo.renderTargetHeight, 0.0, 0.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    drawRegionQuad(static_cast<float>(demo.renderTargetWidth), static_cast<float>(demo.renderTargetHeight));
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glPopMatrix();

    glBindTexture(GL_TEXTURE_2D, demo.renderTargetTexture);
    glCopyTexImage2D(GL_TEXTURE_2D, 0, demo.renderTargetFormat, 0, 0, demo.renderTargetWidth,
                     demo.renderTargetHeight, 0);

    if (sceneFramebuffer)
        fb.bindFramebuffer(GLC_FRAMEBUFFER, static_cast<GLuint>(outerFramebuffer));
    glViewport(0, 0, screenWidth, screenHeight);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
}

void drawRenderTarget() {
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glBindTexture(GL_TEXTURE_2D, demo.renderTargetTexture);
    glLoadIdentity();
    glOrtho(0.0, screenWidth, screenHeight, 0.0, 0.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(1.0f, 1.0f, 1.0f);
    drawRegionQuad(static_cast<float>(screenWidth), static_cast<float>(screenHeight));
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}
