// tumble-texdump: writes the generated textures as PNG files.
//   tumble-texdump OUTDIR                 the stored list as OUTDIR/tex0.png .. tex8.png
//   tumble-texdump --program FILE OUT.png one texture program read from FILE
#include <png.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>
#include "texgen/texgen.h"

namespace {

bool writePng(const std::string& path, const Image& image) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        std::fprintf(stderr, "tumble-texdump: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        std::fprintf(stderr, "tumble-texdump: out of memory writing %s\n", path.c_str());
        return false;
    }
    std::vector<png_byte> rgb(IMAGE_PIXELS * 3);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = image.pixels[i];
        rgb[i * 3] = static_cast<png_byte>(p >> 16);
        rgb[i * 3 + 1] = static_cast<png_byte>(p >> 8);
        rgb[i * 3 + 2] = static_cast<png_byte>(p);
    }
    std::vector<png_bytep> rows(IMAGE_SIZE);
    for (int y = 0; y < IMAGE_SIZE; y++) rows[y] = rgb.data() + y * IMAGE_SIZE * 3;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        std::fprintf(stderr, "tumble-texdump: error writing %s\n", path.c_str());
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, IMAGE_SIZE, IMAGE_SIZE, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "tumble-texdump: error writing %s\n", path.c_str());
        return false;
    }
    return true;
}

int dumpStored(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "tumble-texdump: cannot create directory %s: %s\n", dir.c_str(), error.message().c_str());
        return 1;
    }
    Image** images = generateTextures(storedPrograms, nullptr);
    int status = 0;
    for (int i = 0; i < storedProgramCount; i++) {
        if (status == 0 && !writePng(dir + "/tex" + std::to_string(i) + ".png", *images[i])) status = 1;
        freeImage(images[i]);
    }
    freeImageList(images);
    return status;
}

int dumpProgram(const char* path, const char* out) {
    std::FILE* file = std::fopen(path, "rb");
    if (!file) {
        std::fprintf(stderr, "tumble-texdump: cannot open %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "tumble-texdump: error reading %s\n", path);
        return 1;
    }
    size_t needed = textureProgramSize(bytes.data(), bytes.size());
    if (needed == 0) {
        std::fprintf(stderr, "tumble-texdump: %s is not a texture program (no \"ATG\" header)\n", path);
        return 1;
    }
    if (bytes.size() < needed)
        std::fprintf(stderr, "tumble-texdump: %s is truncated (%zu of %zu bytes); running its whole instructions\n",
                     path, bytes.size(), needed);
    std::unique_ptr<Image> image(new Image());
    runTextureProgram(bytes.data(), bytes.size(), image.get(), nullptr);
    return writePng(out, *image) ? 0 : 1;
}

void usage() {
    std::fprintf(stderr,
                 "usage: tumble-texdump OUTDIR\n"
                 "       tumble-texdump --program FILE OUT.png\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--program") == 0) return dumpProgram(argv[2], argv[3]);
    if (argc == 2 && argv[1][0] != '-') return dumpStored(argv[1]);
    usage();
    return 2;
}
