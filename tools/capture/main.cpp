// tumble-capture: renders the show offline into PNG frames and a WAV file,
// or through the ffmpeg command-line tool into an H.264/AAC .mp4 or a
// lossless FFV1/FLAC .mkv.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include "tools/capture/capture.h"
#include "tools/common/cli.h"

namespace {

// What a folder capture wrote, kept in the folder: --force removes only that.
constexpr const char* RECORD_NAME = ".tumble-capture";
constexpr const char* RECORD_HEADER = "tumble-capture record 1";
constexpr int32_t MAX_FRAMES = 10000000;

enum Output { OUTPUT_FOLDER, OUTPUT_MP4, OUTPUT_MKV, OUTPUT_NONE };

// Video files people may expect that this tool does not write: refused
// rather than taken as a folder's name.
const char* const OTHER_VIDEO_EXTENSIONS[] = {".webm", ".mov", ".avi", ".m4v", ".mpg", ".mpeg", ".ogv", ".ogg",
                                              ".flv", ".wmv", ".ts", ".m2ts", ".3gp", ".gif", ".mxf", ".h264"};

struct Options {
    int32_t width = 640;
    int32_t height = 480;
    int32_t fps = 50;
    int32_t crf = 18;       // H.264 quality: no visible banding on the blue card or the trails
    double seconds = 25.0;
    std::string out;
    bool discard = false;   // render and read back only: for measuring
    bool force = false;     // replace an earlier capture in the folder
    Output output = OUTPUT_FOLDER;
    int32_t frames = 0;
};

[[noreturn]] void fail(const std::string& message) {
    toolError("%s", message.c_str());
    std::exit(EXIT_FAILED);
}

bool hasExtension(const std::string& path, const char* extension) {
    const size_t n = std::strlen(extension);
    if (path.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != extension[i])
            return false;
    return true;
}

// Exits unless the tool goes on with o filled in.
Options parseArguments(int argc, char** argv) {
    Options o;
    CLI::App app{"Renders tumble offline, deterministically, to PNG frames and music.wav in a folder, "
                 "or through ffmpeg to an .mp4 (H.264 High, AAC 256 kb/s) or a lossless .mkv (FFV1, FLAC). "
                 "Any size keeps the 4:3 picture, centred between black bars."};
    cliSetup(app, "tumble-capture");
    app.footer("The model's spin and the feedback trails advance once per drawn frame, so a capture at 60 "
               "frames per second moves differently from one at 50 (the show's own rate); both are valid.");
    app.add_option("--width", o.width, "Frame width in pixels (default 640)")->check(wholeNumber(2, 8192));
    app.add_option("--height", o.height, "Frame height in pixels (default 480)")->check(wholeNumber(2, 8192));
    app.add_option("--fps", o.fps, "Frames per second (default 50)")->check(wholeNumber(1, 1000));
    app.add_option("--seconds", o.seconds, "Length of the capture (default 25)")->check(secondsUpTo(86400.0));
    CLI::Option* crf = app.add_option("--crf", o.crf, "H.264 quality for .mp4, lower is better (default 18)")
                           ->check(wholeNumber(0, 51));
    CLI::Option* out = app.add_option(
        "--out", o.out,
        "A folder (frame00000.png ... and music.wav) or a file ending in .mp4 or .mkv; a file is replaced "
        "only once complete, keeping its permissions, and a symbolic link is written through to its target");
    app.add_flag("--discard", o.discard, "Write nothing, only report the render times")->excludes(out);
    app.add_flag("--force", o.force,
                 "Replace an earlier capture in the folder: only the files it recorded writing there");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0)
        std::exit(parsed);
    if (o.out.empty() && !o.discard)
        std::exit(usageError("no --out given (a folder or a file ending in .mp4 or .mkv), nor --discard"));
    const int64_t frames = std::llround(o.seconds * o.fps);
    if (frames < 1 || frames > MAX_FRAMES)
        std::exit(usageError("--seconds times --fps must give between 1 and 10000000 frames"));
    o.frames = static_cast<int32_t>(frames);
    o.output = o.discard                    ? OUTPUT_NONE
               : hasExtension(o.out, ".mp4") ? OUTPUT_MP4
               : hasExtension(o.out, ".mkv") ? OUTPUT_MKV
                                             : OUTPUT_FOLDER;
    for (const char* extension : OTHER_VIDEO_EXTENSIONS)
        if (o.output == OUTPUT_FOLDER && hasExtension(o.out, extension))
            std::exit(usageError("--out " + o.out + ": writes .mp4 and .mkv videos only, or a folder"));
    if (crf->count() && o.output != OUTPUT_MP4)
        std::exit(usageError("--crf sets the quality of an .mp4 only"));
    return o;
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

// --- A folder of frames ---------------------------------------------------

std::string frameName(int32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05d.png", index);
    return name;
}

// The frame index a name of this tool's stands for, else -1.
int64_t frameIndex(const std::string& name) {
    if (name.size() < 14 || name.compare(0, 5, "frame") != 0 || !hasExtension(name, ".png"))
        return -1;
    const std::string digits = name.substr(5, name.size() - 9);
    if (digits.empty() || digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return -1;
    const int64_t index = std::stoll(digits);
    return frameName(static_cast<int32_t>(index)) == name ? index : -1;
}

// What an earlier capture recorded writing: its frame count and music.wav.
struct Record {
    bool found = false;
    int64_t frames = 0;
    bool music = false;
    bool covers(const std::string& name) const {
        const int64_t index = frameIndex(name);
        return found && ((index >= 0 && index < frames) || (name == "music.wav" && music));
    }
};

Record readRecord(const std::string& folder) {
    Record r;
    std::vector<uint8_t> bytes;
    if (!readBounded(folder + "/" + RECORD_NAME, 4096, &bytes))
        return r;
    const std::string text(bytes.begin(), bytes.end());
    size_t at = 0;
    bool headed = false;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!headed) {
            headed = line == RECORD_HEADER;
            if (!headed)
                return r;
        } else if (line.rfind("frames ", 0) == 0) {
            r.frames = std::clamp<int64_t>(std::atoll(line.c_str() + 7), 0, MAX_FRAMES);
        } else if (line == "music.wav") {
            r.music = true;
        }
    }
    r.found = headed;
    return r;
}

