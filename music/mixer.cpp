// Software mixer: voices 0..63 of the 256-voice table are summed into a float
// stereo buffer, converted to 16-bit PCM per block. A voice's position and step
// are 32.32 fixed point (integer sample index, 32-bit fraction); each frame
// interpolates linearly between the two samples around the position. A gain
// change starts a linear ramp of rampLength frames from the current gains
// (x256) to the targets. A run of frames is cut into segments that each end at
// a loop boundary, at the end of the readable data or at the end of a ramp, so
// the inner loops never test bounds; loops wrap (forward) or reflect (ping-pong)
// between segments. The sample data is padded by 8 samples past its length.
//
// On x86-64 a wider path mixes the float segments: the positions of a segment
// form an arithmetic series after its first frame, so they are computed side
// by side instead of one from the other, and with AVX2 (picked at run time)
// eight frames go at once, their samples taken from one load of the data
// where they lie within eight samples. Every frame still gets exactly the
// portable path's arithmetic. TUMBLE_MIXER=portable (or sse2) in the
// environment forces the four-frame path of the other builds (or the wide one
// without AVX2), to compare them.
#include "music/mixer.h"

#include <emmintrin.h>

#include <cmath>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__EMSCRIPTEN__)
#define MIXER_WIDE 1
#include <immintrin.h>

#include <cstdlib>
#include <cstring>
#else
#define MIXER_WIDE 0
#endif

#include "music/module.h"
#include "platform/platform.h"

Voice voices[VOICE_COUNT];
int32_t rampLength = 128;
float rampReciprocal = 1.0f / 128.0f;

namespace {

const float INV255 = 1.0f / 255.0f;      // 0.003921568859368563
const float WEIGHT = 1.0f / 2147483648.0f;   // 2^-31
const uint64_t LOW_BIT = 1;

// Samples readable behind a sample's data (the loader's zero padding).
const uint32_t PADDING = 8;

inline float sampleValue(const int16_t* data, uint32_t index) { return static_cast<float>(data[index]); }
inline float sampleValue(const float* data, uint32_t index) { return data[index]; }

template <typename T>
inline float interpolate(const T* data, uint64_t pos) {
    uint32_t index = static_cast<uint32_t>(pos >> 32);
    uint32_t fraction = static_cast<uint32_t>(pos);
    float t = static_cast<float>(static_cast<int32_t>(fraction >> 1)) * WEIGHT;
    float s0 = sampleValue(data, index);
    float s1 = sampleValue(data, index + 1);
    // s1 - s0 is exact in float, the same as converting the integer difference.
    return s0 + t * (s1 - s0);
}

template <bool FORWARD>
inline uint64_t nextPosition(uint64_t pos, uint64_t step) {
    return FORWARD ? (pos & ~LOW_BIT) + step : (pos & ~LOW_BIT) - step;
}

// Position after `count` frames: each frame clears the lowest fraction bit, then steps.
inline uint64_t advance(uint64_t pos, uint64_t step, bool forward, uint32_t count) {
    if (count == 0)
        return pos;
    if (forward)
        return ((pos & ~LOW_BIT) + step) + static_cast<uint64_t>(count - 1) * (step & ~LOW_BIT);
    return ((pos & ~LOW_BIT) - step) - static_cast<uint64_t>(count - 1) * (step + (step & LOW_BIT));
}

template <bool FORWARD, typename T>
uint64_t mixRamp(const T* data, uint64_t pos, uint64_t step, float* out, int32_t count, float& gA, float& gB,
                 float dA, float dB) {
    float a = gA, b = gB;
    for (int32_t k = 0; k < count; ++k) {
        float x = interpolate(data, pos);
        out[0] += x * a;
        out[1] += x * b;
        a += dA;
        b += dB;
        out += 2;
        pos = nextPosition<FORWARD>(pos, step);
    }
    gA = a;
    gB = b;
    return pos;
}

// Four frames at once; every lane does exactly the scalar arithmetic.
template <bool FORWARD, typename T>
inline uint64_t mixFour(const T* data, uint64_t pos, uint64_t step, float* out, __m128 fA, __m128 fB) {
    uint64_t p0 = pos;
    uint64_t p1 = nextPosition<FORWARD>(p0, step);
    uint64_t p2 = nextPosition<FORWARD>(p1, step);
    uint64_t p3 = nextPosition<FORWARD>(p2, step);
    uint32_t i0 = static_cast<uint32_t>(p0 >> 32), i1 = static_cast<uint32_t>(p1 >> 32);
    uint32_t i2 = static_cast<uint32_t>(p2 >> 32), i3 = static_cast<uint32_t>(p3 >> 32);
    __m128 s0 = _mm_setr_ps(sampleValue(data, i0), sampleValue(data, i1), sampleValue(data, i2),
                            sampleValue(data, i3));
    __m128 s1 = _mm_setr_ps(sampleValue(data, i0 + 1), sampleValue(data, i1 + 1), sampleValue(data, i2 + 1),
                            sampleValue(data, i3 + 1));
    __m128i halves = _mm_setr_epi32(static_cast<int32_t>(static_cast<uint32_t>(p0) >> 1),
                                    static_cast<int32_t>(static_cast<uint32_t>(p1) >> 1),
                                    static_cast<int32_t>(static_cast<uint32_t>(p2) >> 1),
                                    static_cast<int32_t>(static_cast<uint32_t>(p3) >> 1));
    __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(halves), _mm_set1_ps(WEIGHT));
    __m128 x = _mm_add_ps(s0, _mm_mul_ps(t, _mm_sub_ps(s1, s0)));
    __m128 a = _mm_mul_ps(x, fA);
    __m128 b = _mm_mul_ps(x, fB);
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_unpacklo_ps(a, b)));
    _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_unpackhi_ps(a, b)));
    return nextPosition<FORWARD>(p3, step);
}

