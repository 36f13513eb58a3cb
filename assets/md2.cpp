// MD2 loader and renderer.
#include "assets/md2.h"
#include <cstring>
#include <new>
#include "assets/stream.h"
#include "platform/gl.h"
#include "platform/platform.h"

namespace {

enum {
    HEADER_SIZE = 68,
    FRAME_HEADER_SIZE = 40,   // scale, translate, name
    MD2_IDENT = 0x32504449,   // "IDP2"
    MD2_VERSION = 8,
};

struct CommandVertex {
    float x, y, z, s, t;
};

CommandVertex commandVertices[MD2_MAX_COMMAND_VERTICES];

int32_t readInt(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return static_cast<int32_t>(v);
}

float readFloat(const uint8_t* p) {
    uint32_t v = static_cast<uint32_t>(readInt(p));
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

void reportError(const char* text) {
    platMessageBox(text, "MD2 : Error ...", PLAT_ICON_ERROR);
}

// Every block the loader reads, and every frame vertex a command may index,
// must lie inside the file.
bool headerFits(const uint8_t* h, uint64_t length) {
    int64_t frameSize = readInt(h + 16);
    int64_t vertexCount = readInt(h + 24);
    int64_t commandCount = readInt(h + 36);
    int64_t frameCount = readInt(h + 40);
    int64_t framesOffset = readInt(h + 56);
    int64_t commandsOffset = readInt(h + 60);
    if (frameSize < 0 || vertexCount < 0 || commandCount < 0 || frameCount < 0 ||
        framesOffset < 0 || commandsOffset < 0)
        return false;
    if (frameSize < FRAME_HEADER_SIZE + 4 * vertexCount)
        return false;
    int64_t fileLength = static_cast<int64_t>(length);
    if (frameCount > 0 && framesOffset + frameCount * frameSize > fileLength)
        return false;
    if (commandsOffset + commandCount * 4 > fileLength)
        return false;
    return true;
}

bool loadFromStream(Md2Model* model, AssetStream* stream) {
    uint8_t header[HEADER_SIZE];
    uint64_t length = 0;
    if (streamRead(stream, header, HEADER_SIZE) != HEADER_SIZE || readInt(header) != MD2_IDENT ||
        readInt(header + 4) != MD2_VERSION || !streamLength(stream, &length) ||
        !headerFits(header, length)) {
        reportError("MD2 : Invalide Header!");
        streamClose(stream);
        return false;
    }
    int32_t frameSize = readInt(header + 16);
    int32_t frameCount = readInt(header + 40);
    int32_t commandCount = readInt(header + 36);
    // Both sizes are bounded by the file length checked above.
    uint32_t frameBytes = static_cast<uint32_t>(int64_t(frameCount) * frameSize);
    uint32_t commandBytes = static_cast<uint32_t>(commandCount) * 4;

    uint8_t* frames = new (std::nothrow) uint8_t[frameBytes]();
    if (!frames) {
        streamClose(stream);
        return false;
    }
    model->frames.reset(frames);
    if (frameBytes > 0 && streamSeek(stream, static_cast<uint32_t>(readInt(header + 56))))
        streamRead(stream, frames, frameBytes);

    int32_t* commands = new (std::nothrow) int32_t[commandCount]();
    if (!commands) {
        model->frames.reset();
        streamClose(stream);
        return false;
    }
    model->commands.reset(commands);
    if (commandBytes > 0 && streamSeek(stream, static_cast<uint32_t>(readInt(header + 60)))) {
        uint8_t* bytes = reinterpret_cast<uint8_t*>(commands);
        uint32_t got = streamRead(stream, bytes, commandBytes);
        // The words are little-endian in the file; keep them so on any host.
        for (uint32_t i = 0; i + 4 <= got; i += 4)
            commands[i / 4] = readInt(bytes + i);
    }

    model->frameCount = frameCount;
    model->commandCount = commandCount;
    model->frameSize = frameSize;
    model->triangleCount = readInt(header + 32);
    model->vertexCount = readInt(header + 24);
    streamClose(stream);
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
    AssetStream stream;
    if (!streamOpenFile(&stream, path)) {
        reportError("MD2 : File not found!");
        return false;
    }
    return loadFromStream(model, &stream);
}

bool md2LoadMemory(Md2Model* model, const uint8_t* data, uint32_t size) {
    resetModel(model);
    AssetStream stream;
    if (!streamOpenMemory(&stream, data, size)) {
        reportError("MD2 : File not found!");
        return false;
    }
    return loadFromStream(model, &stream);
}

void md2DrawFrame(const Md2Model* model, int32_t frame, int32_t divisor) {
    if (!model->commands || model->commandCount <= 0 || !model->frames)
        return;
    if (frame < 0 || frame >= model->frameCount)
        return;
    const uint8_t* base = model->frames.get() + int64_t(frame) * model->frameSize;
    float sx = readFloat(base), sy = readFloat(base + 4), sz = readFloat(base + 8);
    float tx = readFloat(base + 12), ty = readFloat(base + 16), tz = readFloat(base + 20);
    const uint8_t* vertices = base + FRAME_HEADER_SIZE;
    float k = 1.0f / static_cast<float>(divisor);

    const int32_t* words = model->commands.get();
    int64_t count = model->commandCount;
    int64_t at = 0;
    while (at < count) {
        int64_t n = words[at++];
        if (n == 0)
            break;
        GLenum primitive = n > 0 ? GL_TRIANGLE_STRIP : GL_TRIANGLE_FAN;
        int64_t vertexTotal = n > 0 ? n : -n;
        if (vertexTotal > (count - at) / 3)
            break;   // runs past the end of the list
        const int32_t* command = words + at;
        at += vertexTotal * 3;
        if (vertexTotal > MD2_MAX_COMMAND_VERTICES)
            continue;
        bool valid = true;
        for (int64_t i = 0; i < vertexTotal; ++i) {
            int32_t index = command[i * 3 + 2];
            if (index < 0 || index >= model->vertexCount) {
                valid = false;
                break;
            }
            const uint8_t* v = vertices + 4 * index;
            CommandVertex& out = commandVertices[i];
            std::memcpy(&out.s, &command[i * 3], 4);
            std::memcpy(&out.t, &command[i * 3 + 1], 4);
            out.x = float(v[0]) * sx + tx;
            out.y = float(v[2]) * sz + tz;
            out.z = -(float(v[1]) * sy + ty);
        }
        if (!valid)
            continue;
        glBegin(primitive);
        for (int64_t i = 0; i < vertexTotal; ++i) {
            const CommandVertex& c = commandVertices[i];
            GLfloat p[3] = {c.x * k, c.y * k, c.z * k};
            glTexCoord2f(p[0], p[1]);
            glVertex3fv(p);
        }
        glEnd();
    }
}
