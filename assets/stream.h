// A read-only byte stream over either a file or a block of memory, so the
// loaders behave the same for files on disk and for the embedded arrays.
#pragma once
#include <cstdint>
#include <cstdio>

struct AssetStream {
    std::FILE* file;          // null for a memory block
    const uint8_t* data;
    uint32_t size;
    uint32_t position;
};

bool streamOpenFile(AssetStream* stream, const char* path);
bool streamOpenMemory(AssetStream* stream, const uint8_t* data, uint32_t size);   // false for null data
uint32_t streamRead(AssetStream* stream, void* buffer, uint32_t bytes);           // bytes actually read
bool streamReadByte(AssetStream* stream, uint8_t* value);
bool streamSeek(AssetStream* stream, uint32_t offset);                            // from the start
bool streamLength(AssetStream* stream, uint64_t* length);
void streamClose(AssetStream* stream);
