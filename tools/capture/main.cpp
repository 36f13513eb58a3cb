// tumble-capture: renders the show offline into PNG frames and a WAV file,
// or into an H.264/AAC video through the ffmpeg command-line tool.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <fstream>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include "tools/capture/capture.h"
#include "tools/common/cli.h"

namespace {

struct Options {
    int32_t width = 640;
    int32_t height = 480;
    int32_t fps = 50;
    double seconds = 25.0;
    std::string out;
    bool discard = false;   // render and read back only: for measuring
    bool force = false;     // replace an earlier capture in the folder
};

[[noreturn]] void fail(const std::string& message) {
    toolError("%s", message.c_str());
    std::exit(EXIT_FAILED);
}

// Exits unless the tool goes on with o filled in.
Options parseArguments(int argc, char** argv) {
    Options o;
    CLI::App app{"Renders tumble offline, deterministically, to PNG frames and music.wav in a folder, "
                 "or to an .mp4 file through ffmpeg."};
    cliSetup(app, "tumble-capture");
    app.add_option("--width", o.width, "Frame width in pixels (default 640)")->check(wholeNumber(1, 8192));
    app.add_option("--height", o.height, "Frame height in pixels (default 480)")->check(wholeNumber(1, 8192));
    app.add_option("--fps", o.fps, "Frames per second (default 50)")->check(wholeNumber(1, 1000));
    app.add_option("--seconds", o.seconds, "Length of the capture (default 25)")->check(secondsUpTo(86400.0));
    CLI::Option* out = app.add_option("--out", o.out, "A folder (frame00000.png ... and music.wav) or a file ending in .mp4");
    app.add_flag("--discard", o.discard, "Write nothing, only report the render times")->excludes(out);
    app.add_flag("--force", o.force, "Replace the frame*.png and music.wav of an earlier capture in the folder");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0)
        std::exit(parsed);
    if (o.out.empty() && !o.discard)
        std::exit(usageError("no --out given (a folder or a file ending in .mp4), nor --discard"));
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

// The files an earlier capture left in the folder: frame*.png and music.wav.
std::vector<std::filesystem::path> earlierCapture(const std::string& folder) {
    std::vector<std::filesystem::path> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "music.wav" || (name.rfind("frame", 0) == 0 && endsWith(name, ".png")))
            found.push_back(entry.path());
    }
    return found;
}

// The last line ffmpeg wrote to its log: its reason for failing.
std::string lastLogLine(const std::string& log) {
    std::ifstream in(log);
    std::string line, last;
    while (std::getline(in, line))
        if (!line.empty())
            last = line;
    return last;
}

// Why ffmpeg failed: its last message, else how it ended.
std::string ffmpegFailure(int status, const std::string& log) {
    std::string why = lastLogLine(log);
    if (!why.empty())
        return why;
    if (status == -1)
        return std::string("cannot run ffmpeg: ") + reason(errno);
    if (WIFSIGNALED(status))
        return "ffmpeg was killed by signal " + std::to_string(WTERMSIG(status));
    return "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
}

