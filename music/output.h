// Wave-out device, output ring, block renderer and mixing thread.
#pragma once
#include <cstdint>

struct Player;

// A wave-out device as the player sees it; tests and the offline capture tool plug their own.
struct AudioDevice {
    bool (*open)(int32_t rate);
    void (*loop)(void* pcm, uint32_t bytes);   // start looping this buffer for ever
    void (*unprepare)();
    uint32_t (*position)();                    // bytes played, wraps at 2^32
    void (*reset)();
    void (*close)();
};
void audioSetDevice(const AudioDevice* device);   // null: the platform's wave-out
void audioSetThreaded(bool threaded);             // false: playerStart starts no mixing thread
void audioPumpOnce();                             // one pass of the mixing thread's loop body, no sleep

struct PositionRecord {
    uint8_t order;
    uint8_t row;
};

enum { MUSIC_OUTPUT_RATE = 44100 };

extern int32_t outputRate;
extern int32_t blockFrames;
extern int32_t ringFrames;

bool audioOpen(int32_t rate);
void audioClose();
bool audioUsingSilentDevice();   // true when the real device failed and the ring plays to nowhere
// Waits for a block in progress and stops playback if it plays `player` (moduleFree calls this).
void audioReleasePlayer(Player* player);

void renderBlock();
int mixThread();

// Introspection for tests and tools.
int32_t audioBlockCount();
int32_t audioWriteBlock();
int32_t audioHeardBlock();
PositionRecord audioPositionRecord(int32_t block);
const int16_t* audioRing();            // the ring's pcm, null when stopped
Player* audioCurrentPlayer();
