// File or memory stream for the asset loaders.
#include "assets/stream.h"
#include <cstring>

bool streamOpenFile(AssetStream* stream, const char* path) {
    *stream = AssetStream{};
    if (!path)
        return false;
    stream->file = std::fopen(path, "rb");
    return stream->file != nullptr;
}

bool streamOpenMemory(AssetStream* stream, const uint8_t* data, uint32_t size) {
    *stream = AssetStream{};
    if (!data)
        return false;
    stream->data = data;
    stream->size = size;
    return true;
}

uint32_t streamRead(AssetStream* stream, void* buffer, uint32_t bytes) {
    if (stream->file)
        return static_cast<uint32_t>(std::fread(buffer, 1, bytes, stream->file));
    if (!stream->data)
        return 0;
    uint32_t left = stream->position < stream->size ? stream->size - stream->position : 0;
    uint32_t n = bytes < left ? bytes : left;
    if (n)
        std::memcpy(buffer, stream->data + stream->position, n);
    stream->position += n;
    return n;
}

bool streamReadByte(AssetStream* stream, uint8_t* value) {
    if (stream->file) {
        int c = std::fgetc(stream->file);
        if (c == EOF)
            return false;
        *value = static_cast<uint8_t>(c);
        return true;
    }
    return streamRead(stream, value, 1) == 1;
}

bool streamSeek(AssetStream* stream, uint32_t offset) {
    if (stream->file) {
        // fseek takes a long, which is 32 bits on Windows: step past 2 GiB.
        if (std::fseek(stream->file, 0, SEEK_SET) != 0)
            return false;
        uint32_t left = offset;
        while (left > 0) {
            uint32_t step = left > 0x40000000u ? 0x40000000u : left;
            if (std::fseek(stream->file, static_cast<long>(step), SEEK_CUR) != 0)
                return false;
            left -= step;
        }
        return true;
    }
    if (!stream->data)
        return false;
    stream->position = offset;   // past the end is allowed; reads then return nothing
    return true;
}

bool streamLength(AssetStream* stream, uint64_t* length) {
    if (stream->file) {
        long here = std::ftell(stream->file);
        if (here < 0 || std::fseek(stream->file, 0, SEEK_END) != 0)
            return false;
        long end = std::ftell(stream->file);
        if (std::fseek(stream->file, here, SEEK_SET) != 0 || end < 0)
            return false;
        *length = static_cast<uint64_t>(end);
        return true;
    }
    if (!stream->data)
        return false;
    *length = stream->size;
    return true;
}

void streamClose(AssetStream* stream) {
    if (stream->file)
        std::fclose(stream->file);
    *stream = AssetStream{};
}
