// The single DemoState record and the shell globals.
#include "shell/demo.h"

DemoState demo;

int32_t screenWidth = 640;
int32_t screenHeight = 480;
float fieldOfView = 100.0f;
Camera camera;
int32_t resolutionChoice = 0;
int32_t chooserResult = 0;
uint8_t fullscreen = 0;
int32_t loaded = 0;
int32_t musicStarted = 0;
float frameTime = 0.0f;
float prevFrameTime = 0.0f;