template <bool FORWARD, typename T>
uint64_t mixFlat(const T* data, uint64_t pos, uint64_t step, float* out, int32_t count, float fA, float fB,
                 float oddA, float oddB) {
    int32_t k = 0;
    const __m128 vA = _mm_set1_ps(fA);
    const __m128 vB = _mm_set1_ps(fB);
    for (; k + 3 < count; k += 4) {
        pos = mixFour<FORWARD>(data, pos, step, out, vA, vB);
        out += 8;
    }
    for (; k + 1 < count; k += 2) {
        float x0 = interpolate(data, pos);
        pos = nextPosition<FORWARD>(pos, step);
        float x1 = interpolate(data, pos);
        pos = nextPosition<FORWARD>(pos, step);
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
        pos = nextPosition<FORWARD>(pos, step);
    }
    return pos;
}

template <typename T>
uint64_t mixSegment(const T* data, Voice& v, bool forward, bool ramping, uint64_t pos, uint64_t step, float* out,
                    int32_t count) {
    if (ramping) {
        float gA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
        float gB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
        pos = forward ? mixRamp<true>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                      : mixRamp<false>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
        v.currentGainA = static_cast<int32_t>(std::lrint(gA * 255.0f * 256.0f));
        v.currentGainB = static_cast<int32_t>(std::lrint(gB * 255.0f * 256.0f));
        return pos;
    }
    float fA = static_cast<float>(v.gainA) * INV255;
    float fB = static_cast<float>(v.gainB) * INV255;
    float oddA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
    float oddB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
    return forward ? mixFlat<true>(data, pos, step, out, count, fA, fB, oddA, oddB)
                   : mixFlat<false>(data, pos, step, out, count, fA, fB, oddA, oddB);
}

#if MIXER_WIDE
enum WidePath { WIDE_UNCHOSEN, WIDE_NONE, WIDE_SSE2, WIDE_AVX2 };
WidePath widePath = WIDE_UNCHOSEN;

void chooseWidePath() {
    const char* forced = std::getenv("TUMBLE_MIXER");
    if (forced && std::strcmp(forced, "portable") == 0)
        widePath = WIDE_NONE;
    else if ((forced && std::strcmp(forced, "sse2") == 0) || !__builtin_cpu_supports("avx2"))
        widePath = WIDE_SSE2;
    else
        widePath = WIDE_AVX2;
}

// From the second frame of a run on, each position is the previous one plus this (mod 2^64).
inline uint64_t stride(uint64_t step, bool forward) {
    return forward ? step & ~LOW_BIT : 0 - (step + (step & LOW_BIT));
}

