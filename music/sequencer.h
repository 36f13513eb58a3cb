// Row and tick sequencer.
#pragma once
#include <cstdint>
#include "music/module.h"

struct Voice;

struct Channel {
    uint8_t note;           // 0-based
    uint8_t updateFlags;    // 1 frequency, 2 volume, 4 panning, 8 trigger
    Voice* voice;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t envelopeTick;
    int32_t envelopePoint;
    int32_t envelopeValue;  // 16.16
    int32_t envelopeVolume;
    int32_t envelopeSlope;
    uint8_t envelopeDone;
    int32_t panningEnvelope;
    int32_t fadeoutVolume;
    uint8_t keyOff;
    uint8_t instrument;     // 0-based
};

enum {
    UPDATE_FREQUENCY = 1,
    UPDATE_VOLUME = 2,
    UPDATE_PANNING = 4,
    UPDATE_TRIGGER = 8
};

extern Channel channels[MAX_CHANNELS];

void playerTick(Player* player);
void processRow(Player* player);
void processTick(Player* player);
void resetChannelInstrument(Channel* channel, const Sample* sample);
void envelopeStep(Channel* channel, const Instrument* instrument);
void updateVoice(Channel* channel, const Sample* sample, const Player* player);
void setTempo(Player* player, int32_t bpm);
// Sequencer part of a start: position, speed, tempo, channel c bound to voice c.
void sequencerReset(Player* player);
