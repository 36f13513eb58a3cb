// What each backend supplies to platform/hooks.cpp.
#pragma once
#include <cstdint>

uint32_t backendTickCount();
// The real message box; a windowing backend may replace the headless default.
extern void (*backendMessageBox)(const char* text, const char* caption, int icon);
