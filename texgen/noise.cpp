// Hash-based value noise and the two bilinear samplers.
#include <cmath>
#include <cstring>
#include "texgen/sampling.h"
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

#if TEXGEN_WIDE
// One row of cubicNoise's vertical pass from four other rows; saying that
// they are others lets it vectorise.
static void cubicRow(float* __restrict row, const float* __restrict rm, const float* __restrict r0,
                     const float* __restrict r1, const float* __restrict r2, int32_t f, int32_t step) {
    for (int x = 0; x < 256; x++) row[x] = cubicInterpolate(rm[x], r0[x], r1[x], r2[x], f, step);
}
#endif

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
#if TEXGEN_WIDE
        if (row != rm && row != r0 && row != r1 && row != r2) {
            cubicRow(row, rm, r0, r1, r2, f, step);
            continue;
        }
#endif
        for (int x = 0; x < 256; x++)
            row[x] = cubicInterpolate(rm[x], r0[x], r1[x], r2[x], f, step);
    }
}

// (b - a) * w fits 32 bits for the amplitudes used; 64 bits keep other
// amplitudes defined, with the same result where it fits.
static inline int32_t cosineBlend(int32_t a, int32_t b, int32_t w) {
    return a + static_cast<int32_t>((static_cast<int64_t>(b) - a) * w >> 8);
}

// One row of the vertical pass in 32-bit lanes; the rows are distinct.
static void blendRows(int32_t* __restrict row, const int32_t* __restrict ra, const int32_t* __restrict rb, int32_t w) {
    for (int x = 0; x < 256; x++) row[x] = ra[x] + (((rb[x] - ra[x]) * w) >> 8);
}

#if TEXGEN_WIDE
// The same with AVX2, which multiplies 32-bit lanes in one step.
TEXGEN_AVX2 static void blendRowsAvx2(int32_t* __restrict row, const int32_t* __restrict ra,
                                      const int32_t* __restrict rb, int32_t w) {
    for (int x = 0; x < 256; x++) row[x] = ra[x] + (((rb[x] - ra[x]) * w) >> 8);
}
#endif

#if TEXGEN_WIDE
// One stretch of the horizontal pass between two lattice values.
static void blendStretch(int32_t* __restrict out, const int32_t* __restrict weights, int32_t a, int32_t b, int n) {
    for (int j = 0; j < n; j++) out[j] = a + (((b - a) * weights[j]) >> 8);
}
#endif

void cosineNoise(int32_t* image, int32_t step, float amplitude) {
    // With a power-of-two step the passes below write every pixel before any
    // is read, so only other steps need the image cleared first.
    if (step < 1 || step > 256 || (step & (step - 1)) != 0)
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

    // Lattice values below 128 keep (b - a) * w within 32 bits, so both passes
    // can stay in 32-bit arithmetic.
    const bool narrow = static_cast<int32_t>(255.0f * scale) < 128;
    const int mask = 256 - step;
    for (int y = 0; y < 256; y += step) {
        int32_t* row = image + y * 256;
#if TEXGEN_WIDE
        if (narrow && (step & (step - 1)) == 0 && step >= 4) {
            // Lattice point to lattice point: the two ends stay as they are,
            // so each stretch is one blend of two fixed values.
            for (int x0 = 0; x0 < 256; x0 += step) blendStretch(row + x0, weights, row[x0], row[(x0 + step) & 255], step);
            continue;
        }
#endif
        for (int x = 0; x < 256; x++) {
            int x0 = x & mask;
            int32_t a = row[x0], b = row[(x0 + step) & 255], w = weights[x & (step - 1)];
            row[x] = narrow ? a + (((b - a) * w) >> 8) : cosineBlend(a, b, w);
        }
    }
    for (int y = 1; y < 256; y++) {
        int y0 = y & mask;
        // A row with y0 = y has weight 0 and keeps its values.
        if (y0 == y) continue;
        const int32_t* ra = image + y0 * 256;
        const int32_t* rb = image + ((y0 + step) & 255) * 256;
        int32_t* row = image + y * 256;
        int32_t w = weights[y & (step - 1)];
#if TEXGEN_WIDE
        if (narrow && rb != row && texgenHasAvx2()) {
            blendRowsAvx2(row, ra, rb, w);
            continue;
        }
#endif
        if (narrow && rb != row)
            blendRows(row, ra, rb, w);
        else
            for (int x = 0; x < 256; x++) row[x] = cosineBlend(ra[x], rb[x], w);
    }
}

uint32_t sampleBilinear(const Image* image, float u, float v) { return bilinearSample(image->pixels, u, v); }

uint32_t sampleBilinearFixed(const Image* image, float u, float v) {
    return bilinearSampleFixed(image->pixels, u, v);
}

uint32_t sampleImage(const Image* image, float u, float v) {
    return layerBank.fastSampling ? sampleBilinearFixed(image, u, v) : sampleBilinear(image, u, v);
}