// The interpolated samples of four frames from their positions: each frame's
// two samples come in one 8-byte load; the fractions are lanes that step by 4 d.
inline __m128 interpolateFour(const float* data, uint64_t pos, uint64_t d, __m128i fraction) {
    const __m128 p0 = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + (pos >> 32))));
    const __m128 p1 = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + ((pos + d) >> 32))));
    const __m128 p2 = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + ((pos + 2 * d) >> 32))));
    const __m128 p3 = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + ((pos + 3 * d) >> 32))));
    const __m128 u01 = _mm_unpacklo_ps(p0, p1), u23 = _mm_unpacklo_ps(p2, p3);
    const __m128 s0 = _mm_movelh_ps(u01, u23), s1 = _mm_movehl_ps(u23, u01);
    const __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fraction, 1)), _mm_set1_ps(WEIGHT));
    return _mm_add_ps(s0, _mm_mul_ps(t, _mm_sub_ps(s1, s0)));
}

inline __m128i fourFractions(uint64_t pos, uint64_t d) {
    return _mm_setr_epi32(static_cast<int32_t>(pos), static_cast<int32_t>(pos + d), static_cast<int32_t>(pos + 2 * d),
                          static_cast<int32_t>(pos + 3 * d));
}

// Flat gains, four frames at a time; an odd last frame at the odd gains.
template <bool FORWARD>
uint64_t flatWide(const float* data, uint64_t pos, uint64_t step, float* out, int32_t count, float fA, float fB,
                  float oddA, float oddB) {
    const int32_t even = count & ~1;
    int32_t k = 0;
    if (even > 8) {
        // One frame, then one more if that keeps out 16-byte aligned for whole pairs.
        do {
            float x = interpolate(data, pos);
            out[0] += x * fA;
            out[1] += x * fB;
            out += 2;
            pos = nextPosition<FORWARD>(pos, step);
            ++k;
        } while ((reinterpret_cast<uintptr_t>(out) & 15) != 0 && k < 2);
        const uint64_t d = stride(step, FORWARD);
        __m128i fraction = fourFractions(pos, d);
        const __m128i fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * d));
        const __m128 vA = _mm_set1_ps(fA), vB = _mm_set1_ps(fB);
        for (; k + 4 <= even; k += 4) {
            const __m128 x4 = interpolateFour(data, pos, d, fraction);
            const __m128 a = _mm_mul_ps(x4, vA), b = _mm_mul_ps(x4, vB);
            _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_unpacklo_ps(a, b)));
            _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_unpackhi_ps(a, b)));
            out += 8;
            pos += 4 * d;
            fraction = _mm_add_epi32(fraction, fractionStep);
        }
    }
    for (; k < count; ++k) {
        const bool odd = k == even;
        float x = interpolate(data, pos);
        out[0] += x * (odd ? oddA : fA);
        out[1] += x * (odd ? oddB : fB);
        out += 2;
        pos = nextPosition<FORWARD>(pos, step);
    }
    return pos;
}

#define AVX2_TARGET __attribute__((target("avx2")))

// Eight frames' positions, d apart, as index and fraction lanes; a step of
// 8 d adds to the fractions and carries into the indices.
struct EightPositions {
    __m256i index;
    __m256i fraction;
    __m256i fractionStep;
    __m256i indexStep;   // the integer part of 8 d, plus one: the no-carry mask (-1) takes that back
    uint64_t first;      // lane 0's position
    uint64_t d;
};

AVX2_TARGET inline EightPositions eightPositions(uint64_t pos, uint64_t d) {
    EightPositions e;
    alignas(32) uint32_t index[8], fraction[8];
    for (int j = 0; j < 8; ++j) {
        const uint64_t p = pos + static_cast<uint64_t>(j) * d;
        index[j] = static_cast<uint32_t>(p >> 32);
        fraction[j] = static_cast<uint32_t>(p);
    }
    e.index = _mm256_load_si256(reinterpret_cast<const __m256i*>(index));
    e.fraction = _mm256_load_si256(reinterpret_cast<const __m256i*>(fraction));
    e.fractionStep = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(8 * d)));
    e.indexStep = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>((8 * d) >> 32) + 1));
    e.first = pos;
    e.d = d;
    return e;
}

AVX2_TARGET inline void stepEight(EightPositions& e) {
    const __m256i next = _mm256_add_epi32(e.fraction, e.fractionStep);
    // No carry where the sum did not wrap, that is where it is the larger.
    const __m256i noCarry = _mm256_cmpeq_epi32(_mm256_max_epu32(next, e.fraction), next);
    e.index = _mm256_add_epi32(_mm256_add_epi32(e.index, e.indexStep), noCarry);
    e.fraction = next;
    e.first += 8 * e.d;
}

