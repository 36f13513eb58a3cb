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
#include <string>
#include <vector>

#include "music/module.h"
#include "music/offline.h"
#include "tools/common/cli.h"
#include "tools/common/toolkit.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr uint64_t MAX_MODULE_BYTES = 256u << 20;   // far above any real module
constexpr uint64_t MAX_FRAMES = WAV_MAX_DATA_BYTES / 4;

uint64_t framesFor(double seconds) {
    return static_cast<uint64_t>(std::llround(seconds * RATE));
}

// The longest --seconds, to two decimals, whose data still fits a WAV file.
double longestSeconds() {
    double s = std::floor(static_cast<double>(MAX_FRAMES) / RATE * 100.0) / 100.0;
    while (framesFor(s) > MAX_FRAMES)
        s -= 0.01;
    return s;
}

// Reads on until bytes holds `limit` bytes or the file ends; false with errno set.
bool readSome(int fd, std::vector<uint8_t>* bytes, uint64_t limit) {
    uint8_t chunk[65536];
    while (bytes->size() < limit) {
        const size_t want = std::min<uint64_t>(sizeof chunk, limit - bytes->size());
        const ssize_t n = read(fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    return true;
}

// Where OUT's data really goes: through a symbolic link, its target, so the
// link stays a link.
std::string finalPath(const std::string& out) {
    char resolved[PATH_MAX];
    struct stat link;
    if (lstat(out.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && realpath(out.c_str(), resolved))
        return resolved;
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders an XM module through tumble's own player to a 44,100 Hz stereo 16-bit WAV file."};
    cliSetup(app, "tumble-xm2wav");
    std::string inPath, outPath;
    double seconds = 60.0;
    app.add_option("IN", inPath, "The module (.xm)")->required();
    app.add_option("OUT", outPath, "The WAV file to write; replaced only once the render is complete")->required();
    const double longest = longestSeconds();
    app.add_option("--seconds", seconds, "Length of the render (default 60)")
        ->check(secondsUpTo(HUGE_VAL))
        ->check(CLI::Validator(
            [longest](std::string& text) -> std::string {
                if (framesFor(std::strtod(text.c_str(), nullptr)) <= MAX_FRAMES)
                    return "";
                char message[160];
                std::snprintf(message, sizeof message,
                              "%s s would pass the WAV format's 4 GiB limit; the longest allowed is %.2f",
                              text.c_str(), longest);
                return message;
            },
            ""));
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0)
        return parsed;

    const int in = open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return toolError("cannot open %s: %s", inPath.c_str(), reason(errno));
    struct stat inStat;
    if (fstat(in, &inStat) != 0)
        return toolError("cannot read %s: %s", inPath.c_str(), reason(errno));
    if (S_ISDIR(inStat.st_mode))
        return toolError("cannot read %s: %s", inPath.c_str(), reason(EISDIR));
    if (S_ISREG(inStat.st_mode) && static_cast<uint64_t>(inStat.st_size) > MAX_MODULE_BYTES)
        return toolError("%s is %lld bytes; a module is at most 256 MiB", inPath.c_str(),
                         static_cast<long long>(inStat.st_size));

    // OUT must not be IN under another name: rendering would destroy it.
    const std::string target = finalPath(outPath);
    struct stat outStat;
    bool direct = false;   // a device or pipe: written as it is, nothing to replace
    if (stat(target.c_str(), &outStat) == 0) {
        if (outStat.st_dev == inStat.st_dev && outStat.st_ino == inStat.st_ino)
            return toolError("%s is the input file %s; choose another output", outPath.c_str(), inPath.c_str());
        if (S_ISDIR(outStat.st_mode))
            return toolError("cannot write %s: %s", outPath.c_str(), reason(EISDIR));
        direct = !S_ISREG(outStat.st_mode);
    }

    // The signature and header first: a file that is no module is not read whole.
    std::vector<uint8_t> bytes;
    if (!readSome(in, &bytes, 80))
        return toolError("cannot read %s: %s", inPath.c_str(), reason(errno));
    if (const char* why = moduleCheckHeader(bytes.data(), static_cast<uint32_t>(bytes.size())))
        return toolError("cannot load %s: %s", inPath.c_str(), why);
    if (!readSome(in, &bytes, MAX_MODULE_BYTES + 1) || bytes.size() > MAX_MODULE_BYTES) {
        if (bytes.size() > MAX_MODULE_BYTES)
            return toolError("%s is larger than 256 MiB; a module is at most 256 MiB", inPath.c_str());
        return toolError("cannot read %s: %s", inPath.c_str(), reason(errno));
    }
    close(in);

    Player* player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!player)
        return toolError("cannot load %s: %s", inPath.c_str(), moduleLoadError());
    if (*moduleLoadWarning())
        toolError("warning: %s is truncated: %s", inPath.c_str(), moduleLoadWarning());
    bytes.clear();
    bytes.shrink_to_fit();

    // A file gets the render in a temporary file beside it, renamed onto it only when complete.
    std::string tempPath;
    FILE* out = nullptr;
    if (direct) {
        out = std::fopen(target.c_str(), "wb");
    } else {
        const int fd = createTempFile(target, "part", &tempPath);
        out = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    }
    if (!out) {
        moduleFree(player);
        return toolError("cannot write %s: %s", outPath.c_str(), reason(errno));
    }

    const uint32_t frames = static_cast<uint32_t>(framesFor(seconds));
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, RATE, frames * 4);
    bool ok = std::fwrite(header, 1, sizeof header, out) == sizeof header;

    offlineRenderStart(player);
    const bool progress = seconds > 1.0;
    const uint32_t step = RATE;   // one second per write
    std::vector<int16_t> pcm(static_cast<size_t>(step) * 2);
    std::vector<uint8_t> raw(pcm.size() * 2);
    uint32_t done = 0;
    while (ok && done < frames) {
        const uint32_t count = frames - done < step ? frames - done : step;
        offlineRender(player, pcm.data(), count);
        toLittleEndian(pcm.data(), count * 2, raw.data());
        ok = std::fwrite(raw.data(), 1, count * 4, out) == count * 4;
        done += count;
        if (progress)
            drawProgressBar(done, frames, nullptr);
    }
    if (progress)
        endProgressBar();
    moduleFree(player);
    ok = ok && std::fflush(out) == 0 && (direct || fsync(fileno(out)) == 0);
    int error = errno;
    if (std::fclose(out) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && !direct && std::rename(tempPath.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok)
        return toolError("cannot write %s: %s", outPath.c_str(), reason(error));
    if (!direct)
        keepTempFile(tempPath);
    return 0;
}
