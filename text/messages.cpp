// Message screen drawn over every main-phase frame.
#include "text/messages.h"
#include <cstring>
#include "data/messages.h"
#include "platform/gl.h"
#include "assets/demo_state.h"
#include "text/font.h"

MessageScreenState messageScreen{};

void messageScreenReset() {
    messageScreen = MessageScreenState{};
}

namespace {

void callText(const char* text) {
    glCallLists(static_cast<GLsizei>(std::strlen(text)), GL_UNSIGNED_BYTE, text);
}

}  // namespace

void drawMessages() {
    messageScreen.textTime = messageScreen.textTime + (frameTime - prevFrameTime);

    glPushMatrix();
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    gluOrtho2D(0.0, 640.0, 480.0, 0.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glListBase(demo.textListBase);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBindTexture(GL_TEXTURE_2D, fontTexture);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);

    glColor4f(0.0f, 0.0f, 0.0f, 0.6f);
    glBegin(GL_QUADS);
    glColor4f(0.0f, 0.0f, 0.0f, 0.6f); glVertex2f(120.0f, 0.0f);
    glColor4f(0.0f, 0.0f, 0.0f, 0.0f); glVertex2f(640.0f, 0.0f);
    glColor4f(0.0f, 0.0f, 0.0f, 0.0f); glVertex2f(640.0f, 480.0f);
    glColor4f(0.0f, 0.0f, 0.0f, 0.6f); glVertex2f(120.0f, 480.0f);
    glEnd();

    // Glyphs add the square of their colour, so the black cells add nothing.
    glBlendFunc(GL_SRC_COLOR, GL_ONE);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glLoadIdentity();
    glTranslatef(130.0f, 70.0f, 0.0f);
    glListBase(titleListBase);
    callText(messageTitle);
    glListBase(demo.textListBase);

    for (int32_t i = 0; i < 15; ++i) {
        glLoadIdentity();
        glTranslatef(0.0f, static_cast<float>(19 * i), 0.0f);
        glTranslatef(130.0f, 100.0f, 0.0f);
        // Clamped by GL: line i fades in between 4 + 0.2 i and 5 + 0.2 i seconds.
        const float grey = static_cast<float>(messageScreen.textTime - 4.0 - 0.2 * i);
        glColor3f(grey, grey, grey);
        callText(messageLines[i]);
    }

    glEnable(GL_DEPTH_TEST);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
