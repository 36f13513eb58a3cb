// Shared by the loader tests: a GL context on the test display and a
// recorder for message boxes.
#pragma once
#include <string>
#include <vector>
#include <gtest/gtest.h>

struct RecordedBox {
    std::string text;
    std::string caption;
    int icon;
};

// Records every message box from construction to destruction.
struct BoxRecorder {
    BoxRecorder();
    ~BoxRecorder();
    std::vector<RecordedBox>& boxes;
};

// A 640 x 480 window with a current GL context, created once per process.
void ensureGlContext();
