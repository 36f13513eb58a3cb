// The timeline, overlays, message screen, feedback effect and model scene in
// a real GL context. Each "window" is a framebuffer object of the wanted size,
// so its pixels are defined whatever the window system does with a hidden window.
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>
#include <cmath>
#include <cstdlib>
#include <vector>
#include "platform/framebuffer.h"
#include "scenes/feedback.h"
#include "scenes/model_scene.h"
#include "shell/demo.h"
#include "shell/timeline.h"
#include "tests/box_recorder.h"
#include "text/font.h"
#include "text/messages.h"
#include "text/overlay.h"

namespace {

struct Rgb {
    int r, g, b;
};

uint32_t fakeTicks = 1000;
uint32_t readFakeTicks() {
    return fakeTicks;
}

const PlatWindowDesc offscreen = {":)", 640, 480, PLAT_OFFSCREEN};
const PlatWindowCallbacks noCallbacks = {nullptr, nullptr, nullptr};
Framebuffer screen{};
GLuint whiteTexture = 0;

// Replaces the "window" by an off-screen one of the given size.
void useScreen(int32_t width, int32_t height) {
    framebufferRelease(&screen);
    ASSERT_TRUE(framebufferCreate(&screen, width, height));
    screenWidth = width;
    screenHeight = height;
    resizeViewport();
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
}

// x, y counted from the top left, like the overlay space.
Rgb pixel(int x, int y) {
    uint8_t p[4] = {0, 0, 0, 0};
    glReadPixels(x, screenHeight - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}

std::vector<uint8_t> screenPixels() {
    std::vector<uint8_t> all(static_cast<size_t>(screenWidth) * screenHeight * 4);
    glReadPixels(0, 0, screenWidth, screenHeight, GL_RGBA, GL_UNSIGNED_BYTE, all.data());
    return all;
}

GLuint solidTexture(uint8_t r, uint8_t g, uint8_t b) {
    uint8_t texels[4 * 4 * 3];
    for (int i = 0; i < 16; ++i) {
        texels[i * 3] = r;
        texels[i * 3 + 1] = g;
        texels[i * 3 + 2] = b;
    }
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 4, 4, 0, GL_RGB, GL_UNSIGNED_BYTE, texels);
    return name;
}

GLint stackDepth(GLenum which) {
    GLint depth = 0;
    glGetIntegerv(which, &depth);
    return depth;
}

class GlEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        demo.window = platOpenWindow(&offscreen, &noCallbacks);
        ASSERT_NE(demo.window, nullptr);
        ASSERT_TRUE(framebufferSupported());
        platSetTickSource(readFakeTicks);
        static const BoxRecorder recorder;
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        camera = Camera{{0.0f, 0.0f, 50.0f}, {0.0f, 0.0f, 0.0f}, 0};
        whiteTexture = solidTexture(255, 255, 255);
        demo.imageTextures[0] = whiteTexture;
        demo.imageTextures[1] = whiteTexture;
        demo.textures[3] = whiteTexture;
    }
};

const auto* environment = ::testing::AddGlobalTestEnvironment(new GlEnvironment);

void expectRgb(Rgb got, int r, int g, int b, int tolerance, const char* where) {
    EXPECT_NEAR(got.r, r, tolerance) << where;
    EXPECT_NEAR(got.g, g, tolerance) << where;
    EXPECT_NEAR(got.b, b, tolerance) << where;
}

}  // namespace

TEST(RenderFrame, UnloadedFrameOnlyTakesClocks) {
    useScreen(640, 480);
    glClearColor(1, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0, 0, 0, 0);
    loaded = 0;
    timeline.startTime = 0.0f;
    fakeTicks = 5000;
    renderFrame(demo.window);
    EXPECT_EQ(timeline.startTime, 5.0f);
    EXPECT_EQ(demo.demoTime, 0.0f);
    fakeTicks = 13000;
    renderFrame(demo.window);
    EXPECT_EQ(demo.demoTime, 8.0f);
    EXPECT_EQ(musicStarted, 0);   // never started while not loaded
    expectRgb(pixel(320, 240), 255, 0, 0, 0, "not cleared");
}

