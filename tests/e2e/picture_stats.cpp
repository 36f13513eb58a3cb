// Prints what a window grab shows, as fractions of its pixels, for the
// end-to-end scripts: picture_stats FILE.png
//   size=WxH black=F blue=F white=F bar=F ring=F
// black: all channels dark; blue: the title card's blue; white: bright grey,
// what shows through when nothing was ever presented (the test's root window
// is white); bar: orange fill of the loading bar in its band; ring: share of
// the annulus around the title card (in the 640 x 480 overlay space) that is
// not blue, i.e. drawn over by the spinning smileys.
#include <png.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: picture_stats FILE.png\n");
        return 2;
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, argv[1])) {
        std::fprintf(stderr, "picture_stats: cannot read %s: %s\n", argv[1], image.message);
        return 1;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "picture_stats: cannot decode %s: %s\n", argv[1], image.message);
        return 1;
    }
    const uint32_t w = image.width, h = image.height;
    if (w == 0 || h == 0) {
        std::fprintf(stderr, "picture_stats: empty image %s\n", argv[1]);
        return 1;
    }
    double black = 0, blue = 0, white = 0, bar = 0, barArea = 0, ring = 0, ringArea = 0;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const png_byte* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
            const int r = p[0], g = p[1], b = p[2];
            const bool isBlack = r < 16 && g < 16 && b < 16;
            const bool isBlue = b > 160 && r < 64 && g < 64;
            black += isBlack;
            blue += isBlue;
            white += r > 224 && g > 224 && b > 224;
            // Position in the 640 x 480 overlay space, y down.
            const double u = (x + 0.5) * 640.0 / w, v = (y + 0.5) * 480.0 / h;
            if (v > 233.0 && v < 247.0 && u > 13.0 && u < 627.0) {
                barArea += 1;
                bar += r > 200 && g > 60 && g < 160 && b < 60;
            }
            const double d = std::hypot(u - 320.0, v - 240.0);
            const bool inCard = std::fabs(u - 320.0) < 68.0 && std::fabs(v - 240.0) < 68.0;
            if (d > 75.0 && d < 125.0 && !inCard) {
                ringArea += 1;
                ring += !isBlue;
            }
        }
    }
    const double n = static_cast<double>(w) * h;
    std::printf("size=%ux%u black=%.4f blue=%.4f white=%.4f bar=%.4f ring=%.4f\n", w, h, black / n,
                blue / n, white / n, barArea ? bar / barArea : 0.0, ringArea ? ring / ringArea : 0.0);
    return 0;
}