std::string listNames(const std::vector<std::string>& names) {
    std::string text = names[0];
    if (names.size() > 1)
        text += names.size() == 2 ? ", " + names[1]
                                  : ", " + names[1] + " and " + std::to_string(names.size() - 2) + " more";
    return text;
}

// Refuses, before anything is rendered, a folder where this run would write
// over a file no earlier capture recorded, and without --force one that
// holds an earlier capture. Returns that capture's record.
Record checkFolder(const Options& o) {
    std::error_code ec;
    if (std::filesystem::exists(o.out, ec) && !std::filesystem::is_directory(o.out, ec))
        fail("cannot create the folder " + o.out + ": " + reason(EEXIST));
    const Record record = readRecord(o.out);
    std::vector<std::string> inTheWay, earlier;
    for (const auto& entry : std::filesystem::directory_iterator(o.out, ec)) {
        const std::string name = entry.path().filename().string();
        const int64_t index = frameIndex(name);
        const bool ours = name == "music.wav" || (index >= 0 && index < o.frames);
        if (record.covers(name))
            earlier.push_back(name);
        else if (ours)
            inTheWay.push_back(name);
    }
    std::sort(inTheWay.begin(), inTheWay.end());
    std::sort(earlier.begin(), earlier.end());
    if (!inTheWay.empty())
        fail(o.out + "/" + inTheWay[0] + " is in the way: no earlier capture recorded writing it (in " + o.out +
             "/" + RECORD_NAME + "), so not even --force replaces it; move it away or choose another folder");
    if (!o.force && !earlier.empty())
        fail(o.out + " already holds a capture (" + listNames(earlier) + "); --force replaces it");
    return record;
}

// Creates the folder, removes what the earlier capture recorded and records this one.
void prepareFolder(const Options& o, const Record& earlier) {
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (!std::filesystem::is_directory(o.out))
        fail("cannot create the folder " + o.out + ": " + ec.message());
    for (const auto& entry : std::filesystem::directory_iterator(o.out, ec)) {
        const std::string name = entry.path().filename().string();
        if (earlier.covers(name) && !entry.is_directory(ec) && unlink(entry.path().c_str()) != 0)
            fail("cannot remove " + entry.path().string() + ": " + reason(errno));
    }
    const std::string record = std::string(RECORD_HEADER) + "\nframes " + std::to_string(o.frames) + "\nmusic.wav\n";
    if (!writeWholeFile(o.out + "/" + RECORD_NAME, record.data(), record.size()))
        fail("cannot write " + o.out + "/" + RECORD_NAME + ": " + reason(errno));
}

// --- A video through ffmpeg -----------------------------------------------

struct Video {
    OutputFile muxed;        // the finished video, renamed onto OUT
    std::string videoOnly;   // temporary files beside OUT
    std::string audioOnly;
    std::string log;
    bool mp4 = true;         // else the lossless .mkv
    int32_t width = 0;       // for .mp4 even sizes, as H.264 in 4:2:0 wants
    int32_t height = 0;
    pid_t encoder = -1;
    FILE* frames = nullptr;  // the encoder's input
};

