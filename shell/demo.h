// The shell: start-up, the render window's handling, loading and timeline.
#pragma once
#include <cstdint>
#include "assets/demo_state.h"
#include "shell/timeline.h"

struct Camera {
    float eye[3];
    float target[3];
    uint8_t targetIsDirection;
};

extern float fieldOfView;               // 100 degrees
extern Camera camera;
extern int32_t resolutionChoice;
extern int32_t chooserResult;
extern uint8_t fullscreen;
extern int32_t loaded;
extern int32_t musicStarted;

// Start-up and chooser.
extern const PlatChooserRow chooserRows[];
extern const int32_t chooserRowCount;
void chooseScreenSize(int32_t choice);  // the chosen row (else the default): screen size and fullscreen

// Render window.
extern const PlatWindowCallbacks renderWindowCallbacks;
void resizeViewport();
void setProjection();
void applyCamera(const Camera& cam);
int presentFrame(PlatWindow* window);
void stopDemo();

// Loading sequence and timeline.
void loadDemo();
void drawLoadingBar(float fraction);
int renderFrame(PlatWindow* window);
