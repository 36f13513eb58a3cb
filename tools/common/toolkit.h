// What the command-line tools share: PNG and WAV files, error messages,
// temporary files and the terminal progress bar.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB, row 0 at the top; level is zlib's compression level. Written as
// an OutputFile (durable: synced to disk before the rename).
// On failure errno says why where the system gave a reason (else it is 0).
bool writePng(const std::string& path, int32_t width, int32_t height, const uint8_t* rgb, int level,
              bool durable = true);
bool readPng(const std::string& path, int32_t* width, int32_t* height, std::vector<uint8_t>* rgb);

// 44-byte header of a 16-bit stereo PCM WAV holding dataBytes of samples.
enum { WAV_HEADER_BYTES = 44 };
void wavHeader(uint8_t header[WAV_HEADER_BYTES], int32_t rate, uint32_t dataBytes);
// The most sample bytes a WAV can hold: its sizes are 32-bit.
constexpr uint64_t WAV_MAX_DATA_BYTES = 0xffffffffu - 36u;
// Little-endian bytes whatever the host's order.
void toLittleEndian(const int16_t* samples, size_t count, uint8_t* bytes);
bool writeWav(const std::string& path, const std::vector<int16_t>& samples, int32_t rate);
// The whole of bytes as an OutputFile; false with errno set.
bool writeWholeFile(const std::string& path, const void* bytes, size_t size);

// Reads on from fd until bytes holds limit bytes or the file ends; false with errno set.
bool readUpTo(int fd, std::vector<uint8_t>* bytes, uint64_t limit);
// Reads at most limit bytes of path. False with errno set; EFBIG when the
// file holds more than limit bytes (checked before reading where its size is known).
bool readBounded(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes);

// Every file a tool writes goes through this: the data goes to a temporary
// file beside the target and is renamed onto it only once complete, so a
// failed or interrupted run leaves the old file as it was and nothing else.
// A symbolic link is written through to its target (the link stays); a
// replaced file keeps its permission bits and, where allowed, its owner; an
// existing file without write permission is refused (EACCES), as cp does.
// A device or pipe is written directly.
struct OutputFile {
    std::string target;    // where the data goes
    std::string temp;      // the temporary file; empty when written directly
    FILE* file = nullptr;
    bool replacing = false;
    unsigned mode = 0;     // the replaced file's permission bits, owner and group
    unsigned owner = 0;
    unsigned group = 0;
};
// Where data for path goes: through symbolic links (also dangling ones), their target.
std::string outputTarget(const std::string& path);
// False with errno set (EISDIR for a folder, EACCES for a file without write permission).
bool outputOpen(OutputFile* out, const std::string& path);
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

// A new empty file in the folder of `near`, named after it (near.TAG-XXXXXX),
// with the usual permissions. It is removed at exit, on SIGINT, SIGTERM and
// SIGHUP (those not inherited as ignored, which stay ignored), and by
// removeTempFiles, unless keepTempFile was called first.
// Returns its descriptor, or -1 with errno set.
int createTempFile(const std::string& near, const char* tag, std::string* path);
void keepTempFile(const std::string& path);
void removeTempFiles();

// A helper process that writes temporary files: at a signal or exit it is
// stopped and waited for before they are removed. 0 forgets it.
void watchChild(int pid);

// "\r[####....]  42%" on stderr, followed by suffix; only when stderr is a
// terminal, so logs and pipes get no bars. endProgressBar ends its line.
bool progressShown();
void drawProgressBar(uint64_t done, uint64_t total, const char* suffix);
void endProgressBar();
