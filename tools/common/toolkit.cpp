#include "tools/common/toolkit.h"
#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <algorithm>
#include <climits>
#include <unistd.h>
#include <csignal>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level,
              bool durable) {
    OutputFile out;
    if (!outputOpen(&out, path))
        return false;
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        const int error = errno;
        png_destroy_write_struct(&png, &info);
        outputAbort(&out);
        errno = error;
        return false;
    }
    png_init_io(png, out.file);
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y)
        png_write_row(png, rgb + static_cast<size_t>(y) * width * 3);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return outputCommit(&out, durable);
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
    std::vector<uint8_t> bytes(WAV_HEADER_BYTES + samples.size() * 2);
    wavHeader(bytes.data(), rate, static_cast<uint32_t>(samples.size() * 2));
    toLittleEndian(samples.data(), samples.size(), bytes.data() + WAV_HEADER_BYTES);
    return writeWholeFile(path, bytes.data(), bytes.size());
}

bool writeWholeFile(const std::string& path, const void* bytes, size_t size) {
    OutputFile out;
    if (!outputOpen(&out, path))
        return false;
    if (std::fwrite(bytes, 1, size, out.file) != size) {
        const int error = errno;
        outputAbort(&out);
        errno = error;
        return false;
    }
    return outputCommit(&out, true);
}

bool readUpTo(int fd, std::vector<uint8_t>* bytes, uint64_t limit) {
    uint8_t chunk[65536];
    while (bytes->size() < limit) {
        const size_t want = std::min<uint64_t>(sizeof chunk, limit - bytes->size());
        const ssize_t n = read(fd, chunk, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            break;
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
    return true;
}

bool readBounded(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes) {
    bytes->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    int error = 0;
    if (fstat(fd, &st) != 0)
        error = errno;
    else if (S_ISDIR(st.st_mode))
        error = EISDIR;
    else if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > limit)
        error = EFBIG;
    else if (!readUpTo(fd, bytes, limit + 1))
        error = errno;
    else if (bytes->size() > limit)
        error = EFBIG;
    close(fd);
    if (error)
        bytes->clear();
    errno = error;
    return error == 0;
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

// Fixed slots, so that the signal handler only reads memory, stops the
// helper and unlinks.
struct TempSlot {
    char path[4096];
    volatile sig_atomic_t used;
};
TempSlot tempSlots[8];
volatile sig_atomic_t childPid = 0;
bool cleanupInstalled = false;

void stopChild() {
    const pid_t pid = childPid;
    if (pid <= 0)
        return;
    // Killed outright: it may be blocked reading input that will never come,
    // and whatever it was writing is thrown away.
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    childPid = 0;
}

void removeOnSignal(int signal) {
    stopChild();
    for (TempSlot& slot : tempSlots)
        if (slot.used)
            unlink(slot.path);
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

void installCleanup() {
    if (cleanupInstalled)
        return;
    cleanupInstalled = true;
    std::atexit(removeTempFiles);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        // What the user chose to ignore (nohup, trap '' INT) stays ignored.
        struct sigaction inherited {};
        if (sigaction(s, nullptr, &inherited) != 0 || inherited.sa_handler == SIG_IGN)
            continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = removeOnSignal;
        sigemptyset(&cleanup.sa_mask);
        for (int other : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&cleanup.sa_mask, other);
        sigaction(s, &cleanup, nullptr);
    }
}

}  // namespace

void watchChild(int pid) {
    installCleanup();
    childPid = pid;
}

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
    stopChild();
    for (TempSlot& slot : tempSlots)
        if (slot.used) {
            unlink(slot.path);
            slot.used = 0;
        }
}

std::string outputTarget(const std::string& path) {
    std::string p = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return p;
        char link[PATH_MAX];
        const ssize_t n = readlink(p.c_str(), link, sizeof link - 1);
        if (n < 0)
            return p;
        link[n] = 0;
        const size_t slash = p.rfind('/');
        if (link[0] == '/' || slash == std::string::npos)
            p = link;
        else
            p = p.substr(0, slash + 1) + link;
    }
    return p;
}

bool outputOpen(OutputFile* out, const std::string& path) {
    *out = OutputFile();
    out->target = outputTarget(path);
    struct stat st;
    if (stat(out->target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (faccessat(AT_FDCWD, out->target.c_str(), W_OK, AT_EACCESS) != 0)
            return false;
        if (!S_ISREG(st.st_mode)) {
            out->file = std::fopen(out->target.c_str(), "wb");
            return out->file != nullptr;
        }
        out->replacing = true;
        out->mode = st.st_mode & 07777;
        out->owner = st.st_uid;
        out->group = st.st_gid;
    }
    const int fd = createTempFile(out->target, "part", &out->temp);
    if (fd < 0)
        return false;
    out->file = fdopen(fd, "wb");
    if (!out->file) {
        const int error = errno;
        close(fd);
        outputAbort(out);
        errno = error;
        return false;
    }
    return true;
}

bool outputCommit(OutputFile* out, bool durable) {
    bool ok = true;
    int error = 0;
    if (out->file) {
        ok = std::fflush(out->file) == 0 && (out->temp.empty() || !durable || fsync(fileno(out->file)) == 0);
        error = errno;
        if (std::fclose(out->file) != 0 && ok) {
            ok = false;
            error = errno;
        }
        out->file = nullptr;
    } else if (durable && !out->temp.empty()) {
        const int fd = open(out->temp.c_str(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && fsync(fd) == 0;
        error = errno;
        if (fd >= 0)
            close(fd);
    }
    if (ok && out->replacing) {
        // The owner first: a change of owner clears set-id bits that chmod then restores.
        if (fchownat(AT_FDCWD, out->temp.c_str(), out->owner, out->group, 0) != 0)
            fchownat(AT_FDCWD, out->temp.c_str(), static_cast<uid_t>(-1), out->group, 0);
        if (chmod(out->temp.c_str(), out->mode) != 0) {
            ok = false;
            error = errno;
        }
    }
    if (ok && !out->temp.empty() && std::rename(out->temp.c_str(), out->target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!out->temp.empty()) {
        if (!ok)
            unlink(out->temp.c_str());
        keepTempFile(out->temp);
    }
    out->temp.clear();
    errno = error;
    return ok;
}

void outputAbort(OutputFile* out) {
    if (out->file)
        std::fclose(out->file);
    out->file = nullptr;
    if (!out->temp.empty()) {
        unlink(out->temp.c_str());
        keepTempFile(out->temp);
    }
    out->temp.clear();
}

bool progressShown() {
    // isatty sets errno on a pipe or file; a caller's reason must survive it.
    const int saved = errno;
    static const bool terminal = isatty(STDERR_FILENO) == 1;
    errno = saved;
    return terminal;
}

void endProgressBar() {
    const int saved = errno;
    if (progressShown())
        std::fputc('\n', stderr);
    errno = saved;
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
