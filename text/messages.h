// The message screen: shade, title line and the fading message lines.
#pragma once

extern float textTime;   // seconds of main phase seen so far

void drawMessages();