std::string tempFile(const std::string& near, const char* tag) {
    std::string path;
    const int fd = createTempFile(near, tag, &path);
    if (fd < 0)
        fail("cannot write " + near + ": " + reason(errno));
    close(fd);
    return path;
}

// Starts ffmpeg with its messages in log and, when input is given, a pipe
// to its standard input. Watched, so that a signal stops it before the
// temporary files go. -1 with errno set.
pid_t startFfmpeg(const std::vector<std::string>& args, const std::string& log, FILE** input) {
    int pipeFds[2] = {-1, -1};
    if (input && pipe2(pipeFds, O_CLOEXEC) != 0)
        return -1;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ffmpeg"));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = input ? pipeFds[0] : open("/dev/null", O_RDONLY);
        const int err = open(log.c_str(), O_WRONLY | O_TRUNC);
        if (in < 0 || err < 0 || dup2(in, STDIN_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0)
            _exit(127);
        signal(SIGPIPE, SIG_DFL);
        execvp("ffmpeg", argv.data());
        _exit(127);
    }
    const int error = errno;
    if (input) {
        close(pipeFds[0]);
        if (pid > 0)
            *input = fdopen(pipeFds[1], "wb");
        else
            close(pipeFds[1]);
    }
    if (pid > 0)
        watchChild(pid);
    errno = error;
    return pid;
}

int waitFfmpeg(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) {
            status = -1;
            break;
        }
    watchChild(0);
    return status;
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
    if (WIFSIGNALED(status))
        return "ffmpeg was killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return "cannot run ffmpeg";
    return "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
}

void checkVideo() {
    if (!onPath("ffmpeg"))
        fail("writing a video needs the ffmpeg command-line tool, which is not on PATH "
             "(install it, or give a folder as --out)");
}

// Everything for a video goes to temporary files beside OUT, renamed onto it when complete.
void openVideo(const Options& o, Video* v) {
    if (!outputOpen(&v->muxed, o.out))
        fail("cannot write " + o.out + ": " + reason(errno));
    std::fclose(v->muxed.file);   // ffmpeg writes it
    v->muxed.file = nullptr;
    v->videoOnly = tempFile(v->muxed.target, "video");
    v->audioOnly = tempFile(v->muxed.target, "audio");
    v->log = tempFile(v->muxed.target, "log");
    v->mp4 = o.output == OUTPUT_MP4;
    // H.264 in 4:2:0 wants even sizes: an odd one gets a black column or row.
    v->width = v->mp4 ? (o.width + 1) & ~1 : o.width;
    v->height = v->mp4 ? (o.height + 1) & ~1 : o.height;
    if (v->width != o.width || v->height != o.height)
        toolError("note: the video is %d x %d; the encoder takes even sizes only, so the frames are padded with black",
                  v->width, v->height);
}

void startEncoder(const Options& o, Video* v) {
    std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-y", "-f", "rawvideo", "-pix_fmt",
                                     "rgb24", "-s", std::to_string(o.width) + "x" + std::to_string(o.height),
                                     "-r", std::to_string(o.fps), "-i", "-"};
    if (v->width != o.width || v->height != o.height)
        args.insert(args.end(), {"-vf", "pad=" + std::to_string(v->width) + ":" + std::to_string(v->height)});
    if (v->mp4)
        args.insert(args.end(), {"-c:v", "libx264", "-profile:v", "high", "-pix_fmt", "yuv420p", "-crf",
                                 std::to_string(o.crf), "-f", "mp4", v->videoOnly});
    else   // RGB kept as RGB: decodes to exactly the frames given
        args.insert(args.end(), {"-c:v", "ffv1", "-level", "3", "-pix_fmt", "bgr0", "-f", "matroska", v->videoOnly});
    v->encoder = startFfmpeg(args, v->log, &v->frames);
    if (v->encoder < 0 || !v->frames)
        fail("cannot write " + o.out + ": cannot start ffmpeg: " + reason(errno));
}

void encodeFrame(const Options& o, Video* v, const std::vector<uint8_t>& rgb) {
    if (std::fwrite(rgb.data(), 1, rgb.size(), v->frames) == rgb.size() && std::fflush(v->frames) == 0)
        return;
    endProgressBar();
    std::fclose(v->frames);
    fail("cannot write " + o.out + ": " + ffmpegFailure(waitFfmpeg(v->encoder), v->log));
}

