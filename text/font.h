// The bitmap font: a 256 x 256 glyph atlas and two sets of glyph display lists.
#pragma once
#include <cstdint>

extern uint32_t titleListBase;   // 255 lists of 32-unit glyphs, advance 12
extern uint32_t fontTexture;     // the atlas lives in the default texture object

enum { FONT_LIST_COUNT = 255 };

// Needs a current GL context. 0, or -2 when the glyphs cannot be rendered.
int buildFont();
