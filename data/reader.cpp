#include "data/reader.h"

#include <cstring>

namespace {

// 64-bit offsets on both hosts (long is 32 bits on Windows).
bool seekFile(std::FILE* file, uint64_t offset, int origin) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<__int64>(offset), origin) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), origin) == 0;
#endif
}

int64_t tellFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

}  // namespace

bool readerOpenFile(ByteReader* in, const char* path) {
    *in = ByteReader{};
    if (!path || !(in->file = std::fopen(path, "rb")))
        return false;
    in->size = UINT64_MAX;
    if (seekFile(in->file, 0, SEEK_END)) {
        int64_t end = tellFile(in->file);
        if (end >= 0)
            in->size = static_cast<uint64_t>(end);
    }
    in->filePosition = UINT64_MAX;   // unknown: the first read seeks
    return true;
}

bool readerOpenMemory(ByteReader* in, const uint8_t* data, uint64_t size) {
    *in = ByteReader{};
    if (!data)
        return false;
    in->data = data;
    in->size = size;
    return true;
}

void readerOpenStream(ByteReader* in, ByteFetch fetch, void* context, uint64_t size) {
    *in = ByteReader{};
    in->fetch = fetch;
    in->context = context;
    in->size = size;
}

void readerClose(ByteReader* in) {
    if (in->file)
        std::fclose(in->file);
    *in = ByteReader{};
}

uint32_t readerRead(ByteReader* in, void* out, uint32_t bytes) {
    uint64_t left = readerRemaining(in);
    uint32_t want = bytes < left ? bytes : static_cast<uint32_t>(left);
    uint32_t got = 0;
    if (want > 0 && in->data) {
        std::memcpy(out, in->data + in->position, want);
        got = want;
    } else if (want > 0 && in->fetch) {
        got = in->fetch(in->context, in->position, out, want);
    } else if (want > 0 && in->file) {
        if (in->filePosition != in->position && !seekFile(in->file, in->position, SEEK_SET))
            in->filePosition = UINT64_MAX;
        else
            got = static_cast<uint32_t>(std::fread(out, 1, want, in->file));
        in->filePosition = in->position + got;
    }
    if (got > want)
        got = want;
    in->position += got;
    in->ended |= got < bytes;
    return got;
}

uint8_t readerU8(ByteReader* in) {
    uint8_t b[1] = {0};
    readerRead(in, b, 1);
    return b[0];
}

uint16_t readerU16(ByteReader* in) {
    uint8_t b[2] = {0, 0};
    readerRead(in, b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t readerU32(ByteReader* in) {
    uint8_t b[4] = {0, 0, 0, 0};
    readerRead(in, b, 4);
    return readLe32(b);
}

void readerSeek(ByteReader* in, uint64_t offset) {
    in->position = offset < in->size ? offset : in->size;
}

void readerSkip(ByteReader* in, int64_t bytes) {
    if (bytes < 0)
        in->position = static_cast<uint64_t>(-bytes) > in->position ? 0 : in->position - static_cast<uint64_t>(-bytes);
    else
        readerSeek(in, in->position + static_cast<uint64_t>(bytes));
}

uint64_t readerRemaining(const ByteReader* in) {
    return in->position < in->size ? in->size - in->position : 0;
}
