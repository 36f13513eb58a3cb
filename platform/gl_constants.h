// GL enumerants the show and the browser's GL subset need by value: those past
// OpenGL 1.1 (framebuffer objects, BGR, edge clamping, buffers and shaders,
// which the Windows GL headers lack) and the 1.1 ones that the subset's core
// and the GL-free image decoder use without a GL header. Prefixed, so they
// never clash with a system header's macros.
#pragma once
#include <cstdint>

enum : uint32_t {
    // OpenGL 1.1
    GLC_NO_ERROR = 0,
    GLC_TRIANGLES = 0x0004,
    GLC_TRIANGLE_STRIP = 0x0005,
    GLC_TRIANGLE_FAN = 0x0006,
    GLC_QUADS = 0x0007,
    GLC_QUAD_STRIP = 0x0008,
    GLC_POLYGON = 0x0009,
    GLC_INVALID_ENUM = 0x0500,
    GLC_INVALID_VALUE = 0x0501,
    GLC_INVALID_OPERATION = 0x0502,
    GLC_STACK_OVERFLOW = 0x0503,
    GLC_STACK_UNDERFLOW = 0x0504,
    GLC_COMPILE = 0x1300,
    GLC_COMPILE_AND_EXECUTE = 0x1301,
    GLC_BYTE = 0x1400,
    GLC_UNSIGNED_BYTE = 0x1401,
    GLC_SHORT = 0x1402,
    GLC_UNSIGNED_SHORT = 0x1403,
    GLC_INT = 0x1404,
    GLC_UNSIGNED_INT = 0x1405,
    GLC_MODELVIEW = 0x1700,
    GLC_PROJECTION = 0x1701,
    GLC_RGB = 0x1907,
    GLC_RGBA = 0x1908,
    GLC_CLAMP = 0x2900,

    // Later versions and extensions
    GLC_RGB8 = 0x8051,
    GLC_RGBA8 = 0x8058,
    GLC_BGR = 0x80E0,
    GLC_BGRA = 0x80E1,
    GLC_CLAMP_TO_EDGE = 0x812F,
    GLC_DEPTH_COMPONENT16 = 0x81A5,
    GLC_DEPTH_COMPONENT24 = 0x81A6,
    GLC_DEPTH_STENCIL_ATTACHMENT = 0x821A,
    GLC_DEPTH_STENCIL = 0x84F9,
    GLC_ARRAY_BUFFER = 0x8892,
    GLC_STREAM_DRAW = 0x88E0,
    GLC_DYNAMIC_DRAW = 0x88E8,
    GLC_DEPTH24_STENCIL8 = 0x88F0,
    GLC_FRAGMENT_SHADER = 0x8B30,
    GLC_VERTEX_SHADER = 0x8B31,
    GLC_COMPILE_STATUS = 0x8B81,
    GLC_LINK_STATUS = 0x8B82,
    GLC_FRAMEBUFFER_BINDING = 0x8CA6,
    GLC_RENDERBUFFER_BINDING = 0x8CA7,
    GLC_FRAMEBUFFER_COMPLETE = 0x8CD5,
    GLC_COLOR_ATTACHMENT0 = 0x8CE0,
    GLC_DEPTH_ATTACHMENT = 0x8D00,
    GLC_STENCIL_ATTACHMENT = 0x8D20,
    GLC_FRAMEBUFFER = 0x8D40,
    GLC_RENDERBUFFER = 0x8D41,
};
