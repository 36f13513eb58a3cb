// Audio device, output ring, block renderer and mixing thread.
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct Player;

// Null (the default): the silent device. Tests and the offline capture tool plug their own.
void audioSetDevice(const PlatAudioDevice* device);
const PlatAudioDevice* audioChosenDevice();
extern const PlatAudioDevice silentAudioDevice;   // plays to nowhere at the real-time rate

void audioSetThreaded(bool threaded);             // false: playerStart starts no mixing thread
void audioPumpOnce();                             // one pass of the mixing thread's loop body, no sleep

struct PositionRecord {
    uint8_t order;
    uint8_t row;
};

extern int32_t outputRate;
extern int32_t blockFrames;
extern int32_t ringFrames;

bool audioOpen(int32_t rate);
void audioClose();
bool audioUsingSilentDevice();   // true when the ring plays to nowhere
void audioSetBlockGeometry(int32_t rate);
// Resets the sequencer, pre-renders the whole ring and starts the device and the thread.
bool audioPlay(Player* player);
void audioStop();
// Waits for a block in progress and stops playback if it plays `player` (moduleFree calls this).
void audioReleasePlayer(Player* player);

// Renders frames of the player's song into slot (float accumulation) and out (16-bit).
void renderFrames(Player* player, float* slot, int16_t* out, int32_t frames);
void renderBlock();
int mixThread();

// Introspection for tests and tools.
int32_t audioBlockCount();
int32_t audioWriteBlock();
int32_t audioHeardBlock();
PositionRecord audioPositionRecord(int32_t block);
const int16_t* audioRing();            // the ring's pcm, null when stopped
Player* audioCurrentPlayer();
