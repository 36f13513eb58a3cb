// The parts of tumble-capture's command line tool: its options, the two
// kinds of output and the timing report. Each function that can fail says
// why on stderr and returns false.
#pragma once
#include <sys/types.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "tools/common/toolkit.h"

enum Output { OUTPUT_FOLDER, OUTPUT_MP4, OUTPUT_MKV, OUTPUT_NONE };

// The most frames a capture takes, and a record may name.
constexpr int32_t MAX_FRAMES = 10000000;

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

// -1 when the tool goes on with *o filled in, else its exit code (the message printed).
int parseArguments(int argc, char** argv, Options* o);

// --- A folder of frames ----------------------------------------------------

// What an earlier capture recorded writing: its frame count and music.wav.
struct Record {
    bool found = false;
    int64_t frames = 0;
    bool music = false;
};

struct Folder {
    std::string path;                   // OUT as given, for messages
    int fd = -1;                        // OUT, open and locked to the end
    bool locked = false;                // no other capture uses OUT
    std::vector<std::string> created;   // the folders this run made for OUT
    Record earlier;
    std::vector<std::string> earlierFiles;   // what --force removes
    OutputFile music;
    uint64_t musicBytes = 0;
};

// Opens (creating it when missing) and locks OUT, and checks, before
// anything is rendered, that this run may write there.
bool folderOpen(const Options& o, Folder* f);
// Removes the earlier capture, records this one and starts music.wav.
bool folderPrepare(const Options& o, Folder* f);
bool folderFrame(const Options& o, Folder* f, int32_t index, const std::vector<uint8_t>& rgb);
bool folderSound(Folder* f, const std::vector<int16_t>& samples);
bool folderFinish(Folder* f);
// After a failure: removes the folders this run made, while empty and
// no other capture has them.
void folderAbandon(Folder* f);

// --- A video through ffmpeg ------------------------------------------------

struct Video {
    OutputFile muxed;        // the finished video, renamed onto OUT
    std::string folder;      // a private folder beside OUT for ffmpeg's files
    std::string videoOnly;
    std::string log;
    std::string audioOnly;   // the sound as a WAV
    FILE* audio = nullptr;
    uint64_t audioBytes = 0;
    bool mp4 = true;         // else the lossless .mkv
    int32_t width = 0;       // for .mp4 even sizes, as H.264 in 4:2:0 wants
    int32_t height = 0;
    pid_t encoder = -1;
    FILE* frames = nullptr;  // the encoder's input
};

// Checks ffmpeg and OUT before anything is rendered and makes the temporary files.
bool videoOpen(const Options& o, Video* v);
bool videoStart(const Options& o, Video* v);
bool videoFrame(const Options& o, Video* v, const std::vector<uint8_t>& rgb);
bool videoSound(const Options& o, Video* v, const std::vector<int16_t>& samples);
// Ends the encoding, adds the sound and puts the video in place.
bool videoFinish(const Options& o, Video* v);

// --- The report --------------------------------------------------------------

struct Timings {
    std::vector<double> all, main, mainCpu;
    int32_t firstMain = -1;
    double windowMs = 0.0;
    double loadMs = 0.0;
};

void report(const Options& o, const Timings& t);
