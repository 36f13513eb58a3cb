// tumble-mkcontent DATA_DIR [OUT_DIR]
// Reads the tune sources in DATA_DIR/tune and writes tune.xm, titlecard.tga,
// smiley.tga and model.md2 into OUT_DIR (default: DATA_DIR).
#include "content.h"

#include <cstdio>
#include <fstream>
#include <sstream>

static bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return true;
}

static bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    return (bool)out;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tumble-mkcontent DATA_DIR [OUT_DIR]\n");
        return 2;
    }
    std::string data = argv[1], outDir = argc > 2 ? argv[2] : argv[1];
    std::string patterns, instruments, error;
    if (!readText(data + "/tune/patterns.txt", patterns) || !readText(data + "/tune/instruments.txt", instruments)) {
        std::fprintf(stderr, "tumble-mkcontent: cannot read %s/tune/patterns.txt or instruments.txt\n", data.c_str());
        return 1;
    }
    Bytes tune;
    if (!buildTune(patterns, instruments, tune, error)) {
        std::fprintf(stderr, "tumble-mkcontent: %s\n", error.c_str());
        return 1;
    }
    struct { const char* name; Bytes bytes; } files[] = {
        {"tune.xm", tune},
        {"titlecard.tga", buildTitleCard()},
        {"smiley.tga", buildSmiley()},
        {"model.md2", buildModel()},
    };
    for (auto& f : files) {
        std::string path = outDir + "/" + f.name;
        if (!writeFile(path, f.bytes)) {
            std::fprintf(stderr, "tumble-mkcontent: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), f.bytes.size());
    }
    return 0;
}
