// The frame timeline: clocks, music start, and the intro or main phase.
#include "shell/timeline.h"
#include <cmath>
#include "music/player.h"
#include "platform/gl.h"
#include "scenes/model_scene.h"
#include "shell/demo.h"
#include "text/messages.h"
#include "text/overlay.h"

TimelineState timeline{};

void timelineReset() {
    timeline = TimelineState{};
}

namespace {

double tickSeconds() {
    return static_cast<double>(platTickCount()) * 0.001;
}

void drawIntro(const FrameDecision& decision) {
    if (!decision.introCard)
        return;
    frameTime = demo.demoTime;
    begin2D();
    drawIntroCard();
    if (decision.introRing) {
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        drawRing(320.0f, 240.0f, 30.0f, 10);
    }
    end2D();
}

// Ten columns of ten quads; the texture coordinate runs on down each column,
// so every column is one strip that slides and stretches with time.
void drawWaveGrid(float t) {
    for (int32_t c = 0; c < 10; ++c) {
        float v = static_cast<float>(std::sin(t * 0.25) * std::sin(t - 6.0 * c));
        const float x0 = static_cast<float>(80 * c);
        const float x1 = x0 + 80.0f;
        for (int32_t r = 0; r < 10; ++r) {
            const float y0 = static_cast<float>(50 * r);
            const float y1 = y0 + 50.0f;
            glBegin(GL_QUADS);
            glTexCoord2f(0.0f, v); glVertex2f(x0, y0);
            glTexCoord2f(1.0f, v); glVertex2f(x1, y0);
            v = static_cast<float>(v + std::sin(r + static_cast<double>(t)));
            glTexCoord2f(1.0f, v); glVertex2f(x1, y1);
            glTexCoord2f(0.0f, v); glVertex2f(x0, y1);
            glEnd();
        }
    }
}

void drawMain() {
    prevFrameTime = frameTime;
    frameTime = demo.demoTime;
    modelSceneFrame();

    const float t = demo.demoTime;
    begin2D();
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBindTexture(GL_TEXTURE_2D, demo.textures[3]);
    drawWaveGrid(t);

    glColor4f(0.5f, 0.5f, 0.5f, 0.5f);
    glEnable(GL_BLEND);
    drawRing(30.0f, 440.0f, static_cast<float>(80.0 + 30.0 * std::sin(0.5 * t)), 10);
    drawRing(70.0f, 200.0f, static_cast<float>(70.0 + 30.0 * std::sin(0.5 * t + 5.0)), 10);
    drawRing(60.0f, 80.0f, static_cast<float>(60.0 + 30.0 * std::sin(0.5 * t + 2.0)), 10);
    end2D();

    drawMessages();
}

}  // namespace

float songPositionOf(int32_t order, int32_t row) {
    return static_cast<float>(order + row * 0.001);
}

bool inMainPhase(float songPosition) {
    return !(songPosition < 1.0f);
}

FrameDecision decideFrame(float demoTime, float songPosition, int32_t musicStarted) {
    FrameDecision d;
    d.startMusic = demoTime > 7.0f && !musicStarted;
    d.mainPhase = inMainPhase(songPosition);
    d.introCard = demoTime > 2.0f;
    d.introRing = demoTime > 7.0f;
    return d;
}

int renderFrame(PlatWindow* window) {
    if (timeline.startTime == 0.0f)
        timeline.startTime = static_cast<float>(tickSeconds());
    if (musicStarted) {
        demo.songOrder = playerGetOrder(demo.player);
        demo.songRow = playerGetRow(demo.player);
    } else {
        demo.songOrder = 0;
        demo.songRow = 0;
    }
    demo.songPosition = songPositionOf(demo.songOrder, demo.songRow);
    demo.demoTime = static_cast<float>(tickSeconds() - timeline.startTime);

    if (loaded == 1) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        // The position read above, from before any start, picks the phase.
        const FrameDecision decision = decideFrame(demo.demoTime, demo.songPosition, musicStarted);
        if (decision.startMusic) {
            playerStart(demo.player);
            musicStarted = 1;
        }
        if (decision.mainPhase)
            drawMain();
        else
            drawIntro(decision);
    }
    presentFrame(window);
    return 0;
}
