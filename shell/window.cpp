// Render window: projection, camera, presentation, and what a frame tick,
// a size change and Escape do.
#include "shell/demo.h"
#include "platform/gl.h"
#include "music/player.h"

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

int presentFrame(PlatWindow* window) {
    glFlush();
    return platSwapBuffers(window);
}

void stopDemo() {
    playerDestroy(demo.player);
    demo.player = nullptr;
    if (fullscreen)
        platRestoreDisplay(demo.desktopWidth, demo.desktopHeight, 16);
}

namespace {

void onFrame() {
    renderFrame(demo.window);
}

void onSize(int32_t width, int32_t height) {
    // A minimised window reports 0 x 0: keep drawing for the last real size.
    if (width <= 0 || height <= 0)
        return;
    screenWidth = width;
    screenHeight = height;
    resizeViewport();
}

void onKey(PlatKey key) {
    if (key == PLAT_KEY_ESCAPE) {
        stopDemo();
        platCloseWindow(demo.window);
    }
}

}  // namespace

const PlatWindowCallbacks renderWindowCallbacks = {onFrame, onKey, onSize};
