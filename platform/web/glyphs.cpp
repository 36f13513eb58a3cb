// Glyph atlas drawn with the page's 2D canvas, by the same cell rules as the
// other backends: the cell height (ascent plus descent) is 16 pixels, each
// glyph is centred on its advance, hung from the cell top at the ascent and
// clipped to its cell. Line breaks and the lone '&' draw nothing. Coverage
// is read from dark glyphs on a light ground: browsers draw light-on-dark
// text heavier, which the show's own blending would thicken further.
#include <emscripten.h>

#include "platform/platform.h"

namespace {

EM_JS(int, drawAtlas, (const char* faceName, uint8_t* bgr), {
    const CELL = 16, ATLAS = 256;
    let canvas;
    try {
        canvas = document.createElement('canvas');
    } catch (e) {
        return -2;
    }
    canvas.width = ATLAS;
    canvas.height = ATLAS;
    const g = canvas.getContext('2d');
    if (!g)
        return -2;
    const face = UTF8ToString(faceName).split(String.fromCharCode(34)).join("");
    const quote = String.fromCharCode(34);
    const font = (px) => "bold " + px + "px " + quote + face + quote + ", Arial, sans-serif";
    // The size whose ascent plus descent is one cell.
    g.font = font(100);
    const probe = g.measureText('Hg');
    const total = probe.fontBoundingBoxAscent + probe.fontBoundingBoxDescent;
    const px = total > 0 ? Math.max(1, Math.round(CELL * 100 / total)) : 14;
    g.font = font(px);
    const metrics = g.measureText('Hg');
    const ascent = Math.round(metrics.fontBoundingBoxAscent || px * 0.9);
    g.fillStyle = '#fff';
    g.fillRect(0, 0, ATLAS, ATLAS);
    g.fillStyle = '#000';
    g.textBaseline = 'alphabetic';
    for (let code = 0; code < 256; ++code) {
        if (code == 0x0A || code == 0x0D || code == 0x26)
            continue;
        const ch = String.fromCharCode(code);
        const advance = Math.round(g.measureText(ch).width);
        const left = (code % 16) * CELL, top = Math.floor(code / 16) * CELL;
        g.save();
        g.beginPath();
        g.rect(left, top, CELL, CELL);
        g.clip();
        g.fillText(ch, left + Math.trunc((CELL - advance) / 2), top + ascent);
        g.restore();
    }
    const pixels = g.getImageData(0, 0, ATLAS, ATLAS).data;
    for (let y = 0; y < ATLAS; ++y) {
        const out = bgr + (ATLAS - 1 - y) * ATLAS * 3;   // bottom-up
        for (let x = 0; x < ATLAS; ++x) {
            const v = 255 - pixels[(y * ATLAS + x) * 4];
            HEAPU8[out + x * 3] = v;
            HEAPU8[out + x * 3 + 1] = v;
            HEAPU8[out + x * 3 + 2] = v;
        }
    }
    return 0;
});

}  // namespace

bool platRenderGlyphAtlas(const char* face, uint8_t* bgr) {
    return drawAtlas(face ? face : "Arial", bgr) == 0;
}
