// The OpenGL 1.1 entry points the show calls, over glcore (matrices, immediate
// mode, display lists) and WebGL. Pending triangles are drawn with the state
// they were made under: a setter that changes something flushes first, and
// one that changes nothing keeps the batch growing.
#include "platform/web/gl/subset.h"

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

// Raster state.
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
        glcSetError(GL_INVALID_ENUM);
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
        glcSetError(GL_INVALID_VALUE);
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
        glcSetError(GL_INVALID_ENUM);
}
void glTexEnvf(GLenum target, GLenum name, GLfloat value) { glTexEnvi(target, name, static_cast<GLint>(value)); }

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

// Queries.
GLenum glGetError() {
    const GLenum e = glcTakeError();
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
    default: glcSetError(GL_INVALID_ENUM); break;
    }
    return reinterpret_cast<const GLubyte*>(s);
}

}  // extern "C"
