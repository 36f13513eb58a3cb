// The fixed-function part of the browser's OpenGL 1.1 subset: matrix stacks,
// current colour and texture coordinate, primitive assembly into triangles,
// display lists and the vertex batch. Plain C++, so it also builds natively;
// the WebGL side (draw.cpp) supplies the flush.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/gl_constants.h"

// One vertex of the batch, already in clip coordinates.
struct GlcVertex {
    float position[4];
    float colour[4];   // clamped to 0..1 as the fixed pipeline does
    float texCoord[2];
};

// Column-major, as the GL stores them.
struct GlcMatrix {
    float m[16];
};

// Called with the pending triangles (count a multiple of 3) before any state
// that affects rasterising changes; null drops them.
void glcSetFlush(void (*flush)(const GlcVertex* vertices, uint32_t count));
void glcFlush();
void glcReset();                     // fresh context: identity matrices, no lists
// The subset's one error latch: the first error since the last take.
void glcSetError(uint32_t error);
uint32_t glcTakeError();

// Matrices.
void glcMatrixMode(uint32_t mode);
void glcLoadIdentity();
void glcPushMatrix();
void glcPopMatrix();
void glcMultMatrix(const GlcMatrix& m);
void glcTranslate(float x, float y, float z);
void glcRotate(float angle, float x, float y, float z);
void glcOrtho(double left, double right, double bottom, double top, double zNear, double zFar);
void glcPerspective(double fovy, double aspect, double zNear, double zFar);
void glcLookAt(double eyeX, double eyeY, double eyeZ, double centreX, double centreY, double centreZ,
               double upX, double upY, double upZ);
const GlcMatrix& glcTop(uint32_t mode);
uint32_t glcCurrentMatrixMode();
int32_t glcStackDepth(uint32_t mode);

// Immediate mode.
void glcBegin(uint32_t mode);
void glcEnd();
void glcVertex(float x, float y, float z);
void glcColour(float r, float g, float b, float a);
void glcTexCoord(float s, float t);

// Display lists: geometry, colour, texture coordinate, matrix and list calls are recorded.
uint32_t glcGenLists(int32_t range);
void glcDeleteLists(uint32_t list, int32_t range);
bool glcIsList(uint32_t list);
void glcNewList(uint32_t list, uint32_t mode);
void glcEndList();
void glcCallList(uint32_t list);
void glcCallLists(int32_t n, uint32_t type, const void* lists);
void glcListBase(uint32_t base);
