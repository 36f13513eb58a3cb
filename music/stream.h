// Stream hooks the module loader reads through, and the memory stream
// behind them (over an embedded resource or a caller's buffer). The table is
// all five hooks or none; positions and sizes are 32-bit and clamp to the data.
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
    void* stream;   // what the open hook returned
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
StreamHandle* streamOpen(intptr_t nameOrId);
void streamClose(StreamHandle* handle);

void* resourceStreamOpen(intptr_t id);
void* memoryStreamOpen(intptr_t block);   // a const MemoryBlock*
void resourceStreamClose(void* stream);
int32_t resourceStreamRead(void* destination, int32_t bytes, void* stream);
void resourceStreamSeek(void* stream, int32_t offset, int8_t origin);
int32_t resourceStreamTell(void* stream);

void installResourceStreamHooks();
void installMemoryStreamHooks();
