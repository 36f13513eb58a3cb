// Where the show picks the shape (Linux, the browser, the capture tool), its
// picture is the largest 4:3 rectangle of the drawable, centred between black
// bars. The Windows build draws over its whole client area and never uses this.
#pragma once
#include <cstdint>

struct PictureRect {
    int32_t x;        // left bar, pixels
    int32_t y;        // top bar, pixels (the bottom bar is the rest)
    int32_t width;
    int32_t height;
};

// w = floor(H * 4 / 3) wide and H high when that fits in W, else W wide and
// h = floor(W * 3 / 4) high; the left (top) bar is floor of half the spare.
inline PictureRect letterbox43(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0)
        return {0, 0, width > 0 ? width : 0, height > 0 ? height : 0};
    const int64_t wide = static_cast<int64_t>(height) * 4 / 3;
    if (wide <= width) {
        const int32_t w = static_cast<int32_t>(wide);
        return {(width - w) / 2, 0, w, height};
    }
    const int32_t h = static_cast<int32_t>(static_cast<int64_t>(width) * 3 / 4);
    return {0, (height - h) / 2, width, h};
}

// The bottom bar in GL's bottom-up window coordinates: the viewport's y.
inline int32_t letterboxGlY(const PictureRect& picture, int32_t height) {
    return height - picture.y - picture.height;
}
