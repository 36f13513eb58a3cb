// A folder capture: frame00000.png ... and music.wav, and a record of them
// in the folder's .tumble-capture. The folder is held open and locked for the
// whole run; every file in it is reached by name relative to that, only the
// record is read (never through a link), and each file the run writes is one
// it created itself, renamed onto a name that must still be free.
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include "tools/capture/capture.h"
#include "tools/capture/tool.h"

namespace {

constexpr const char* RECORD_NAME = ".tumble-capture";
constexpr const char* RECORD_HEADER = "tumble-capture record 1";
constexpr size_t MAX_RECORD_BYTES = 4096;

std::string frameName(int64_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame%05lld.png", static_cast<long long>(index));
    return name;
}

// The frame index a name of this tool's stands for, else -1.
int64_t frameIndex(const std::string& name) {
    if (name.size() < 14 || name.compare(0, 5, "frame") != 0 || name.compare(name.size() - 4, 4, ".png") != 0)
        return -1;
    const std::string digits = name.substr(5, name.size() - 9);
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), ::isdigit))
        return -1;
    const int64_t index = std::atoll(digits.c_str());
    return frameName(index) == name ? index : -1;
}

bool covers(const Record& r, const std::string& name) {
    const int64_t index = frameIndex(name);
    return r.found && ((index >= 0 && index < r.frames) || (name == "music.wav" && r.music));
}

std::string in(const Folder& f, const std::string& name) {
    return f.path + (f.path.empty() || f.path.back() == '/' ? "" : "/") + name;
}

bool failed(const std::string& message) {
    toolError("%s", message.c_str());
    return false;
}

// The record of an earlier capture: only a regular file is read, and
// anything else at its name, or a file that is no record, is refused.
bool readRecord(const Folder& f, Record* r) {
    const std::string path = in(f, RECORD_NAME);
    struct stat st;
    if (fstatat(f.fd, RECORD_NAME, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;
        return failed("cannot read " + path + ": " + reason(errno));
    }
    const std::string refusal = path + " is " + fileKind(st.st_mode) +
                                ", not the record a capture leaves; it decides nothing here (move it away)";
    if (!S_ISREG(st.st_mode))
        return failed(refusal);
    // Never blocks, never follows: it may have changed since the look above.
    const int fd = openat(f.fd, RECORD_NAME, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failed(errno == ELOOP ? refusal : "cannot read " + path + ": " + reason(errno));
    std::vector<uint8_t> bytes;
    const bool read = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readUpTo(fd, &bytes, MAX_RECORD_BYTES + 1);
    const int error = errno;
    close(fd);
    if (!read)
        return failed(S_ISREG(st.st_mode) ? "cannot read " + path + ": " + reason(error) : refusal);
    const std::string text(bytes.begin(), bytes.end());
    if (bytes.size() > MAX_RECORD_BYTES || text.compare(0, std::string(RECORD_HEADER).size() + 1,
                                                          std::string(RECORD_HEADER) + "\n") != 0)
        return failed(path + " is not the record a capture leaves (it does not begin \"" + RECORD_HEADER +
                      "\"); move it away or choose another folder");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.rfind("frames ", 0) == 0)
            r->frames = std::clamp<int64_t>(std::atoll(line.c_str() + 7), 0, MAX_FRAMES);
        else if (line == "music.wav")
            r->music = true;
    }
    r->found = true;
    return true;
}

std::string listNames(const std::vector<std::string>& names) {
    std::string text = names[0];
    if (names.size() > 1)
        text += names.size() == 2 ? ", " + names[1]
                                  : ", " + names[1] + " and " + std::to_string(names.size() - 2) + " more";
    return text;
}

