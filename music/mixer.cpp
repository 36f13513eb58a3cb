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
// form an arithmetic series (its first frame reads as if its lowest bit were
// already the step's), so they are computed side by side instead of one from
// the other, and with AVX2 (picked at run time) eight frames go at once, their
// samples taken from one load of the data where they lie within eight
// samples. Once a run's ramp is over its gains hold to the end of the run, so
// the rest is planned and mixed segment after segment without looking at them
// again, and a silent voice only moves on. Every frame still gets exactly the
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

// A steady gain (0..255), and a gain in effect (x 256) to and from its float.
inline float steadyGain(int32_t gain) {
    return static_cast<float>(gain) * INV255;
}
inline float gainInEffect(int32_t current) {
    return static_cast<float>(current) / 256.0f * INV255;
}
inline int32_t gainInEffectFrom(float gain) {
    return static_cast<int32_t>(std::lrint(gain * 255.0f * 256.0f));
}

// The voice's step and position in 32.32 fixed point.
inline uint64_t voiceStep(const Voice& v) {
    return (static_cast<uint64_t>(v.stepInteger) << 32) | v.stepFraction;
}
inline uint64_t voicePosition(const Voice& v) {
    return (static_cast<uint64_t>(v.position) << 32) | v.fraction;
}
inline void setVoicePosition(Voice& v, uint64_t pos) {
    v.position = static_cast<uint32_t>(pos >> 32);
    v.fraction = static_cast<uint32_t>(pos);
}

// No gain and none in effect: adding its frames would change no sum.
inline bool silent(const Voice& v) {
    return v.gainA == 0 && v.gainB == 0 && v.currentGainA == 0 && v.currentGainB == 0;
}

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
        float gA = gainInEffect(v.currentGainA);
        float gB = gainInEffect(v.currentGainB);
        pos = forward ? mixRamp<true>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                      : mixRamp<false>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
        v.currentGainA = gainInEffectFrom(gA);
        v.currentGainB = gainInEffectFrom(gB);
        return pos;
    }
    float fA = steadyGain(v.gainA);
    float fB = steadyGain(v.gainB);
    float oddA = gainInEffect(v.currentGainA);
    float oddB = gainInEffect(v.currentGainB);
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

// The position with its lowest bit taken from the step: it reads the same
// samples at the same weight (the weight drops that bit), and frame k of the
// run is then at exactly this plus k strides, the first frame included.
inline uint64_t settled(uint64_t pos, uint64_t step) {
    return (pos & ~LOW_BIT) | (step & LOW_BIT);
}

inline __m128 loadPair(const float* data, uint64_t pos) {
    return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(data + (pos >> 32))));
}
inline __m128 loadPairHigh(__m128 low, const float* data, uint64_t pos) {
    return _mm_loadh_pi(low, reinterpret_cast<const __m64*>(data + (pos >> 32)));
}

inline __m128 weights(__m128i fraction) {
    return _mm_mul_ps(_mm_cvtepi32_ps(_mm_srli_epi32(fraction, 1)), _mm_set1_ps(WEIGHT));
}

// The interpolated samples of four frames d apart from pos: each frame's two
// samples come in one 8-byte load; the fractions are lanes that step by 4 d.
inline __m128 interpolateFour(const float* data, uint64_t pos, uint64_t d, __m128i fraction) {
    const __m128 p01 = loadPairHigh(loadPair(data, pos), data, pos + d);
    const __m128 p23 = loadPairHigh(loadPair(data, pos + 2 * d), data, pos + 3 * d);
    const __m128 s0 = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 s1 = _mm_shuffle_ps(p01, p23, _MM_SHUFFLE(3, 1, 3, 1));
    return _mm_add_ps(s0, _mm_mul_ps(weights(fraction), _mm_sub_ps(s1, s0)));
}

