#include "assets/demo_state.h"

DemoState demo;

int32_t screenWidth = 640;
int32_t screenHeight = 480;
float frameTime = 0.0f;
float prevFrameTime = 0.0f;
