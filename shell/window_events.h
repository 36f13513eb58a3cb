#pragma once
#include "platform/platform.h"

// Handlers of the render window's events.
extern const PlatWindowEvents renderWindowEvents;
