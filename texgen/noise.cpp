// Hash-based value noise and the two bilinear samplers.
#include <cmath>
#include <cstring>
#include "texgen/texgen.h"

int32_t noiseHash(int32_t i) {
    // Unsigned arithmetic gives the 32-bit wrap-around without overflow.
    uint32_t u = static_cast<uint32_t>(i);
    uint32_t x = u ^ (u << 13);
    uint32_t t = (static_cast<uint32_t>(layerBank.seed) + x) * (x * x * 15731u + 789221u) + 1376312589u;
    return static_cast<int32_t>(t) / 12359;
}

float cubicInterpolate(float before, float start, float end, float after, int32_t x, int32_t n) {
    float t = static_cast<float>(x) / static_cast<float>(n);
    float p = (after - end) - (before - start);
    float q = (before - start) - p;
    float r = end - before;
    return p * t * t * t + q * t * t + r * t + start;
}

void cubicNoise(float* image, int32_t step, float amplitude) {
    for (int i = 0; i < IMAGE_PIXELS; i++) image[i] = 0.0f;
    if (step < 1 || step > 256) return;
    float scale = amplitude / 256.0f;
    int32_t index = 0;
    for (int y = 0; y < 256; y += step)
        for (int x = 0; x < 256; x += step)
            image[y * 256 + x] = static_cast<float>(noiseHash(index++) & 255) * scale;

    const int mask = 256 - step;
    for (int y = 0; y < 256; y += step) {
        float* row = image + y * 256;
        for (int x = 1; x < 256; x++) {
            int x0 = x & mask;
            int xm = (x0 - step) & 255;
            int x1 = (x0 + step) & 255;
            int x2 = (x1 + step) & 255;
            row[x] = cubicInterpolate(row[xm], row[x0], row[x1], row[x2], x & (step - 1), step);
        }
    }
    for (int y = 1; y < 256; y++) {
        int y0 = y & mask;
        const float* rm = image + ((y0 - step) & 255) * 256;
        const float* r0 = image + y0 * 256;
        const float* r1 = image + ((y0 + step) & 255) * 256;
        const float* r2 = image + ((((y0 + step) & 255) + step) & 255) * 256;
        float* row = image + y * 256;
        int f = y & (step - 1);
        for (int x = 0; x < 256; x++)
            row[x] = cubicInterpolate(rm[x], r0[x], r1[x], r2[x], f, step);
    }
}

// (b - a) * w fits 32 bits for the amplitudes used; 64 bits keep other
// amplitudes defined, with the same result where it fits.
static inline int32_t cosineBlend(int32_t a, int32_t b, int32_t w) {
    return a + static_cast<int32_t>((static_cast<int64_t>(b) - a) * w >> 8);
}

void cosineNoise(int32_t* image, int32_t step, float amplitude) {
    for (int i = 0; i < IMAGE_PIXELS; i++) image[i] = 0;
    if (step < 1 || step > 256) return;
    float scale = amplitude / 256.0f;
    int32_t index = 0;
    for (int y = 0; y < 256; y += step)
        for (int x = 0; x < 256; x += step) {
            int32_t value = static_cast<int32_t>(static_cast<float>(noiseHash(index++) & 255) * scale);
            image[y * 256 + x] = static_cast<int32_t>(static_cast<uint32_t>(value) << 16);
        }

    int32_t* weights = layerBank.cosineWeights;
    for (int j = 0; j < step; j++)
        weights[j] = static_cast<int32_t>((1.0 - std::cos(j * 3.1415927410125732 / step)) * 0.5 * 256);

    const int mask = 256 - step;
    for (int y = 0; y < 256; y += step) {
        int32_t* row = image + y * 256;
        for (int x = 0; x < 256; x++) {
            int x0 = x & mask;
            row[x] = cosineBlend(row[x0], row[(x0 + step) & 255], weights[x & (step - 1)]);
        }
    }
    for (int y = 1; y < 256; y++) {
        int y0 = y & mask;
        const int32_t* ra = image + y0 * 256;
        const int32_t* rb = image + ((y0 + step) & 255) * 256;
        int32_t* row = image + y * 256;
        int32_t w = weights[y & (step - 1)];
        for (int x = 0; x < 256; x++) row[x] = cosineBlend(ra[x], rb[x], w);
    }
}

