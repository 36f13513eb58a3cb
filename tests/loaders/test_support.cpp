#include "test_support.h"
#include <cstdio>
#include <cstdlib>
#include "platform/platform.h"
#include "shell/demo.h"

namespace {

void ignore() {}
void ignoreSize(int32_t, int32_t) {}
void ignoreKey(PlatKey) {}
const PlatWindowDesc testWindow = {":)", 640, 480, PLAT_WINDOWED};
const PlatWindowCallbacks noCallbacks = {ignore, ignoreKey, ignoreSize};

}  // namespace

void ensureGlContext() {
    if (demo.window)
        return;
    demo.window = platOpenWindow(&testWindow, &noCallbacks);
    if (!demo.window) {
        std::fprintf(stderr, "cannot create the test window and its GL context\n");
        std::exit(1);
    }
}
