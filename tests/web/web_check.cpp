// Compares what the page produced (tests/web/drive.js) with the native
// references: frames with the golden frames, sound with the offline render.
// Usage: web_check OUTDIR REFDIR NAME=FRAME... ; exit 0 when all match.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "data/embedded.h"
#include "music/module.h"
#include "music/offline.h"
#include "platform/platform.h"
#include "tools/common/toolkit.h"

namespace {

constexpr int32_t WIDTH = 640, HEIGHT = 480;
// Per channel a few levels. Beyond that, edge pixels that WebGL and Mesa
// rasterise differently and the antialiased rims of the text (the browser and
// FreeType cover glyph edges a little differently, magnified by the 1.5x and
// 2x text): at most 1.5 % of the pixels, none off by more than a quarter.
constexpr int channelTolerance = 8;
constexpr double outlierShare = 0.015;
constexpr int worstAllowed = 64;
constexpr uint32_t audioSeconds = 3;   // at least; all that was recorded is compared

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool compareFrame(const std::string& out, const std::string& ref, const std::string& name, int frame) {
    const std::vector<uint8_t> actual = readFile(out + "/frame" + std::to_string(frame) + ".rgb");
    int32_t w = 0, h = 0;
    std::vector<uint8_t> expected;
    if (!readPng(ref + "/" + name + ".png", &w, &h, &expected) || w != WIDTH || h != HEIGHT) {
        std::printf("%s: no 640 x 480 reference\n", name.c_str());
        return false;
    }
    if (actual.size() != expected.size()) {
        std::printf("%s: frame %d has %zu bytes, not %zu\n", name.c_str(), frame, actual.size(), expected.size());
        return false;
    }
    size_t outliers = 0;
    int worst = 0;
    for (size_t p = 0; p < static_cast<size_t>(WIDTH) * HEIGHT; ++p) {
        int d = 0;
        for (int c = 0; c < 3; ++c)
            d = std::max(d, std::abs(int(actual[p * 3 + c]) - int(expected[p * 3 + c])));
        worst = std::max(worst, d);
        if (d > channelTolerance)
            ++outliers;
    }
    const bool ok = outliers <= static_cast<size_t>(outlierShare * WIDTH * HEIGHT) && worst <= worstAllowed;
    std::printf("%s (frame %d): %zu pixels off by more than %d, worst %d: %s\n", name.c_str(), frame, outliers,
                channelTolerance, worst, ok ? "ok" : "DIFFERENT");
    if (!ok)
        writePng(out + "/" + name + ".png", WIDTH, HEIGHT, actual.data(), 1);
    return ok;
}

bool compareAudio(const std::string& file) {
    const std::vector<uint8_t> bytes = readFile(file);
    const size_t wanted = bytes.size() / 4 * 2;
    if (wanted < static_cast<size_t>(audioSeconds) * 44100 * 2) {
        std::printf("%s: %zu samples from the page, fewer than %u seconds\n", file.c_str(), bytes.size() / 2,
                    audioSeconds);
        return false;
    }
    const uint8_t* tune = nullptr;
    uint32_t size = 0;
    if (!platResource(MUSIC_RESOURCE_ID, "RAWDATA", &tune, &size))
        return false;
    Player* song = moduleOpenMemory(tune, size);
    if (!song)
        return false;
    offlineRenderStart(song);
    std::vector<int16_t> reference(wanted);
    offlineRender(song, reference.data(), static_cast<uint32_t>(wanted / 2));
    moduleFree(song);
    for (size_t s = 0; s < wanted; ++s) {
        const int16_t v = static_cast<int16_t>(bytes[s * 2] | (bytes[s * 2 + 1] << 8));
        if (v != reference[s]) {
            std::printf("%s: departs from the offline render at sample frame %zu\n", file.c_str(), s / 2);
            return false;
        }
    }
    std::printf("%s: the first %.2f s equal the offline render\n", file.c_str(),
                static_cast<double>(wanted / 2) / 44100);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    const std::string out = argv[1], ref = argv[2];
    // The capture clock's sound, and the real-time Web Audio callback's where the engine played it.
    bool ok = compareAudio(out + "/audio.raw");
    if (std::ifstream(out + "/audio_live.raw").good())
        ok = compareAudio(out + "/audio_live.raw") && ok;
    for (int i = 3; i < argc; ++i) {
        const std::string pair = argv[i];
        const size_t eq = pair.find('=');
        if (eq == std::string::npos)
            return 2;
        ok = compareFrame(out, ref, pair.substr(0, eq), std::atoi(pair.c_str() + eq + 1)) && ok;
    }
    return ok ? 0 : 1;
}
