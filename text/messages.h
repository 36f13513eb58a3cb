// The message screen: shade, title line and the fading message lines.
#pragma once

struct MessageScreenState {
    float textTime;   // seconds of main phase seen so far
};
extern MessageScreenState messageScreen;
void messageScreenReset();

void drawMessages();