// Brings a coordinate into 0 <= u < 256 by whole turns, one turn at a time as
// the operators' coordinates need; far-off values are reduced first so the
// loops stay short, and non-finite ones sample at 0.
static inline float wrapCoordinate(float u) {
    if (!(u > -65536.0f && u < 65536.0f)) {
        if (!std::isfinite(u)) return 0.0f;
        u = std::fmod(u, 256.0f);
    }
    while (u < 0.0f) u += 256.0f;
    while (u >= 256.0f) u -= 256.0f;
    return u;
}

static inline int lerpChannel(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, int shift, float fx, float fy) {
    float c00 = static_cast<float>((p00 >> shift) & 255);
    float c10 = static_cast<float>((p10 >> shift) & 255);
    float c01 = static_cast<float>((p01 >> shift) & 255);
    float c11 = static_cast<float>((p11 >> shift) & 255);
    float top = c00 + (c10 - c00) * fx;
    float bottom = c01 + (c11 - c01) * fx;
    return static_cast<int>(top + (bottom - top) * fy);
}

uint32_t sampleBilinear(const Image* image, float u, float v) {
    u = wrapCoordinate(u);
    v = wrapCoordinate(v);
    int iu = static_cast<int>(std::floor(u));
    int iv = static_cast<int>(std::floor(v));
    float fx = u - static_cast<float>(iu);
    float fy = v - static_cast<float>(iv);
    int iu1 = (iu + 1) & 255;
    int iv1 = (iv + 1) & 255;
    const uint32_t* p = image->pixels;
    uint32_t p00 = p[iv * 256 + iu], p10 = p[iv * 256 + iu1];
    uint32_t p01 = p[iv1 * 256 + iu], p11 = p[iv1 * 256 + iu1];
    uint32_t r = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 16, fx, fy));
    uint32_t g = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 8, fx, fy));
    uint32_t b = static_cast<uint32_t>(lerpChannel(p00, p10, p01, p11, 0, fx, fy));
    return (r << 16) | (g << 8) | b;
}

// Coordinate times 256 rounded to the nearest integer, ties to even; only its
// low 16 bits are used, so far-off values are reduced modulo 65,536 first.
static inline int32_t fixedCoordinate(float u) {
    if (!std::isfinite(u)) return 0;
    float s = u * 256.0f;
    if (!(s > -1073741824.0f && s < 1073741824.0f)) s = std::fmod(s, 65536.0f);
    float lower = std::floor(s);
    float diff = s - lower;
    int32_t n = static_cast<int32_t>(lower);
    if (diff > 0.5f || (diff == 0.5f && (n & 1))) n++;
    return n;
}

uint32_t sampleBilinearFixed(const Image* image, float u, float v) {
    int32_t uu = fixedCoordinate(u);
    int32_t vv = fixedCoordinate(v);
    int iu = (uu >> 8) & 255, fu = uu & 255;
    int iv = (vv >> 8) & 255, fv = vv & 255;
    int iu1 = (iu + 1) & 255;
    int iv1 = (iv + 1) & 255;
    const uint32_t* p = image->pixels;
    uint32_t p00 = p[iv * 256 + iu], p10 = p[iv * 256 + iu1];
    uint32_t p01 = p[iv1 * 256 + iu], p11 = p[iv1 * 256 + iu1];
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

uint32_t sampleImage(const Image* image, float u, float v) {
    return layerBank.fastSampling ? sampleBilinearFixed(image, u, v) : sampleBilinear(image, u, v);
}
