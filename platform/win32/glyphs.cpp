// Glyph atlas (placeholder until the font builder lands).
#include "platform/platform.h"

int platRenderGlyphAtlas(const char*, uint8_t*) { return -2; }
