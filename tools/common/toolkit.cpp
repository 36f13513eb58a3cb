#include "tools/common/toolkit.h"
#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include "tools/common/bytes.h"

namespace {

// libpng's own messages stay unprinted: the caller says what failed, with errno's reason.
void pngFailed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void pngWarned(png_structp, png_const_charp) {}

}  // namespace

bool writePngTo(FILE* file, int32_t width, int32_t height, const uint8_t* rgb, int level) {
    errno = 0;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarned);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        const int error = errno;
        png_destroy_write_struct(&png, &info);
        errno = error;
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
    return true;
}

bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level,
              bool durable) {
    OutputFile out;
    if (!outputOpen(&out, path))
        return false;
    if (!writePngTo(out.file, width, height, rgb, level)) {
        const int error = errno;
        outputAbort(&out);
        errno = error;
        return false;
    }
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
    Bytes b;
    putText(b, "RIFF", 4);
    put32(b, 36 + dataBytes);
    putText(b, "WAVEfmt ", 8);
    put32(b, 16);
    put16(b, 1);   // PCM
    put16(b, 2);   // stereo
    put32(b, static_cast<uint32_t>(rate));
    put32(b, static_cast<uint32_t>(rate) * 4);
    put16(b, 4);
    put16(b, 16);
    putText(b, "data", 4);
    put32(b, dataBytes);
    std::memcpy(header, b.data(), WAV_HEADER_BYTES);
}

bool wavStart(FILE* file) {
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, 0, 0);
    return std::fwrite(header, 1, sizeof header, file) == sizeof header;
}

bool wavAppend(FILE* file, const int16_t* samples, size_t count, uint64_t* dataBytes) {
    if (*dataBytes + count * 2 > WAV_MAX_DATA_BYTES) {
        errno = EFBIG;
        return false;
    }
    // A little-endian host writes the samples as they are.
    if constexpr (std::endian::native == std::endian::little) {
        if (count > 0 && std::fwrite(samples, 2, count, file) != count)
            return false;
        *dataBytes += count * 2;
        return true;
    }
    Bytes bytes;
    for (size_t done = 0; done < count;) {
        const size_t n = std::min<size_t>(count - done, 4096);
        bytes.clear();
        for (size_t i = 0; i < n; ++i)
            put16(bytes, static_cast<uint16_t>(samples[done + i]));
        if (std::fwrite(bytes.data(), 1, n * 2, file) != n * 2)
            return false;
        done += n;
    }
    *dataBytes += count * 2;
    return true;
}

bool wavEnd(FILE* file, int32_t rate, uint64_t dataBytes) {
    uint8_t header[WAV_HEADER_BYTES];
    wavHeader(header, rate, static_cast<uint32_t>(dataBytes));
    return std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, file) == sizeof header;
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

const char* fileKind(unsigned mode) {
    switch (mode & S_IFMT) {
    case S_IFREG: return "a file";
    case S_IFDIR: return "a folder";
    case S_IFLNK: return "a symbolic link";
    case S_IFIFO: return "a FIFO";
    case S_IFSOCK: return "a socket";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    default: return "an unknown kind of file";
    }
}

