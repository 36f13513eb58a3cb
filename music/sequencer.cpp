// Sequencer: rows and ticks of the song. Every speed ticks a new row is read
// (walking the order table, back to the restart position at the end); notes
// trigger, key-offs start the fade, and each tick steps the volume envelopes
// of the channels and hands period, volume and panning to the voices.
// The Player holds the position, the channel table the per-channel state.
#include "music/sequencer.h"

#include <cmath>
#include <cstdlib>

#include "music/mixer.h"
#include "music/module.h"
#include "music/output.h"

Channel channels[MAX_CHANNELS];

namespace {

// Channel c plays on voice c or its fade-out partner c + MAX_CHANNELS, so
// twice as many voices as channels are mixed.
static_assert(MIXED_VOICES == 2 * MAX_CHANNELS, "every channel's voice pair is mixed");

// A tick lasts 1000 / (bpm * TICKS_PER_SECOND_PER_BPM) ms: single-precision factors, widened.
const float TICKS_PER_SECOND_PER_BPM = 0.4f;
const float SECONDS_PER_MILLISECOND = 0.001f;
const int32_t PANNING_ENVELOPE_CENTRE = 32;   // of its 0..64

struct Lookup {
    const Instrument* instrument;
    const Sample* sample;
};

Lookup lookUp(const Player* player, const Channel& channel) {
    if (channel.instrument >= player->instrumentCount)
        return {&emptyInstrument, &emptySample};
    const Instrument* instrument = &player->instruments[channel.instrument];
    if (channel.note >= NOTE_COUNT)
        return {instrument, &emptySample};
    uint8_t slot = instrument->noteSampleMap[channel.note];
    const Sample* sample = slot >= SAMPLES_PER_INSTRUMENT ? &emptySample : instrument->samples[slot];
    return {instrument, sample ? sample : &emptySample};
}

void fadeoutStep(Channel& channel, const Instrument* instrument) {
    channel.fadeoutVolume -= instrument->fadeout;
    if (channel.fadeoutVolume < 0)
        channel.fadeoutVolume = 0;
    channel.updateFlags |= UPDATE_VOLUME;
}

const Cell emptyCell = {};

}  // namespace

void setTempo(Player* player, int32_t bpm) {
    player->bpm = bpm;
    // A tempo of 0 (or below) would divide by zero.
    double beats = bpm < 1 ? 1.0 : static_cast<double>(bpm);
    double frames = 1000.0 / (beats * static_cast<double>(TICKS_PER_SECOND_PER_BPM)) *
                    static_cast<double>(outputRate) * static_cast<double>(SECONDS_PER_MILLISECOND);
    int32_t n = frames >= 2147483647.0 ? 2147483647 : static_cast<int32_t>(frames);
    player->samplesPerTick = n < 1 ? 1 : n;
}

void sequencerReset(Player* player) {
    player->nextOrder = -1;
    player->nextRow = -1;
    player->globalVolume = player->initialGlobalVolume;
    player->speed = player->defaultSpeed;
    player->row = 0;
    player->order = 0;
    player->samplesLeftInTick = 0;
    player->tick = 0;
    setTempo(player, player->defaultBpm);
    int32_t count = player->channelCount < MAX_CHANNELS ? player->channelCount : int32_t{MAX_CHANNELS};
    for (int32_t i = 0; i < count; ++i) {
        channels[i] = Channel{};
        channels[i].voice = &voices[i];
    }
}

void playerTick(Player* player) {
    if (player->tick != 0) {
        processTick(player);
    } else {
        if (player->nextOrder >= 0)
            player->order = player->nextOrder;
        if (player->nextRow >= 0)
            player->row = player->nextRow;
        processRow(player);
        player->nextRow = player->row + 1;
        if (player->nextRow >= player->patterns[player->orderTable[player->order]].rows) {
            player->nextOrder =
                player->order + 1 >= player->songLength ? player->restartPosition : player->order + 1;
            player->nextRow = 0;
        }
    }
    player->tick += 1;
    if (player->tick >= player->speed)
        player->tick = 0;
}

void processRow(Player* player) {
    player->nextRow = -1;
    player->nextOrder = -1;
    const Pattern& pattern = player->patterns[player->orderTable[player->order]];
    const int32_t count = player->channelCount;
    for (int32_t c = 0; c < count; ++c) {
        Channel& channel = channels[c];
        const Cell& cell = pattern.cells && player->row < pattern.rows
                               ? pattern.cells[player->row * count + c]
                               : emptyCell;
        bool portamento = cell.effect == EFFECT_TONE_PORTAMENTO || cell.effect == EFFECT_TONE_PORTAMENTO_VOLUME_SLIDE;
        bool hasNote = cell.note != NOTE_NONE && cell.note != NOTE_KEY_OFF;
        if (cell.instrument != 0 && !portamento)
            channel.instrument = static_cast<uint8_t>(cell.instrument - 1);
        if (hasNote && !portamento)
            channel.note = static_cast<uint8_t>(cell.note - 1);
        Lookup found = lookUp(player, channel);
        channel.updateFlags = 0;
        if (hasNote) {
            uint8_t realNote = static_cast<uint8_t>(cell.note + found.sample->relativeNote - 1);
            if (player->flags & MODULE_FLAG_LINEAR) {
                int32_t newPeriod = 7680 - 64 * realNote - found.sample->finetune / 2;
                if (!portamento)
                    channel.period = newPeriod;
            }
            channel.updateFlags = UPDATE_TRIGGER;
        }
        channel.updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;
        if (cell.instrument != 0)
            resetChannelInstrument(&channel, found.sample);
        if (cell.note == NOTE_KEY_OFF || cell.effect == EFFECT_KEY_OFF)
            channel.keyOff = 1;
        if (found.instrument->volumeType & ENVELOPE_ON) {
            if (!channel.envelopeDone)
                envelopeStep(&channel, found.instrument);
        } else if (channel.keyOff) {
            channel.envelopeVolume = 0;
        }
        if (channel.keyOff)
            fadeoutStep(channel, found.instrument);
        updateVoice(&channel, found.sample, player);
    }
}

