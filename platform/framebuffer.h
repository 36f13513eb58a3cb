// An off-screen picture with colour, depth and stencil like a window's, for
// the paths that draw away from the window on Linux: the letterbox, offline
// capture and the GL tests. Every call needs a current GL context.
#pragma once
#include <cstdint>

struct Framebuffer {
    uint32_t name;           // 0: none
    uint32_t colour;
    uint32_t depthStencil;
    int32_t width;
    int32_t height;
};

// Whether the current context has framebuffer objects and blits; ask
// again for a new context, and call nothing else below without them.
bool framebufferSupported();
// Makes one of this size and binds it; on failure nothing is left behind,
// the window's framebuffer is bound and *target is empty.
bool framebufferCreate(Framebuffer* target, int32_t width, int32_t height);
// Binds the window's framebuffer and deletes this one; an empty one is fine.
void framebufferRelease(Framebuffer* target);
// Draws into it (null: into the window).
void framebufferBind(const Framebuffer* target);
// Copies the whole picture into the window at (x, y), counted from the
// bottom left, and leaves the window bound for drawing.
void framebufferBlitToWindow(const Framebuffer* source, int32_t x, int32_t y);