// The interpolated samples of the eight frames: their samples come from one
// load and two permutes where they lie within eight readable samples, else
// they are gathered.
template <bool FORWARD, bool WINDOWED>
AVX2_TARGET inline __m256 interpolateEight(const float* data, uint32_t last, const EightPositions& e) {
    const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(e.fraction, 1)), _mm256_set1_ps(WEIGHT));
    const uint32_t first = static_cast<uint32_t>(e.first >> 32);
    const uint32_t seventh = static_cast<uint32_t>((e.first + 7 * e.d) >> 32);
    const uint32_t lowest = FORWARD ? first : seventh, highest = FORWARD ? seventh : first;
    __m256 s0, s1;
    if (WINDOWED || (highest - lowest <= 6 && lowest + 7 <= last)) {
        const __m256 window = _mm256_loadu_ps(data + lowest);
        const __m256i base = FORWARD ? _mm256_broadcastd_epi32(_mm256_castsi256_si128(e.index))
                                     : _mm256_permutevar8x32_epi32(e.index, _mm256_set1_epi32(7));
        const __m256i rel = _mm256_sub_epi32(e.index, base);
        s0 = _mm256_permutevar8x32_ps(window, rel);
        s1 = _mm256_permutevar8x32_ps(window, _mm256_add_epi32(rel, _mm256_set1_epi32(1)));
    } else {
        s0 = _mm256_i32gather_ps(data, e.index, 4);
        s1 = _mm256_i32gather_ps(data + 1, e.index, 4);
    }
    return _mm256_add_ps(s0, _mm256_mul_ps(t, _mm256_sub_ps(s1, s0)));
}

// True when every one of `groups` rows of eight from e on takes the one-load
// path: the frames of a row span at most seven samples (7 |d| <= 6 samples)
// and the row nearest the end of the data still has eight readable samples.
template <bool FORWARD>
inline bool windowedRows(const EightPositions& e, int32_t groups, uint32_t last) {
    const uint64_t magnitude = FORWARD ? e.d : 0 - e.d;
    if (groups <= 0 || magnitude > (6ull << 32) / 7)
        return false;
    const uint64_t highestRowLow = FORWARD ? e.first + 8 * static_cast<uint64_t>(groups - 1) * e.d : e.first + 7 * e.d;
    return (highestRowLow >> 32) + 7 <= last;
}

// Each frame's sample twice, for its left and right product: frames 0-3 and 4-7.
AVX2_TARGET inline __m256 pairsLow(__m256 x) {
    return _mm256_permutevar8x32_ps(x, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}
AVX2_TARGET inline __m256 pairsHigh(__m256 x) {
    return _mm256_permutevar8x32_ps(x, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
}

// `rows` rows of eight frames at flat gains; returns out after them.
template <bool FORWARD, bool WINDOWED>
AVX2_TARGET inline float* flatRows(const float* data, uint32_t last, EightPositions& e, float* out, int32_t rows,
                                   __m256 gains) {
    for (int32_t r = 0; r < rows; ++r) {
        const __m256 x8 = interpolateEight<FORWARD, WINDOWED>(data, last, e);
        _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), _mm256_mul_ps(pairsLow(x8), gains)));
        _mm256_storeu_ps(out + 8, _mm256_add_ps(_mm256_loadu_ps(out + 8), _mm256_mul_ps(pairsHigh(x8), gains)));
        out += 16;
        stepEight(e);
    }
    return out;
}

template <bool FORWARD>
AVX2_TARGET uint64_t flatAvx2(const float* data, uint32_t last, uint64_t pos, uint64_t step, float* out,
                              int32_t count, float fA, float fB, float oddA, float oddB) {
    const int32_t even = count & ~1;
    int32_t k = 0;
    if (even > 12) {
        // One frame, then up to three more until out is 32-byte aligned for whole rows of four.
        do {
            float x = interpolate(data, pos);
            out[0] += x * fA;
            out[1] += x * fB;
            out += 2;
            pos = nextPosition<FORWARD>(pos, step);
            ++k;
        } while ((reinterpret_cast<uintptr_t>(out) & 31) != 0 && k < 4);
        EightPositions e = eightPositions(pos, stride(step, FORWARD));
        const __m256 gains = _mm256_setr_ps(fA, fB, fA, fB, fA, fB, fA, fB);
        const int32_t rows = (even - k) / 8;
        out = windowedRows<FORWARD>(e, rows, last) ? flatRows<FORWARD, true>(data, last, e, out, rows, gains)
                                                   : flatRows<FORWARD, false>(data, last, e, out, rows, gains);
        k += 8 * rows;
        pos = e.first;
    }
    for (; k < count; ++k) {
        const bool odd = k == even;
        float x = interpolate(data, pos);
        out[0] += x * (odd ? oddA : fA);
        out[1] += x * (odd ? oddB : fB);
        out += 2;
        pos = nextPosition<FORWARD>(pos, step);
    }
    return pos;
}

