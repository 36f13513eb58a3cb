// tumble-texdump: writes the generated textures as PNG files.
//   tumble-texdump OUTDIR                 the stored list as OUTDIR/tex0.png .. tex8.png
//   tumble-texdump --program FILE OUT.png one texture program read from FILE
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>
#include "texgen/texgen.h"
#include "tools/common/toolkit.h"

namespace {

bool writeImagePng(const std::string& path, const Image& image) {
    std::vector<uint8_t> rgb(IMAGE_PIXELS * 3);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = image.pixels[i];
        rgb[i * 3] = static_cast<uint8_t>(p >> 16);
        rgb[i * 3 + 1] = static_cast<uint8_t>(p >> 8);
        rgb[i * 3 + 2] = static_cast<uint8_t>(p);
    }
    errno = 0;
    if (!writePng(path, IMAGE_SIZE, IMAGE_SIZE, rgb.data(), 6)) {
        if (errno)
            std::fprintf(stderr, "tumble-texdump: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        else
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
        if (status == 0 && !writeImagePng(dir + "/tex" + std::to_string(i) + ".png", *images[i])) status = 1;
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
    return writeImagePng(out, *image) ? 0 : 1;
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
