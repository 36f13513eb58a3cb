#include "music/mixer.h"

#include <cmath>

#include "music/module.h"

Voice voices[VOICE_COUNT];
int32_t rampLength = 128;
float rampReciprocal = 1.0f / 128.0f;

namespace {

const float INV255 = 1.0f / 255.0f;      // 0.003921568859368563
const float WEIGHT = 1.0f / 2147483648.0f;   // 2^-31
const uint64_t LOW_BIT = 1;

// Samples readable behind a sample's data (the loader's zero padding).
const uint32_t PADDING = 8;

inline float interpolate(const int16_t* data, uint64_t pos) {
    uint32_t index = static_cast<uint32_t>(pos >> 32);
    uint32_t fraction = static_cast<uint32_t>(pos);
    float t = static_cast<float>(static_cast<int32_t>(fraction >> 1)) * WEIGHT;
    int32_t s0 = data[index];
    int32_t s1 = data[index + 1];
    return static_cast<float>(s0) + t * static_cast<float>(s1 - s0);
}

// Position after `count` frames: each frame clears the lowest fraction bit, then steps.
inline uint64_t advance(uint64_t pos, uint64_t step, bool forward, uint32_t count) {
    if (count == 0)
        return pos;
    if (forward)
        return ((pos & ~LOW_BIT) + step) + static_cast<uint64_t>(count - 1) * (step & ~LOW_BIT);
    return ((pos & ~LOW_BIT) - step) - static_cast<uint64_t>(count - 1) * (step + (step & LOW_BIT));
}

template <bool FORWARD>
uint64_t mixRamp(const int16_t* data, uint64_t pos, uint64_t step, float* out, int32_t count, float& gA,
                 float& gB, float dA, float dB) {
    float a = gA, b = gB;
    for (int32_t k = 0; k < count; ++k) {
        float x = interpolate(data, pos);
        out[0] += x * a;
        out[1] += x * b;
        a += dA;
        b += dB;
        out += 2;
        pos = FORWARD ? (pos & ~LOW_BIT) + step : (pos & ~LOW_BIT) - step;
    }
    gA = a;
    gB = b;
    return pos;
}

template <bool FORWARD>
uint64_t mixFlat(const int16_t* data, uint64_t pos, uint64_t step, float* out, int32_t count, float fA,
                 float fB, float oddA, float oddB) {
    int32_t k = 0;
    for (; k + 1 < count; k += 2) {
        float x0 = interpolate(data, pos);
        pos = FORWARD ? (pos & ~LOW_BIT) + step : (pos & ~LOW_BIT) - step;
        float x1 = interpolate(data, pos);
        pos = FORWARD ? (pos & ~LOW_BIT) + step : (pos & ~LOW_BIT) - step;
        out[0] += x0 * fA;
        out[1] += x0 * fB;
        out[2] += x1 * fA;
        out[3] += x1 * fB;
        out += 4;
    }
    if (k < count) {
        float x = interpolate(data, pos);
        out[0] += x * oddA;
        out[1] += x * oddB;
        pos = FORWARD ? (pos & ~LOW_BIT) + step : (pos & ~LOW_BIT) - step;
    }
    return pos;
}

// Frames until the boundary ahead is reached, or -1 when it lies beyond this segment's reach.
int64_t framesToBoundary(const Voice& v, uint64_t distance, uint64_t step) {
    if ((distance >> 32) >= (1u << 24))
        return -1;
    uint32_t divisor = (v.stepInteger << 24) | (v.stepFraction >> 8);
    if (v.stepInteger < 256 && divisor != 0) {
        uint64_t numerator = distance >> 8;
        return static_cast<int64_t>((numerator + divisor - 1) / divisor);
    }
    // Steps the 24.8 divisor cannot hold: exact 64-bit arithmetic.
    return static_cast<int64_t>((distance + step - 1) / step);
}

// The largest frame count whose reads stay inside the sample buffer.
int64_t framesInsideBuffer(const Sample* s, uint64_t pos, uint64_t step, bool forward) {
    if (forward) {
        uint64_t limit = static_cast<uint64_t>(s->length) + PADDING - 1;   // last readable index
        uint64_t end = limit << 32;   // positions below this read at most data[limit]
        if (pos >= end)
            return 0;
        return static_cast<int64_t>((end - 1 - pos) / step) + 1;
    }
    return static_cast<int64_t>(pos / (step + 1)) + 1;
}

void stopVoice(Voice& v) {
    v.sample = nullptr;
    v.position = 0;
    v.fraction = 0;
}

void mixVoice(Voice& v, float* out, int32_t frames) {
    const Sample* s = v.sample;
    const uint64_t step = (static_cast<uint64_t>(v.stepInteger) << 32) | v.stepFraction;
    if (step == 0)
        return;   // never given a pitch: silent, not started
    const int64_t S = static_cast<int64_t>(s->loopStart) << 32;
    const int64_t E = static_cast<int64_t>(static_cast<uint64_t>(s->loopStart) + s->loopLength) << 32;
    uint64_t pos = (static_cast<uint64_t>(v.position) << 32) | v.fraction;
    int32_t remaining = frames;
    while (remaining > 0) {
        bool forward = v.direction != DIRECTION_BACKWARD;
        int32_t count = remaining;
        bool atBoundary = false;
        uint64_t distance = forward ? static_cast<uint64_t>(E) - pos : pos - static_cast<uint64_t>(S);
        int64_t toBoundary = framesToBoundary(v, distance, step);
        if (toBoundary >= 0 && toBoundary <= count) {
            count = static_cast<int32_t>(toBoundary);
            atBoundary = true;
        }
        int64_t inside = framesInsideBuffer(s, pos, step, forward);
        if (inside < count) {
            if (inside == 0) {
                stopVoice(v);
                return;
            }
            count = static_cast<int32_t>(inside);
            atBoundary = true;
        }

        if (!(v.rampRemaining != 0 && v.gainA == v.lastGainA && v.gainB == v.lastGainB)) {
            v.lastGainA = v.gainA;
            v.lastGainB = v.gainB;
            float dA = 0.0f, dB = 0.0f;
            bool differs = false;
            if (v.gainA != (v.currentGainA >> 8)) {
                dA = static_cast<float>(v.gainA - (v.currentGainA >> 8)) * INV255 * rampReciprocal;
                differs = true;
            }
            if (v.gainB != (v.currentGainB >> 8)) {
                dB = static_cast<float>(v.gainB - (v.currentGainB >> 8)) * INV255 * rampReciprocal;
                differs = true;
            }
            v.rampDeltaA = dA;
            v.rampDeltaB = dB;
            v.rampRemaining = differs ? rampLength : 0;
        }
        bool ramping = v.rampRemaining != 0;
        if (ramping && v.rampRemaining < count) {
            count = v.rampRemaining;
            atBoundary = false;
        }

        const int16_t* data = s->data;
        if (count > 0) {
            if (ramping) {
                float gA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
                float gB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
                pos = forward ? mixRamp<true>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                              : mixRamp<false>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
                v.currentGainA = static_cast<int32_t>(std::lrint(gA * 255.0f * 256.0f));
                v.currentGainB = static_cast<int32_t>(std::lrint(gB * 255.0f * 256.0f));
                v.rampRemaining -= count;
                if (v.rampRemaining == 0) {
                    v.rampDeltaA = 0.0f;
                    v.rampDeltaB = 0.0f;
                    v.currentGainA = v.gainA * 256;
                    v.currentGainB = v.gainB * 256;
                }
            } else if (v.gainA == 0 && v.gainB == 0 && v.currentGainA == 0 && v.currentGainB == 0) {
                // Silent: adding zeros would leave the sums unchanged.
                pos = advance(pos, step, forward, static_cast<uint32_t>(count));
            } else {
                float fA = static_cast<float>(v.gainA) * INV255;
                float fB = static_cast<float>(v.gainB) * INV255;
                float oddA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
                float oddB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
                pos = forward ? mixFlat<true>(data, pos, step, out, count, fA, fB, oddA, oddB)
                              : mixFlat<false>(data, pos, step, out, count, fA, fB, oddA, oddB);
            }
        }
        out += 2 * count;
        remaining -= count;

        if (!atBoundary) {
            if (ramping && remaining > 0)
                continue;   // the ramp ended inside the run
            break;
        }
        if (s->loopType == 2) {
            int64_t p = static_cast<int64_t>(pos);
            int64_t length = static_cast<int64_t>(s->loopLength) << 32;
            int64_t integer = p >> 32;
            int64_t end = E >> 32;
            int64_t times = integer >= end ? (integer - end) / s->loopLength + 1 : 1;
            p -= times * length;
            pos = p < 0 ? 0 : static_cast<uint64_t>(p);
        } else if (s->loopType == 4) {
            int64_t p = static_cast<int64_t>(pos);
            const int64_t span = 2 * (E - S);
            if (forward) {
                p = 2 * E - p - 1;
                v.direction = DIRECTION_BACKWARD;
            } else {
                p = 2 * S - p - 1;
                v.direction = DIRECTION_FORWARD;
            }
            while (p < S || p >= E) {
                // Two reflections in a row move by one whole span; skip those at once.
                if (p >= E + span)
                    p -= ((p - E) / span) * span;
                else if (p < S - span)
                    p += ((S - 1 - p) / span) * span;
                if (p >= E) {
                    p = 2 * E - p - 1;
                    v.direction = DIRECTION_BACKWARD;
                } else if (p < S) {
                    p = 2 * S - p - 1;
                    v.direction = DIRECTION_FORWARD;
                }
            }
            pos = static_cast<uint64_t>(p);
        } else {
            stopVoice(v);
            return;
        }
    }
    v.position = static_cast<uint32_t>(pos >> 32);
    v.fraction = static_cast<uint32_t>(pos);
}

}  // namespace

