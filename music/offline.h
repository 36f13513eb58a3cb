// Rendering a module without a device (tools, content checks, fuzzers).
#pragma once
#include <cstdint>

struct Player;

Player* moduleOpenMemory(const uint8_t* data, uint32_t size);   // through the memory stream hooks; null on failure
void offlineRenderStart(Player* player);                          // sequencer reset as playerStart, no device
void offlineRender(Player* player, int16_t* out, uint32_t frames); // interleaved stereo, the block renderer's output from playerStart on
