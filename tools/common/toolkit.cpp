#include "tools/common/toolkit.h"
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <csignal>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y)
        png_write_row(png, rgb + static_cast<size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        return false;
    image.format = PNG_FORMAT_RGB;
    rgb->assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, rgb->data(), 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    *width = static_cast<int32_t>(image.width);
    *height = static_cast<int32_t>(image.height);
    return true;
}

void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes) {
    auto put32 = [&](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put16 = [&](int at, uint32_t v) {
        header[at] = static_cast<uint8_t>(v);
        header[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    std::memcpy(header, "RIFF", 4);
    put32(4, 36 + dataBytes);
    std::memcpy(header + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);                              // PCM
    put16(22, 2);                              // stereo
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate) * 4);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(header + 36, "data", 4);
    put32(40, dataBytes);
}

void toLittleEndian(const int16_t* samples, size_t count, uint8_t* bytes) {
    for (size_t i = 0; i < count; ++i) {
        const uint16_t v = static_cast<uint16_t>(samples[i]);
        bytes[i * 2] = static_cast<uint8_t>(v);
        bytes[i * 2 + 1] = static_cast<uint8_t>(v >> 8);
    }
}

bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, rate, static_cast<uint32_t>(samples.size() * 2));
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    std::vector<uint8_t> bytes(samples.size() * 2);
    toLittleEndian(samples.data(), samples.size(), bytes.data());
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

const char* toolName = "tumble";

int toolError(const char* format, ...) {
    std::fprintf(stderr, "%s: ", toolName);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    return 1;
}

const char* reason(int error) {
    return error ? std::strerror(error) : "unknown error";
}

namespace {

// Fixed slots, so that the signal handler only reads memory and unlinks.
struct TempSlot {
    char path[4096];
    volatile sig_atomic_t used;
};
TempSlot tempSlots[8];
bool cleanupInstalled = false;

void removeOnSignal(int signal) {
    for (TempSlot& slot : tempSlots)
        if (slot.used)
            unlink(slot.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installCleanup() {
    if (cleanupInstalled)
        return;
    cleanupInstalled = true;
    std::atexit(removeTempFiles);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        std::signal(s, removeOnSignal);
}

}  // namespace

int createTempFile(const std::string& near, const char* tag, std::string* path) {
    installCleanup();
    TempSlot* slot = nullptr;
    for (TempSlot& s : tempSlots)
        if (!s.used && !slot)
            slot = &s;
    std::string name = near + "." + tag + "-XXXXXX";
    if (!slot || name.size() >= sizeof slot->path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(slot->path, name.c_str(), name.size() + 1);
    const int fd = mkostemp(slot->path, O_CLOEXEC);
    if (fd < 0)
        return -1;
    slot->used = 1;
    // mkostemp makes the file private; an output file gets what a new file gets.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    *path = slot->path;
    return fd;
}

void keepTempFile(const std::string& path) {
    for (TempSlot& slot : tempSlots)
        if (slot.used && path == slot.path)
            slot.used = 0;
}

void removeTempFiles() {
    for (TempSlot& slot : tempSlots)
        if (slot.used) {
            unlink(slot.path);
            slot.used = 0;
        }
}

bool progressShown() {
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    return terminal;
}

void endProgressBar() {
    if (progressShown())
        std::fputc('\n', stderr);
}

void drawProgressBar(uint64_t done, uint64_t total, const char* suffix) {
    if (!progressShown())
        return;
    const int width = 40;
    const uint64_t filled = total ? done * width / total : width;
    const unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100u;
    char bar[width + 1];
    for (int i = 0; i < width; ++i)
        bar[i] = static_cast<uint64_t>(i) < filled ? '#' : '.';
    bar[width] = 0;
    std::fprintf(stderr, "\r[%s] %3u%%%s", bar, percent, suffix ? suffix : "");
    std::fflush(stderr);
}
