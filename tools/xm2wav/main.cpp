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

namespace {

int fail(const char* text, const char* detail = nullptr) {
    if (detail)
        std::fprintf(stderr, "tumble-xm2wav: %s: %s\n", text, detail);
    else
        std::fprintf(stderr, "tumble-xm2wav: %s\n", text);
    return 1;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

std::vector<uint8_t> wavHeader(uint32_t frames) {
    std::vector<uint8_t> h;
    uint32_t dataBytes = frames * 4;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(h, 36 + dataBytes);
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(h, 16);
    put16(h, 1);        // PCM
    put16(h, 2);        // stereo
    put32(h, 44100);
    put32(h, 44100 * 4);
    put16(h, 4);
    put16(h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(h, dataBytes);
    return h;
}

void drawProgress(uint32_t done, uint32_t total) {
    const int width = 40;
    int filled = total ? static_cast<int>(static_cast<uint64_t>(done) * width / total) : width;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = i < filled ? '#' : '.';
    bar[width] = 0;
    std::fprintf(stderr, "\r[%s] %3u%%", bar,
                 total ? static_cast<unsigned>(static_cast<uint64_t>(done) * 100 / total) : 100u);
    std::fflush(stderr);
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
    std::vector<uint8_t> header = wavHeader(frames);
    bool ok = std::fwrite(header.data(), 1, header.size(), out) == header.size();

    offlineRenderStart(player);
    const bool progress = seconds > 1.0 && isatty(2);
    const uint32_t step = 44100;   // one second per write
    std::vector<int16_t> pcm(static_cast<size_t>(step) * 2);
    std::vector<uint8_t> raw(pcm.size() * 2);
    uint32_t done = 0;
    while (ok && done < frames) {
        uint32_t count = frames - done < step ? frames - done : step;
        offlineRender(player, pcm.data(), count);
        for (uint32_t i = 0; i < count * 2; ++i) {
            raw[2 * i] = static_cast<uint8_t>(pcm[i]);
            raw[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
        }
        ok = std::fwrite(raw.data(), 1, count * 4, out) == count * 4;
        done += count;
        if (progress)
            drawProgress(done, frames);
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
