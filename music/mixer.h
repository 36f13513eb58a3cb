// Software mixer: 256 voices (0..63 mixed), float accumulation, 16-bit output.
#pragma once
#include <cstdint>

struct Sample;

struct Voice {
    int32_t index;
    int32_t volume;           // 0..127
    int32_t panning;          // 0..255
    const Sample* sample;     // null: idle
    int32_t gainA;
    int32_t gainB;
    uint32_t position;
    uint32_t fraction;        // 0.32
    uint32_t stepFraction;
    uint32_t stepInteger;
    int32_t direction;        // 1 forward, 2 backward
    int32_t lastGainA;
    int32_t lastGainB;
    int32_t currentGainA;     // gain x 256
    int32_t currentGainB;
    float rampDeltaA;
    float rampDeltaB;
    int32_t rampRemaining;
};

enum { VOICE_COUNT = 256, MIXED_VOICES = 64, DIRECTION_FORWARD = 1, DIRECTION_BACKWARD = 2 };

extern Voice voices[VOICE_COUNT];
extern int32_t rampLength;
extern float rampReciprocal;

// Sets the ramp constants for the output rate and clears all voices.
void mixerSetup(int32_t outputRate);
void mixVoices(float* out, int32_t frames);
void convertBlock(int16_t* out, const float* in, int32_t frames);
