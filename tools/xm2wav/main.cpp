// tumble-xm2wav IN.xm OUT.wav [--seconds S]: renders a module offline through
// the player's own loader, sequencer, mixer and block renderer.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "music/module.h"
#include "music/offline.h"
#include "tools/common/toolkit.h"

namespace {

int fail(const char* text, const char* detail = nullptr) {
    if (detail)
        std::fprintf(stderr, "tumble-xm2wav: %s: %s\n", text, detail);
    else
        std::fprintf(stderr, "tumble-xm2wav: %s\n", text);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const char* inPath = nullptr;
    const char* outPath = nullptr;
    double seconds = 60.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            if (i + 1 >= argc)
                return fail("--seconds needs a value");
            char* end = nullptr;
            seconds = std::strtod(argv[++i], &end);
            if (!end || *end || !(seconds > 0.0) || seconds > 86400.0)
                return fail("--seconds wants a number of seconds between 0 and 86400", argv[i]);
        } else if (!inPath) {
            inPath = argv[i];
        } else if (!outPath) {
            outPath = argv[i];
        } else {
            return fail("usage: tumble-xm2wav IN.xm OUT.wav [--seconds S]");
        }
    }
    if (!inPath || !outPath)
        return fail("usage: tumble-xm2wav IN.xm OUT.wav [--seconds S]");

    FILE* in = std::fopen(inPath, "rb");
    if (!in)
        return fail("cannot open", inPath);
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (bytes.size() > 0x7fffffffu) {
            std::fclose(in);
            return fail("file too large", inPath);
        }
    }
    bool readError = std::ferror(in) != 0;
    std::fclose(in);
    if (readError)
        return fail("cannot read", inPath);

    Player* player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!player) {
        std::fprintf(stderr, "tumble-xm2wav: cannot load %s: %s\n", inPath, moduleLoadError());
        return 1;
    }

    const uint32_t frames = static_cast<uint32_t>(seconds * 44100.0 + 0.5);
    FILE* out = std::fopen(outPath, "wb");
    if (!out) {
        moduleFree(player);
        return fail("cannot create", outPath);
    }
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, 44100, frames * 4);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;

    offlineRenderStart(player);
    const bool progress = seconds > 1.0 && isatty(2);
    const uint32_t step = 44100;   // one second per write
    std::vector<int16_t> pcm(static_cast<size_t>(step) * 2);
    std::vector<uint8_t> raw(pcm.size() * 2);
    uint32_t done = 0;
    while (ok && done < frames) {
        uint32_t count = frames - done < step ? frames - done : step;
        offlineRender(player, pcm.data(), count);
        toLittleEndian(pcm.data(), count * 2, raw.data());
        ok = std::fwrite(raw.data(), 1, count * 4, out) == count * 4;
        done += count;
        if (progress)
            drawProgressBar(done, frames, nullptr);
    }
    if (progress)
        std::fprintf(stderr, "\n");
    moduleFree(player);
    if (std::fclose(out) != 0)
        ok = false;
    if (!ok) {
        std::remove(outPath);
        return fail("cannot write", outPath);
    }
    return 0;
}
