// Wave-out device (placeholder until the player lands).
#include "platform/platform.h"

struct PlatWaveOut {};

PlatWaveOut* platWaveOpen(int32_t) { return nullptr; }
void platWaveLoop(PlatWaveOut*, void*, uint32_t) {}
void platWaveUnprepare(PlatWaveOut*) {}
uint32_t platWavePosition(PlatWaveOut*) { return 0; }
void platWaveReset(PlatWaveOut*) {}
void platWaveClose(PlatWaveOut*) {}