void mixerSetup(int32_t rate) {
    rampLength = static_cast<int32_t>(static_cast<int64_t>(rate) * 128 / 44100);
    if (rampLength < 1)
        rampLength = 1;
    rampReciprocal = 1.0f / static_cast<float>(rampLength);
    for (int32_t i = 0; i < VOICE_COUNT; ++i) {
        voices[i] = Voice{};
        voices[i].index = i;
        voices[i].direction = DIRECTION_FORWARD;
    }
}

void mixVoices(float* out, int32_t frames) {
    if (frames < 1)
        return;
    for (int32_t i = 0; i < MIXED_VOICES; ++i)
        if (voices[i].sample)
            mixVoice(voices[i], out, frames);
}

void convertBlock(int16_t* out, const float* in, int32_t frames) {
    if (frames <= 0 || !out || !in)
        return;
    const int32_t n = frames * 2;
    // Adding and removing 1.5 * 2^23 rounds to the nearest integer, ties to even;
    // clamping first to the integer bounds gives the same result as clamping after.
    const float magic = 12582912.0f;
    for (int32_t i = 0; i < n; ++i) {
        float x = in[i] * 2.0f;
        x = x < -32768.0f ? -32768.0f : x;
        x = x > 32767.0f ? 32767.0f : x;
        float r = (x + magic) - magic;
        out[i] = static_cast<int16_t>(static_cast<int32_t>(r));
    }
}
