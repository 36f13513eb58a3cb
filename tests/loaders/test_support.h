// Shared by the loader tests: a GL context on the test display and a
// recorder for message boxes.
#pragma once
#include <gtest/gtest.h>
#include "tests/box_recorder.h"

// A 640 x 480 window with a current GL context, created once per process.
void ensureGlContext();
