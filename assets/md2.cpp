// MD2 loader: the 68-byte header, then the key frames and the GL command list,
// each kept as read. Every block read, and every frame vertex a command may
// index, lies inside the file: the header is refused otherwise.
#include "assets/md2.h"
#include <new>
#include "data/reader.h"
#include "platform/platform.h"

namespace {

// The header's seventeen little-endian words.
enum {
    H_IDENT = 0,
    H_VERSION = 1,
    H_FRAME_SIZE = 4,
    H_VERTICES = 6,
    H_TRIANGLES = 8,
    H_COMMANDS = 9,
    H_FRAMES = 10,
    H_FRAMES_OFFSET = 14,
    H_COMMANDS_OFFSET = 15,
    HEADER_WORDS = 17,
    MD2_IDENT = 0x32504449,   // "IDP2"
    MD2_VERSION = 8,
};

void reportError(const char* text) {
    platMessageBox(text, "MD2 : Error ...", PLAT_ICON_ERROR);
}

bool headerFits(const int32_t* h, uint64_t length) {
    int64_t frameSize = h[H_FRAME_SIZE];
    int64_t vertexCount = h[H_VERTICES];
    int64_t commandCount = h[H_COMMANDS];
    int64_t frameCount = h[H_FRAMES];
    int64_t framesOffset = h[H_FRAMES_OFFSET];
    int64_t commandsOffset = h[H_COMMANDS_OFFSET];
    if (frameSize < 0 || vertexCount < 0 || commandCount < 0 || frameCount < 0 ||
        framesOffset < 0 || commandsOffset < 0)
        return false;
    if (frameSize < MD2_FRAME_HEADER_SIZE + 4 * vertexCount)
        return false;
    if (length > INT64_MAX)
        return false;   // a file whose length cannot be told
    int64_t fileLength = static_cast<int64_t>(length);
    if (frameCount > 0 && framesOffset + frameCount * frameSize > fileLength)
        return false;
    if (commandsOffset + commandCount * 4 > fileLength)
        return false;
    return true;
}

bool loadFromStream(Md2Model* model, ByteReader* in) {
    int32_t header[HEADER_WORDS];
    for (int i = 0; i < HEADER_WORDS; ++i)
        header[i] = static_cast<int32_t>(readerU32(in));
    if (in->ended || header[H_IDENT] != MD2_IDENT || header[H_VERSION] != MD2_VERSION ||
        !headerFits(header, in->size)) {
        reportError("MD2 : Invalide Header!");
        readerClose(in);
        return false;
    }
    int32_t frameSize = header[H_FRAME_SIZE];
    int32_t frameCount = header[H_FRAMES];
    int32_t commandCount = header[H_COMMANDS];
    // Both sizes are bounded by the file length checked above.
    uint32_t frameBytes = static_cast<uint32_t>(int64_t(frameCount) * frameSize);

    uint8_t* frames = new (std::nothrow) uint8_t[frameBytes]();
    if (!frames) {
        readerClose(in);
        return false;
    }
    model->frames.reset(frames);
    readerSeek(in, static_cast<uint32_t>(header[H_FRAMES_OFFSET]));
    readerRead(in, frames, frameBytes);

    int32_t* commands = new (std::nothrow) int32_t[commandCount]();
    if (!commands) {
        model->frames.reset();
        readerClose(in);
        return false;
    }
    model->commands.reset(commands);
    readerSeek(in, static_cast<uint32_t>(header[H_COMMANDS_OFFSET]));
    for (int32_t i = 0; i < commandCount; ++i)
        commands[i] = static_cast<int32_t>(readerU32(in));

    model->frameCount = frameCount;
    model->commandCount = commandCount;
    model->frameSize = frameSize;
    model->triangleCount = header[H_TRIANGLES];
    model->vertexCount = header[H_VERTICES];
    readerClose(in);
    return true;
}

void resetModel(Md2Model* model) {
    model->commandCount = 0;
    model->frameSize = 0;
    model->frameCount = 0;
    model->vertexCount = 0;
}

}  // namespace

bool md2Load(Md2Model* model, const char* path) {
    resetModel(model);
    ByteReader in;
    if (!readerOpenFile(&in, path)) {
        reportError("MD2 : File not found!");
        return false;
    }
    return loadFromStream(model, &in);
}

bool md2LoadMemory(Md2Model* model, const uint8_t* data, uint32_t size) {
    resetModel(model);
    ByteReader in;
    if (!readerOpenMemory(&in, data, size)) {
        reportError("MD2 : File not found!");
        return false;
    }
    return loadFromStream(model, &in);
}
