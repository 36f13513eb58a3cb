// tumble-capture: renders the show offline into PNG frames and a WAV file,
// or through the ffmpeg command-line tool into an H.264/AAC .mp4 or a
// lossless FFV1/FLAC .mkv.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>
#include "tools/capture/capture.h"
#include "tools/capture/tool.h"
#include "tools/common/cli.h"

namespace {

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

struct Outputs {
    Folder folder;
    Video video;
};

// The sound played up to now goes to its file as it comes.
bool passSound(const Options& o, Outputs* out, std::vector<int16_t>* samples) {
    captureTakeAudio(samples);
    if (o.output == OUTPUT_FOLDER)
        return folderSound(&out->folder, *samples);
    if (o.output == OUTPUT_MP4 || o.output == OUTPUT_MKV)
        return videoSound(o, &out->video, *samples);
    return true;
}

// Renders every frame and hands it and its sound to the output.
bool renderFrames(const Options& o, Outputs* out, Timings* t) {
    std::vector<uint8_t> rgb(static_cast<size_t>(o.width) * o.height * 3);
    std::vector<int16_t> sound;
    for (int32_t i = 0; i < o.frames; ++i) {
        const CaptureFrame f = captureFrame(rgb.data());
        t->all.push_back(f.renderMs);
        if (f.mainPhase) {
            t->main.push_back(f.renderMs);
            t->mainCpu.push_back(f.renderCpuMs);
            if (t->firstMain < 0)
                t->firstMain = i;
        }
        bool ok = passSound(o, out, &sound);
        if (ok && o.output == OUTPUT_FOLDER)
            ok = folderFrame(o, &out->folder, i, rgb);
        else if (ok && o.output != OUTPUT_NONE)
            ok = videoFrame(o, &out->video, rgb);
        if (!ok) {
            endProgressBar();
            return false;
        }
        drawProgress(i + 1, o.frames);
    }
    endProgressBar();
    captureFinishAudio();
    return passSound(o, out, &sound);
}

int run(const Options& o, Outputs* out) {
    const bool video = o.output == OUTPUT_MP4 || o.output == OUTPUT_MKV;
    if (video && !videoOpen(o, &out->video))
        return EXIT_FAILED;
    if (o.output == OUTPUT_FOLDER && !folderOpen(o, &out->folder))
        return EXIT_FAILED;

    std::string error;
    if (!captureBegin(o.width, o.height, o.fps, &error))
        return toolError("%s", error.c_str());
    if (o.output == OUTPUT_FOLDER && !folderPrepare(o, &out->folder))
        return EXIT_FAILED;
    if (video && !videoStart(o, &out->video))
        return EXIT_FAILED;

    Timings times;
    if (!renderFrames(o, out, &times))
        return EXIT_FAILED;
    times.windowMs = captureWindowMs();
    times.loadMs = captureLoadMs();
    captureEnd();

    if (video && !videoFinish(o, &out->video))
        return EXIT_FAILED;
    if (o.output == OUTPUT_FOLDER && !folderFinish(&out->folder))
        return EXIT_FAILED;
    report(o, times);
    return EXIT_OK;
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

}  // namespace

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

int main(int argc, char** argv) {
    // A failing encoder must not kill the tool before it can say why.
    std::signal(SIGPIPE, SIG_IGN);
    Options o;
    const int parsed = parseArguments(argc, argv, &o);
    if (parsed >= 0)
        return parsed;
    Outputs out;
    const int status = run(o, &out);
    if (status != EXIT_OK && o.output == OUTPUT_FOLDER)
        folderAbandon(&out.folder);
    return status;
}
