// Song data model and the module loader.
#pragma once
#include <cstdint>

#include "music/stream.h"

struct Player;

struct Cell {
    uint8_t note;         // NOTE_NONE, 1..96 notes, NOTE_KEY_OFF
    uint8_t instrument;   // 0 none, else 1-based
    uint8_t volume;
    uint8_t effect;
    uint8_t parameter;
};

struct Pattern {
    int32_t rows;
    Cell* cells;          // rows x channelCount, row-major; null when the pattern is empty
};

struct Sample {
    int16_t* data;        // length + 8 samples, zero padded; null when length is 0
    uint32_t length;
    uint32_t loopStart;
    uint32_t loopLength;
    uint8_t volume;
    int8_t finetune;
    int32_t panning;
    uint8_t bits;
    uint8_t loopType;     // LOOP_NONE, LOOP_FORWARD or LOOP_PING_PONG
    int8_t relativeNote;
    float* dataFloat;     // the same length + 8 values as floats, for the mixer; may be null
};

struct EnvelopePoint {
    uint16_t x;
    uint16_t y;
};

// The fixed header before the order table: signature, names, sizes, counts, flags, speed and tempo.
enum : uint32_t { MODULE_HEADER_SIZE = 80 };

enum { ENVELOPE_POINTS = 12, SAMPLES_PER_INSTRUMENT = 16, NOTE_COUNT = 96, MAX_CHANNELS = 32,
       MAX_PATTERNS = 256, MAX_INSTRUMENTS = 0x7fff };

struct Instrument {
    int32_t sampleCount;
    Sample* samples[SAMPLES_PER_INSTRUMENT];
    uint8_t noteSampleMap[NOTE_COUNT];
    EnvelopePoint volumeEnvelope[ENVELOPE_POINTS];
    EnvelopePoint panningEnvelope[ENVELOPE_POINTS];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustainPoint;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustainPoint;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeType;
    uint8_t panningType;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;
};

// Called instead of reading a sample's bytes: (destination, byte count, bits,
// instrument index, sample index).
typedef void (*SampleProvider)(void* destination, uint32_t bytes, uint8_t bits, int32_t instrument,
                               int32_t sample);

struct Player {
    Pattern* patterns;
    Instrument* instruments;
    int32_t samplesLeftInTick;
    int32_t samplesPerTick;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t referencedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    uint16_t flags;
    int16_t defaultSpeed;
    int16_t defaultBpm;
    uint8_t orderTable[256];
    uint8_t initialGlobalVolume;
    int32_t globalVolume;
    int32_t tick;
    int32_t speed;
    int32_t bpm;
    int32_t row;
    int32_t order;
    int32_t nextRow;
    int32_t nextOrder;
    void (*tickRoutine)(Player* player);
    SampleProvider sampleProvider;
};

enum { MODULE_FLAG_LINEAR = 1 };

// Notes as the file stores them and as a loaded Cell holds them.
enum : uint8_t { NOTE_NONE = 0, FILE_NOTE_KEY_OFF = 97, NOTE_KEY_OFF = 255 };
// Sample loop types once loaded (the file's type bits are SAMPLE_TYPE_*).
enum : uint8_t { LOOP_NONE = 1, LOOP_FORWARD = 2, LOOP_PING_PONG = 4 };
enum : uint8_t { SAMPLE_TYPE_FORWARD = 1, SAMPLE_TYPE_PING_PONG = 2, SAMPLE_TYPE_16_BIT = 0x10 };
// Envelope type bits.
enum : uint8_t { ENVELOPE_ON = 1, ENVELOPE_SUSTAIN = 2, ENVELOPE_LOOP = 4 };
// The effects this player reacts to.
enum : uint8_t { EFFECT_TONE_PORTAMENTO = 3, EFFECT_TONE_PORTAMENTO_VOLUME_SLIDE = 5, EFFECT_KEY_OFF = 0x14 };
// Packed pattern cells: a first byte with the top bit set says which fields follow.
enum : uint8_t { PACKED = 0x80, PACKED_NOTE = 0x01, PACKED_INSTRUMENT = 0x02, PACKED_VOLUME = 0x04,
                 PACKED_EFFECT = 0x08, PACKED_PARAMETER = 0x10 };

extern Sample emptySample;
extern Instrument emptyInstrument;

Player* moduleOpen(int32_t resourceId, SampleProvider sampleProvider);
// moduleOpen over whatever the installed stream hooks open for nameOrId.
Player* moduleOpenStream(intptr_t nameOrId, SampleProvider sampleProvider);
bool moduleLoad(Player* player, StreamHandle* handle);
void moduleFree(Player* player);
// Why the latest moduleLoad/moduleOpen failed, as one short line.
const char* moduleLoadError();
// After a successful load: "" or one line saying what was cut because the data ends early.
const char* moduleLoadWarning();
// Checks what the first min(size, MODULE_HEADER_SIZE) bytes of a module say, each check
// only when its bytes are there: null when acceptable, else the reason as one short line.
// moduleLoad refuses a module for the same reasons, in the same words.
const char* moduleCheckHeader(const uint8_t* data, uint32_t size);