std::string tempFile(const std::string& near, const char* tag) {
    std::string path;
    const int fd = createTempFile(near, tag, &path);
    if (fd < 0)
        fail("cannot write " + near + ": " + reason(errno));
    close(fd);
    return path;
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
    // A failing encoder must not kill the tool before it can say why.
    std::signal(SIGPIPE, SIG_IGN);
    const Options o = parseArguments(argc, argv);
    const bool video = !o.discard && endsWith(o.out, ".mp4");
    const int64_t frames64 = std::llround(o.seconds * o.fps);
    if (frames64 < 1 || frames64 > 10000000)
        return usageError("--seconds times --fps must give between 1 and 10000000 frames");
    const int32_t frames = static_cast<int32_t>(frames64);
    if (video && !onPath("ffmpeg"))
        fail("writing .mp4 needs the ffmpeg command-line tool, which is not on PATH "
             "(install it, or give a folder as --out)");

    std::error_code ec;
    if (video && std::filesystem::is_directory(o.out, ec))
        fail("cannot write " + o.out + ": " + reason(EISDIR));
    if (!video && !o.discard) {
        if (std::filesystem::exists(o.out, ec) && !std::filesystem::is_directory(o.out, ec))
            fail("cannot create the folder " + o.out + ": " + reason(EEXIST));
        if (!o.force && !earlierCapture(o.out).empty())
            fail(o.out + " already holds a capture (frame*.png, music.wav); --force replaces it");
    }

    // H.264 in 4:2:0 wants even sizes: an odd one gets a black column or row.
    const int32_t videoWidth = (o.width + 1) & ~1;
    const int32_t videoHeight = (o.height + 1) & ~1;
    if (video && (videoWidth != o.width || videoHeight != o.height))
        toolError("note: the video is %d x %d; the encoder takes even sizes only, so the frames are padded with black",
                  videoWidth, videoHeight);
    // Everything for a video goes to temporary files beside OUT, renamed onto it when complete.
    std::string videoOnly, audioOnly, muxed, log;
    if (video) {
        videoOnly = tempFile(o.out, "video");
        audioOnly = tempFile(o.out, "audio");
        muxed = tempFile(o.out, "part");
        log = tempFile(o.out, "log");
    }

    std::string error;
    if (!captureBegin(o.width, o.height, o.fps, &error))
        fail(error);

    if (!video && !o.discard) {
        std::filesystem::create_directories(o.out, ec);
        if (!std::filesystem::is_directory(o.out))
            fail("cannot create the folder " + o.out + ": " + ec.message());
        for (const auto& path : earlierCapture(o.out))
            if (!std::filesystem::remove(path, ec))
                fail("cannot remove " + path.string() + ": " + ec.message());
    }

    FILE* encoder = nullptr;
    if (video) {
        char size[32], pad[64] = "";
        std::snprintf(size, sizeof size, "%dx%d", o.width, o.height);
        if (videoWidth != o.width || videoHeight != o.height)
            std::snprintf(pad, sizeof pad, " -vf pad=%d:%d", videoWidth, videoHeight);
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt rgb24 -s " +
                                    std::string(size) + " -r " + std::to_string(o.fps) + " -i -" + pad +
                                    " -c:v libx264 -pix_fmt yuv420p -f mp4 " + shellQuote(videoOnly) + " 2>" +
                                    shellQuote(log);
        encoder = popen(command.c_str(), "w");
        if (!encoder)
            fail("cannot write " + o.out + ": cannot start ffmpeg: " + reason(errno));
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
            if (std::fwrite(rgb.data(), 1, rgb.size(), encoder) != rgb.size() || std::fflush(encoder) != 0) {
                endProgressBar();
                fail("cannot write " + o.out + ": " + ffmpegFailure(pclose(encoder), log));
            }
        } else if (!o.discard) {
            char name[32];
            std::snprintf(name, sizeof name, "/frame%05d.png", i);
            if (!writePng(o.out + name, o.width, o.height, rgb.data(), 1)) {
                endProgressBar();
                fail("cannot write " + o.out + name + ": " + reason(errno));
            }
        }
        drawProgress(i + 1, frames);
    }
    endProgressBar();
    captureFinishAudio();
    const double windowMs = captureWindowMs();
    const double loadMs = captureLoadMs();
    captureEnd();

    if (video) {
        const int encoded = pclose(encoder);
        if (encoded != 0)
            fail("cannot write " + o.out + ": " + ffmpegFailure(encoded, log));
        if (!writeWav(audioOnly, captureAudio(), CAPTURE_RATE))
            fail("cannot write " + o.out + ": " + reason(errno));
        const std::string command = "ffmpeg -hide_banner -loglevel error -nostdin -y -i " + shellQuote(videoOnly) +
                                    " -i " + shellQuote(audioOnly) + " -c:v copy -c:a aac -b:a 192k -f mp4 " +
                                    shellQuote(muxed) + " 2>" + shellQuote(log);
        const int status = std::system(command.c_str());
        if (status != 0)
            fail("cannot write " + o.out + ": " + ffmpegFailure(status, log));
        if (std::rename(muxed.c_str(), o.out.c_str()) != 0)
            fail("cannot write " + o.out + ": " + reason(errno));
        keepTempFile(muxed);
        removeTempFiles();
    } else if (!o.discard && !writeWav(o.out + "/music.wav", captureAudio(), CAPTURE_RATE)) {
        fail("cannot write " + o.out + "/music.wav: " + reason(errno));
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