// The same for two frames, in lanes 0 and 1 (2 and 3 repeat their samples).
inline __m128 interpolateTwo(const float* data, uint64_t pos, uint64_t d, __m128i fraction) {
    const __m128 p01 = loadPairHigh(loadPair(data, pos), data, pos + d);
    const __m128 s0 = _mm_shuffle_ps(p01, p01, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 s1 = _mm_shuffle_ps(p01, p01, _MM_SHUFFLE(3, 1, 3, 1));
    return _mm_add_ps(s0, _mm_mul_ps(weights(fraction), _mm_sub_ps(s1, s0)));
}

inline __m128i fourFractions(uint64_t pos, uint64_t d) {
    return _mm_setr_epi32(static_cast<int32_t>(pos), static_cast<int32_t>(pos + d), static_cast<int32_t>(pos + 2 * d),
                          static_cast<int32_t>(pos + 3 * d));
}

// out[0..3] += each of two frames' sample times its left and right gain.
inline void addTwoFrames(float* out, __m128 x, __m128 gains) {
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), _mm_mul_ps(_mm_unpacklo_ps(x, x), gains)));
}

// out[0..7] += each of four frames' sample times its left and right gain.
inline void addFourFrames(float* out, __m128 x, __m128 gains) {
    addTwoFrames(out, x, gains);
    _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), _mm_mul_ps(_mm_unpackhi_ps(x, x), gains)));
}

// The frames of a flat run after its rows: a pair, then an odd last frame at
// the odd gains. p is settled; returns the position after them.
inline uint64_t flatTail(const float* data, uint64_t p, uint64_t d, float* out, int32_t frames, __m128 gains,
                         float oddA, float oddB) {
    if (frames >= 2) {
        addTwoFrames(out, interpolateTwo(data, p, d, fourFractions(p, d)), gains);
        out += 4;
        p += 2 * d;
    }
    if (frames & 1) {
        const float x = interpolate(data, p);
        out[0] += x * oddA;
        out[1] += x * oddB;
        p += d;
    }
    return p;
}

// Flat gains, four frames at a time; an odd last frame at the odd gains.
template <bool FORWARD>
uint64_t flatWide(const float* data, uint32_t, uint64_t pos, uint64_t step, float* out, int32_t count, float fA,
                  float fB, float oddA, float oddB) {
    const uint64_t d = stride(step, FORWARD);
    uint64_t p = settled(pos, step);
    const __m128 gains = _mm_setr_ps(fA, fB, fA, fB);
    const int32_t rows = count / 4;   // an odd last frame is never in them
    __m128i fraction = fourFractions(p, d);
    const __m128i fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * d));
    for (int32_t r = 0; r < rows; ++r) {
        const __m128 x4 = interpolateFour(data, p, d, fraction);
        addFourFrames(out, x4, gains);
        out += 8;
        p += 4 * d;
        fraction = _mm_add_epi32(fraction, fractionStep);
    }
    return flatTail(data, p, d, out, count - 4 * rows, gains, oddA, oddB);
}

// The frames of a ramp after its rows, one by one; gains holds the left and
// right gains in lanes 0 and 1.
inline uint64_t rampTail(const float* data, uint64_t p, uint64_t d, float* out, int32_t frames, __m128 gains,
                         float dA, float dB, float& gA, float& gB) {
    float a = _mm_cvtss_f32(gains), b = _mm_cvtss_f32(_mm_shuffle_ps(gains, gains, 1));
    for (int32_t k = 0; k < frames; ++k) {
        const float x = interpolate(data, p);
        out[0] += x * a;
        out[1] += x * b;
        a += dA;
        b += dB;
        out += 2;
        p += d;
    }
    gA = a;
    gB = b;
    return p;
}

// A ramp, four frames at a time: the gains still step frame by frame, one after the other.
template <bool FORWARD>
uint64_t rampWide(const float* data, uint64_t pos, uint64_t step, float* out, int32_t count, float& gA, float& gB,
                  float dA, float dB) {
    const uint64_t d = stride(step, FORWARD);
    uint64_t p = settled(pos, step);
    __m128 g = _mm_setr_ps(gA, gB, 0.0f, 0.0f);
    const __m128 delta = _mm_setr_ps(dA, dB, 0.0f, 0.0f);
    const int32_t rows = count / 4;
    __m128i fraction = fourFractions(p, d);
    const __m128i fractionStep = _mm_set1_epi32(static_cast<int32_t>(4 * d));
    for (int32_t r = 0; r < rows; ++r) {
        const __m128 g0 = g, g1 = _mm_add_ps(g0, delta), g2 = _mm_add_ps(g1, delta), g3 = _mm_add_ps(g2, delta);
        g = _mm_add_ps(g3, delta);
        const __m128 x4 = interpolateFour(data, p, d, fraction);
        addTwoFrames(out, x4, _mm_movelh_ps(g0, g1));
        _mm_storeu_ps(out + 4,
                      _mm_add_ps(_mm_loadu_ps(out + 4), _mm_mul_ps(_mm_unpackhi_ps(x4, x4), _mm_movelh_ps(g2, g3))));
        out += 8;
        p += 4 * d;
        fraction = _mm_add_epi32(fraction, fractionStep);
    }
    return rampTail(data, p, d, out, count - 4 * rows, g, dA, dB, gA, gB);
}

