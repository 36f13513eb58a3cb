// tumble-xm2wav IN.xm OUT.wav [--seconds S]: renders a module offline through
// the player's own loader, sequencer, mixer and block renderer.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "music/module.h"
#include "platform/platform.h"
#include "music/offline.h"
#include "tools/common/cli.h"
#include "tools/common/toolkit.h"

namespace {

constexpr int32_t RATE = PLAT_OUTPUT_RATE;
constexpr uint64_t MAX_MODULE_BYTES = 256u << 20;   // far above any real module
constexpr uint64_t MAX_FRAMES = WAV_MAX_DATA_BYTES / 4;

uint64_t framesFor(double seconds) {
    return static_cast<uint64_t>(std::llround(seconds * RATE));
}

// What the module uses that the player ignores by design, as a list for one
// warning line; empty when it uses nothing of that.
std::string unplayedFeatures(const Player* player) {
    bool volumeColumn = false;
    bool effects[256] = {};
    for (int32_t p = 0; p < player->patternCount; ++p) {
        const Pattern& pattern = player->patterns[p];
        if (!pattern.cells)
            continue;
        const int64_t cells = static_cast<int64_t>(pattern.rows) * player->channelCount;
        for (int64_t i = 0; i < cells; ++i) {
            const Cell& c = pattern.cells[i];
            volumeColumn = volumeColumn || c.volume != 0;
            // Effect 0 with parameter 0 is an empty effect column.
            if (c.effect != 0 || c.parameter != 0)
                effects[c.effect] = true;
        }
    }
    bool panningEnvelope = false, autoVibrato = false;
    for (int32_t i = 0; i < player->instrumentCount; ++i) {
        const Instrument& ins = player->instruments[i];
        if (ins.sampleCount <= 0)
            continue;
        panningEnvelope = panningEnvelope || (ins.panningType & ENVELOPE_ON);
        autoVibrato = autoVibrato || ins.vibratoDepth != 0;
    }
    std::string list, numbers;
    for (int e = 0; e < 256; ++e) {
        if (!effects[e] || e == EFFECT_TONE_PORTAMENTO || e == EFFECT_TONE_PORTAMENTO_VOLUME_SLIDE ||
            e == EFFECT_KEY_OFF)
            continue;
        char name[8];
        if (e < 36)
            std::snprintf(name, sizeof name, "%c", e < 10 ? '0' + e : 'A' + e - 10);
        else
            std::snprintf(name, sizeof name, "0x%02X", e);
        numbers += (numbers.empty() ? "" : ", ") + std::string(name);
    }
    auto add = [&list](const std::string& what) { list += (list.empty() ? "" : "; ") + what; };
    if (volumeColumn)
        add("the volume column");
    if (!numbers.empty())
        add("effects " + numbers);
    if (panningEnvelope)
        add("a panning envelope");
    if (autoVibrato)
        add("auto-vibrato");
    return list;
}

// The module: header checked first, so a file that is no module is not read whole.
// Null after saying why.
Player* loadModule(const std::string& inPath, const struct stat& inStat, int in) {
    if (S_ISREG(inStat.st_mode) && static_cast<uint64_t>(inStat.st_size) > MAX_MODULE_BYTES) {
        toolError("%s is %lld bytes; a module is at most 256 MiB", inPath.c_str(),
                  static_cast<long long>(inStat.st_size));
        return nullptr;
    }
    std::vector<uint8_t> bytes;
    if (!readUpTo(in, &bytes, 80)) {
        toolError("cannot read %s: %s", inPath.c_str(), reason(errno));
        return nullptr;
    }
    if (const char* why = moduleCheckHeader(bytes.data(), static_cast<uint32_t>(bytes.size()))) {
        toolError("cannot load %s: %s", inPath.c_str(), why);
        return nullptr;
    }
    if (!readUpTo(in, &bytes, MAX_MODULE_BYTES + 1)) {
        toolError("cannot read %s: %s", inPath.c_str(), reason(errno));
        return nullptr;
    }
    if (bytes.size() > MAX_MODULE_BYTES) {
        toolError("%s is larger than 256 MiB; a module is at most 256 MiB", inPath.c_str());
        return nullptr;
    }
    Player* player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!player) {
        toolError("cannot load %s: %s", inPath.c_str(), moduleLoadError());
        return nullptr;
    }
    if (*moduleLoadWarning())
        toolError("warning: %s is truncated: %s", inPath.c_str(), moduleLoadWarning());
    const std::string unplayed = unplayedFeatures(player);
    if (!unplayed.empty())
        toolError("warning: %s uses what this player ignores: %s", inPath.c_str(), unplayed.c_str());
    return player;
}

// Samples at INT16_MAX or INT16_MIN, eight at a time.
uint64_t countAtFullScale(const int16_t* pcm, uint32_t n) {
    typedef int16_t Eight __attribute__((vector_size(16)));
    uint64_t total = 0;
    uint32_t i = 0;
    while (i + 8 <= n) {
        Eight lanes = {};   // minus the count per lane; at most 4096 per pass, so no lane wraps
        for (uint32_t pass = 0; pass < 4096 && i + 8 <= n; ++pass, i += 8) {
            Eight v;
            std::memcpy(&v, pcm + i, sizeof v);
            lanes += (v == INT16_MAX) | (v == INT16_MIN);
        }
        for (int k = 0; k < 8; ++k)
            total += static_cast<uint64_t>(-lanes[k]);
    }
    for (; i < n; ++i)
        total += pcm[i] == INT16_MAX || pcm[i] == INT16_MIN;
    return total;
}

