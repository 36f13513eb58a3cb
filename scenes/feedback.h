// Render-to-texture feedback: each pass draws a scene into a 512 x 512
// region, lays the previous result over it at 60 percent and keeps the blend
// in the render target, which is then stretched over the window.
#pragma once
#include <cstdint>

typedef int (*SceneCallback)();

bool createRenderTarget();
bool createBlankTexture(uint32_t* texture, int32_t width, int32_t height, int32_t components,
                        uint32_t format, int32_t minFilter, int32_t magFilter);
void renderToTexture(SceneCallback scene);
void drawRenderTarget();

// The scene region is an off-screen framebuffer when the GL offers one
// (created by createRenderTarget), otherwise the lower left of the back buffer.
struct FeedbackState {
    bool allowFramebuffer;   // clear to force the back-buffer region
};
extern FeedbackState feedback;
void feedbackReset();
bool feedbackUsesFramebuffer();
