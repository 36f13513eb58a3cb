// What the command-line tools share: PNG and WAV files, error messages,
// temporary files, folders and the terminal progress bar.
#pragma once
#include <fcntl.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// 8-bit RGB, row 0 at the top; level is zlib's compression level. Written as
// an OutputFile (durable: synced to disk before the rename).
// On failure errno says why where the system gave a reason (else it is 0).
bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level,
              bool durable = true);
// The same into an open file; libpng prints nothing of its own.
bool writePngTo(FILE* file, int32_t width, int32_t height, const uint8_t* rgb, int level);
bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb);

// 44-byte header of a 16-bit stereo PCM WAV holding dataBytes of samples.
enum { WAV_HEADER_BYTES = 44 };
void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes);
// The most sample bytes a WAV can hold: its sizes are 32-bit.
constexpr uint64_t WAV_MAX_DATA_BYTES = 0xffffffffu - 36u;
// A WAV written as the sound comes, so that none of it is kept in memory:
// a provisional header, the samples (*dataBytes counts them), then the real
// header. False with errno set; EFBIG past WAV_MAX_DATA_BYTES.
bool wavStart(FILE* file);
bool wavAppend(FILE* file, const int16_t* samples, size_t count, uint64_t* dataBytes);
bool wavEnd(FILE* file, int32_t rate, uint64_t dataBytes);
// The whole of bytes as an OutputFile; false with errno set.
bool writeWholeFile(const std::string& path, const void* bytes, size_t size);

// Reads on from fd until bytes holds limit bytes or the file ends; false with errno set.
bool readUpTo(int fd, std::vector<uint8_t>* bytes, uint64_t limit);
// Reads at most limit bytes of path. False with errno set; EFBIG when the
// file holds more than limit bytes (checked before reading where its size is known).
bool readBounded(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes);

// Every file a tool writes goes through this: the data goes to a temporary
// file the tool creates in the target's folder, renamed onto the target only
// once complete, so a failed or interrupted run leaves the old file as it was
// and nothing else.
// Given as a path (outputOpen): a symbolic link is written through to its
// target (the link stays); a replaced file keeps its permission bits, its
// extended attributes (ACLs among them) and, where allowed, its owner; an
// existing file without write permission is refused (EACCES), as cp does;
// a device or pipe is written directly.
// Given as a name in a folder the tool holds open (outputOpenNew): the file
// is the tool's own; nothing at that name is followed, and unless replace is
// set the rename refuses (EEXIST) a name something else took meanwhile.
struct OutputFile {
    int dir = AT_FDCWD;    // the folder target and temp are names in (AT_FDCWD: paths)
    std::string target;    // where the data goes
    std::string temp;      // the temporary file; empty when written directly
    FILE* file = nullptr;
    bool replacing = false;
    bool special = false;  // the target exists and is no regular file (a device, a pipe)
    bool fresh = false;    // the target's name must still be free at the rename
    unsigned mode = 0;     // the replaced file's permission bits, owner and group
    unsigned owner = 0;
    unsigned group = 0;
};
// Where data for path goes: through symbolic links (also dangling ones), their target.
std::string outputTarget(const std::string& path);
// Fills in where path's data goes and what is there, creating nothing.
// False with errno set (EISDIR for a folder, EACCES for a file without write permission).
bool outputCheck(OutputFile* out, const std::string& path);
// outputCheck, then the temporary file (or the device) opened for writing. False with errno set.
bool outputOpen(OutputFile* out, const std::string& path);
bool outputOpenNew(OutputFile* out, int dir, const std::string& name, bool replace);
// Flushes (and when durable, syncs) the data, then renames it onto the target.
// False with errno set, the temporary file removed and the target untouched.
// The file may be closed already (another program wrote the temporary file).
bool outputCommit(OutputFile* out, bool durable);
void outputAbort(OutputFile* out);

// The tool's name in its messages ("tumble-xm2wav").
extern const char* toolName;
// "NAME: message" on stderr; returns 1 (failure).
int toolError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The system's reason for errno, or "unknown error" when it gave none.
const char* reason(int error);
// "a folder", "a symbolic link", "a FIFO", ... for a file's mode.
const char* fileKind(unsigned mode);

// Creates the folder path and its missing parents, as mkdir -p. False with
// *why set to a whole message naming the path and the reason. *created, when
// given, receives the folders made, outermost first.
bool createFolder(const std::string& path, std::string* why, std::vector<std::string>* created = nullptr);

// Temporary files are named .tumble-TOOL-PID-XXXXXX, whatever they stand in
// for, so they fit wherever the target's name fits. They are removed at
// exit, on SIGINT, SIGTERM and SIGHUP (those not inherited as ignored, which
// stay ignored), and by removeTempFiles, unless keepTempFile was called
// first. A folder's first temporary file also removes the ones a process
// that no longer runs left there (after SIGKILL, say), if they are the user's.
// A new empty file in the folder of `near`, made as any new file there:
// its descriptor and *path, or -1 with errno set.
int createTempFile(const std::string& near, std::string* path);
// Every name in the open folder dir (which stays open); false with errno set
// when it cannot be listed.
bool listFolder(int dir, std::vector<std::string>* names);
// The same as a name in the folder dir.
int createTempFileAt(int dir, std::string* name);
// A private folder (mode 0700) beside `near`, for files other programs
// write by name; its files go with it. False with errno set.
bool createTempFolder(const std::string& near, std::string* path);
void keepTempFile(int dir, const std::string& path);
void removeTempFiles();

// A helper process that writes temporary files: at a signal or exit it is
// stopped and waited for before they are removed. 0 forgets it.
void watchChild(int pid);

// "\r[####....]  42%" on stderr, followed by suffix; only when stderr is a
// terminal, so logs and pipes get no bars. endProgressBar ends its line.
bool progressShown();
void drawProgressBar(uint64_t done, uint64_t total, const char* suffix);
void endProgressBar();
