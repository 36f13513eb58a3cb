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
void ignoreKey(PlatKey) {}
const PlatWindowDesc testWindow = {":)", 640, 480, PLAT_WINDOWED};
const PlatWindowCallbacks noCallbacks = {ignore, ignoreKey, ignoreSize};

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
    if (demo.window)
        return;
    demo.window = platOpenWindow(&testWindow, &noCallbacks);
    if (!demo.window) {
        std::fprintf(stderr, "cannot create the test window and its GL context\n");
        std::exit(1);
    }
}
