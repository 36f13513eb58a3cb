// Module stream hooks: a table of five function pointers the loader reads
// through, and the memory stream over an embedded resource or a caller's block.
#include "music/stream.h"

#include <cstring>

#include "platform/platform.h"

StreamHooks streamHooks = {};

void setStreamHooks(StreamOpenHook open, StreamCloseHook close, StreamReadHook read,
                    StreamSeekHook seek, StreamTellHook tell) {
    if (open && close && read && seek && tell)
        streamHooks = {open, close, read, seek, tell};
    else
        streamHooks = {};
}

bool streamHooksInstalled() {
    return streamHooks.open && streamHooks.close && streamHooks.read && streamHooks.seek &&
           streamHooks.tell;
}

StreamHandle* streamOpen(intptr_t nameOrId) {
    if (!streamHooksInstalled())
        return nullptr;
    StreamHandle* handle = new StreamHandle{};
    handle->stream = streamHooks.open(nameOrId);
    if (!handle->stream) {
        delete handle;
        return nullptr;
    }
    return handle;
}

void streamClose(StreamHandle* handle) {
    if (!handle)
        return;
    if (streamHooks.close)
        streamHooks.close(handle->stream);
    delete handle;
}

void* memoryStreamOpen(intptr_t block) {
    const MemoryBlock* b = reinterpret_cast<const MemoryBlock*>(block);
    MemoryStream* stream = new MemoryStream{};
    if (b && b->data && b->size <= 0x7fffffffu) {
        stream->data = b->data;
        stream->size = static_cast<int32_t>(b->size);
    }
    return stream;
}

void* resourceStreamOpen(intptr_t id) {
    MemoryBlock block = {nullptr, 0};
    // A missing resource leaves an empty stream; the loader's signature check fails.
    if (!platResource(static_cast<int32_t>(id), "RAWDATA", &block.data, &block.size))
        block = {nullptr, 0};
    return memoryStreamOpen(reinterpret_cast<intptr_t>(&block));
}

void resourceStreamClose(void* stream) {
    delete static_cast<MemoryStream*>(stream);
}

int32_t resourceStreamRead(void* destination, int32_t bytes, void* stream) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    if (bytes <= 0)
        return 0;
    int32_t n = bytes;
    if (static_cast<int64_t>(s->position) + n >= s->size)
        n = s->size - s->position;
    if (n <= 0)
        return 0;
    std::memcpy(destination, s->data + s->position, static_cast<size_t>(n));
    s->position += n;
    return n;
}

void resourceStreamSeek(void* stream, int32_t offset, int8_t origin) {
    MemoryStream* s = static_cast<MemoryStream*>(stream);
    int64_t position = s->position;
    if (origin == 0)
        position = offset;
    else if (origin == 1)
        position += offset;
    else if (origin == 2)
        position = static_cast<int64_t>(s->size) + offset;
    if (position > s->size)
        position = s->size;
    if (position < 0)
        position = 0;
    s->position = static_cast<int32_t>(position);
}

int32_t resourceStreamTell(void* stream) {
    return static_cast<MemoryStream*>(stream)->position;
}

void installResourceStreamHooks() {
    setStreamHooks(resourceStreamOpen, resourceStreamClose, resourceStreamRead, resourceStreamSeek,
                   resourceStreamTell);
}

void installMemoryStreamHooks() {
    setStreamHooks(memoryStreamOpen, resourceStreamClose, resourceStreamRead, resourceStreamSeek,
                   resourceStreamTell);
}