// Ends the encoding, adds the sound and puts the video in place.
void finishVideo(const Options& o, Video* v) {
    std::fclose(v->frames);
    const int encoded = waitFfmpeg(v->encoder);
    if (encoded != 0)
        fail("cannot write " + o.out + ": " + ffmpegFailure(encoded, v->log));
    if (!writeWav(v->audioOnly, captureAudio(), CAPTURE_RATE))
        fail("cannot write " + o.out + ": " + reason(errno));
    std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", v->videoOnly,
                                     "-i", v->audioOnly, "-c:v", "copy"};
    if (v->mp4)   // the index first, so that playback can start before the whole file is there
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "256k", "-ar", std::to_string(CAPTURE_RATE), "-ac", "2",
                                 "-movflags", "+faststart", "-f", "mp4", v->muxed.temp});
    else
        args.insert(args.end(), {"-c:a", "flac", "-f", "matroska", v->muxed.temp});
    const pid_t muxer = startFfmpeg(args, v->log, nullptr);
    if (muxer < 0)
        fail("cannot write " + o.out + ": cannot start ffmpeg: " + reason(errno));
    const int status = waitFfmpeg(muxer);
    if (status != 0)
        fail("cannot write " + o.out + ": " + ffmpegFailure(status, v->log));
    if (!outputCommit(&v->muxed, true))
        fail("cannot write " + o.out + ": " + reason(errno));
    removeTempFiles();
}

// --- Rendering and the report ---------------------------------------------

struct Timings {
    std::vector<double> all, main, mainCpu;
    int32_t firstMain = -1;
    double windowMs = 0.0;
    double loadMs = 0.0;
};

// Renders every frame and hands it to the output.
void renderFrames(const Options& o, Video* video, Timings* t) {
    std::vector<uint8_t> rgb(static_cast<size_t>(o.width) * o.height * 3);
    for (int32_t i = 0; i < o.frames; ++i) {
        const CaptureFrame f = captureFrame(rgb.data());
        t->all.push_back(f.renderMs);
        if (f.mainPhase) {
            t->main.push_back(f.renderMs);
            t->mainCpu.push_back(f.renderCpuMs);
            if (t->firstMain < 0)
                t->firstMain = i;
        }
        if (o.output == OUTPUT_MP4 || o.output == OUTPUT_MKV) {
            encodeFrame(o, video, rgb);
        } else if (o.output == OUTPUT_FOLDER) {
            const std::string path = o.out + "/" + frameName(i);
            if (!writePng(path, o.width, o.height, rgb.data(), 1, false)) {
                const int error = errno;
                endProgressBar();
                fail("cannot write " + path + ": " + reason(error));
            }
        }
        drawProgress(i + 1, o.frames);
    }
    endProgressBar();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    return values[std::min(index, values.size() - 1)];
}

void reportTimes(const char* label, const std::vector<double>& times) {
    if (times.empty()) {
        std::printf("%s: no frames\n", label);
        return;
    }
    std::printf("%s: %zu frames, median %.2f ms, 99th percentile %.2f ms, max %.2f ms\n", label,
                times.size(), percentile(times, 0.5), percentile(times, 0.99), percentile(times, 1.0));
}

void report(const Options& o, const Timings& t) {
    std::printf("start-up: window and context %.1f ms, loading sequence %.1f ms, first frame %.1f ms\n",
                t.windowMs, t.loadMs, t.all.front());
    if (t.firstMain >= 0)
        std::printf("main phase from frame %d (%.2f s)\n", t.firstMain, static_cast<double>(t.firstMain) / o.fps);
    else
        std::printf("main phase not reached\n");
    reportTimes("render, all frames", t.all);
    reportTimes("render, main phase", t.main);
    reportTimes("render, main phase, CPU time of all threads", t.mainCpu);
}

}  // namespace

int main(int argc, char** argv) {
    // A failing encoder must not kill the tool before it can say why.
    std::signal(SIGPIPE, SIG_IGN);
    const Options o = parseArguments(argc, argv);
    Record earlier;
    Video videoFile;
    const bool video = o.output == OUTPUT_MP4 || o.output == OUTPUT_MKV;
    if (video) {
        checkVideo();
        openVideo(o, &videoFile);
    } else if (o.output == OUTPUT_FOLDER) {
        earlier = checkFolder(o);
    }

    std::string error;
    if (!captureBegin(o.width, o.height, o.fps, &error))
        fail(error);
    if (o.output == OUTPUT_FOLDER)
        prepareFolder(o, earlier);
    else if (video)
        startEncoder(o, &videoFile);

    Timings times;
    renderFrames(o, &videoFile, &times);
    captureFinishAudio();
    times.windowMs = captureWindowMs();
    times.loadMs = captureLoadMs();
    captureEnd();

    if (video)
        finishVideo(o, &videoFile);
    else if (o.output == OUTPUT_FOLDER && !writeWav(o.out + "/music.wav", captureAudio(), CAPTURE_RATE))
        fail("cannot write " + o.out + "/music.wav: " + reason(errno));
    report(o, times);
    return 0;
}
