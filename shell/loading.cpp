// Loading sequence (placeholder until the loaders land).
#include "shell/demo.h"
#include "platform/gl.h"

void drawLoadingBar(float) {}

void loadDemo() {
    camera = Camera{{0.0f, 0.0f, 50.0f}, {0.0f, 0.0f, 0.0f}, 0};
    loaded = 1;
}
