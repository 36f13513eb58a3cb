// The browser's OpenGL 1.1 subset: the show's gl* and glu* calls over the
// current WebGL 1 context.
#pragma once
#include <cstdint>

bool webglSubsetInit();                        // after the context is made current; false: shaders failed
void* webglProcAddress(const char* name);      // the framebuffer-object entry points
uint32_t webglBoundFramebuffer();              // the show's name, 0 for the canvas
void webglFinishFrame();                       // draws what is pending
void webglReadCanvas(int32_t width, int32_t height, uint8_t* rgb);   // bottom-up RGB of the canvas
