#include "tools/common/toolkit.h"
#include <png.h>
#include <cstdio>
#include <cstring>

bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y)
        png_write_row(png, rgb + static_cast<size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    *width = static_cast<int32_t>(image.width);
    *height = static_cast<int32_t>(image.height);
    return true;
}

void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes) {
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&](int at, uint32_t v) {
        header[at] = static_cast<uint8_t>(v);
        header[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::memcpy(header, "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);                              // PCM
    put16(22, 2);                              // stereo
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate) * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(40, dataBytes);
}

void toLittleEndian(const int16_t* samples, size_t count, uint8_t* bytes) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = static_cast<uint16_t>(samples[i]);
        bytes[i * 2] = static_cast<uint8_t>(v);
        bytes[i * 2 + 1] = static_cast<uint8_t>(v >> 8);
    }
}

bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, rate, static_cast<uint32_t>(samples.size() * 2));
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    std::vector<uint8_t> bytes(samples.size() * 2);
    toLittleEndian(samples.data(), samples.size(), bytes.data());
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

void drawProgressBar(uint64_t done, uint64_t total, const char* suffix) {
    const int width = 40;
    const uint64_t filled = total ? done * width / total : width;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100u;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = static_cast<uint64_t>(i) < filled ? '#' : '.';
    bar[width] = 0;
    std::fprintf(stderr, "\r[%s] %3u%%%s", bar, percent, suffix ? suffix : "");
    std::fflush(stderr);
}
