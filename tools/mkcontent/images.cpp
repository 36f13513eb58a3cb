// The title card and the smiley: 128 x 128 grey images, run-length encoded
// true-colour files with a version 2 footer.
#include "content.h"

#include <cmath>
#include <cstring>

namespace {

const int SIZE = 128;

// 5 x 7 capitals, top row first; drawn twice as tall.
struct Glyph {
    char letter;
    const char* rows[7];
};
const Glyph glyphs[] = {
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'P', {"####.", "#...#", "#...#", "####.", "#....", "#....", "#...."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
};

const char* CAPTION = "MARLO PRESENTS";

// Outline: columns 15..109, rows 53..76 counted from the bottom.
const int BOX_LEFT = 15, BOX_RIGHT = 109, BOX_BOTTOM = 53, BOX_TOP = 76;

// Type 10 file: runs of equal pixels become run packets, the rest raw
// packets; no packet crosses a scan line.
Bytes encodeTga(const std::vector<uint8_t>& grey) {
    Bytes out = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    put16(out, SIZE);
    put16(out, SIZE);
    out.push_back(24);
    out.push_back(0);
    for (int y = 0; y < SIZE; y++) {
        const uint8_t* row = &grey[y * SIZE];
        int x = 0;
        while (x < SIZE) {
            int run = 1;
            while (x + run < SIZE && run < 128 && row[x + run] == row[x]) run++;
            if (run >= 2) {
                out.push_back(static_cast<uint8_t>(127 + run));
                for (int c = 0; c < 3; c++) out.push_back(row[x]);
                x += run;
                continue;
            }
            int raw = 1;
            while (x + raw < SIZE && raw < 128 &&
                   !(x + raw + 1 < SIZE && row[x + raw] == row[x + raw + 1]))
                raw++;
            out.push_back(static_cast<uint8_t>(raw - 1));
            for (int i = 0; i < raw; i++)
                for (int c = 0; c < 3; c++) out.push_back(row[x + i]);
            x += raw;
        }
    }
    for (int i = 0; i < 8; i++) out.push_back(0);   // no extension area, no developer area
    const char* signature = "TRUEVISION-XFILE.";
    out.insert(out.end(), signature, signature + std::strlen(signature) + 1);
    return out;
}

// Fraction of an 8 x 8 grid of points inside a shape, as a grey level.
template <typename Inside>
uint8_t coverage(int px, int py, Inside inside) {
    int count = 0;
    for (int j = 0; j < 8; j++)
        for (int i = 0; i < 8; i++)
            if (inside(px + (i + 0.5) / 8, py + (j + 0.5) / 8)) count++;
    return static_cast<uint8_t>((count * 255 + 32) / 64);
}

}  // namespace

std::vector<uint8_t> titleCardPixels() {
    std::vector<uint8_t> g(SIZE * SIZE, 0);
    for (int x = BOX_LEFT; x <= BOX_RIGHT; x++) g[BOX_BOTTOM * SIZE + x] = g[BOX_TOP * SIZE + x] = 255;
    for (int y = BOX_BOTTOM; y <= BOX_TOP; y++) g[y * SIZE + BOX_LEFT] = g[y * SIZE + BOX_RIGHT] = 255;
    int count = static_cast<int>(std::strlen(CAPTION));
    int width = count * 6 - 1;
    int left = BOX_LEFT + 1 + (BOX_RIGHT - BOX_LEFT - 1 - width) / 2;
    int top = BOX_TOP - 1 - (BOX_TOP - BOX_BOTTOM - 1 - 14) / 2;   // first row of the letters
    for (int i = 0; i < count; i++) {
        for (const Glyph& glyph : glyphs) {
            if (glyph.letter != CAPTION[i]) continue;
            for (int r = 0; r < 7; r++)
                for (int c = 0; c < 5; c++)
                    if (glyph.rows[r][c] == '#')
                        for (int d = 0; d < 2; d++) g[(top - 2 * r - d) * SIZE + left + 6 * i + c] = 255;
        }
    }
    return g;
}

std::vector<uint8_t> smileyPixels() {
    // Face centred on x = 65.5: eyes reach row 98, the mouth's caps columns
    // 9 and 121 and its lowest point row 29.
    const double cx = 65.5, cy = 98.4, radius = 64, half = 5;
    const double reach = 51.1;                         // cap centres from cx
    const double capY = cy - std::sqrt(radius * radius - reach * reach);
    const double limit = (capY - cy) / radius;         // sine of the arc's end angle
    auto mouth = [&](double x, double y) {
        double dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
        double inner = radius - half, outer = radius + half;
        if (d2 >= inner * inner && d2 <= outer * outer && dy < 0 && dy * dy >= limit * limit * d2) return true;
        for (int side = -1; side <= 1; side += 2) {
            double ex = x - (cx + side * reach), ey = y - capY;
            if (ex * ex + ey * ey <= half * half) return true;
        }
        return false;
    };
    auto eyes = [&](double x, double y) {
        if (y < 84.6 || y > 98.6) return false;
        return (x >= 37.3 && x <= 51.3) || (x >= 79.7 && x <= 93.7);
    };
    std::vector<uint8_t> g(SIZE * SIZE, 0);
    for (int y = 0; y < SIZE; y++)
        for (int x = 0; x < SIZE; x++)
            g[y * SIZE + x] = coverage(x, y, [&](double px, double py) { return mouth(px, py) || eyes(px, py); });
    return g;
}

Bytes buildTitleCard() { return encodeTga(titleCardPixels()); }
Bytes buildSmiley() { return encodeTga(smileyPixels()); }
