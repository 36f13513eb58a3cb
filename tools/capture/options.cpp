// tumble-capture's command line.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include "tools/capture/capture.h"
#include "tools/capture/tool.h"
#include "tools/common/cli.h"

namespace {

// Video files people may expect that this tool does not write: refused
// rather than taken as a folder's name.
const char* const OTHER_VIDEO_EXTENSIONS[] = {".webm", ".mov", ".avi", ".m4v", ".mpg", ".mpeg", ".ogv", ".ogg",
                                              ".flv", ".wmv", ".ts", ".m2ts", ".3gp", ".gif", ".mxf", ".h264"};

bool hasExtension(const std::string& path, const char* extension) {
    const size_t n = std::strlen(extension);
    if (path.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != extension[i])
            return false;
    return true;
}

// The most frames at fps whose sound still fits a WAV file: frame n starts
// at sample n * rate / fps.
int64_t longestFrames(int32_t fps) {
    const uint64_t samples = WAV_MAX_DATA_BYTES / 4;
    return static_cast<int64_t>(((samples + 1) * static_cast<uint64_t>(fps) - 1) / CAPTURE_RATE);
}

}  // namespace

int parseArguments(int argc, char** argv, Options* out) {
    Options& o = *out;
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
    CLI::Option* outOption = app.add_option(
        "--out", o.out,
        "A folder (frame00000.png ... and music.wav) or a file ending in .mp4 or .mkv; a file is replaced "
        "only once complete, keeping its permissions, and a symbolic link is written through to its target");
    app.add_flag("--discard", o.discard, "Write nothing, only report the render times")->excludes(outOption);
    app.add_flag("--force", o.force,
                 "Replace an earlier capture in the folder: only the files it recorded writing there");
    const int parsed = cliParse(app, argc, argv);
    if (parsed >= 0)
        return parsed;
    if (o.out.empty() && !o.discard)
        return usageError("no --out given (a folder or a file ending in .mp4 or .mkv), nor --discard");
    if (o.out == "--")
        return usageError("--out needs a folder or file name, not '--' (a folder of that name is ./--)");
    const int64_t frames = std::llround(o.seconds * o.fps);
    if (frames < 1 || frames > MAX_FRAMES)
        return usageError("--seconds times --fps must give between 1 and 10000000 frames");
    o.frames = static_cast<int32_t>(frames);
    o.output = o.discard                    ? OUTPUT_NONE
               : hasExtension(o.out, ".mp4") ? OUTPUT_MP4
               : hasExtension(o.out, ".mkv") ? OUTPUT_MKV
                                             : OUTPUT_FOLDER;
    for (const char* extension : OTHER_VIDEO_EXTENSIONS)
        if (o.output == OUTPUT_FOLDER && hasExtension(o.out, extension))
            return usageError("--out " + o.out + ": writes .mp4 and .mkv videos only, or a folder");
    if (crf->count() && o.output != OUTPUT_MP4)
        return usageError("--crf sets the quality of an .mp4 only");
    // The sound goes through a WAV file (music.wav, or the video's), whose sizes are 32-bit.
    const int64_t longest = longestFrames(o.fps);
    if (o.output != OUTPUT_NONE && frames > longest) {
        const double seconds = longestSeconds(static_cast<uint64_t>(longest), o.fps);
        char message[200];
        std::snprintf(message, sizeof message,
                      "--seconds: %.10g s would pass the WAV format's 4 GiB limit; the longest allowed is %.2f "
                      "(at --fps %d)",
                      o.seconds, seconds, o.fps);
        return usageError(message);
    }
    return -1;
}
