// The show's global state and the shell's entry points.
#pragma once
#include <cstdint>
#include "platform/platform.h"
#include "assets/md2.h"

struct Player;

struct Camera {
    float eye[3];
    float target[3];
    uint8_t targetIsDirection;
};

enum { TEXTURE_COUNT = 9 };

struct DemoState {
    uint32_t textures[TEXTURE_COUNT];
    uint32_t imageTextures[2];          // 0: title card, 1: smiley
    PlatGlContext glContext;
    PlatDeviceContext deviceContext;
    float demoTime;
    int32_t songOrder;
    int32_t songRow;
    float songPosition;
    int32_t desktopWidth;
    int32_t desktopHeight;
    Player* player;                     // null: no music
    uint32_t textListBase;
    Md2Model model;                     // empty until the model scene loads it
    int32_t renderTargetWidth;
    int32_t renderTargetHeight;
    int32_t renderTargetComponents;
    uint32_t renderTargetFormat;
    uint32_t renderTargetTexture;
};

extern DemoState demo;

extern int32_t screenWidth;             // 640
extern int32_t screenHeight;            // 480
extern float fieldOfView;               // 100 degrees
extern Camera camera;
extern int32_t resolutionChoice;
extern int32_t chooserResult;
extern uint8_t fullscreen;
extern int32_t loaded;
extern int32_t musicStarted;
extern float frameTime;
extern float prevFrameTime;

// Start-up and chooser.
int demoMain();
void setDisplayMode(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t flags);
[[noreturn]] void fatalError(const char* text);
void chooseScreenSize(int32_t choice);  // resolution table: sets screen size and fullscreen

// Render window.
int setPixelFormat(PlatDeviceContext deviceContext);
void resizeViewport();
void setProjection();
void applyCamera(const Camera& cam);
int presentFrame(PlatDeviceContext* deviceContext);
void stopDemo();

// Loading sequence and timeline.
void loadDemo();
void drawLoadingBar(float fraction);
int renderFrame(PlatDeviceContext* deviceContext);
