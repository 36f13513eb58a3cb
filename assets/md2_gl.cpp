// MD2 drawing: one key frame's strips and fans in immediate mode.
#include <cstring>
#include "assets/md2.h"
#include "data/reader.h"
#include "platform/gl.h"

namespace {

struct CommandVertex {
    float x, y, z, s, t;
};

CommandVertex commandVertices[MD2_MAX_COMMAND_VERTICES];

float readFloat(const uint8_t* p) {
    uint32_t v = readLe32(p);
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

}  // namespace

void md2DrawFrame(const Md2Model* model, int32_t frame, int32_t divisor) {
    if (!model->commands || model->commandCount <= 0 || !model->frames)
        return;
    if (frame < 0 || frame >= model->frameCount)
        return;
    const uint8_t* base = model->frames.get() + int64_t(frame) * model->frameSize;
    float sx = readFloat(base), sy = readFloat(base + 4), sz = readFloat(base + 8);
    float tx = readFloat(base + 12), ty = readFloat(base + 16), tz = readFloat(base + 20);
    const uint8_t* vertices = base + MD2_FRAME_HEADER_SIZE;
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