TEST(RenderFrame, IntroTimeline) {
    useScreen(640, 480);
    loaded = 1;
    timeline.startTime = 0.0f;
    musicStarted = 0;
    frameTime = -1.0f;
    // Where the first smiley of the ring sits at demo time t.
    auto ringPoint = [](double t) {
        const double a = t * 16.0 * M_PI / 180.0;
        return std::pair<int, int>(static_cast<int>(320 + 100 * std::cos(a)),
                                   static_cast<int>(240 + 100 * std::sin(a)));
    };

    fakeTicks = 1000;
    renderFrame(demo.window);
    EXPECT_EQ(timeline.startTime, 1.0f);
    expectRgb(pixel(10, 10), 0, 0, 0, 0, "first frame");

    fakeTicks = 3000;   // exactly 2 s: still black
    renderFrame(demo.window);
    EXPECT_EQ(demo.demoTime, 2.0f);
    EXPECT_EQ(frameTime, -1.0f);
    expectRgb(pixel(10, 10), 0, 0, 0, 0, "at 2 s");

    fakeTicks = 3020;
    renderFrame(demo.window);
    EXPECT_EQ(frameTime, demo.demoTime);
    expectRgb(pixel(10, 10), 0, 0, 255, 0, "card");
    expectRgb(pixel(320, 240), 255, 255, 255, 0, "title image");
    expectRgb(pixel(250, 240), 0, 0, 255, 0, "left of the title image");

    fakeTicks = 8000;   // exactly 7 s: no music, no ring
    renderFrame(demo.window);
    EXPECT_EQ(musicStarted, 0);
    auto [x7, y7] = ringPoint(7.0);
    expectRgb(pixel(x7, y7), 0, 0, 255, 0, "no ring at 7 s");

    fakeTicks = 8020;
    renderFrame(demo.window);
    EXPECT_EQ(musicStarted, 1);
    EXPECT_EQ(demo.songPosition, 0.0f);
    auto [x, y] = ringPoint(demo.demoTime);
    expectRgb(pixel(x, y), 255, 255, 255, 0, "ring after 7 s");
    // The ring's ten quads are 36 degrees apart.
    auto [xo, yo] = ringPoint(demo.demoTime + 18.0 / 16.0);
    expectRgb(pixel(xo, yo), 0, 0, 255, 0, "between two smileys");
}

TEST(Overlay, StateAndRingEdgeCases) {
    useScreen(640, 480);
    glMatrixMode(GL_MODELVIEW);
    const GLint modelDepth = stackDepth(GL_MODELVIEW_STACK_DEPTH);
    const GLint projectionDepth = stackDepth(GL_PROJECTION_STACK_DEPTH);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_LIGHTING);
    begin2D();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelDepth + 1);
    EXPECT_EQ(stackDepth(GL_PROJECTION_STACK_DEPTH), projectionDepth + 1);

    demo.demoTime = 0.0f;
    glColor4f(1, 1, 1, 1);
    drawRing(320, 240, 30, 0);
    drawRing(320, 240, 30, -3);
    EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelDepth + 1);
    const std::vector<uint8_t> all = screenPixels();
    EXPECT_EQ(std::count(all.begin(), all.end(), 0), static_cast<long>(all.size())) << "count <= 0 draws";

    drawRing(320, 240, 30, 1);   // one quad, to the right of the centre at time 0
    expectRgb(pixel(420, 240), 255, 255, 255, 0, "single quad");
    expectRgb(pixel(220, 240), 0, 0, 0, 0, "left of centre");
    expectRgb(pixel(320, 240), 0, 0, 0, 0, "centre");
    drawRing(320, 240, 120, 1);  // larger than the radius: covers the centre
    expectRgb(pixel(320, 240), 255, 255, 255, 0, "big quad");

    end2D();
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelDepth);
    EXPECT_EQ(stackDepth(GL_PROJECTION_STACK_DEPTH), projectionDepth);
    EXPECT_TRUE(glIsEnabled(GL_BLEND)) << "end2D restores no enables";
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST(Overlay, IntroCardScalesWithTheWindowAndLeavesItsState) {
    useScreen(320, 240);   // half the overlay space in each direction
    begin2D();
    drawIntroCard();
    EXPECT_TRUE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint source = 0, destination = 0;
    glGetIntegerv(GL_BLEND_SRC, &source);
    glGetIntegerv(GL_BLEND_DST, &destination);
    EXPECT_EQ(source, GL_ONE);
    EXPECT_EQ(destination, GL_ONE_MINUS_SRC_COLOR);
    float colour[4] = {0, 0, 0, 0};
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0] + colour[1] + colour[2] + colour[3], 4.0f);
    end2D();
    // The 128-unit image spans 64 pixels here: 128..192 by 88..152.
    expectRgb(pixel(130, 90), 255, 255, 255, 0, "image corner");
    expectRgb(pixel(190, 150), 255, 255, 255, 0, "image corner");
    expectRgb(pixel(125, 120), 0, 0, 255, 0, "left of the image");
    expectRgb(pixel(160, 155), 0, 0, 255, 0, "below the image");
}

