// The shell's globals.
#include "shell/demo.h"

float fieldOfView = 100.0f;
Camera camera;
int32_t resolutionChoice = 0;
int32_t chooserResult = 0;
uint8_t fullscreen = 0;
int32_t loaded = 0;
int32_t musicStarted = 0;
