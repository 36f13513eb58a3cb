// What the command-line tools share: PNG and WAV files, the terminal progress bar.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB, row 0 at the top; level is zlib's compression level.
bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level);
bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb);

// 44-byte header of a 16-bit stereo PCM WAV holding dataBytes of samples.
enum { WAV_HEADER_BYTES = 44 };
void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes);
// Little-endian bytes whatever the host's order.
void toLittleEndian(const int16_t* samples, size_t count, uint8_t* bytes);
bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate);

// "\r[####....]  42%" on stderr, followed by suffix.
void drawProgressBar(uint64_t done, uint64_t total, const char* suffix);