#define AVX2_TARGET __attribute__((target("avx2")))

// Eight frames' positions, d apart, as index and fraction lanes; a step of
// 8 d adds to the fractions and carries into the indices. The lanes hold
// frames 0, 1, 4, 5, 2, 3, 6, 7: each 128-bit half then unpacks into the
// left and right pairs of four frames in order, without crossing halves.
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
    // Lanes 0-3 and 4-7 as 64-bit positions, then their halves apart.
    const __m256i low = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<int64_t>(pos)),
                                         _mm256_setr_epi64x(0, static_cast<int64_t>(d), static_cast<int64_t>(4 * d),
                                                            static_cast<int64_t>(5 * d)));
    const __m256i high = _mm256_add_epi64(low, _mm256_set1_epi64x(static_cast<int64_t>(2 * d)));
    const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i a = _mm256_permutevar8x32_epi32(low, evens), b = _mm256_permutevar8x32_epi32(high, evens);
    e.fraction = _mm256_permute2x128_si256(a, b, 0x20);
    e.index = _mm256_permute2x128_si256(a, b, 0x31);
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

// True when every one of `rows` rows of eight from e on takes the one-load
// path: the frames of a row span at most seven samples (7 |d| <= 6 samples)
// and the row nearest the end of the data still has eight readable samples.
template <bool FORWARD>
inline bool windowedRows(const EightPositions& e, int32_t rows, uint32_t last) {
    const uint64_t magnitude = FORWARD ? e.d : 0 - e.d;
    if (rows <= 0 || magnitude > (6ull << 32) / 7)
        return false;
    const uint64_t highestRowLow = FORWARD ? e.first + 8 * static_cast<uint64_t>(rows - 1) * e.d : e.first + 7 * e.d;
    return (highestRowLow >> 32) + 7 <= last;
}

// Each frame's sample twice, for its left and right product: frames 0-3 and 4-7.
AVX2_TARGET inline __m256 pairsLow(__m256 x) {
    return _mm256_unpacklo_ps(x, x);
}
AVX2_TARGET inline __m256 pairsHigh(__m256 x) {
    return _mm256_unpackhi_ps(x, x);
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
    const uint64_t d = stride(step, FORWARD);
    uint64_t p = settled(pos, step);
    const __m128 gains = _mm_setr_ps(fA, fB, fA, fB);
    int32_t rest = count;
    const int32_t rows = count / 8;   // an odd last frame is never in them
    if (rows > 0) {
        EightPositions e = eightPositions(p, d);
        const __m256 wide = _mm256_setr_ps(fA, fB, fA, fB, fA, fB, fA, fB);
        out = windowedRows<FORWARD>(e, rows, last) ? flatRows<FORWARD, true>(data, last, e, out, rows, wide)
                                                  : flatRows<FORWARD, false>(data, last, e, out, rows, wide);
        p = e.first;
    }
    rest -= 8 * rows;
    if (rest >= 4) {
        const __m128 x4 = interpolateFour(data, p, d, fourFractions(p, d));
        addFourFrames(out, x4, gains);
        out += 8;
        p += 4 * d;
        rest -= 4;
    }
    return flatTail(data, p, d, out, rest, gains, oddA, oddB);
}