// Renders `frames` sample frames after the WAV header into out; false with errno set.
// *clipped counts the samples at full scale.
bool render(Player* player, uint32_t frames, FILE* out, uint64_t* clipped) {
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, RATE, frames * 4);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;
    // Reserving the whole file at once spares the file system a block at a time;
    // where it cannot (a pipe, a device, another file system), the writes still go through.
    fallocate(fileno(out), 0, 0, static_cast<off_t>(WAV_HEADER_BYTES + static_cast<uint64_t>(frames) * 4));
    offlineRenderStart(player);
    const bool progress = frames > static_cast<uint32_t>(RATE);
    const uint32_t step = 4 * RATE;   // four seconds per write: fewer calls, less time in the kernel
    std::vector<int16_t> pcm(static_cast<size_t>(step) * 2);
    uint32_t done = 0;
    uint64_t bytes = 0;
    while (ok && done < frames) {
        const uint32_t count = frames - done < step ? frames - done : step;
        offlineRender(player, pcm.data(), count);
        *clipped += countAtFullScale(pcm.data(), count * 2);
        ok = wavAppend(out, pcm.data(), count * 2, &bytes);
        done += count;
        if (progress)
            drawProgressBar(done, frames, nullptr);
    }
    if (progress)
        endProgressBar();
    return ok;
}

struct Options {
    std::string in, out;
    double seconds = 60.0;
};

// -1 when the tool goes on with o filled in, else its exit code.
int parseArguments(int argc, char** argv, Options* o) {
    CLI::App app{"Renders an XM module through tumble's own player to a 44,100 Hz stereo 16-bit WAV file."};
    cliSetup(app, "tumble-xm2wav");
    app.add_option("IN", o->in, "The module (.xm)")->required();
    app.add_option("OUT", o->out,
                   "The WAV file to write; replaced only once the render is complete, keeping its permissions; "
                   "a symbolic link is written through to its target")
        ->required();
    const double longest = longestSeconds(MAX_FRAMES, RATE);   // the data still fits a WAV file
    app.add_option("--seconds", o->seconds, "Length of the render (default 60)")
        ->check(secondsUpTo(HUGE_VAL))
        ->check(CLI::Validator(
            [longest](std::string& text) -> std::string {
                const uint64_t frames = framesFor(std::strtod(text.c_str(), nullptr));
                if (frames < 1)
                    return "bad value '" + text + "': shorter than one sample (1/44100 s)";
                if (frames <= MAX_FRAMES)
                    return "";
                char message[160];
                std::snprintf(message, sizeof message,
                              "%s s would pass the WAV format's 4 GiB limit; the longest allowed is %.2f",
                              text.c_str(), longest);
                return message;
            },
            ""));
    return cliParse(app, argc, argv);
}

// The module IN, refused when OUT is IN under another name (rendering would
// destroy it). Null after saying why.
Player* openModule(const Options& o) {
    const int in = open(o.in.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        toolError("cannot open %s: %s", o.in.c_str(), reason(errno));
        return nullptr;
    }
    struct stat inStat, outStat;
    Player* player = nullptr;
    if (fstat(in, &inStat) != 0)
        toolError("cannot read %s: %s", o.in.c_str(), reason(errno));
    else if (S_ISDIR(inStat.st_mode))
        toolError("cannot read %s: %s", o.in.c_str(), reason(EISDIR));
    else if (stat(outputTarget(o.out).c_str(), &outStat) == 0 && outStat.st_dev == inStat.st_dev &&
             outStat.st_ino == inStat.st_ino)
        toolError("%s is the input file %s; choose another output", o.out.c_str(), o.in.c_str());
    else
        player = loadModule(o.in, inStat, in);
    close(in);
    return player;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int parsed = parseArguments(argc, argv, &o);
    if (parsed >= 0)
        return parsed;
    Player* player = openModule(o);
    if (!player)
        return EXIT_FAILED;
    OutputFile out;
    if (!outputOpen(&out, o.out)) {
        moduleFree(player);
        return toolError("cannot write %s: %s", o.out.c_str(), reason(errno));
    }
    const uint32_t frames = static_cast<uint32_t>(framesFor(o.seconds));
    uint64_t clipped = 0;
    const bool rendered = render(player, frames, out.file, &clipped);
    const int error = errno;
    moduleFree(player);
    if (!rendered) {
        outputAbort(&out);
        return toolError("cannot write %s: %s", o.out.c_str(), reason(error));
    }
    if (!outputCommit(&out, true))
        return toolError("cannot write %s: %s", o.out.c_str(), reason(errno));
    const double share = static_cast<double>(clipped) / (static_cast<double>(frames) * 2.0);
    if (share > 0.001)
        toolError("warning: %.1f%% of the samples in %s are clipped at full scale", share * 100.0, o.out.c_str());
    return 0;
}