// A ramp: the gains still step frame by frame, one after the other.
template <bool FORWARD>
AVX2_TARGET uint64_t rampAvx2(const float* data, uint32_t last, uint64_t pos, uint64_t step, float* out,
                              int32_t count, float& gA, float& gB, float dA, float dB) {
    __m128 g = _mm_setr_ps(gA, gB, 0.0f, 0.0f);
    const __m128 delta = _mm_setr_ps(dA, dB, 0.0f, 0.0f);
    int32_t k = 0;
    if (count > 12) {
        do {
            float x = interpolate(data, pos);
            out[0] += x * _mm_cvtss_f32(g);
            out[1] += x * _mm_cvtss_f32(_mm_shuffle_ps(g, g, 1));
            g = _mm_add_ps(g, delta);
            out += 2;
            pos = nextPosition<FORWARD>(pos, step);
            ++k;
        } while ((reinterpret_cast<uintptr_t>(out) & 31) != 0 && k < 4);
        EightPositions e = eightPositions(pos, stride(step, FORWARD));
        for (; k + 8 <= count; k += 8) {
            __m128 g0 = g, g1 = _mm_add_ps(g0, delta), g2 = _mm_add_ps(g1, delta), g3 = _mm_add_ps(g2, delta);
            __m128 g4 = _mm_add_ps(g3, delta), g5 = _mm_add_ps(g4, delta), g6 = _mm_add_ps(g5, delta);
            __m128 g7 = _mm_add_ps(g6, delta);
            g = _mm_add_ps(g7, delta);
            const __m256 x8 = interpolateEight<FORWARD, false>(data, last, e);
            const __m256 gains0 = _mm256_setr_m128(_mm_movelh_ps(g0, g1), _mm_movelh_ps(g2, g3));
            const __m256 gains1 = _mm256_setr_m128(_mm_movelh_ps(g4, g5), _mm_movelh_ps(g6, g7));
            _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), _mm256_mul_ps(pairsLow(x8), gains0)));
            _mm256_storeu_ps(out + 8, _mm256_add_ps(_mm256_loadu_ps(out + 8), _mm256_mul_ps(pairsHigh(x8), gains1)));
            out += 16;
            stepEight(e);
        }
        pos = e.first;
    }
    float a = _mm_cvtss_f32(g), b = _mm_cvtss_f32(_mm_shuffle_ps(g, g, 1));
    for (; k < count; ++k) {
        float x = interpolate(data, pos);
        out[0] += x * a;
        out[1] += x * b;
        a += dA;
        b += dB;
        out += 2;
        pos = nextPosition<FORWARD>(pos, step);
    }
    gA = a;
    gB = b;
    return pos;
}

