// What a window shows, as fractions of its pixels, for the end-to-end scripts.
//   picture_stats FILE.png
//   picture_stats --window ID [--save FILE.png]   (grabs the window from $DISPLAY)
//   picture_stats --ink FILE.png X0 Y0 X1 Y1      (text in a box: ink=LEFT..RIGHT or ink=none)
// prints: size=WxH black=F blue=F white=F bar=F ring=F
// black: all channels dark; blue: the title card's blue; white: bright grey,
// what shows through when nothing was ever presented (the test's root window
// is white); bar: orange fill of the loading bar in its band; ring: share of
// the annulus around the title card (in the 640 x 480 overlay space) that is
// not blue, i.e. drawn over by the spinning smileys.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool readPng(const char* path, Picture* p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path)) {
        std::fprintf(stderr, "picture_stats: cannot read %s: %s\n", path, image.message);
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    p->rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, p->rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "picture_stats: cannot decode %s: %s\n", path, image.message);
        return false;
    }
    p->width = image.width;
    p->height = image.height;
    return true;
}

bool writePng(const char* path, const Picture& p) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = p.width;
    image.height = p.height;
    image.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&image, path, 0, p.rgb.data(), 0, nullptr)) {
        std::fprintf(stderr, "picture_stats: cannot write %s: %s\n", path, image.message);
        return false;
    }
    return true;
}

int ignoreXErrors(Display*, XErrorEvent*) { return 0; }

bool grabWindow(const char* id, Picture* p) {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "picture_stats: cannot open the display\n");
        return false;
    }
    XSetErrorHandler(ignoreXErrors);
    Window window = static_cast<Window>(std::strtoul(id, nullptr, 0));
    XWindowAttributes attributes;
    XImage* image = nullptr;
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable &&
        attributes.width > 0 && attributes.height > 0)
        image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image || image->bits_per_pixel != 32) {
        std::fprintf(stderr, "picture_stats: cannot grab window %s\n", id);
        if (image)
            XDestroyImage(image);
        XCloseDisplay(display);
        return false;
    }
    p->width = image->width;
    p->height = image->height;
    p->rgb.resize(static_cast<size_t>(p->width) * p->height * 3);
    for (uint32_t y = 0; y < p->height; ++y)
        for (uint32_t x = 0; x < p->width; ++x) {
            const unsigned long v = XGetPixel(image, x, y);
            uint8_t* o = &p->rgb[(static_cast<size_t>(y) * p->width + x) * 3];
            o[0] = static_cast<uint8_t>((v & image->red_mask) >> __builtin_ctzl(image->red_mask));
            o[1] = static_cast<uint8_t>((v & image->green_mask) >> __builtin_ctzl(image->green_mask));
            o[2] = static_cast<uint8_t>((v & image->blue_mask) >> __builtin_ctzl(image->blue_mask));
        }
    XDestroyImage(image);
    XCloseDisplay(display);
    return true;
}

void printStats(const Picture& p) {
    const uint32_t w = p.width, h = p.height;
    double black = 0, blue = 0, white = 0, bar = 0, barArea = 0, ring = 0, ringArea = 0;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* c = &p.rgb[(static_cast<size_t>(y) * w + x) * 3];
            const int r = c[0], g = c[1], b = c[2];
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
}

// Columns of the leftmost and rightmost dark pixel in [x0, x1) x [y0, y1).
void printInk(const Picture& p, long x0, long y0, long x1, long y1) {
    long left = -1, right = -1;
    for (long y = y0 < 0 ? 0 : y0; y < y1 && y < static_cast<long>(p.height); ++y)
        for (long x = x0 < 0 ? 0 : x0; x < x1 && x < static_cast<long>(p.width); ++x) {
            const uint8_t* c = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
            if (c[0] < 80 && c[1] < 80 && c[2] < 80) {
                left = left < 0 || x < left ? x : left;
                right = x > right ? x : right;
            }
        }
    if (left < 0)
        std::printf("ink=none\n");
    else
        std::printf("ink=%ld..%ld\n", left, right);
}

}  // namespace

int main(int argc, char** argv) {
    Picture picture;
    if (argc == 7 && !std::strcmp(argv[1], "--ink")) {
        if (!readPng(argv[2], &picture))
            return 1;
        printInk(picture, std::atol(argv[3]), std::atol(argv[4]), std::atol(argv[5]), std::atol(argv[6]));
        return 0;
    }
    if (argc == 2 && argv[1][0] != '-') {
        if (!readPng(argv[1], &picture))
            return 1;
    } else if ((argc == 3 || (argc == 5 && !std::strcmp(argv[3], "--save"))) &&
               !std::strcmp(argv[1], "--window")) {
        if (!grabWindow(argv[2], &picture))
            return 1;
        if (argc == 5 && !writePng(argv[4], picture))
            return 1;
    } else {
        std::fprintf(stderr, "usage: picture_stats FILE.png | --window ID [--save FILE.png]\n");
        return 2;
    }
    if (picture.width == 0 || picture.height == 0) {
        std::fprintf(stderr, "picture_stats: empty picture\n");
        return 1;
    }
    printStats(picture);
    return 0;
}
