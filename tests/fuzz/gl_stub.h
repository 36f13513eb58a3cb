// Counters of the no-op GL used by the fuzz harnesses instead of a driver.
#pragma once
#include <cstdint>

struct GlStubCounters {
    uint64_t begins;
    uint64_t ends;
    uint64_t vertices;
    uint64_t texImages;
    int32_t depth;          // glBegin nesting, must stay 0 or 1
};
extern GlStubCounters glStubCounters;
void glStubReset();
