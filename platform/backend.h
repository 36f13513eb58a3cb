// What each backend supplies to platform/hooks.cpp.
#pragma once
#include <cstdint>

uint32_t backendTickCount();
void backendMessageBox(const char* text, const char* caption, int icon);
