// The one byte reader under the loaders: a bounded little-endian cursor over a
// file, a memory block or a caller's stream. A read past the end returns the
// bytes that are there (the number readers fill the rest with zeros) and sets
// `ended`; a seek stops at the end. Nothing is ever read outside the source.
#pragma once
#include <cstdint>
#include <cstdio>

inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads up to `bytes` at `offset` of a caller's stream; returns how many it read.
typedef uint32_t (*ByteFetch)(void* context, uint64_t offset, void* out, uint32_t bytes);

struct ByteReader {
    std::FILE* file;          // owned; null unless opened from a path
    const uint8_t* data;      // a memory block, else null
    ByteFetch fetch;          // a caller's stream, else null
    void* context;
    uint64_t size;            // UINT64_MAX: a file whose length cannot be told
    uint64_t position;
    uint64_t filePosition;    // where `file` stands, to skip needless seeks
    bool ended;               // a read asked for bytes past the end
};

bool readerOpenFile(ByteReader* in, const char* path);
bool readerOpenMemory(ByteReader* in, const uint8_t* data, uint64_t size);   // false for null data
void readerOpenStream(ByteReader* in, ByteFetch fetch, void* context, uint64_t size);
void readerClose(ByteReader* in);

uint32_t readerRead(ByteReader* in, void* out, uint32_t bytes);   // bytes actually read
uint8_t readerU8(ByteReader* in);
uint16_t readerU16(ByteReader* in);
uint32_t readerU32(ByteReader* in);
void readerSeek(ByteReader* in, uint64_t offset);   // from the start
void readerSkip(ByteReader* in, int64_t bytes);     // either way, stops at both ends
uint64_t readerRemaining(const ByteReader* in);
