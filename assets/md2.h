// MD2 model: the key frames and the GL command list, drawn one frame at a time.
#pragma once
#include <cstdint>
#include <memory>

struct Md2Model {
    int32_t commandCount;                    // words in commands
    std::unique_ptr<int32_t[]> commands;
    int32_t triangleCount;
    int32_t frameSize;                       // bytes per frame
    int32_t frameCount;
    std::unique_ptr<uint8_t[]> frames;       // frameCount x frameSize bytes
    int32_t vertexCount;                     // vertices per frame, bounds the command indices
};

enum { MD2_MAX_COMMAND_VERTICES = 350, MD2_FRAME_HEADER_SIZE = 40 };   // frame header: scale, translate, name

// False after a message box (missing file, bad header) or a failed allocation.
bool md2Load(Md2Model* model, const char* path);
bool md2LoadMemory(Md2Model* model, const uint8_t* data, uint32_t size);

// Emits the frame's strips and fans scaled by 1 / divisor; sets no other GL state.
void md2DrawFrame(const Md2Model* model, int32_t frame, int32_t divisor);
