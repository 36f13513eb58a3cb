// Message boxes recorded instead of shown, for every test that checks them.
#pragma once
#include <string>
#include <vector>
#include "platform/platform.h"

struct RecordedBox {
    std::string text;      // "" also for none
    std::string caption;
    int icon;
};

inline std::vector<RecordedBox> recordedBoxes;

// Records every message box from construction to destruction.
struct BoxRecorder {
    std::vector<RecordedBox>& boxes = recordedBoxes;
    BoxRecorder() {
        recordedBoxes.clear();
        platSetMessageBoxHook(record);
    }
    ~BoxRecorder() {
        platSetMessageBoxHook(nullptr);
        recordedBoxes.clear();
    }
    static void record(const char* text, const char* caption, int icon) {
        recordedBoxes.push_back({text ? text : "", caption ? caption : "", icon});
    }
};
