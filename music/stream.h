// Stream hooks the module loader reads through, and the memory stream
// behind them (over an embedded resource or a caller's buffer).
#pragma once
#include <cstdint>

typedef void* (*StreamOpenHook)(intptr_t nameOrId);
typedef void (*StreamCloseHook)(void* stream);
typedef int32_t (*StreamReadHook)(void* destination, int32_t bytes, void* stream);
typedef void (*StreamSeekHook)(void* stream, int32_t offset, int8_t origin);
typedef int32_t (*StreamTellHook)(void* stream);

struct StreamHooks {
    StreamOpenHook open;
    StreamCloseHook close;
    StreamReadHook read;
    StreamSeekHook seek;
    StreamTellHook tell;
};
extern StreamHooks streamHooks;

struct StreamHandle {
    uint8_t mode;
    void* stream;
    int32_t userValue;
};

struct MemoryStream {
    int32_t size;
    int32_t position;
    const uint8_t* data;
};

// What memoryStreamOpen receives, cast to intptr_t.
struct MemoryBlock {
    const uint8_t* data;
    uint32_t size;
};

void setStreamHooks(StreamOpenHook open, StreamCloseHook close, StreamReadHook read,
                    StreamSeekHook seek, StreamTellHook tell);
bool streamHooksInstalled();
StreamHandle* streamOpen(intptr_t nameOrId, uint8_t mode, int32_t userValue);
void streamClose(StreamHandle* handle);
int32_t streamTell(StreamHandle* handle);

void* resourceStreamOpen(intptr_t id);
void* memoryStreamOpen(intptr_t block);   // a const MemoryBlock*
void resourceStreamClose(void* stream);
int32_t resourceStreamRead(void* destination, int32_t bytes, void* stream);
void resourceStreamSeek(void* stream, int32_t offset, int8_t origin);
int32_t resourceStreamTell(void* stream);

void installResourceStreamHooks();
void installMemoryStreamHooks();
