// MD2 loader on arbitrary bytes, then every frame drawn through the counting
// GL stub, plus the frame indexes just outside the model.
#include <cstdio>
#include <cstdlib>

#include "assets/md2.h"
#include "tests/box_recorder.h"
#include "tests/fuzz/gl_stub.h"

namespace {
void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "md2: %s\n", what);
        std::abort();
    }
}

// Strips and fans must come in whole pairs and never emit more vertices
// than the command words can describe.
void drawChecked(const Md2Model* model, int32_t frame, int32_t divisor) {
    glStubReset();
    md2DrawFrame(model, frame, divisor);
    check(glStubCounters.depth == 0, "glBegin left open");
    check(glStubCounters.begins == glStubCounters.ends, "unbalanced glBegin/glEnd");
    uint64_t words = model->commandCount > 0 ? uint64_t(model->commandCount) : 0;
    check(glStubCounters.vertices <= words / 3, "more vertices than the command list holds");
    check(glStubCounters.vertices <= glStubCounters.begins * MD2_MAX_COMMAND_VERTICES,
          "a primitive longer than the vertex buffer");
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const BoxRecorder recorder;
    if (size > 0xFFFFFFFFu)
        return 0;
    recordedBoxes.clear();

    Md2Model model{};
    bool ok = md2LoadMemory(&model, data, static_cast<uint32_t>(size));
    check(recordedBoxes.size() <= 1, "more than one message box");
    if (!ok) {
        check(model.commandCount == 0 && model.frameCount == 0 && model.frameSize == 0,
              "refused model kept its counts");
    }
    int32_t frames = model.frameCount;
    // Every frame, but a bounded number of them: a frame size of 40 bytes
    // lets a small file claim thousands.
    for (int32_t f = 0; f < frames && f < 512; f++)
        drawChecked(&model, f, 20);
    if (frames > 512)
        drawChecked(&model, frames - 1, 20);
    drawChecked(&model, -1, 20);
    drawChecked(&model, frames, 20);
    drawChecked(&model, INT32_MIN, 1);
    drawChecked(&model, INT32_MAX, 1);
    if (!ok)
        check(glStubCounters.begins == 0, "refused model drew something");
    return 0;
}
