// tumble-mkcontent DATA_DIR [OUT_DIR]
// Reads the tune sources in DATA_DIR/tune and writes tune.xm, titlecard.tga,
// smiley.tga and model.md2 into OUT_DIR (default: DATA_DIR).
#include "content.h"

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>
#include "tools/common/cli.h"
#include "tools/common/toolkit.h"

// False with errno set.
static bool readText(const std::string& path, std::string& text) {
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

// Written beside the file and renamed onto it, so a failure keeps the old one.
// False with errno set.
static bool writeFile(const std::string& path, const Bytes& bytes) {
    std::string temp;
    const int fd = createTempFile(path, "part", &temp);
    if (fd < 0) return false;
    FILE* out = fdopen(fd, "wb");
    if (!out) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    int error = errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok) keepTempFile(temp);
    else removeTempFiles();
    errno = error;
    return ok;
}

int main(int argc, char** argv) {
    CLI::App app{"Regenerates tumble's embedded content: reads the tune sources in DATA_DIR/tune and writes "
                 "tune.xm, titlecard.tga, smiley.tga and model.md2."};
    cliSetup(app, "tumble-mkcontent");
    std::string data, outDir;
    app.add_option("DATA_DIR", data, "The data folder holding tune/patterns.txt and tune/instruments.txt")->required();
    app.add_option("OUT_DIR", outDir, "Where the files go (default: DATA_DIR)");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0) return parsed;
    if (outDir.empty()) outDir = data;
    std::string patterns, instruments, error;
    for (auto [name, text] : {std::pair{"patterns.txt", &patterns}, std::pair{"instruments.txt", &instruments}}) {
        const std::string path = data + "/tune/" + name;
        if (!readText(path, *text))
            return toolError("cannot read %s: %s", path.c_str(), reason(errno));
    }
    Bytes tune;
    if (!buildTune(patterns, instruments, tune, error))
        return toolError("%s", error.c_str());
    struct { const char* name; Bytes bytes; } files[] = {
        {"tune.xm", tune},
        {"titlecard.tga", buildTitleCard()},
        {"smiley.tga", buildSmiley()},
        {"model.md2", buildModel()},
    };
    for (auto& f : files) {
        std::string path = outDir + "/" + f.name;
        if (!writeFile(path, f.bytes))
            return toolError("cannot write %s: %s", path.c_str(), reason(errno));
        std::printf("%s: %zu bytes\n", path.c_str(), f.bytes.size());
    }
    return 0;
}
