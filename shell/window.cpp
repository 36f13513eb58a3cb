// Render window: projection, camera, presentation, Escape and teardown.
#include "shell/demo.h"
#include "shell/window_events.h"
#include "platform/gl.h"
#include "music/player.h"

int setPixelFormat(PlatDeviceContext deviceContext) {
    return platSetPixelFormat(deviceContext);
}

void applyCamera(const Camera& cam) {
    float centre[3];
    for (int i = 0; i < 3; ++i)
        centre[i] = cam.targetIsDirection ? cam.eye[i] + cam.target[i] : cam.target[i];
    gluLookAt(cam.eye[0], cam.eye[1], cam.eye[2], centre[0], centre[1], centre[2], 0.0, 1.0, 0.0);
}

void setProjection() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(fieldOfView, 1.3333333333333333, 0.2, 1000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    applyCamera(camera);
}

void resizeViewport() {
    glViewport(0, 0, screenWidth, screenHeight);
    setProjection();
}

int presentFrame(PlatDeviceContext* deviceContext) {
    glFlush();
    return platSwapBuffers(*deviceContext);
}

void stopDemo() {
    playerDestroy(demo.player);
    demo.player = nullptr;
    if (fullscreen)
        setDisplayMode(demo.desktopWidth, demo.desktopHeight, 16, 0);
}

namespace {

void onPaint() {
    renderFrame(&demo.deviceContext);
}

void onSize(int32_t width, int32_t height) {
    screenWidth = width;
    screenHeight = height;
    resizeViewport();
}

void onCharacter(int32_t code) {
    if (code == 27) {
        stopDemo();
        platDestroyWindow();
    }
}

void onDestroy() {
    platRestoreDisplayMode();
    platDeleteGlContext(demo.glContext);
    platKillFrameTimer();
    platPostQuit(0);
}

}  // namespace

const PlatWindowEvents renderWindowEvents = {onPaint, onSize, onCharacter, onDestroy};