TEST(Messages, ClockShadeAndFadeIn) {
    useScreen(640, 480);
    if (buildFont() != 0)
        GTEST_SKIP() << "no font on this machine";
    glMatrixMode(GL_MODELVIEW);
    const GLint modelDepth = stackDepth(GL_MODELVIEW_STACK_DEPTH);
    const GLint projectionDepth = stackDepth(GL_PROJECTION_STACK_DEPTH);

    auto drawOver = [](float grey) {
        glClearColor(grey, grey, grey, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glClearColor(0, 0, 0, 0);
        drawMessages();
    };
    // Glyphs add light; the shade alone depends on x only (give or take a
    // level where its two triangles meet).
    auto brighter = [](int x, int y) { return pixel(x, y).r > pixel(x, 460).r + 16; };
    auto lineShows = [&](int i) {
        const int middle = 100 + 19 * i + 9;
        for (int x = 130; x < 584; ++x)
            if (brighter(x, middle))
                return true;
        return false;
    };

    messageScreen.textTime = 0.0f;
    prevFrameTime = 30.0f;
    frameTime = 30.02f;
    drawOver(0.5f);
    EXPECT_NEAR(messageScreen.textTime, 0.02f, 1e-5);
    EXPECT_EQ(stackDepth(GL_MODELVIEW_STACK_DEPTH), modelDepth);
    EXPECT_EQ(stackDepth(GL_PROJECTION_STACK_DEPTH), projectionDepth);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    // Shade: 60 percent darker at x = 120, untouched left of it and at the right edge.
    EXPECT_NEAR(pixel(60, 460).r, 128, 1);
    EXPECT_NEAR(pixel(121, 460).r, 52, 2);
    EXPECT_NEAR(pixel(639, 460).r, 128, 2);
    // The title is there at once, the lines are not.
    bool title = false;
    for (int x = 130; x < 340 && !title; ++x)
        title = brighter(x, 86);
    EXPECT_TRUE(title);
    EXPECT_FALSE(lineShows(0));

    // A stall advances the clock by the whole gap.
    prevFrameTime = 30.02f;
    frameTime = 34.5f;
    drawOver(0.5f);
    EXPECT_NEAR(messageScreen.textTime, 4.5f, 1e-5);
    EXPECT_TRUE(lineShows(0));
    EXPECT_FALSE(lineShows(3)) << "line 3 starts at 4.6 s";
    EXPECT_FALSE(lineShows(6));

    prevFrameTime = frameTime;
    frameTime += 3.0f;
    drawOver(0.5f);
    EXPECT_TRUE(lineShows(2));
    EXPECT_TRUE(lineShows(6));
    EXPECT_TRUE(lineShows(9));
    EXPECT_FALSE(lineShows(1)) << "blank lines draw nothing";
    EXPECT_FALSE(lineShows(4)) << "empty line";
    EXPECT_FALSE(lineShows(12));
}

namespace {

float sceneColour[3] = {1.0f, 0.5f, 0.25f};
float sceneShift = 0.0f;

// A square in the middle of the region (optionally moving) on black.
int testScene() {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_BLEND);
    glColor3fv(sceneColour);
    glBegin(GL_QUADS);
    glVertex2f(-0.5f + sceneShift, -0.5f);
    glVertex2f(0.5f + sceneShift, -0.5f);
    glVertex2f(0.5f + sceneShift, 0.5f);
    glVertex2f(-0.5f + sceneShift, 0.5f);
    glEnd();
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    return 1;
}

std::vector<uint8_t> targetTexels() {
    std::vector<uint8_t> texels(512 * 512 * 3);
    glBindTexture(GL_TEXTURE_2D, demo.renderTargetTexture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    return texels;
}

Rgb texel(const std::vector<uint8_t>& texels, int x, int yFromTop) {
    const size_t at = (static_cast<size_t>(511 - yFromTop) * 512 + x) * 3;
    return {texels[at], texels[at + 1], texels[at + 2]};
}

std::vector<uint8_t> runPasses(int passes) {
    for (int i = 0; i < passes; ++i) {
        sceneShift = 0.05f * static_cast<float>(i);
        glMatrixMode(GL_MODELVIEW);
        renderToTexture(testScene);
        drawRenderTarget();
    }
    return screenPixels();
}

}  // namespace

TEST(Feedback, BlankTargetFirstPassAndConvergence) {
    useScreen(640, 480);
    feedback.allowFramebuffer = true;
    ASSERT_TRUE(createRenderTarget());
    EXPECT_EQ(demo.renderTargetWidth, 512);
    EXPECT_EQ(demo.renderTargetHeight, 512);
    EXPECT_EQ(demo.renderTargetComponents, 3);
    EXPECT_EQ(demo.renderTargetFormat, static_cast<uint32_t>(GL_RGB));
    const std::vector<uint8_t> blank = targetTexels();
    EXPECT_EQ(std::count(blank.begin(), blank.end(), 0), static_cast<long>(blank.size()));

    sceneShift = 0.0f;
    glMatrixMode(GL_MODELVIEW);
    renderToTexture(testScene);
    std::vector<uint8_t> t = targetTexels();
    expectRgb(texel(t, 256, 256), 102, 51, 26, 1, "first pass: 40 percent of the scene");
    expectRgb(texel(t, 20, 20), 0, 0, 0, 0, "background");
    // Rows above a 480-pixel window are still the scene's, not undefined.
    if (feedbackUsesFramebuffer())
        expectRgb(texel(t, 256, 0), 0, 0, 0, 0, "top row");

    for (int i = 0; i < 10; ++i)
        renderToTexture(testScene);
    t = targetTexels();
    expectRgb(texel(t, 256, 256), 255, 128, 64, 3, "static scene converges");

    // Back to the full window: the target stretched over it.
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    drawRenderTarget();
    expectRgb(pixel(320, 240), 255, 128, 64, 3, "window centre");
    expectRgb(pixel(100, 240), 0, 0, 0, 0, "window left");
}

TEST(Feedback, OffscreenRegionMatchesBackBuffer) {
    feedback.allowFramebuffer = true;
    useScreen(640, 520);
    createRenderTarget();
    if (!feedbackUsesFramebuffer())
        GTEST_SKIP() << "this GL offers no framebuffer objects";
    const std::vector<uint8_t> offscreen = runPasses(6);

    feedback.allowFramebuffer = false;
    useScreen(640, 520);
    createRenderTarget();
    EXPECT_FALSE(feedbackUsesFramebuffer());
    const std::vector<uint8_t> backBuffer = runPasses(6);
    feedback.allowFramebuffer = true;

    ASSERT_EQ(offscreen.size(), backBuffer.size());
    size_t differing = 0;
    for (size_t i = 0; i < offscreen.size(); ++i)
        if (std::abs(int(offscreen[i]) - int(backBuffer[i])) > 1)
            ++differing;
    EXPECT_EQ(differing, 0u);
}

TEST(ModelScene, PreparesOnceAndCountsFrames) {
    useScreen(640, 480);
    setProjection();
    const float x0 = modelScene.spinX, y0 = modelScene.spinY, z0 = modelScene.spinZ;
    EXPECT_FALSE(modelScene.ready);
    modelSceneFrame();
    EXPECT_TRUE(modelScene.ready);
    EXPECT_TRUE(recordedBoxes.empty()) << "the embedded model loads";
    EXPECT_GT(demo.model.commandCount, 0);
    const uint32_t target = demo.renderTargetTexture;
    fakeTicks += 100000;   // the scene ignores the clock
    modelSceneFrame();
    modelSceneFrame();
    EXPECT_EQ(demo.renderTargetTexture, target) << "prepared only once";
    float x = x0, y = y0, z = z0;
    for (int i = 0; i < 3; ++i) {
        x += 3.1f;
        y += 2.2f;
        z += 4.1f;
    }
    EXPECT_EQ(modelScene.spinX, x);
    EXPECT_EQ(modelScene.spinY, y);
    EXPECT_EQ(modelScene.spinZ, z);

    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 640);
    EXPECT_EQ(viewport[3], 480);
    // The cross is drawn in its flat dark blue somewhere in the picture.
    const std::vector<uint8_t> all = screenPixels();
    bool blue = false;
    for (size_t i = 0; i < all.size() && !blue; i += 4)
        blue = all[i + 2] > 60 && all[i + 2] > 2 * all[i] + 10;
    EXPECT_TRUE(blue);
}