// Refuses a folder where this run would write over a file no earlier capture
// recorded, and without --force one that holds an earlier capture.
bool checkFolder(const Options& o, Folder* f) {
    if (!readRecord(*f, &f->earlier))
        return false;
    std::vector<std::string> names;
    if (!listFolder(f->fd, &names))
        return failed("cannot list the folder " + f->path + ": " + reason(errno) +
                      "; without that, files a capture would write over cannot be found");
    std::vector<std::string> inTheWay;
    for (const std::string& name : names) {
        const int64_t index = frameIndex(name);
        const bool ours = name == "music.wav" || (index >= 0 && index < o.frames);
        const bool recorded = covers(f->earlier, name);
        if (!ours && !recorded)
            continue;
        struct stat st;
        if (fstatat(f->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;   // gone meanwhile
        // A folder is never removed, so it stays in the way even where recorded.
        if (recorded && !S_ISDIR(st.st_mode))
            f->earlierFiles.push_back(name);
        else if (ours)
            inTheWay.push_back(name);
    }
    std::sort(inTheWay.begin(), inTheWay.end());
    std::sort(f->earlierFiles.begin(), f->earlierFiles.end());
    if (!inTheWay.empty())
        return failed(in(*f, inTheWay[0]) + " is in the way: no earlier capture recorded writing it (in " +
                      in(*f, RECORD_NAME) +
                      "), so not even --force replaces it; move it away or choose another folder");
    if (!o.force && !f->earlierFiles.empty())
        return failed(f->path + " already holds a capture (" + listNames(f->earlierFiles) + "); --force replaces it");
    return true;
}

}  // namespace

bool folderOpen(const Options& o, Folder* f) {
    f->path = o.out;
    std::string why;
    if (!createFolder(o.out, &why, &f->created))
        return failed(why);
    // Read access, as the check for files in the way lists the folder.
    f->fd = open(o.out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (f->fd < 0)
        return failed("cannot open the folder " + o.out + ": " + reason(errno) +
                      (errno == EACCES ? " (a capture lists the folder to find files in the way)" : ""));
    // Held until the tool exits. Where the file system has no such locks,
    // the capture goes on, as the only one.
    if (flock(f->fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return failed(o.out + " is in use: another capture is writing there now; wait for it to end or "
                          "choose another folder");
        toolError("warning: cannot lock %s (%s): a second capture into it at the same time would go unnoticed",
                  o.out.c_str(), reason(errno));
    }
    f->locked = true;
    return checkFolder(o, f);
}

bool folderPrepare(const Options& o, Folder* f) {
    for (const std::string& name : f->earlierFiles)
        if (unlinkat(f->fd, name.c_str(), 0) != 0 && errno != ENOENT)
            return failed("cannot remove " + in(*f, name) + ": " + reason(errno));
    // Written before the frames, so that --force can clear what a failed run left.
    OutputFile record;
    const std::string text = std::string(RECORD_HEADER) + "\nframes " + std::to_string(o.frames) + "\nmusic.wav\n";
    if (!outputOpenNew(&record, f->fd, RECORD_NAME, true) ||
        std::fwrite(text.data(), 1, text.size(), record.file) != text.size() || !outputCommit(&record, true)) {
        const int error = errno;
        outputAbort(&record);
        return failed("cannot write " + in(*f, RECORD_NAME) + ": " + reason(error));
    }
    f->musicBytes = 0;
    if (!outputOpenNew(&f->music, f->fd, "music.wav", false) || !wavStart(f->music.file)) {
        const int error = errno;
        outputAbort(&f->music);
        return failed("cannot write " + in(*f, "music.wav") + ": " + reason(error));
    }
    return true;
}

namespace {

bool written(const Folder& f, const std::string& name, int error) {
    if (error == EEXIST)
        return failed("cannot write " + in(f, name) +
                      ": something else put a file there during the capture; it is left as it is");
    return failed("cannot write " + in(f, name) + ": " + reason(error));
}

}  // namespace

bool folderFrame(const Options& o, Folder* f, int32_t index, const std::vector<uint8_t>& rgb) {
    OutputFile frame;
    const std::string name = frameName(index);
    if (!outputOpenNew(&frame, f->fd, name, false))
        return written(*f, name, errno);
    // Not synced one by one: too slow for thousands of frames, and a frame
    // is whole or absent either way.
    if (!writePngTo(frame.file, o.width, o.height, rgb.data(), 1)) {
        const int error = errno;
        outputAbort(&frame);
        return written(*f, name, error);
    }
    if (!outputCommit(&frame, false))
        return written(*f, name, errno);
    return true;
}

bool folderSound(Folder* f, const std::vector<int16_t>& samples) {
    if (wavAppend(f->music.file, samples.data(), samples.size(), &f->musicBytes))
        return true;
    const int error = errno;
    outputAbort(&f->music);
    return written(*f, "music.wav", error);
}

bool folderFinish(Folder* f) {
    if (!wavEnd(f->music.file, CAPTURE_RATE, f->musicBytes)) {
        const int error = errno;
        outputAbort(&f->music);
        return written(*f, "music.wav", error);
    }
    if (!outputCommit(&f->music, true))
        return written(*f, "music.wav", errno);
    return true;
}

void folderAbandon(Folder* f) {
    outputAbort(&f->music);
    if (!f->locked)
        return;
    for (auto d = f->created.rbegin(); d != f->created.rend(); ++d)
        if (rmdir(d->c_str()) != 0)
            break;
    f->created.clear();
}
