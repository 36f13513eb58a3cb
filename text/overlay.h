// 2D overlay pass over a fixed 640 x 480 space (origin top left, y down)
// and the quads drawn in it: the intro card and the rings of smileys.
#pragma once
#include <cstdint>

void begin2D();
void end2D();
void drawIntroCard();
void drawRing(float x, float y, float size, int32_t count);
