// tumble-texdump: writes the generated textures as PNG files.
//   tumble-texdump OUTDIR                 the stored list as OUTDIR/tex0.png .. tex8.png
//   tumble-texdump --program FILE OUT.png one texture program read from FILE
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>
#include "texgen/texgen.h"
#include "tools/common/cli.h"
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
    if (!writePng(path, IMAGE_SIZE, IMAGE_SIZE, rgb.data(), 6)) {
        toolError("cannot write %s: %s", path.c_str(), reason(errno));
        return false;
    }
    return true;
}

int dumpStored(const std::string& dir) {
    std::string why;
    if (!createFolder(dir, &why))
        return toolError("%s", why.c_str());
    Image** images = generateTextures(storedPrograms, nullptr);
    int status = 0;
    for (int i = 0; i < storedProgramCount; i++) {
        if (status == 0 && !writeImagePng(dir + "/tex" + std::to_string(i) + ".png", *images[i])) status = 1;
        freeImage(images[i]);
    }
    freeImageList(images);
    return status;
}

// A 4-byte header and 127 instructions that each carry an 8,192-byte bitmap.
constexpr uint64_t MAX_PROGRAM_BYTES = 1041531;

int dumpProgram(const char* path, const char* out) {
    std::vector<uint8_t> bytes;
    if (!readBounded(path, MAX_PROGRAM_BYTES, &bytes)) {
        if (errno == EFBIG)
            return toolError("%s is larger than %llu bytes, the largest texture program", path,
                             static_cast<unsigned long long>(MAX_PROGRAM_BYTES));
        return toolError("cannot read %s: %s", path, reason(errno));
    }
    if (bytes.empty())
        return toolError("%s is empty, not a texture program", path);
    // The header is "ATG" and a count byte.
    if (bytes.size() < 4 && std::memcmp(bytes.data(), "ATG", bytes.size()) == 0)
        return toolError("%s is truncated: it ends inside the 4-byte header (%zu bytes)", path, bytes.size());
    size_t needed = textureProgramSize(bytes.data(), bytes.size());
    if (needed == 0)
        return toolError("%s is not a texture program (no \"ATG\" header)", path);
    // The interpreter reads the count as a signed byte.
    if (bytes[3] == 0 || bytes[3] >= 128)
        toolError("%s: count byte %u runs no instructions (0 and 128..255 run none); the image stays black",
                  path, bytes[3]);
    else if (bytes.size() < needed)
        toolError("%s is truncated (%zu of %zu bytes); running its whole instructions", path, bytes.size(),
                  needed);
    std::unique_ptr<Image> image(new Image());
    runTextureProgram(bytes.data(), bytes.size(), image.get(), nullptr);
    return writeImagePng(out, *image) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Writes tumble's generated textures as 256 x 256 PNG files."};
    cliSetup(app, "tumble-texdump");
    std::string program, out;
    app.add_option("--program", program, "Run the texture program in FILE and write OUT as one PNG")
        ->type_name("FILE");
    app.add_option("OUT", out,
                   "The folder for tex0.png .. tex8.png (created if missing), or with --program the PNG file; "
                   "each file is replaced only once complete, keeping its permissions, and a symbolic link "
                   "is written through to its target")
        ->required();
    app.footer("usage: tumble-texdump OUTDIR\n       tumble-texdump --program FILE OUT.png");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0)
        return parsed;
    if (app.count("--program"))
        return dumpProgram(program.c_str(), out.c_str());
    return dumpStored(out);
}