// The float segments through the wide path; false leaves them to the portable one.
bool mixWide(Voice& v, const Sample* s, bool forward, bool ramping, uint64_t& pos, uint64_t step, float* out,
             int32_t count) {
    // Gathers take signed 32-bit indices.
    if (widePath <= WIDE_NONE || !s->dataFloat || s->length >= (1u << 30))
        return false;
    const float* data = s->dataFloat;
    const uint32_t last = s->length + PADDING - 1;
    if (ramping) {
        float gA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
        float gB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
        if (widePath == WIDE_AVX2)
            pos = forward ? rampAvx2<true>(data, last, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                          : rampAvx2<false>(data, last, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
        else
            pos = forward ? mixRamp<true>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                          : mixRamp<false>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
        v.currentGainA = static_cast<int32_t>(std::lrint(gA * 255.0f * 256.0f));
        v.currentGainB = static_cast<int32_t>(std::lrint(gB * 255.0f * 256.0f));
        return true;
    }
    float fA = static_cast<float>(v.gainA) * INV255;
    float fB = static_cast<float>(v.gainB) * INV255;
    float oddA = static_cast<float>(v.currentGainA) / 256.0f * INV255;
    float oddB = static_cast<float>(v.currentGainB) / 256.0f * INV255;
    if (widePath == WIDE_AVX2)
        pos = forward ? flatAvx2<true>(data, last, pos, step, out, count, fA, fB, oddA, oddB)
                      : flatAvx2<false>(data, last, pos, step, out, count, fA, fB, oddA, oddB);
    else
        pos = forward ? flatWide<true>(data, pos, step, out, count, fA, fB, oddA, oddB)
                      : flatWide<false>(data, pos, step, out, count, fA, fB, oddA, oddB);
    return true;
}
#endif

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

// The largest frame count whose reads stay inside the sample buffer, or `wanted`
// when that many do (on x86-64 the common case is told without a division; the
// other builds keep their smaller code).
int64_t framesInsideBuffer(const Sample* s, uint64_t pos, uint64_t step, bool forward,
                           [[maybe_unused]] int32_t wanted) {
    // floor(room / stride) + 1 >= wanted exactly when room >= (wanted - 1) * stride.
    [[maybe_unused]] uint64_t reach;
    if (forward) {
        uint64_t limit = static_cast<uint64_t>(s->length) + PADDING - 1;   // last readable index
        uint64_t end = limit << 32;   // positions below this read at most data[limit]
        if (pos >= end)
            return 0;
#if MIXER_WIDE
        if (wanted > 0 && !__builtin_mul_overflow(static_cast<uint64_t>(wanted - 1), step, &reach) &&
            end - 1 - pos >= reach)
            return wanted;
#endif
        return static_cast<int64_t>((end - 1 - pos) / step) + 1;
    }
#if MIXER_WIDE
    if (wanted > 0 && !__builtin_mul_overflow(static_cast<uint64_t>(wanted - 1), step + 1, &reach) && pos >= reach)
        return wanted;
#endif
    return static_cast<int64_t>(pos / (step + 1)) + 1;
}

void stopVoice(Voice& v) {
    v.sample = nullptr;
    v.position = 0;
    v.fraction = 0;
}

// A loop's first sample and its end (one past the last), as 32.32 positions.
struct LoopBounds {
    int64_t start;
    int64_t end;
};

// The next segment of a run: at most `remaining` frames, ending early at the
// loop boundary ahead or where the readable data ends.
struct Segment {
    int32_t count;
    bool atBoundary;   // a loop wraps (or the voice stops) after it
};

// False when no frame can be read at all: the voice has run off its data.
bool planSegment(const Voice& v, const Sample* s, uint64_t pos, uint64_t step, bool forward, LoopBounds loop,
                 int32_t remaining, Segment& segment) {
    segment = {remaining, false};
    uint64_t distance = forward ? static_cast<uint64_t>(loop.end) - pos : pos - static_cast<uint64_t>(loop.start);
    int64_t toBoundary = framesToBoundary(v, distance, step);
    if (toBoundary >= 0 && toBoundary <= segment.count)
        segment = {static_cast<int32_t>(toBoundary), true};
    int64_t inside = framesInsideBuffer(s, pos, step, forward, segment.count);
    if (inside < segment.count) {
        if (inside == 0)
            return false;
        segment = {static_cast<int32_t>(inside), true};
    }
    return true;
}

// A gain target that changed since the last segment starts a ramp of
// rampLength frames from the current gains; one still running goes on.
void startRampOnGainChange(Voice& v) {
    if (v.rampRemaining != 0 && v.gainA == v.lastGainA && v.gainB == v.lastGainB)
        return;
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

// Mixes `count` frames (ramping, silent or at flat gains) and returns the position after them.
uint64_t mixFrames(Voice& v, const Sample* s, bool forward, bool ramping, uint64_t pos, uint64_t step, float* out,
                   int32_t count) {
    if (count <= 0)
        return pos;
    if (ramping) {
#if MIXER_WIDE
        if (!mixWide(v, s, forward, true, pos, step, out, count))
#endif
            pos = s->dataFloat ? mixSegment(s->dataFloat, v, forward, true, pos, step, out, count)
                               : mixSegment(s->data, v, forward, true, pos, step, out, count);
        v.rampRemaining -= count;
        if (v.rampRemaining == 0) {
            v.rampDeltaA = 0.0f;
            v.rampDeltaB = 0.0f;
            v.currentGainA = v.gainA * 256;
            v.currentGainB = v.gainB * 256;
        }
        return pos;
    }
    if (v.gainA == 0 && v.gainB == 0 && v.currentGainA == 0 && v.currentGainB == 0)
        return advance(pos, step, forward, static_cast<uint32_t>(count));   // adding zeros changes no sum
#if MIXER_WIDE
    if (mixWide(v, s, forward, false, pos, step, out, count))
        return pos;
#endif
    return s->dataFloat ? mixSegment(s->dataFloat, v, forward, false, pos, step, out, count)
                        : mixSegment(s->data, v, forward, false, pos, step, out, count);
}

// Forward loop: back by whole loop lengths until the position lies before the loop end.
uint64_t wrapForwardLoop(const Sample* s, uint64_t pos, LoopBounds loop) {
    int64_t p = static_cast<int64_t>(pos);
    int64_t length = static_cast<int64_t>(s->loopLength) << 32;
    int64_t integer = p >> 32;
    int64_t end = loop.end >> 32;
    int64_t times = integer >= end + s->loopLength ? (integer - end) / s->loopLength + 1 : 1;
    p -= times * length;
    return p < 0 ? 0 : static_cast<uint64_t>(p);
}

// Ping-pong loop: mirrored at the boundary crossed, turning the voice round,
// until the position lies inside the loop.
uint64_t reflectPingPong(Voice& v, uint64_t pos, bool forward, LoopBounds loop) {
    const int64_t S = loop.start, E = loop.end;
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
    return static_cast<uint64_t>(p);
}

void mixVoice(Voice& v, float* out, int32_t frames) {
    const Sample* s = v.sample;
    const uint64_t step = (static_cast<uint64_t>(v.stepInteger) << 32) | v.stepFraction;
    if (step == 0)
        return;   // never given a pitch: silent, not started
    const LoopBounds loop = {static_cast<int64_t>(s->loopStart) << 32,
                             static_cast<int64_t>(static_cast<uint64_t>(s->loopStart) + s->loopLength) << 32};
    uint64_t pos = (static_cast<uint64_t>(v.position) << 32) | v.fraction;
    int32_t remaining = frames;
    while (remaining > 0) {
        const bool forward = v.direction != DIRECTION_BACKWARD;
        Segment segment;
        if (!planSegment(v, s, pos, step, forward, loop, remaining, segment)) {
            stopVoice(v);
            return;
        }
        startRampOnGainChange(v);
        const bool ramping = v.rampRemaining != 0;
        if (ramping && v.rampRemaining < segment.count)
            segment = {v.rampRemaining, false};   // the ramp ends first; plan again after it

        pos = mixFrames(v, s, forward, ramping, pos, step, out, segment.count);
        out += 2 * segment.count;
        remaining -= segment.count;

        if (!segment.atBoundary) {
            if (ramping && remaining > 0)
                continue;   // the ramp ended inside the run
            break;
        }
        if (s->loopType == LOOP_FORWARD) {
            pos = wrapForwardLoop(s, pos, loop);
        } else if (s->loopType == LOOP_PING_PONG) {
            pos = reflectPingPong(v, pos, forward, loop);
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
#if MIXER_WIDE
    if (widePath == WIDE_UNCHOSEN)
        chooseWidePath();
#endif
    rampLength = static_cast<int32_t>(static_cast<int64_t>(rate) * 128 / PLAT_OUTPUT_RATE);
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
    int32_t i = 0;
    // Conversion rounds to nearest, ties to even (the default mode); the packing saturates.
    const __m128 two = _mm_set1_ps(2.0f);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    for (; i + 7 < n; i += 8) {
        __m128 a = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i), two), low), high);
        __m128 b = _mm_min_ps(_mm_max_ps(_mm_mul_ps(_mm_loadu_ps(in + i + 4), two), low), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
    // Adding and removing 1.5 * 2^23 rounds the same way; clamping first to the
    // integer bounds gives the same result as clamping after.
    const float magic = 12582912.0f;
    for (; i < n; ++i) {
        float x = in[i] * 2.0f;
        x = x < -32768.0f ? -32768.0f : x;
        x = x > 32767.0f ? 32767.0f : x;
        float r = (x + magic) - magic;
        out[i] = static_cast<int16_t>(static_cast<int32_t>(r));
    }
}
