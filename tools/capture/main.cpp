// tumble-capture: renders the show offline into PNG frames and a WAV file,
// or into an H.264/AAC video through the ffmpeg command-line tool.
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include "tools/capture/capture.h"

namespace {

struct Options {
    int32_t width = 640;
    int32_t height = 480;
    int32_t fps = 50;
    double seconds = 25.0;
    std::string out;
    bool discard = false;   // render and read back only: for measuring
};

const char usage[] =
    "usage: tumble-capture [--width W] [--height H] [--fps F] [--seconds S] --out OUT\n"
    "       tumble-capture [--width W] [--height H] [--fps F] [--seconds S] --discard\n"
    "  OUT is a folder (frame00000.png ... and music.wav) or a file ending in .mp4;\n"
    "  --discard writes nothing and only reports the render times\n"
    "  defaults: --width 640 --height 480 --fps 50 --seconds 25\n";

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tumble-capture: %s\n", message.c_str());
    std::exit(1);
}

bool parseInt(const char* text, int32_t low, int32_t high, int32_t* value) {
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < low || v > high)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

bool parseSeconds(const char* text, double* value) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (errno || end == text || *end || !std::isfinite(v) || v <= 0.0 || v > 86400.0)
        return false;
    *value = v;
    return true;
}

Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(usage, stdout);
            std::exit(0);
        }
        if (name == "--discard") {
            o.discard = true;
            continue;
        }
        if (i + 1 >= argc)
            fail("missing value after '" + name + "'\n" + usage);
        const char* value = argv[++i];
        bool ok = true;
        if (name == "--width")
            ok = parseInt(value, 1, 8192, &o.width);
        else if (name == "--height")
            ok = parseInt(value, 1, 8192, &o.height);
        else if (name == "--fps")
            ok = parseInt(value, 1, 1000, &o.fps);
        else if (name == "--seconds")
            ok = parseSeconds(value, &o.seconds);
        else if (name == "--out")
            o.out = value;
        else
            fail("unknown option '" + name + "'\n" + usage);
        if (!ok)
            fail("bad value '" + std::string(value) + "' for " + name +
                 " (width and height 1..8192, fps 1..1000, seconds above 0 up to 86400)");
    }
    if (o.out.empty() && !o.discard)
        fail(std::string("no --out given\n") + usage);
    if (!o.out.empty() && o.discard)
        fail("--out and --discard exclude each other");
    return o;
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    if (!path)
        return false;
    std::string all = path;
    size_t start = 0;
    while (start <= all.size()) {
        size_t end = all.find(':', start);
        if (end == std::string::npos)
            end = all.size();
        std::string dir = all.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

// Redrawn only when the shown percentage changes.
void drawProgress(int32_t done, int32_t total) {
    static int shown = -1;
    const int percent = static_cast<int>(static_cast<int64_t>(done) * 100 / total);
    if (percent == shown && done != total)
        return;
    shown = percent;
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, " %d/%d frames", done, total);
    drawProgressBar(static_cast<uint64_t>(done), static_cast<uint64_t>(total), suffix);
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

void report(const char* label, const std::vector<double>& times) {
    if (times.empty()) {
        std::printf("%s: no frames\n", label);
        return;
    }
    std::printf("%s: %zu frames, median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n", label,
                times.size(), percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0));
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parseArguments(argc, argv);
    const bool video = !o.discard && endsWith(o.out, ".mp4");
    if (video && !onPath("ffmpeg"))
        fail("writing .mp4 needs the ffmpeg command-line tool, which is not on PATH "
             "(install it, or give a folder as --out)");
    if (!video && !o.discard) {
        std::error_code ec;
        std::filesystem::create_directories(o.out, ec);
        if (!std::filesystem::is_directory(o.out))
            fail("cannot create the folder '" + o.out + "'");
    }

    const int64_t frames64 = std::llround(o.seconds * o.fps);
    if (frames64 < 1 || frames64 > 10000000)
        fail("--seconds times --fps must give between 1 and 10000000 frames");
    const int32_t frames = static_cast<int32_t>(frames64);

    std::string error;
    if (!captureBegin(o.width, o.height, o.fps, &error))
        fail(error);

    FILE* encoder = nullptr;
    const std::string videoOnly = o.out + ".video.mp4";
    const std::string audioOnly = o.out + ".audio.wav";
    if (video) {
        char size[32];
        std::snprintf(size, sizeof size, "%dx%d", o.width, o.height);
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
                                    std::string(size) + " -r " + std::to_string(o.fps) +
                                    " -i - -c:v libx264 -pix_fmt yuv420p " + shellQuote(videoOnly);
        encoder = popen(command.c_str(), "w");
        if (!encoder)
            fail("cannot start ffmpeg");
    }

    std::vector<uint8_t> rgb(static_cast<size_t>(o.width) * o.height * 3);
    std::vector<double> allTimes, mainTimes, mainCpuTimes;
    int32_t firstMain = -1;
    for (int32_t i = 0; i < frames; ++i) {
        const CaptureFrame f = captureFrame(rgb.data());
        allTimes.push_back(f.renderMs);
        if (f.mainPhase) {
            mainTimes.push_back(f.renderMs);
            mainCpuTimes.push_back(f.renderCpuMs);
            if (firstMain < 0)
                firstMain = i;
        }
        if (video) {
            if (std::fwrite(rgb.data(), 1, rgb.size(), encoder) != rgb.size())
                fail("ffmpeg stopped taking frames");
        } else if (!o.discard) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame%05d.png", i);
            if (!writePng(o.out + name, o.width, o.height, rgb.data(), 1))
                fail("cannot write '" + o.out + name + "'");
        }
        drawProgress(i + 1, frames);
    }
    std::fputc('\n', stderr);
    captureFinishAudio();
    const double windowMs = captureWindowMs();
    const double loadMs = captureLoadMs();
    captureEnd();

    if (video) {
        if (pclose(encoder) != 0)
            fail("ffmpeg failed while encoding the frames");
        if (!writeWav(audioOnly, captureAudio(), CAPTURE_RATE))
            fail("cannot write '" + audioOnly + "'");
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -i " + shellQuote(videoOnly) +
                                    " -i " + shellQuote(audioOnly) + " -c:v copy -c:a aac -b:a 192k " +
                                    shellQuote(o.out);
        const int status = std::system(command.c_str());
        std::remove(videoOnly.c_str());
        std::remove(audioOnly.c_str());
        if (status != 0)
            fail("ffmpeg failed while adding the music");
    } else if (!o.discard && !writeWav(o.out + "/music.wav", captureAudio(), CAPTURE_RATE)) {
        fail("cannot write '" + o.out + "/music.wav'");
    }

    std::printf("start-up: window and context %.1f ms, loading sequence %.1f ms, first frame %.1f ms\n",
                windowMs, loadMs, allTimes.front());
    if (firstMain >= 0)
        std::printf("main phase from frame %d (%.2f s)\n", firstMain, static_cast<double>(firstMain) / o.fps);
    else
        std::printf("main phase not reached\n");
    report("render, all frames", allTimes);
    report("render, main phase", mainTimes);
    report("render, main phase, CPU time of all threads", mainCpuTimes);
    return 0;
}
