#include "test_support.h"
#include <cstdio>
#include <cstdlib>
#include "platform/platform.h"
#include "shell/demo.h"

namespace {

std::vector<RecordedBox> recorded;

void recordBox(const char* text, const char* caption, int icon) {
    recorded.push_back({text ? text : "", caption ? caption : "", icon});
}

void ignore() {}
void ignoreSize(int32_t, int32_t) {}
void ignoreCharacter(int32_t) {}
const PlatWindowEvents noEvents = {ignore, ignoreSize, ignoreCharacter, ignore};

}  // namespace

BoxRecorder::BoxRecorder() : boxes(recorded) {
    recorded.clear();
    platSetMessageBoxHook(recordBox);
}

BoxRecorder::~BoxRecorder() {
    platSetMessageBoxHook(nullptr);
    recorded.clear();
}

void ensureGlContext() {
    if (demo.glContext)
        return;
    if (!platCreateRenderWindow(640, 480, PLAT_WINDOWED, &noEvents)) {
        std::fprintf(stderr, "cannot create the test window\n");
        std::exit(1);
    }
    demo.deviceContext = platGetDeviceContext();
    demo.glContext = platCreateGlContext(demo.deviceContext);
    if (!demo.glContext) {
        std::fprintf(stderr, "cannot create a GL context\n");
        std::exit(1);
    }
}
