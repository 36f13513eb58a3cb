// Inline bodies of the two bilinear samplers, so the geometric filters can
// pick one per image instead of per pixel.
#pragma once
#include <cmath>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "texgen/texgen.h"

// The 64-bit x86 build takes wider loops in the costly operators; the other
// builds (the 32-bit executable, the browser) keep their smaller code. Both
// give the same texels.
#if defined(__x86_64__) && defined(__SSE2__) && !defined(__EMSCRIPTEN__)
#define TEXGEN_WIDE 1
#include <immintrin.h>

#include <cstdlib>
#include <cstring>
// A few loops go eight pixels at a time where the processor has AVX2 (asked
// once); TUMBLE_TEXGEN=sse2 in the environment keeps to the others, to
// compare them.
#define TEXGEN_AVX2 __attribute__((target("avx2")))
inline bool texgenHasAvx2() {
    static const bool has = [] {
        const char* forced = std::getenv("TUMBLE_TEXGEN");
        return !(forced && std::strcmp(forced, "sse2") == 0) && __builtin_cpu_supports("avx2");
    }();
    return has;
}
#else
#define TEXGEN_WIDE 0
#endif

// Brings a coordinate into 0 <= u < 256 by whole turns, one turn at a time as
// the operators' coordinates need; far-off values are reduced first so the
// loops stay short, and non-finite ones sample at 0.
inline float wrapCoordinate(float u) {
    if (!(u > -65536.0f && u < 65536.0f)) {
        if (!std::isfinite(u)) return 0.0f;
        u = std::fmod(u, 256.0f);
    }
    while (u < 0.0f) u += 256.0f;
    while (u >= 256.0f) u -= 256.0f;
    return u;
}

inline int lerpChannel(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, int shift, float fx, float fy) {
    float c00 = static_cast<float>((p00 >> shift) & 255);
    float c10 = static_cast<float>((p10 >> shift) & 255);
    float c01 = static_cast<float>((p01 >> shift) & 255);
    float c11 = static_cast<float>((p11 >> shift) & 255);
    float top = c00 + (c10 - c00) * fx;
    float bottom = c01 + (c11 - c01) * fx;
    return static_cast<int>(top + (bottom - top) * fy);
}

#if defined(__SSE2__)
// The three channels side by side in single-precision lanes: the same IEEE
// operations, in the same order, as the one-channel form below.
inline __m128 byteLanes(uint32_t p) {
    const __m128i zero = _mm_setzero_si128();
    __m128i bytes = _mm_cvtsi32_si128(static_cast<int>(p));
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
}

inline uint32_t blendTexels(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, float fx, float fy) {
    __m128 c00 = byteLanes(p00), c10 = byteLanes(p10), c01 = byteLanes(p01), c11 = byteLanes(p11);
    __m128 wx = _mm_set1_ps(fx), wy = _mm_set1_ps(fy);
    __m128 top = _mm_add_ps(c00, _mm_mul_ps(_mm_sub_ps(c10, c00), wx));
    __m128 bottom = _mm_add_ps(c01, _mm_mul_ps(_mm_sub_ps(c11, c01), wx));
    __m128i v = _mm_cvttps_epi32(_mm_add_ps(top, _mm_mul_ps(_mm_sub_ps(bottom, top), wy)));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v)) & 0x00FFFFFF;
}
#else
inline uint32_t blendTexels(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, float fx, float fy) {
    uint32_t r = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 16, fx, fy));
    uint32_t g = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 8, fx, fy));
    uint32_t b = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 0, fx, fy));
    return (r << 16) | (g << 8) | b;
}
#endif

#if TEXGEN_WIDE
// The blend at texel (iu, iv) with fractions a / 256 and b / 256, in integers:
// with such fractions every step of the float blend is exact (each result is
// a whole number of 1/65536ths below 2^24), so it is (T (256 - b) + B b) >> 16
// with T = c00 (256 - a) + c10 a and B = c01 (256 - a) + c11 a, worked out
// per channel as pairs of 16-bit products.
inline uint32_t bilinearAtSteps(const uint32_t* pixels, int iu, int iv, int a, int b) {
    const int iu1 = (iu + 1) & 255, iv1 = (iv + 1) & 255;
    const __m128i zero = _mm_setzero_si128();
    // [c00 c10] of each channel side by side as 16-bit pairs, then [c01 c11].
    auto pairs = [zero](uint32_t left, uint32_t right) {
        __m128i v = _mm_unpacklo_epi8(_mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(left)),
                                                         _mm_cvtsi32_si128(static_cast<int>(right))),
                                      zero);
        return _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8));
    };
    const __m128i wa = _mm_set1_epi32((a << 16) | (256 - a)), wb = _mm_set1_epi32((b << 16) | (256 - b));
    const __m128i top = _mm_madd_epi16(pairs(pixels[iv * 256 + iu], pixels[iv * 256 + iu1]), wa);
    const __m128i bottom = _mm_madd_epi16(pairs(pixels[iv1 * 256 + iu], pixels[iv1 * 256 + iu1]), wa);
    // T and B below 2^16: their high and low bytes weighted apart.
    const __m128i byte = _mm_set1_epi32(255);
    const __m128i high = _mm_madd_epi16(
        _mm_or_si128(_mm_srli_epi32(top, 8), _mm_slli_epi32(_mm_srli_epi32(bottom, 8), 16)), wb);
    const __m128i low = _mm_madd_epi16(
        _mm_or_si128(_mm_and_si128(top, byte), _mm_slli_epi32(_mm_and_si128(bottom, byte), 16)), wb);
    __m128i v = _mm_srli_epi32(_mm_add_epi32(high, _mm_srli_epi32(low, 8)), 8);
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v)) & 0x00FFFFFF;
}
#endif

