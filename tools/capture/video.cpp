// A video through the ffmpeg command-line tool: the frames piped to an
// encoder, the sound as a WAV file, then both muxed into the .mp4 or .mkv.
// ffmpeg writes its files by name, so they live in a private folder the
// tool makes beside OUT; the finished video is renamed from there onto OUT.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include "tools/capture/capture.h"
#include "tools/capture/tool.h"

namespace {

bool failed(const Options& o, const std::string& why) {
    toolError("cannot write %s: %s", o.out.c_str(), why.c_str());
    return false;
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
        const std::string dir = end > start ? all.substr(start, end - start) : std::string(".");
        const std::string candidate = dir + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// A new empty file in the private folder.
bool tempFile(const Video& v, std::string* path) {
    const int fd = createTempFile(v.folder + "/x", path);
    if (fd < 0)
        return false;
    close(fd);
    return true;
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
        const int err = open(log.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW);
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
    if (status == 0)
        return "ffmpeg ended without an error before it took all the frames";
    return "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
}

// Runs ffmpeg to its end and checks that it wrote something at output.
bool ranFfmpeg(const Options& o, const Video& v, pid_t pid, const std::string& output) {
    const int status = waitFfmpeg(pid);
    if (status != 0)
        return failed(o, ffmpegFailure(status, v.log));
    struct stat st;
    if (stat(output.c_str(), &st) != 0 || st.st_size == 0)
        return failed(o, "ffmpeg ended without an error but wrote nothing");
    return true;
}

}  // namespace

bool videoOpen(const Options& o, Video* v) {
    if (!onPath("ffmpeg")) {
        toolError("writing a video needs the ffmpeg command-line tool, which is not on PATH "
                  "(install it, or give a folder as --out)");
        return false;
    }
    if (!outputCheck(&v->muxed, o.out))
        return failed(o, reason(errno));
    struct stat st;
    if (v->muxed.special && stat(v->muxed.target.c_str(), &st) == 0)
        return failed(o, std::string("it is ") + fileKind(st.st_mode) +
                             "; a video goes to a new file or replaces a regular one");
    if (!createTempFolder(v->muxed.target, &v->folder) || !tempFile(*v, &v->videoOnly) || !tempFile(*v, &v->log) ||
        !tempFile(*v, &v->muxed.temp))
        return failed(o, reason(errno));
    const int audio = createTempFile(v->folder + "/x", &v->audioOnly);
    v->audio = audio >= 0 ? fdopen(audio, "wb") : nullptr;
    if (!v->audio || !wavStart(v->audio))
        return failed(o, reason(errno));
    v->mp4 = o.output == OUTPUT_MP4;
    // H.264 in 4:2:0 wants even sizes: an odd one gets a black column or row.
    v->width = v->mp4 ? (o.width + 1) & ~1 : o.width;
    v->height = v->mp4 ? (o.height + 1) & ~1 : o.height;
    if (v->width != o.width || v->height != o.height)
        toolError("note: the video is %d x %d; the encoder takes even sizes only, so the frames are padded with black",
                  v->width, v->height);
    return true;
}

bool videoStart(const Options& o, Video* v) {
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
        return failed(o, std::string("cannot start ffmpeg: ") + reason(errno));
    return true;
}

bool videoFrame(const Options& o, Video* v, const std::vector<uint8_t>& rgb) {
    if (std::fwrite(rgb.data(), 1, rgb.size(), v->frames) == rgb.size() && std::fflush(v->frames) == 0)
        return true;
    endProgressBar();
    std::fclose(v->frames);
    v->frames = nullptr;
    return failed(o, ffmpegFailure(waitFfmpeg(v->encoder), v->log));
}

bool videoSound(const Options& o, Video* v, const std::vector<int16_t>& samples) {
    if (wavAppend(v->audio, samples.data(), samples.size(), &v->audioBytes))
        return true;
    return failed(o, reason(errno));
}

bool videoFinish(const Options& o, Video* v) {
    std::fclose(v->frames);
    v->frames = nullptr;
    if (!ranFfmpeg(o, *v, v->encoder, v->videoOnly))
        return false;
    const bool sound = wavEnd(v->audio, CAPTURE_RATE, v->audioBytes);
    int error = errno;
    const bool closed = std::fclose(v->audio) == 0;
    if (sound && !closed)
        error = errno;
    v->audio = nullptr;
    if (!sound || !closed)
        return failed(o, reason(error));
    std::vector<std::string> args = {"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", v->videoOnly,
                                     "-f", "wav", "-i", v->audioOnly, "-c:v", "copy"};
    if (v->mp4)   // the index first, so that playback can start before the whole file is there
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "256k", "-ar", std::to_string(CAPTURE_RATE), "-ac", "2",
                                 "-movflags", "+faststart", "-f", "mp4", v->muxed.temp});
    else
        args.insert(args.end(), {"-c:a", "flac", "-f", "matroska", v->muxed.temp});
    const pid_t muxer = startFfmpeg(args, v->log, nullptr);
    if (muxer < 0)
        return failed(o, std::string("cannot start ffmpeg: ") + reason(errno));
    if (!ranFfmpeg(o, *v, muxer, v->muxed.temp))
        return false;
    if (!outputCommit(&v->muxed, true))
        return failed(o, reason(errno));
    removeTempFiles();
    return true;
}
