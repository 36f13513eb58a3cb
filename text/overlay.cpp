// Overlay mode and its quads.
#include "text/overlay.h"
#include "platform/gl.h"
#include "assets/demo_state.h"

void begin2D() {
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, 640.0, 480.0, 0.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void end2D() {
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

void drawIntroCard() {
    glBindTexture(GL_TEXTURE_2D, demo.imageTextures[0]);
    glColor4f(0.0f, 0.0f, 1.0f, 1.0f);
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f); glVertex2f(0.0f, 0.0f);
    glTexCoord2f(1.0f, 1.0f); glVertex2f(640.0f, 0.0f);
    glTexCoord2f(1.0f, 0.0f); glVertex2f(640.0f, 480.0f);
    glTexCoord2f(0.0f, 0.0f); glVertex2f(0.0f, 480.0f);
    glEnd();

    // Screen blend: black parts of the card keep the blue, white turns white.
    glEnable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 1.0f); glVertex2f(256.0f, 176.0f);
    glTexCoord2f(1.0f, 1.0f); glVertex2f(384.0f, 176.0f);
    glTexCoord2f(1.0f, 0.0f); glVertex2f(384.0f, 304.0f);
    glTexCoord2f(0.0f, 0.0f); glVertex2f(256.0f, 304.0f);
    glEnd();
}

void drawRing(float x, float y, float size, int32_t count) {
    glBindTexture(GL_TEXTURE_2D, demo.imageTextures[1]);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    glPushMatrix();
    glTranslatef(x, y, 0.0f);
    glPushMatrix();
    glRotatef(demo.demoTime * 16.0f, 0.0f, 0.0f, 1.0f);
    for (int32_t i = 0; i < count; ++i) {
        glBegin(GL_QUADS);
        glTexCoord2f(0.0f, 1.0f); glVertex2f(100.0f - size, -size);
        glTexCoord2f(1.0f, 1.0f); glVertex2f(100.0f + size, -size);
        glTexCoord2f(1.0f, 0.0f); glVertex2f(100.0f + size, size);
        glTexCoord2f(0.0f, 0.0f); glVertex2f(100.0f - size, size);
        glEnd();
        const float step = 360.0f / static_cast<float>(count);
        glRotatef(step, 0.0f, 0.0f, 1.0f);
    }
    glPopMatrix();
    glPopMatrix();
}