// The blend at texel (iu, iv) with fractions fx, fy in 0..1.
inline uint32_t bilinearAt(const uint32_t* pixels, int iu, int iv, float fx, float fy) {
    int iu1 = (iu + 1) & 255;
    int iv1 = (iv + 1) & 255;
    return blendTexels(pixels[iv * 256 + iu], pixels[iv * 256 + iu1], pixels[iv1 * 256 + iu],
                       pixels[iv1 * 256 + iu1], fx, fy);
}

inline uint32_t bilinearSample(const uint32_t* pixels, float u, float v) {
    u = wrapCoordinate(u);
    v = wrapCoordinate(v);
    // Both are now in 0..256, where truncation is the floor.
    int iu = static_cast<int>(u);
    int iv = static_cast<int>(v);
    return bilinearAt(pixels, iu, iv, u - static_cast<float>(iu), v - static_cast<float>(iv));
}

// Coordinate times 256 rounded to the nearest integer, ties to even; only its
// low 16 bits are used, so far-off values are reduced modulo 65,536 first.
inline int32_t fixedCoordinate(float u) {
    if (!std::isfinite(u)) return 0;
    float s = u * 256.0f;
    if (!(s > -1073741824.0f && s < 1073741824.0f)) s = std::fmod(s, 65536.0f);
    float lower = std::floor(s);
    float diff = s - lower;
    int32_t n = static_cast<int32_t>(lower);
    if (diff > 0.5f || (diff == 0.5f && (n & 1))) n++;
    return n;
}

// The fixed-point blend at coordinates in 1/256 pixel (only bits 0-15 count).
inline uint32_t bilinearFixedAt(const uint32_t* pixels, int32_t uu, int32_t vv) {
    uint32_t iu = static_cast<uint32_t>(uu >> 8) & 255, fu = static_cast<uint32_t>(uu) & 255;
    uint32_t iv = static_cast<uint32_t>(vv >> 8) & 255, fv = static_cast<uint32_t>(vv) & 255;
    uint32_t iu1 = (iu + 1) & 255;
    uint32_t iv1 = (iv + 1) & 255;
    uint32_t p00 = pixels[iv * 256 + iu], p10 = pixels[iv * 256 + iu1];
    uint32_t p01 = pixels[iv1 * 256 + iu], p11 = pixels[iv1 * 256 + iu1];
    uint32_t result = 0;
    for (int shift = 16; shift >= 0; shift -= 8) {
        uint32_t c00 = (p00 >> shift) & 255, c10 = (p10 >> shift) & 255;
        uint32_t c01 = (p01 >> shift) & 255, c11 = (p11 >> shift) & 255;
        // 16-bit lanes: every product truncated to 16 bits, logical shifts.
        uint32_t a = ((((c11 * fu) & 0xFFFF) >> 8) * fv) & 0xFFFF;
        uint32_t b = ((((c01 * fv) & 0xFFFF) >> 8) * (255 - fu)) & 0xFFFF;
        uint32_t c = ((((c10 * fu) & 0xFFFF) >> 8) * (255 - fv)) & 0xFFFF;
        uint32_t d = ((((c00 * (255 - fu)) & 0xFFFF) >> 8) * (255 - fv)) & 0xFFFF;
        uint32_t sum = ((a + b + c + d) & 0xFFFF) >> 8;
        if (sum > 255) sum = 255;
        result |= sum << shift;
    }
    return result;
}

inline uint32_t bilinearSampleFixed(const uint32_t* pixels, float u, float v) {
    return bilinearFixedAt(pixels, fixedCoordinate(u), fixedCoordinate(v));
}

// Runs body(sample) with the sampler the bank's flag selects.
template <typename Body>
inline void withSampler(Body body) {
    if (layerBank.fastSampling)
        body([](const uint32_t* p, float u, float v) { return bilinearSampleFixed(p, u, v); });
    else
        body([](const uint32_t* p, float u, float v) { return bilinearSample(p, u, v); });
}
