// What the command-line tools share: PNG and WAV files, error messages,
// temporary files and the terminal progress bar.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB, row 0 at the top; level is zlib's compression level.
// On failure errno says why where the system gave a reason (else it is 0).
bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level);
bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb);

// 44-byte header of a 16-bit stereo PCM WAV holding dataBytes of samples.
enum { WAV_HEADER_BYTES = 44 };
void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes);
// The most sample bytes a WAV can hold: its sizes are 32-bit.
constexpr uint64_t WAV_MAX_DATA_BYTES = 0xffffffffu - 36u;
// Little-endian bytes whatever the host's order.
void toLittleEndian(const int16_t* samples, size_t count, uint8_t* bytes);
bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate);

// The tool's name in its messages ("tumble-xm2wav").
extern const char* toolName;
// "NAME: message" on stderr; returns 1 (failure).
int toolError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The system's reason for errno, or "unknown error" when it gave none.
const char* reason(int error);

// A new empty file in the folder of `near`, named after it (near.TAG-XXXXXX),
// with the usual permissions. It is removed at exit, on SIGINT, SIGTERM and
// SIGHUP, and by removeTempFiles, unless keepTempFile was called first.
// Returns its descriptor, or -1 with errno set.
int createTempFile(const std::string& near, const char* tag, std::string* path);
void keepTempFile(const std::string& path);
void removeTempFiles();

// "\r[####....]  42%" on stderr, followed by suffix; only when stderr is a
// terminal, so logs and pipes get no bars. endProgressBar ends its line.
bool progressShown();
void drawProgressBar(uint64_t done, uint64_t total, const char* suffix);
void endProgressBar();