bool createFolder(const std::string& path, std::string* why, std::vector<std::string>* created) {
    std::vector<size_t> ends;
    for (size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/' && path[i - 1] != '/')
            ends.push_back(i);
    ends.push_back(path.size());
    for (const size_t end : ends) {
        const std::string part = path.substr(0, end);
        if (mkdir(part.c_str(), 0777) == 0) {
            if (created)
                created->push_back(part);
            continue;
        }
        const int error = errno;
        struct stat st;
        if (stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (error != EEXIST)
            *why = "cannot create the folder " + path + ": " + reason(error);
        else if (lstat(part.c_str(), &st) != 0 || (stat(part.c_str(), &st) != 0 && errno != ENOENT))
            *why = "cannot create the folder " + path + ": " + reason(errno);
        else if (S_ISLNK(st.st_mode))
            *why = "cannot create the folder " + path + ": " + part + " is a symbolic link to nothing";
        else
            *why = (part == path ? path : "cannot create the folder " + path + ": " + part) + " is " +
                   fileKind(st.st_mode) + ", not a folder";
        return false;
    }
    return true;
}

bool listFolder(int dir, std::vector<std::string>* names) {
    const int listing = dup(dir);
    DIR* folder = listing >= 0 ? fdopendir(listing) : nullptr;
    if (!folder) {
        const int error = errno;
        if (listing >= 0)
            close(listing);
        errno = error;
        return false;
    }
    rewinddir(folder);
    errno = 0;
    while (const dirent* entry = readdir(folder)) {
        names->push_back(entry->d_name);
        errno = 0;
    }
    const int error = errno;
    closedir(folder);
    errno = error;
    return error == 0;
}

namespace {

// Fixed slots, so that the signal handler only reads memory, stops the
// helper and unlinks. Names are relative to dir; folders go after their files.
struct TempSlot {
    int dir;
    char path[4096];
    volatile sig_atomic_t used;
    bool folder;
};
TempSlot tempSlots[16];
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

void removeSlots() {
    for (bool folders : {false, true})
        for (TempSlot& slot : tempSlots)
            if (slot.used && slot.folder == folders) {
                unlinkat(slot.dir, slot.path, folders ? AT_REMOVEDIR : 0);
                slot.used = 0;
            }
}

void removeOnSignal(int signal) {
    stopChild();
    removeSlots();
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

TempSlot* freeSlot(const std::string& path) {
    for (TempSlot& s : tempSlots)
        if (!s.used)
            return path.size() < sizeof s.path ? &s : nullptr;
    return nullptr;
}

void useSlot(TempSlot* slot, int dir, const std::string& path, bool folder) {
    slot->dir = dir;
    slot->folder = folder;
    std::memcpy(slot->path, path.c_str(), path.size() + 1);
    slot->used = 1;
}

// ".tumble-TOOL-PID-" for this process.
std::string tempPrefix() {
    const char* tool = std::strncmp(toolName, "tumble-", 7) == 0 ? toolName + 7 : toolName;
    return std::string(".tumble-") + tool + "-" + std::to_string(getpid()) + "-";
}

std::string randomSuffix() {
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    uint8_t bytes[6] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        static uint32_t counter = 0;
        const uint64_t mix = (static_cast<uint64_t>(getpid()) << 32) ^ ++counter ^ static_cast<uint64_t>(time(nullptr));
        for (int i = 0; i < 6; ++i)
            bytes[i] = static_cast<uint8_t>(mix >> (i * 8));
    }
    std::string s;
    for (uint8_t b : bytes)
        s += letters[b % (sizeof letters - 1)];
    return s;
}

// The process id in a temporary file's name, else 0.
pid_t tempOwner(const char* name) {
    if (std::strncmp(name, ".tumble-", 8) != 0)
        return 0;
    const char* tool = name + 8;
    const char* end = tool;
    while (std::isalnum(static_cast<unsigned char>(*end)))
        ++end;
    if (end == tool || *end != '-')
        return 0;
    const char* digits = end + 1;
    const char* after = digits;
    while (std::isdigit(static_cast<unsigned char>(*after)))
        ++after;
    if (after == digits || after - digits > 9 || *after != '-' || std::strlen(after + 1) != 6)
        return 0;
    for (const char* c = after + 1; *c; ++c)
        if (!std::isalnum(static_cast<unsigned char>(*c)))
            return 0;
    return static_cast<pid_t>(std::atol(digits));
}

// Removes the temporary files and private folders of this user's runs that
// no longer run from the folder dir, once per folder and run.
void removeStale(int dir) {
    static std::vector<std::pair<dev_t, ino_t>> done;
    struct stat st;
    if (fstat(dir, &st) != 0)
        return;
    for (const auto& d : done)
        if (d.first == st.st_dev && d.second == st.st_ino)
            return;
    done.push_back({st.st_dev, st.st_ino});
    std::vector<std::string> names;
    if (!listFolder(dir, &names))
        return;
    for (const std::string& name : names) {
        const pid_t pid = tempOwner(name.c_str());
        if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        struct stat file;
        if (fstatat(dir, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 || file.st_uid != geteuid())
            continue;
        if (S_ISREG(file.st_mode)) {
            unlinkat(dir, name.c_str(), 0);
        } else if (S_ISDIR(file.st_mode)) {
            const int inner = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            std::vector<std::string> files;
            const bool listed = inner >= 0 && listFolder(inner, &files);
            for (const std::string& entry : files)
                if (tempOwner(entry.c_str()) > 0)
                    unlinkat(inner, entry.c_str(), 0);
            if (inner >= 0)
                close(inner);
            if (listed)
                unlinkat(dir, name.c_str(), AT_REMOVEDIR);
        }
    }
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void removeStaleIn(const std::string& folder) {
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        removeStale(dir);
        close(dir);
    }
}

// A new temporary file or folder relative to dir, registered for removal.
int createTemp(int dir, const std::string& folder, std::string* name, bool isFolder) {
    installCleanup();
    if (dir == AT_FDCWD)
        removeStaleIn(folder);
    else
        removeStale(dir);
    const std::string prefix = (dir == AT_FDCWD ? (folder == "/" ? "/" : folder + "/") : std::string()) + tempPrefix();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = prefix + randomSuffix();
        TempSlot* slot = freeSlot(path);
        if (!slot) {
            errno = ENAMETOOLONG;
            return -1;
        }
        int fd = 0;
        if (isFolder)
            fd = mkdirat(dir, path.c_str(), 0700);
        else
            fd = openat(dir, path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return -1;
        useSlot(slot, dir, path, isFolder);
        *name = path;
        return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

void watchChild(int pid) {
    installCleanup();
    childPid = pid;
}

int createTempFile(const std::string& near, std::string* path) {
    return createTemp(AT_FDCWD, folderOf(near), path, false);
}

int createTempFileAt(int dir, std::string* name) {
    return createTemp(dir, std::string(), name, false);
}

bool createTempFolder(const std::string& near, std::string* path) {
    return createTemp(AT_FDCWD, folderOf(near), path, true) == 0;
}

void keepTempFile(int dir, const std::string& path) {
    for (TempSlot& slot : tempSlots)
        if (slot.used && slot.dir == dir && path == slot.path)
            slot.used = 0;
}

void removeTempFiles() {
    stopChild();
    removeSlots();
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

bool outputCheck(OutputFile* out, const std::string& path) {
    *out = OutputFile();
    struct stat st;
    // A device or pipe is opened by the name given: the link /dev/stdout leads
    // to ("pipe:[N]") names no file.
    const bool special = stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
    out->target = special ? path : outputTarget(path);
    if (stat(out->target.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? true : false;
    if (S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (faccessat(AT_FDCWD, out->target.c_str(), W_OK, AT_EACCESS) != 0)
        return false;
    out->special = !S_ISREG(st.st_mode);
    out->replacing = !out->special;
    out->mode = st.st_mode & 07777;
    out->owner = st.st_uid;
    out->group = st.st_gid;
    return true;
}

namespace {

// The temporary file just made (fd, or -1 with errno set) as out's stream.
bool streamTemp(OutputFile* out, int fd) {
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

}  // namespace

bool outputOpen(OutputFile* out, const std::string& path) {
    if (!outputCheck(out, path))
        return false;
    if (out->special) {
        out->file = std::fopen(out->target.c_str(), "wb");
        return out->file != nullptr;
    }
    return streamTemp(out, createTempFile(out->target, &out->temp));
}

bool outputOpenNew(OutputFile* out, int dir, const std::string& name, bool replace) {
    *out = OutputFile();
    out->dir = dir;
    out->target = name;
    out->fresh = !replace;
    return streamTemp(out, createTempFileAt(dir, &out->temp));
}

namespace {

// The extended attributes of the file at path (its ACLs among them) onto fd,
// and none that fd has and path has not. False with errno set.
bool copyAttributes(const std::string& path, int fd) {
    auto names = [](ssize_t size, const std::vector<char>& list) {
        std::vector<std::string> out;
        for (ssize_t at = 0; at < size; at += static_cast<ssize_t>(std::strlen(&list[at])) + 1)
            out.push_back(&list[at]);
        return out;
    };
    std::vector<char> list(65536), value(65536), present(65536);
    const ssize_t size = listxattr(path.c_str(), list.data(), list.size());
    if (size < 0)
        return errno == ENOTSUP;   // the file system keeps none
    const std::vector<std::string> wanted = names(size, list);
    const ssize_t had = flistxattr(fd, list.data(), list.size());
    if (had > 0)
        for (const std::string& name : names(had, list))
            if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() && fremovexattr(fd, name.c_str()) != 0 &&
                name.rfind("security.", 0) != 0)
                return false;
    for (const std::string& name : wanted) {
        const ssize_t n = getxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (n < 0)
            return false;
        // What the system gave the new file already (a security label, say) needs no rights to keep.
        const ssize_t same = fgetxattr(fd, name.c_str(), present.data(), present.size());
        if (same == n && std::memcmp(present.data(), value.data(), static_cast<size_t>(n)) == 0)
            continue;
        if (fsetxattr(fd, name.c_str(), value.data(), static_cast<size_t>(n), 0) != 0)
            return false;
    }
    return true;
}

// Renames onto a name only while it is free; EEXIST when something took it.
int renameFresh(int dir, const char* from, const char* to) {
    if (renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return -1;
    // A file system without that rename: a second name, then the temporary one gone.
    if (linkat(dir, from, dir, to, 0) == 0)
        return unlinkat(dir, from, 0);
    if (errno == EEXIST)
        return -1;
    struct stat st;
    if (fstatat(dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(dir, from, dir, to);
}

}  // namespace

bool outputCommit(OutputFile* out, bool durable) {
    bool ok = true;
    int error = 0;
    auto failed = [&](bool stillOk) {
        if (ok && !stillOk) {
            ok = false;
            error = errno;
        }
    };
    if (out->file) {
        failed(std::fflush(out->file) == 0);
    }
    int fd = out->file ? fileno(out->file) : -1;
    bool own = false;
    if (fd < 0 && !out->temp.empty()) {
        fd = openat(out->dir, out->temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        own = fd >= 0;
        failed(own);
    }
    if (ok && durable && !out->temp.empty())
        failed(fsync(fd) == 0);
    if (ok && out->replacing) {
        // The owner first: a change of owner clears set-id bits that chmod then restores.
        // Only root may give a file away and only a member may give it the group: where
        // neither is allowed the file keeps the writer's own, as any new file would.
        if (fchown(fd, out->owner, out->group) != 0 && fchown(fd, static_cast<uid_t>(-1), out->group) != 0) {
        }
        failed(copyAttributes(out->target, fd));
        failed(fchmod(fd, out->mode) == 0);
    }
    if (own)
        close(fd);
    if (out->file) {
        failed(std::fclose(out->file) == 0);
        out->file = nullptr;
    }
    if (ok && !out->temp.empty()) {
        if (out->fresh)
            failed(renameFresh(out->dir, out->temp.c_str(), out->target.c_str()) == 0);
        else
            failed(renameat(out->dir, out->temp.c_str(), out->dir, out->target.c_str()) == 0);
    }
    if (!out->temp.empty()) {
        if (!ok)
            unlinkat(out->dir, out->temp.c_str(), 0);
        keepTempFile(out->dir, out->temp);
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
        unlinkat(out->dir, out->temp.c_str(), 0);
        keepTempFile(out->dir, out->temp);
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
