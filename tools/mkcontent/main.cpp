// tumble-mkcontent DATA_DIR [OUT_DIR]
// Reads the tune sources in DATA_DIR/tune and writes tune.xm, titlecard.tga,
// smiley.tga and model.md2 into OUT_DIR (default: DATA_DIR).
#include "content.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <vector>
#include "tools/common/cli.h"
#include "tools/common/toolkit.h"

// Far above any tune source; a bound so that no input is read without one.
constexpr uint64_t MAX_SOURCE_BYTES = 16u << 20;

int main(int argc, char** argv) {
    CLI::App app{"Regenerates tumble's embedded content: reads the tune sources in DATA_DIR/tune and writes "
                 "tune.xm, titlecard.tga, smiley.tga and model.md2."};
    cliSetup(app, "tumble-mkcontent");
    std::string data, outDir;
    app.add_option("DATA_DIR", data, "The data folder holding tune/patterns.txt and tune/instruments.txt")->required();
    app.add_option("OUT_DIR", outDir,
                   "Where the files go (default: DATA_DIR; created if missing); each file is replaced only once "
                   "complete, keeping its permissions, and a symbolic link is written through to its target");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0) return parsed;
    if (outDir.empty()) outDir = data;
    std::string patterns, instruments, error;
    for (auto [name, text] : {std::pair{"patterns.txt", &patterns}, std::pair{"instruments.txt", &instruments}}) {
        const std::string path = data + "/tune/" + name;
        std::vector<uint8_t> bytes;
        if (!readBounded(path, MAX_SOURCE_BYTES, &bytes)) {
            if (errno == EFBIG)
                return toolError("%s is larger than 16 MiB, far more than a tune source holds", path.c_str());
            return toolError("cannot read %s: %s", path.c_str(), reason(errno));
        }
        text->assign(bytes.begin(), bytes.end());
    }
    Bytes tune;
    if (!buildTune(patterns, instruments, tune, error))
        return toolError("%s", error.c_str());
    Bytes model;
    if (!buildModel(model, error))
        return toolError("%s", error.c_str());
    if (!createFolder(outDir, &error))
        return toolError("%s", error.c_str());
    struct { const char* name; Bytes bytes; } files[] = {
        {"tune.xm", tune},
        {"titlecard.tga", buildTitleCard()},
        {"smiley.tga", buildSmiley()},
        {"model.md2", model},
    };
    for (auto& f : files) {
        std::string path = outDir + "/" + f.name;
        if (!writeWholeFile(path, f.bytes.data(), f.bytes.size()))
            return toolError("cannot write %s: %s", path.c_str(), reason(errno));
        std::printf("%s: %zu bytes\n", path.c_str(), f.bytes.size());
    }
    return 0;
}
