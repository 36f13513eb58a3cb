// The browser's OpenGL 1.1 subset: the show's gl* and glu* calls over the
// current WebGL 1 context.
#pragma once
#include <cstdint>

bool webglSubsetInit();                        // after the context is made current; false: shaders failed
void* webglProcAddress(const char* name);      // the framebuffer-object entry points
void webglFinishFrame();                       // draws what is pending
void webglReadCanvas(int32_t width, int32_t height, uint8_t* rgb);   // the canvas as top-down RGB rows
