// The show's one state record and the few shell values the drawing code
// reads, kept at the lowest layer that knows every type the record holds, so
// text, scenes and shell share it without including one another.
#pragma once
#include <cstdint>
#include "assets/md2.h"
#include "platform/platform.h"

struct Player;

enum { TEXTURE_COUNT = 9 };

struct DemoState {
    uint32_t textures[TEXTURE_COUNT];
    uint32_t imageTextures[2];          // 0: title card, 1: smiley
    PlatWindow* window;                 // the render window and its GL context; null until open
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

extern int32_t screenWidth;             // 640; the drawable size once the window exists
extern int32_t screenHeight;            // 480
extern float frameTime;                 // demo time of the latest frame
extern float prevFrameTime;             // ... and of the one before it