// A ramp: the gains still step frame by frame, one after the other.
template <bool FORWARD>
AVX2_TARGET uint64_t rampAvx2(const float* data, uint32_t last, uint64_t pos, uint64_t step, float* out,
                              int32_t count, float& gA, float& gB, float dA, float dB) {
    const uint64_t d = stride(step, FORWARD);
    uint64_t p = settled(pos, step);
    __m128 g = _mm_setr_ps(gA, gB, 0.0f, 0.0f);
    const __m128 delta = _mm_setr_ps(dA, dB, 0.0f, 0.0f);
    const int32_t rows = count / 8;
    if (rows > 0) {
        EightPositions e = eightPositions(p, d);
        for (int32_t r = 0; r < rows; ++r) {
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
        p = e.first;
    }
    return rampTail(data, p, d, out, count - 8 * rows, g, dA, dB, gA, gB);
}

// Float samples the wide path takes (gathers take signed 32-bit indices).
inline bool takesWidePath(const Sample* s) {
    return widePath > WIDE_NONE && s->dataFloat && s->length < (1u << 30);
}

// A ramp segment of float samples through the wide path.
uint64_t rampWideSegment(Voice& v, const Sample* s, bool forward, uint64_t pos, uint64_t step, float* out,
                         int32_t count) {
    const float* data = s->dataFloat;
    const uint32_t last = s->length + PADDING - 1;
    float gA = gainInEffect(v.currentGainA);
    float gB = gainInEffect(v.currentGainB);
    if (widePath == WIDE_AVX2)
        pos = forward ? rampAvx2<true>(data, last, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                      : rampAvx2<false>(data, last, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
    else
        pos = forward ? rampWide<true>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB)
                      : rampWide<false>(data, pos, step, out, count, gA, gB, v.rampDeltaA, v.rampDeltaB);
    v.currentGainA = gainInEffectFrom(gA);
    v.currentGainB = gainInEffectFrom(gB);
    return pos;
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

// What planning a voice's segments needs, worked out once per run. Short
// loops make segments of a few dozen frames, most of them silent, so the
// planning itself is a good part of the mixer's work: a segment that ends
// before the boundary is told by a product, and on x86-64 the quotient that
// finds the boundary comes from a reciprocal kept per voice instead of a
// division.
struct Planner {
    uint64_t step;
    LoopBounds loop;
    uint64_t bufferEnd;    // forward positions below this read inside the buffer
#if MIXER_WIDE
    uint32_t divisor;      // the step in 24.8 fixed point; 0 when it does not fit
    uint64_t reciprocal;   // floor((2^64 - 1) / divisor)
#endif
};

#if MIXER_WIDE
struct Reciprocal {
    uint32_t divisor;
    uint64_t value;
};
Reciprocal reciprocals[VOICE_COUNT];
#endif

Planner makePlanner([[maybe_unused]] const Voice& v, const Sample* s, uint64_t step) {
    Planner p;
    p.step = step;
    p.loop = {static_cast<int64_t>(s->loopStart) << 32,
              static_cast<int64_t>(static_cast<uint64_t>(s->loopStart) + s->loopLength) << 32};
    p.bufferEnd = (static_cast<uint64_t>(s->length) + PADDING - 1) << 32;
#if MIXER_WIDE
    const uint32_t divisor = (v.stepInteger << 24) | (v.stepFraction >> 8);
    p.divisor = v.stepInteger < 256 ? divisor : 0;
    p.reciprocal = 0;
    if (p.divisor != 0) {
        Reciprocal& r = reciprocals[v.index & (VOICE_COUNT - 1)];
        if (r.divisor != p.divisor)
            r = {p.divisor, UINT64_MAX / p.divisor};
        p.reciprocal = r.value;
    }
#endif
    return p;
}

#if MIXER_WIDE
// ceil(numerator / divisor) for numerators below 2^56: the product's high
// half is the floor or one below it.
inline uint64_t roundedUpQuotient(const Planner& p, uint64_t numerator) {
    uint64_t q = static_cast<uint64_t>((static_cast<unsigned __int128>(numerator) * p.reciprocal) >> 64);
    uint64_t rest = numerator - q * p.divisor;
    if (rest >= p.divisor) {
        ++q;
        rest -= p.divisor;
    }
    return q + (rest != 0);
}
#endif

// The largest frame count whose reads stay inside the sample buffer, or
// `wanted` when that many do (on x86-64 the common case is told without a
// division).
inline int64_t framesInsideBuffer(const Planner& p, uint64_t pos, bool forward, [[maybe_unused]] int32_t wanted) {
    // floor(room / stride) + 1 >= wanted exactly when room >= (wanted - 1) * stride.
    [[maybe_unused]] uint64_t reach;
    if (forward) {
        if (pos >= p.bufferEnd)
            return 0;
        const uint64_t room = p.bufferEnd - 1 - pos;   // positions below bufferEnd read at most the last sample
#if MIXER_WIDE
        if (!__builtin_mul_overflow(static_cast<uint64_t>(wanted - 1), p.step, &reach) && room >= reach)
            return wanted;
#endif
        return static_cast<int64_t>(room / p.step) + 1;
    }
#if MIXER_WIDE
    if (!__builtin_mul_overflow(static_cast<uint64_t>(wanted - 1), p.step + 1, &reach) && pos >= reach)
        return wanted;
#endif
    return static_cast<int64_t>(pos / (p.step + 1)) + 1;
}

// False when no frame can be read at all: the voice has run off its data.
inline bool planSegment(const Voice& v, const Planner& p, uint64_t pos, bool forward, int32_t remaining,
                        Segment& segment) {
    segment = {remaining, false};
    const uint64_t distance =
        forward ? static_cast<uint64_t>(p.loop.end) - pos : pos - static_cast<uint64_t>(p.loop.start);
#if MIXER_WIDE
    if ((distance >> 32) < (1u << 24)) {
        if (p.divisor != 0) {
            // ceil(n / divisor) <= remaining exactly when n <= remaining * divisor.
            const uint64_t numerator = distance >> 8;
            if (numerator <= static_cast<uint64_t>(remaining) * p.divisor)
                segment = {static_cast<int32_t>(roundedUpQuotient(p, numerator)), true};
        } else {
            const int64_t toBoundary = framesToBoundary(v, distance, p.step);
            if (toBoundary <= remaining)
                segment = {static_cast<int32_t>(toBoundary), true};
        }
    }
#else
    const int64_t toBoundary = framesToBoundary(v, distance, p.step);
    if (toBoundary >= 0 && toBoundary <= remaining)
        segment = {static_cast<int32_t>(toBoundary), true};
#endif
    const int64_t inside = framesInsideBuffer(p, pos, forward, segment.count);
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

// Mixes `count` frames at steady gains (silent ones only move on) and returns the position after them.
uint64_t flatFrames(Voice& v, const Sample* s, bool forward, uint64_t pos, uint64_t step, float* out, int32_t count) {
    if (silent(v))
        return advance(pos, step, forward, static_cast<uint32_t>(count));   // adding zeros changes no sum
    return s->dataFloat ? mixSegment(s->dataFloat, v, forward, false, pos, step, out, count)
                        : mixSegment(s->data, v, forward, false, pos, step, out, count);
}

// Mixes `count` frames of a ramp and returns the position after them.
uint64_t rampFrames(Voice& v, const Sample* s, bool forward, uint64_t pos, uint64_t step, float* out, int32_t count) {
    if (count <= 0)
        return pos;
#if MIXER_WIDE
    if (takesWidePath(s))
        pos = rampWideSegment(v, s, forward, pos, step, out, count);
    else
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

// After a segment that ended at the boundary: the loop wraps or reflects;
// false when the voice has stopped.
inline bool passBoundary(Voice& v, const Sample* s, uint64_t& pos, bool forward, LoopBounds loop) {
    if (s->loopType == LOOP_FORWARD) {
        pos = wrapForwardLoop(s, pos, loop);
    } else if (s->loopType == LOOP_PING_PONG) {
        pos = reflectPingPong(v, pos, forward, loop);
    } else {
        stopVoice(v);
        return false;
    }
    return true;
}

#if MIXER_WIDE
// The rest of a run once its first segment is planned and no ramp is under
// way or starting: the gains stay as they are to the end of the run (they
// change only between runs), so each further segment is planned and mixed
// without looking at them again. A silent voice (all gains zero) only moves
// on; adding zeros would change no sum.
template <typename Mix>
void steadyRun(Voice& v, const Sample* s, const Planner& p, uint64_t pos, float* out, int32_t remaining, bool forward,
               Segment segment, Mix mix) {
    for (;;) {
        if (segment.count > 0)
            pos = mix(forward, pos, out, segment.count);
        out += 2 * segment.count;
        remaining -= segment.count;
        if (!segment.atBoundary)
            break;
        if (!passBoundary(v, s, pos, forward, p.loop))
            return;
        if (remaining <= 0)
            break;
        forward = v.direction != DIRECTION_BACKWARD;
        if (!planSegment(v, p, pos, forward, remaining, segment)) {
            stopVoice(v);
            return;
        }
    }
    setVoicePosition(v, pos);
}

void mixVoice(Voice& v, float* out, int32_t frames) {
    const Sample* s = v.sample;
    const uint64_t step = voiceStep(v);
    if (step == 0)
        return;   // never given a pitch: silent, not started
    const Planner p = makePlanner(v, s, step);
    uint64_t pos = voicePosition(v);
    int32_t remaining = frames;
    bool forward;
    Segment segment;
    // A ramp first, segment by segment; once it has ended, nothing starts another before the next run.
    for (;;) {
        forward = v.direction != DIRECTION_BACKWARD;
        if (!planSegment(v, p, pos, forward, remaining, segment)) {
            stopVoice(v);
            return;
        }
        startRampOnGainChange(v);
        if (v.rampRemaining == 0)
            break;
        if (v.rampRemaining < segment.count)
            segment = {v.rampRemaining, false};   // the ramp ends first; plan again after it
        pos = rampFrames(v, s, forward, pos, step, out, segment.count);
        out += 2 * segment.count;
        remaining -= segment.count;
        if (segment.atBoundary && !passBoundary(v, s, pos, forward, p.loop))
            return;
        if (remaining <= 0) {
            setVoicePosition(v, pos);
            return;
        }
    }
    if (silent(v)) {
        steadyRun(v, s, p, pos, out, remaining, forward, segment,
                  [step](bool fwd, uint64_t at, float*, int32_t count) {
                      return advance(at, step, fwd, static_cast<uint32_t>(count));
                  });
        return;
    }
    if (takesWidePath(s)) {
        const float fA = steadyGain(v.gainA);
        const float fB = steadyGain(v.gainB);
        const float oddA = gainInEffect(v.currentGainA);
        const float oddB = gainInEffect(v.currentGainB);
        const float* data = s->dataFloat;
        const uint32_t last = s->length + PADDING - 1;
        if (widePath == WIDE_AVX2)
            steadyRun(v, s, p, pos, out, remaining, forward, segment,
                      [=](bool fwd, uint64_t at, float* o, int32_t count) {
                          return fwd ? flatAvx2<true>(data, last, at, step, o, count, fA, fB, oddA, oddB)
                                     : flatAvx2<false>(data, last, at, step, o, count, fA, fB, oddA, oddB);
                      });
        else
            steadyRun(v, s, p, pos, out, remaining, forward, segment,
                      [=](bool fwd, uint64_t at, float* o, int32_t count) {
                          return fwd ? flatWide<true>(data, last, at, step, o, count, fA, fB, oddA, oddB)
                                     : flatWide<false>(data, last, at, step, o, count, fA, fB, oddA, oddB);
                      });
        return;
    }
    steadyRun(v, s, p, pos, out, remaining, forward, segment,
              [&v, s, step](bool fwd, uint64_t at, float* o, int32_t count) {
                  return flatFrames(v, s, fwd, at, step, o, count);
              });
}

#else
// The other builds mix every segment through one loop, for smaller code.
void mixVoice(Voice& v, float* out, int32_t frames) {
    const Sample* s = v.sample;
    const uint64_t step = voiceStep(v);
    if (step == 0)
        return;   // never given a pitch: silent, not started
    const Planner p = makePlanner(v, s, step);
    uint64_t pos = voicePosition(v);
    int32_t remaining = frames;
    while (remaining > 0) {
        const bool forward = v.direction != DIRECTION_BACKWARD;
        Segment segment;
        if (!planSegment(v, p, pos, forward, remaining, segment)) {
            stopVoice(v);
            return;
        }
        startRampOnGainChange(v);
        const bool ramping = v.rampRemaining != 0;
        if (ramping && v.rampRemaining < segment.count)
            segment = {v.rampRemaining, false};   // the ramp ends first; plan again after it
        pos = ramping ? rampFrames(v, s, forward, pos, step, out, segment.count)
                      : flatFrames(v, s, forward, pos, step, out, segment.count);
        out += 2 * segment.count;
        remaining -= segment.count;
        if (!segment.atBoundary) {
            if (ramping && remaining > 0)
                continue;   // the ramp ended inside the run
            break;
        }
        if (!passBoundary(v, s, pos, forward, p.loop))
            return;
    }
    setVoicePosition(v, pos);
}
#endif

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