void processTick(Player* player) {
    for (int32_t c = 0; c < player->channelCount; ++c) {
        Channel& channel = channels[c];
        Lookup found = lookUp(player, channel);
        channel.updateFlags = 0;
        if ((found.instrument->volumeType & ENVELOPE_ON) && !channel.envelopeDone)
            envelopeStep(&channel, found.instrument);
        if (channel.keyOff)
            fadeoutStep(channel, found.instrument);
        updateVoice(&channel, found.sample, player);
    }
}

void resetChannelInstrument(Channel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->envelopeVolume = 64;
    channel->envelopePoint = 0;
    channel->envelopeTick = 0;
    channel->envelopeSlope = 0;
    channel->panningEnvelope = PANNING_ENVELOPE_CENTRE;
    channel->keyOff = 0;
    channel->fadeoutVolume = 65536;
    channel->envelopeDone = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

void envelopeStep(Channel* channel, const Instrument* instrument) {
    const EnvelopePoint* points = instrument->volumeEnvelope;
    const int32_t count = instrument->volumePointCount;
    int32_t i = channel->envelopePoint;
    if (i < count) {
        if (points[i].x != channel->envelopeTick) {
            // Wrapping add: a malformed envelope must not overflow into undefined behaviour.
            channel->envelopeValue = static_cast<int32_t>(static_cast<uint32_t>(channel->envelopeValue) +
                                                          static_cast<uint32_t>(channel->envelopeSlope));
        } else {
            if ((instrument->volumeType & ENVELOPE_LOOP) && i == instrument->volumeLoopEnd) {
                i = instrument->volumeLoopStart;
                channel->envelopePoint = i;
                channel->envelopeTick = points[i].x;
            }
            if (i == count - 1) {
                channel->envelopeVolume = points[i].y;
                channel->envelopeDone = 1;
                channel->updateFlags |= UPDATE_VOLUME;
                return;
            }
            if ((instrument->volumeType & ENVELOPE_SUSTAIN) && i == instrument->volumeSustainPoint && !channel->keyOff) {
                channel->envelopeVolume = points[i].y;
                channel->updateFlags |= UPDATE_VOLUME;
                return;
            }
            int32_t dx = static_cast<int32_t>(points[i + 1].x) - points[i].x;
            int32_t dy = static_cast<int32_t>(points[i + 1].y) - points[i].y;
            channel->envelopeSlope = dx == 0 ? 0 : (dy * 65536) / dx;
            channel->envelopeValue = points[i].y * 65536;
            channel->envelopePoint = i + 1;
        }
    }
    channel->envelopeVolume = channel->envelopeValue >> 16;
    channel->envelopeTick += 1;
    channel->updateFlags |= UPDATE_VOLUME;
}

void updateVoice(Channel* channel, const Sample* sample, const Player* player) {
    if (channel->period == 0)
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_FREQUENCY);
    const uint8_t flags = channel->updateFlags;
    if (flags & UPDATE_TRIGGER) {
        Voice* v = channel->voice;
        if (v->sample) {
            // The new note takes the pair's other voice; the cut one fades out where it was.
            int32_t partner = v->index < MAX_CHANNELS ? v->index + MAX_CHANNELS : v->index - MAX_CHANNELS;
            voices[partner] = *v;
            voices[partner].index = partner;
            v->volume = 0;
            v->gainA = 0;
            v->gainB = 0;
            channel->voice = &voices[partner];
        }
        Voice* n = channel->voice;
        n->sample = sample;
        n->position = 0;
        n->fraction = 0;
        n->direction = DIRECTION_FORWARD;
        n->currentGainA = 0;
        n->currentGainB = 0;
        n->rampRemaining = 0;
    }
    Voice* v = channel->voice;
    if (flags & UPDATE_VOLUME) {
        int64_t product = static_cast<int64_t>(channel->volume) * channel->envelopeVolume *
                          channel->fadeoutVolume * player->globalVolume * 255;
        int32_t vol = static_cast<int32_t>(product / (static_cast<int64_t>(1) << 35));
        v->volume = vol;
        v->gainA = vol * v->panning / 255;
        v->gainB = vol * (255 - v->panning) / 255;
    }
    if (flags & UPDATE_PANNING) {
        int32_t p = channel->panning +
                    ((128 - std::abs(channel->panning - 128)) / PANNING_ENVELOPE_CENTRE) *
                        (channel->panningEnvelope - PANNING_ENVELOPE_CENTRE);
        if (p < 0)
            p = 0;
        if (p > 255)
            p = 255;
        v->panning = p;
        v->gainA = v->volume * p / 255;
        v->gainB = v->volume * (255 - p) / 255;
    }
    if (flags & UPDATE_FREQUENCY) {
        const double k = static_cast<double>(1.0f / 768.0f);
        double f = 8363.0 * std::pow(2.0, static_cast<double>(4608 - channel->period) * k);
        int64_t freq = static_cast<int64_t>(f);
        uint32_t fs = freq < 100 ? 100u : static_cast<uint32_t>(freq);
        uint32_t rate = static_cast<uint32_t>(outputRate);
        v->stepInteger = fs / rate;
        v->stepFraction =
            static_cast<uint32_t>(((static_cast<uint64_t>(fs % rate) << 32) + v->stepInteger) / rate);
    }
}
