// The operators of the texture programs. Each works on the layer bank.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "texgen/sampling.h"
#include "texgen/texgen.h"

namespace {

// Phase unit of the wave operators: 2 pi / 256 from the single-precision pi.
constexpr double K = 0.02454369328916073;

inline uint32_t* layerPixels(int n) { return layerBank.layers[n]->pixels; }
inline uint32_t* scratchA() { return layerBank.scratchA->pixels; }
inline uint32_t* scratchB() { return layerBank.scratchB->pixels; }

inline bool validLayer(int n) { return n >= 0 && n <= 3; }
inline bool validChannel(int ch) { return ch >= 0 && ch <= 2; }

// Every operator starts here: a target outside the bank does nothing, and the
// bank is allocated when an operator is called on its own.
inline bool prepare(int layer) {
    if (!validLayer(layer)) return false;
    if (!layerBank.buffersReady) allocateWorkBuffers();
    return true;
}

inline int channelShift(int ch) { return 16 - 8 * ch; }
inline uint32_t channelOf(uint32_t pixel, int shift) { return (pixel >> shift) & 255; }
inline uint32_t withChannel(uint32_t pixel, int shift, uint32_t value) {
    return (pixel & (0x00FFFFFFu - (0xFFu << shift))) | (value << shift);
}
inline uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return (r << 16) | (g << 8) | b; }

inline void copyScratchInto(int layer) {
    std::memcpy(layerPixels(layer), scratchA(), sizeof(Image));
}

// Seed bytes are named by the bit their byte starts at in the seed.
inline int32_t seedFromBytes(int seed24, int seed16, int seed8, int seed0) {
    return static_cast<int32_t>((static_cast<uint32_t>(seed24 & 255) << 24) |
                                (static_cast<uint32_t>(seed16 & 255) << 16) |
                                (static_cast<uint32_t>(seed8 & 255) << 8) | static_cast<uint32_t>(seed0 & 255));
}

// Before a loop over pixels that only reads and writes pixel i in step i
// (layers may be the same one): lets the compiler vectorise it without
// checking at run time whether the layers overlap.
#if defined(__clang__)
#define ELEMENTWISE _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define ELEMENTWISE _Pragma("GCC ivdep")
#else
#define ELEMENTWISE
#endif

inline int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

// Applies f to each of R, G, B of every pixel of the layer, in place.
template <typename F>
void mapChannels(int layer, F f) {
    uint32_t* t = layerPixels(layer);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i];
        t[i] = rgb(f((p >> 16) & 255), f((p >> 8) & 255), f(p & 255));
    }
}

// Applies f(t, o) to each channel pair of the target and another layer.
template <typename F>
void combineChannels(int layer, int other, F f) {
    uint32_t* t = layerPixels(layer);
    const uint32_t* o = layerPixels(other);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i], q = o[i];
        t[i] = rgb(f((p >> 16) & 255, (q >> 16) & 255), f((p >> 8) & 255, (q >> 8) & 255), f(p & 255, q & 255));
    }
}

#if TEXGEN_WIDE
// Byte minimums; the cone and the distances never overlap, and saying so
// lets this vectorise.
void minimumRun(uint8_t* __restrict dst, const uint8_t* __restrict src, int n) {
    for (int d = 0; d < n; d++) dst[d] = src[d] < dst[d] ? src[d] : dst[d];
}

// The same for n a multiple of 16.
void minimumBlocks(uint8_t* __restrict dst, const uint8_t* __restrict src, int n) {
    for (int b = 0; b < n; b += 16)
        for (int d = b; d < b + 16; d++) dst[d] = src[d] < dst[d] ? src[d] : dst[d];
}
#else
// The cone and the distances never overlap; saying so lets this vectorise.
void minimumRow(uint8_t* __restrict dst, const uint8_t* __restrict src) {
    for (int d = 0; d < 256; d++) dst[d] = src[d] < dst[d] ? src[d] : dst[d];
}
#endif

void smoothPass(int layer) {
    const uint32_t* t = layerPixels(layer);
    uint32_t* out = scratchA();
    for (int y = 0; y < 256; y++) {
        const uint32_t* row = t + y * 256;
        const uint32_t* up = t + ((y - 1) & 255) * 256;
        const uint32_t* down = t + ((y + 1) & 255) * 256;
#if TEXGEN_WIDE
        // Columns 1..252 four at a time, the same sums side by side; the
        // columns next to the wrap one by one below.
        const __m128i redBlueMask = _mm_set1_epi32(0x00FF00FF), greenMask = _mm_set1_epi32(0xFF00);
        for (int x = 1; x + 4 <= 253; x += 4) {
            const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x));
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x));
            const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x - 1));
            const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 1));
            auto sum = [&](__m128i mask) {
                __m128i v = _mm_slli_epi32(_mm_and_si128(c, mask), 2);
                v = _mm_add_epi32(v, _mm_and_si128(u, mask));
                v = _mm_add_epi32(v, _mm_and_si128(d, mask));
                v = _mm_add_epi32(v, _mm_and_si128(l, mask));
                v = _mm_add_epi32(v, _mm_and_si128(r, mask));
                return _mm_and_si128(_mm_srli_epi32(v, 3), mask);
            };
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 256 + x),
                             _mm_or_si128(sum(redBlueMask), sum(greenMask)));
        }
        for (int x : {0, 253, 254, 255}) {
#else
        for (int x = 0; x < 256; x++) {
#endif
            uint32_t c = row[x], u = up[x], d = down[x], l = row[(x - 1) & 255], r = row[(x + 1) & 255];
            // Red and blue in two 16-bit halves (a sum is at most 2,040), green apart.
            uint32_t redBlue = 4 * (c & 0x00FF00FF) + (u & 0x00FF00FF) + (d & 0x00FF00FF) + (l & 0x00FF00FF) +
                               (r & 0x00FF00FF);
            uint32_t green = 4 * (c & 0xFF00) + (u & 0xFF00) + (d & 0xFF00) + (l & 0xFF00) + (r & 0xFF00);
            out[y * 256 + x] = ((redBlue >> 3) & 0x00FF00FF) | ((green >> 3) & 0xFF00);
        }
    }
    copyScratchInto(layer);
}

}  // namespace

// ---- Generators ----

void CubicNoise(int layer, int ch, int step, int seed24, int seed16, int seed8, int seed0) {
    if (!prepare(layer) || !validChannel(ch) || step == 0) return;
    layerBank.seed = seedFromBytes(seed24, seed16, seed8, seed0);
    float* noise = layerBank.noiseBuffer.get();
    cubicNoise(noise, step, 255.0f);
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        // Guard the conversion: values far outside a byte only clamp.
        float v = noise[i];
        int value = v >= 255.0f ? 255 : (v > 0.0f ? static_cast<int>(v) : 0);
        t[i] = withChannel(t[i], s, static_cast<uint32_t>(value));
    }
}

void FractalNoise(int layer, int ch, int seed24, int seed16, int seed8, int seed0) {
    if (!prepare(layer) || !validChannel(ch)) return;
    layerBank.seed = seedFromBytes(seed24, seed16, seed8, seed0);
    int32_t* sum = reinterpret_cast<int32_t*>(scratchA());
    int32_t* octave = reinterpret_cast<int32_t*>(scratchB());
    cosineNoise(sum, 128, 128.0f);
    // The last octave (step 1) adds nothing: its lattice values
    // (hash & 255) / 256 all truncate to 0.
    for (int step = 64; step >= 2; step >>= 1) {
        cosineNoise(octave, step, static_cast<float>(step));
        ELEMENTWISE
        for (int i = 0; i < IMAGE_PIXELS; i++)
            sum[i] = static_cast<int32_t>(static_cast<uint32_t>(sum[i]) + static_cast<uint32_t>(octave[i]));
    }
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++)
        t[i] = withChannel(t[i], s, static_cast<uint32_t>(sum[i] >> 16) & 255);
}

void SinePlasma(int layer, int fx, int fy, int px, int py, int ch) {
    if (!prepare(layer) || !validChannel(ch)) return;
    double waveX[256], waveY[256];
    for (int i = 0; i < 256; i++) {
        waveX[i] = std::sin((i + px) * fx * K);
        waveY[i] = std::sin((i + py) * fy * K);
    }
    uint32_t* a = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            a[y * 256 + x] = static_cast<uint32_t>(static_cast<int>((waveX[x] + waveY[y]) * 63 + 127));
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], s, a[i] & 255);
}

void Cells(int layer, int ch, int count, int scale, int seed24, int seed16, int seed8, int seed0) {
    if (!prepare(layer) || !validChannel(ch)) return;
#if TEXGEN_WIDE
    // The cone and the nearest distances are stored with every row twice over
    // (128 KiB each, in scratchB), so that placing the cone at any column is
    // one straight run of byte minimums; each distance is the smaller of its
    // two copies at the end.
    uint8_t* cone = reinterpret_cast<uint8_t*>(scratchB());
    uint8_t* nearest = cone + 256 * 512;
    // Rows r and 256 - r, columns 128 + k and 128 - k are the same: rows
    // 0..128 and k = 0..128 are computed, the rest copied. The distance grows
    // with k, so once it reaches 255 (with a positive scale) the rest of the
    // row is 255 too. A minimum with 255 changes nothing, so each row only
    // takes part from its first column below 255, in whole blocks of 16.
    int16_t runStart[256], runLength[256];   // length 0: the row is all 255
    for (int r = 0; r <= 128; r++) {
        uint8_t* row = cone + r * 512;
        std::memset(row, 255, 512);
        int k = 0;
        for (; k <= 128; k++) {
            double d = std::sqrt(static_cast<double>(k * k + (r - 128) * (r - 128))) * scale * 0.0390625;
            uint8_t v = static_cast<uint8_t>(static_cast<int>(d < 255.0 ? d : 255.0));
            if (v == 255 && scale > 0) break;
            if (k < 128) row[128 + k] = row[384 + k] = v;
            row[128 - k] = row[384 - k] = v;
        }
        // Columns 128 - (k - 1) to 128 + (k - 1); past them the row is 255 up to a full turn.
        runStart[r] = static_cast<int16_t>(k > 0 ? 129 - k : 0);
        runLength[r] = static_cast<int16_t>(k > 0 ? std::min(256, (2 * k - 1 + 15) & ~15) : 0);
    }
    for (int r = 129; r < 256; r++) {
        std::memcpy(cone + r * 512, cone + (256 - r) * 512, 512);
        runStart[r] = runStart[256 - r];
        runLength[r] = runLength[256 - r];
    }
    layerBank.seed = seedFromBytes(seed24, seed16, seed8, seed0);
    std::memset(nearest, 255, 256 * 512);
    for (int k = 0; k < count; k++) {
        int px = noiseHash(2 * k) & 255;
        int py = noiseHash(2 * k + 1) & 255;
        // Destination column d takes cone column (d - px + 128) & 255.
        int offset = (128 - px) & 255;
        for (int r = 0; r < 256; r++) {
            if (runLength[r] == 0) continue;
            uint8_t* dst = nearest + ((py - 128 + r) & 255) * 512;
            const uint8_t* src = cone + r * 512 + offset;
            const int d0 = (runStart[r] - offset) & 255;   // where the run lands; it may reach into the copy
            // Whole blocks unless they would read past the doubled cone row
            // (long runs only, with a small scale): then just the run.
            if (offset + d0 + runLength[r] <= 512)
                minimumBlocks(dst + d0, src + d0, runLength[r]);
            else
                minimumRun(dst + d0, src + d0, 512 - offset - d0);
        }
    }
    for (int y = 0; y < 256; y++) minimumBlocks(nearest + y * 512, nearest + y * 512 + 256, 256);
    uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
    int s = channelShift(ch);
    for (int y = 0; y < 256; y++) {
        const uint8_t* row = nearest + y * 512;
        ELEMENTWISE
        for (int x = 0; x < 256; x++) {
            a[y * 256 + x] = row[x];
            t[y * 256 + x] = withChannel(t[y * 256 + x], s, row[x]);
        }
    }
#else
    // The cone is stored with every row twice over, so that placing it at any
    // column is one straight run of 256 byte minimums. The cone (128 KiB) and
    // the nearest distances (64 KiB) live in scratchB.
    uint8_t* cone = reinterpret_cast<uint8_t*>(scratchB());
    uint8_t* nearest = cone + 256 * 512;
    // Rows r and 256 - r are the same: rows 0..128 are computed, the rest copied.
    for (int r = 0; r <= 128; r++)
        for (int c = 0; c < 256; c++) {
            double d = std::sqrt(static_cast<double>((c - 128) * (c - 128) + (r - 128) * (r - 128))) * scale * 0.0390625;
            uint8_t v = static_cast<uint8_t>(static_cast<int>(d < 255.0 ? d : 255.0));
            cone[r * 512 + c] = v;
            cone[r * 512 + 256 + c] = v;
        }
    for (int r = 129; r < 256; r++) std::memcpy(cone + r * 512, cone + (256 - r) * 512, 512);
    layerBank.seed = seedFromBytes(seed24, seed16, seed8, seed0);
    std::memset(nearest, 255, IMAGE_PIXELS);
    for (int k = 0; k < count; k++) {
        int px = noiseHash(2 * k) & 255;
        int py = noiseHash(2 * k + 1) & 255;
        // Destination column d takes cone column (d - px + 128) & 255.
        int offset = (128 - px) & 255;
        for (int r = 0; r < 256; r++) {
            uint8_t* dst = nearest + ((py - 128 + r) & 255) * 256;
            const uint8_t* src = cone + r * 512 + offset;
            minimumRow(dst, src);
        }
    }
    uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
    int s = channelShift(ch);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        a[i] = nearest[i];
        t[i] = withChannel(t[i], s, nearest[i]);
    }
#endif
}

void RadialGradient(int layer, int mode, int ch, int size) {
    if (!prepare(layer)) return;
    if (mode != 0 && mode != 1) return;
    if (mode == 1 && !validChannel(ch)) return;
    double factor = mode == 0 ? 1.0 : size / 256.0 + 0.8;
    uint32_t* t = layerPixels(layer);
    int s = mode == 1 ? channelShift(ch) : 0;
    auto value = [factor](int x, int y) {
        double d = std::sqrt(static_cast<double>((x - 128) * (x - 128) + (y - 128) * (y - 128)));
        double g = 255 - 2 * factor * d;
        return static_cast<uint32_t>(g >= 255.0 ? 255 : (g > 0.0 ? static_cast<int>(g) : 0));
    };
    // Symmetric about row and column 128: each row y <= 128 is worked out once,
    // for its columns 128..255 and 0, and also gives row 256 - y.
    uint32_t values[256];
    for (int y = 0; y <= 128; y++) {
#if TEXGEN_WIDE
        // Two columns at a time: the same double operations; clamping to
        // 0..255 before truncating gives what the comparisons give.
        const __m128d weight = _mm_set1_pd(2 * factor), top = _mm_set1_pd(255.0), zero = _mm_setzero_pd();
        const int dy2 = (y - 128) * (y - 128);
        for (int x = 128; x < 256; x += 2) {
            const __m128d n = _mm_setr_pd(static_cast<double>((x - 128) * (x - 128) + dy2),
                                          static_cast<double>((x - 127) * (x - 127) + dy2));
            const __m128d g = _mm_sub_pd(top, _mm_mul_pd(weight, _mm_sqrt_pd(n)));
            const __m128i v = _mm_cvttpd_epi32(_mm_min_pd(_mm_max_pd(g, zero), top));
            values[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
            values[x + 1] = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi32(v, 1)));
        }
        values[0] = value(0, y);
#else
        for (int x = 0; x < 256; x = x == 0 ? 128 : x + 1) values[x] = value(x, y);
#endif
        for (int x = 1; x < 128; x++) values[x] = values[256 - x];
        auto fill = [&](uint32_t* r) {
            for (int x = 0; x < 256; x++)
                r[x] = mode == 0 ? rgb(values[x], values[x], values[x]) : withChannel(r[x], s, values[x]);
        };
        fill(t + y * 256);
        if (y > 0 && y < 128) fill(t + (256 - y) * 256);
    }
}

void Clear(int layer) {
    if (!prepare(layer)) return;
    std::memset(layerPixels(layer), 0, sizeof(Image));
}

void Bitmap(int layer, uint32_t colour0, uint32_t colour1, const uint8_t* bits) {
    if (!prepare(layer) || !bits) return;
    uint32_t* t = layerPixels(layer);
    colour0 &= 0x00FFFFFF;
    colour1 &= 0x00FFFFFF;
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = (bits[i >> 3] >> (i & 7)) & 1 ? colour1 : colour0;
}

// ---- Geometric filters ----

#if TEXGEN_WIDE
namespace {

// wrapCoordinate on eight lanes, each taking the same additions as it would
// alone; false when a lane is far off or not finite (the caller samples one
// by one then).
TEXGEN_AVX2 inline bool wrapEight(__m256& u) {
    const __m256 limit = _mm256_set1_ps(65536.0f), turn = _mm256_set1_ps(256.0f), zero = _mm256_setzero_ps();
    const __m256 near = _mm256_and_ps(_mm256_cmp_ps(u, _mm256_sub_ps(zero, limit), _CMP_GT_OQ),
                                      _mm256_cmp_ps(u, limit, _CMP_LT_OQ));
    if (_mm256_movemask_ps(near) != 0xFF) return false;
    for (__m256 below; _mm256_movemask_ps(below = _mm256_cmp_ps(u, zero, _CMP_LT_OQ)) != 0;)
        u = _mm256_add_ps(u, _mm256_and_ps(below, turn));
    for (__m256 above; _mm256_movemask_ps(above = _mm256_cmp_ps(u, turn, _CMP_GE_OQ)) != 0;)
        u = _mm256_sub_ps(u, _mm256_and_ps(above, turn));
    return true;
}

// One channel of the float blend on eight pixels: the same operations, in the
// same order, as blendTexels.
TEXGEN_AVX2 inline __m256i blendChannel(__m256i p00, __m256i p10, __m256i p01, __m256i p11, int shift, __m256 fx,
                                        __m256 fy) {
    const __m256i byte = _mm256_set1_epi32(255);
    const __m128i count = _mm_cvtsi32_si128(shift);
    const __m256 c00 = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(p00, count), byte));
    const __m256 c10 = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(p10, count), byte));
    const __m256 c01 = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(p01, count), byte));
    const __m256 c11 = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srl_epi32(p11, count), byte));
    const __m256 top = _mm256_add_ps(c00, _mm256_mul_ps(_mm256_sub_ps(c10, c00), fx));
    const __m256 bottom = _mm256_add_ps(c01, _mm256_mul_ps(_mm256_sub_ps(c11, c01), fx));
    return _mm256_cvttps_epi32(_mm256_add_ps(top, _mm256_mul_ps(_mm256_sub_ps(bottom, top), fy)));
}

// Eight pixels of bilinearSample at (u, v); false (nothing written) when a
// coordinate needs the one-by-one path.
TEXGEN_AVX2 inline bool bilinearEight(const uint32_t* pixels, __m256 u, __m256 v, uint32_t* out) {
    if (!wrapEight(u) || !wrapEight(v)) return false;
    const __m256i byte = _mm256_set1_epi32(255), one = _mm256_set1_epi32(1);
    const __m256i iu = _mm256_cvttps_epi32(u), iv = _mm256_cvttps_epi32(v);
    const __m256 fx = _mm256_sub_ps(u, _mm256_cvtepi32_ps(iu)), fy = _mm256_sub_ps(v, _mm256_cvtepi32_ps(iv));
    const __m256i iu1 = _mm256_and_si256(_mm256_add_epi32(iu, one), byte);
    const __m256i row0 = _mm256_slli_epi32(iv, 8), row1 = _mm256_slli_epi32(_mm256_and_si256(_mm256_add_epi32(iv, one), byte), 8);
    const int* texels = reinterpret_cast<const int*>(pixels);
    const __m256i p00 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row0, iu), 4);
    const __m256i p10 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row0, iu1), 4);
    const __m256i p01 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row1, iu), 4);
    const __m256i p11 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row1, iu1), 4);
    // Each channel's value lies in 0..255, so the packing's saturation never applies.
    const __m256i result = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi32(blendChannel(p00, p10, p01, p11, 16, fx, fy), 16),
                        _mm256_slli_epi32(blendChannel(p00, p10, p01, p11, 8, fx, fy), 8)),
        blendChannel(p00, p10, p01, p11, 0, fx, fy));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), result);
    return true;
}

// One row of SineWarp with the float sampler, eight pixels at a time.
TEXGEN_AVX2 void sineWarpRowAvx2(const uint32_t* t, uint32_t* out, int y, const float* shiftX, const float* shiftY) {
    const __m256 columns = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    for (int x = 0; x < 256; x += 8) {
        const __m256 u = _mm256_add_ps(_mm256_add_ps(_mm256_set1_ps(static_cast<float>(x)), columns),
                                       _mm256_set1_ps(shiftX[y]));
        const __m256 v = _mm256_add_ps(_mm256_set1_ps(static_cast<float>(y)), _mm256_loadu_ps(shiftY + x));
        if (!bilinearEight(t, u, v, out + y * 256 + x))
            for (int k = x; k < x + 8; k++)
                out[y * 256 + k] = bilinearSample(t, static_cast<float>(k) + shiftX[y], static_cast<float>(y) + shiftY[k]);
    }
}

}  // namespace
#endif

void SineWarp(int layer, int xShiftFrequency, int yShiftFrequency, int xAmplitude, int yAmplitude, int xShiftPhase,
              int yShiftPhase) {
    if (!prepare(layer)) return;
    float shiftY[256], shiftX[256];
    for (int i = 0; i < 256; i++) {
        shiftY[i] = static_cast<float>(yAmplitude * std::cos((i + yShiftPhase) * yShiftFrequency * K));   // by column
        shiftX[i] = static_cast<float>(xAmplitude * std::sin((i + xShiftPhase) * xShiftFrequency * K));   // by row
    }
    const uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
#if TEXGEN_WIDE
    if (!layerBank.fastSampling && texgenHasAvx2()) {
        for (int y = 0; y < 256; y++) sineWarpRowAvx2(t, a, y, shiftX, shiftY);
        copyScratchInto(layer);
        return;
    }
#endif
    withSampler([&](auto sample) {
        for (int y = 0; y < 256; y++)
            for (int x = 0; x < 256; x++)
                a[y * 256 + x] = sample(t, static_cast<float>(x) + shiftX[y], static_cast<float>(y) + shiftY[x]);
    });
    copyScratchInto(layer);
}

void Scroll(int layer, int dx, int dy) {
    if (!prepare(layer)) return;
    const uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) a[y * 256 + x] = t[((y + dy) & 255) * 256 + ((x + dx) & 255)];
    copyScratchInto(layer);
}

void Twirl(int layer, int amount) {
    if (!prepare(layer)) return;
    double k = (amount - 127.5) / 32;
    double sign = k > 0 ? -1.0 : 1.0;
    const uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
    withSampler([&](auto sample) {
        for (int y = 0; y < 256; y++)
            for (int x = 0; x < 256; x++) {
                double dx = x - 127.5, dy = y - 127.5;
                double r = std::sqrt(dx * dx + dy * dy);
                double theta = std::atan2(dx, dy);
                double w = r <= 128 ? 128 * std::cos((128 - r) * k * 0.012271846644580364) + 128 : 0.0;
                double phi = (theta * 40.74366429772945 + sign * w) * K;
                a[y * 256 + x] =
                    sample(t, static_cast<float>(r * std::sin(phi) + 128), static_cast<float>(r * std::cos(phi) + 128));
            }
    });
    copyScratchInto(layer);
}

#if TEXGEN_WIDE
namespace {

// The channel at `count` of each lane of left and right, as 16-bit pairs.
TEXGEN_AVX2 inline __m256i channelPairs(__m256i left, __m256i right, __m128i count) {
    const __m256i byte = _mm256_set1_epi32(255);
    return _mm256_or_si256(_mm256_and_si256(_mm256_srl_epi32(left, count), byte),
                           _mm256_slli_epi32(_mm256_and_si256(_mm256_srl_epi32(right, count), byte), 16));
}

// One row of Displace's float blend (at whole 1/256 fractions, so in integers
// as bilinearAtSteps), eight pixels at a time: the texels gathered, each
// channel's pairs weighted by 16-bit products.
TEXGEN_AVX2 void displaceRowAvx2(const uint32_t* t, const uint32_t* la, const uint32_t* lb, uint32_t* out, int y,
                                 int sa, int sb, int xAmplitude, int yAmplitude) {
    const __m256i byte = _mm256_set1_epi32(255);
    const __m256i ampX = _mm256_set1_epi32(xAmplitude & 255), ampY = _mm256_set1_epi32(yAmplitude & 255);
    const __m128i shiftA = _mm_cvtsi32_si128(sa), shiftB = _mm_cvtsi32_si128(sb);
    const __m256i one = _mm256_set1_epi32(1), full = _mm256_set1_epi32(256);
    const int* texels = reinterpret_cast<const int*>(t);
    for (int x = 0; x < 256; x += 8) {
        const int i = y * 256 + x;
        const __m256i du = _mm256_madd_epi16(
            _mm256_and_si256(_mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(la + i)), shiftA), byte),
            ampX);
        const __m256i dv = _mm256_madd_epi16(
            _mm256_and_si256(_mm256_srl_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(lb + i)), shiftB), byte),
            ampY);
        const __m256i xs = _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        const __m256i iu = _mm256_and_si256(_mm256_add_epi32(xs, _mm256_srli_epi32(du, 8)), byte);
        const __m256i iu1 = _mm256_and_si256(_mm256_add_epi32(iu, one), byte);
        const __m256i iv = _mm256_and_si256(_mm256_add_epi32(_mm256_set1_epi32(y), _mm256_srli_epi32(dv, 8)), byte);
        const __m256i row0 = _mm256_slli_epi32(iv, 8);
        const __m256i row1 = _mm256_slli_epi32(_mm256_and_si256(_mm256_add_epi32(iv, one), byte), 8);
        const __m256i p00 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row0, iu), 4);
        const __m256i p10 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row0, iu1), 4);
        const __m256i p01 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row1, iu), 4);
        const __m256i p11 = _mm256_i32gather_epi32(texels, _mm256_add_epi32(row1, iu1), 4);
        const __m256i a = _mm256_and_si256(du, byte), b = _mm256_and_si256(dv, byte);
        const __m256i wa = _mm256_or_si256(_mm256_slli_epi32(a, 16), _mm256_sub_epi32(full, a));
        const __m256i wb = _mm256_or_si256(_mm256_slli_epi32(b, 16), _mm256_sub_epi32(full, b));
        __m256i result = _mm256_setzero_si256();
        for (int shift = 0; shift <= 16; shift += 8) {
            const __m128i count = _mm_cvtsi32_si128(shift);
            const __m256i top = _mm256_madd_epi16(channelPairs(p00, p10, count), wa);
            const __m256i bottom = _mm256_madd_epi16(channelPairs(p01, p11, count), wa);
            // T and B below 2^16: their high and low bytes weighted apart.
            const __m256i high = _mm256_madd_epi16(
                _mm256_or_si256(_mm256_srli_epi32(top, 8), _mm256_slli_epi32(_mm256_srli_epi32(bottom, 8), 16)), wb);
            const __m256i low = _mm256_madd_epi16(
                _mm256_or_si256(_mm256_and_si256(top, byte), _mm256_slli_epi32(_mm256_and_si256(bottom, byte), 16)), wb);
            const __m256i v = _mm256_srli_epi32(_mm256_add_epi32(high, _mm256_srli_epi32(low, 8)), 8);
            result = _mm256_or_si256(result, _mm256_sll_epi32(v, count));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), result);
    }
}

}  // namespace
#endif

void Displace(int layer, int xSource, int xChannel, int xAmplitude, int ySource, int yChannel, int yAmplitude) {
    if (!prepare(layer) || !validLayer(xSource) || !validLayer(ySource) || !validChannel(xChannel) ||
        !validChannel(yChannel))
        return;
    const uint32_t* t = layerPixels(layer);
    const uint32_t* la = layerPixels(xSource);
    const uint32_t* lb = layerPixels(ySource);
    int sa = channelShift(xChannel), sb = channelShift(yChannel);
    uint32_t* out = scratchA();
    // The offsets a * amp / 256 are whole 1/256ths, so the sample position
    // x + a * amp / 256 (exact in single precision, and never negative) has
    // integer part x + (a * amp >> 8) and fraction (a * amp & 255) / 256:
    // what either sampler would find, without its float wrapping.
    const bool fixed = layerBank.fastSampling != 0;
#if TEXGEN_WIDE
    if (!fixed && texgenHasAvx2()) {
        for (int y = 0; y < 256; y++) displaceRowAvx2(t, la, lb, out, y, sa, sb, xAmplitude, yAmplitude);
        copyScratchInto(layer);
        return;
    }
#endif
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int i = y * 256 + x;
            int du = static_cast<int>(channelOf(la[i], sa)) * (xAmplitude & 255);
            int dv = static_cast<int>(channelOf(lb[i], sb)) * (yAmplitude & 255);
            if (fixed)
                out[i] = bilinearFixedAt(t, x * 256 + du, y * 256 + dv);
            else
#if TEXGEN_WIDE
                out[i] = bilinearAtSteps(t, (x + (du >> 8)) & 255, (y + (dv >> 8)) & 255, du & 255, dv & 255);
#else
                out[i] = bilinearAt(t, (x + (du >> 8)) & 255, (y + (dv >> 8)) & 255,
                                    static_cast<float>(du & 255) / 256.0f, static_cast<float>(dv & 255) / 256.0f);
#endif
        }
    copyScratchInto(layer);
}

namespace {

// trunc(i + offset) for an integer i: floor(offset) added where the sum is
// not negative, ceil(offset) where it is.
struct SmearStep {
    int32_t colFloor, colCeil, rowFloor, rowCeil;
};

inline int truncatedSum(int i, int32_t lower, int32_t upper) {
    int v = i + lower;
    return v >= 0 ? v : i + upper;
}

// The integer form equals the double sum's truncation unless the offset lies
// within rounding distance of a whole number without being one (as at a
// quarter turn, where 2 sin comes out a hair below 2).
inline bool integerSafe(double offset) {
    double f = offset - std::floor(offset);
    return f == 0.0 || (f > 0x1p-40 && f < 1.0 - 0x1p-40);
}

}  // namespace

void Smear(int layer, int angleLayer, int ch, int count) {
    if (!prepare(layer) || !validLayer(angleLayer) || !validChannel(ch)) return;
    if (count <= 0) return;   // nothing to average: the layer stays as it is
    // The offsets t sin(angle) and t cos(angle) for every angle byte and step,
    // the same doubles the per-pixel products give.
    const size_t perAngle = 2 * static_cast<size_t>(count);
    std::unique_ptr<double[]> offsets(new double[256 * perAngle]);
    std::unique_ptr<SmearStep[]> steps(new SmearStep[256 * static_cast<size_t>(count)]);
    bool integerPath[256];
    for (int angle = 0; angle < 256; angle++) {
        integerPath[angle] = true;
        double sn = std::sin(angle * K), cs = std::cos(angle * K);
        double* o = offsets.get() + angle * perAngle;
        SmearStep* st = steps.get() + angle * static_cast<size_t>(count);
        for (int j = 0; j < count; j++) {
            double t = 2.0 * j;
            o[2 * j] = t * sn;
            o[2 * j + 1] = t * cs;
            integerPath[angle] = integerPath[angle] && integerSafe(o[2 * j]) && integerSafe(o[2 * j + 1]);
            st[j] = {static_cast<int32_t>(std::floor(o[2 * j])), static_cast<int32_t>(std::ceil(o[2 * j])),
                     static_cast<int32_t>(std::floor(o[2 * j + 1])), static_cast<int32_t>(std::ceil(o[2 * j + 1]))};
        }
    }
    const uint32_t* t = layerPixels(layer);
    const uint32_t* angles = layerPixels(angleLayer);
    int s = channelShift(ch);
    uint32_t* out = scratchA();
    const uint32_t n = static_cast<uint32_t>(count);
#if TEXGEN_WIDE
    // Every sample from one offset into a copy of the layer with a margin of
    // `reach` pixels round it: the margins hold the wrapped texels, and the
    // columns (rows) before the first one hold the texel one further on, as
    // truncation takes x + ceil(offset) where x + offset is negative (with a
    // whole offset that would be wrong: an angle with a negative whole offset
    // keeps to the per-sample path). The channels add up side by side in
    // 16-bit lanes (255 samples of 255 fit).
    bool padded[256];
    int32_t reach = 0;   // the largest |floor| or |ceil| of any offset taken
    for (int angle = 0; angle < 256; angle++) {
        padded[angle] = integerPath[angle];
        for (int j = 0; j < count && padded[angle]; j++) {
            const SmearStep& st = steps[angle * static_cast<size_t>(count) + j];
            if ((st.colFloor == st.colCeil && st.colFloor < 0) || (st.rowFloor == st.rowCeil && st.rowFloor < 0))
                padded[angle] = false;
        }
        for (int j = 0; j < count && padded[angle]; j++) {
            const SmearStep& st = steps[angle * static_cast<size_t>(count) + j];
            for (int32_t v : {st.colFloor, st.colCeil, st.rowFloor, st.rowCeil}) reach = std::max(reach, std::abs(v));
        }
    }
    if (reach > 64)
        for (bool& p : padded) p = false;   // long smears: a copy too large to be worth it
    const int width = 256 + 2 * reach;
    std::unique_ptr<uint32_t[]> copy;
    std::unique_ptr<int32_t[]> jumps;
    if (reach <= 64) {
        copy.reset(new uint32_t[static_cast<size_t>(width) * width]);
        jumps.reset(new int32_t[256 * static_cast<size_t>(count)]);
        auto source = [](int v) { return (v < 0 ? v + 1 : v) & 255; };
        for (int r = 0; r < width; r++) {
            const uint32_t* from = t + source(r - reach) * 256;
            uint32_t* to = copy.get() + static_cast<size_t>(r) * width;
            for (int c = 0; c < reach; c++) to[c] = from[source(c - reach)];
            std::memcpy(to + reach, from, 256 * sizeof(uint32_t));
            for (int c = reach + 256; c < width; c++) to[c] = from[source(c - reach)];
        }
        for (int k = 0; k < 256 * count; k++) jumps[k] = steps[k].rowFloor * width + steps[k].colFloor;
    }
    // Sums up to 255 * 255 divided by n: sum * ceil(2^40 / n) >> 40 is the
    // exact quotient, as its error stays below 1 / n.
    const uint64_t reciprocal = ((1ull << 40) + n - 1) / n;
    auto quotient = [reciprocal](uint32_t sum) { return static_cast<uint32_t>((sum * reciprocal) >> 40); };
    const __m128i zero = _mm_setzero_si128();
#else
    auto quotient = [n](uint32_t sum) { return sum / n; };
#endif
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t angle = channelOf(angles[y * 256 + x], s);
#if TEXGEN_WIDE
            if (padded[angle]) {
                const int32_t* jump = jumps.get() + angle * static_cast<size_t>(count);
                const uint32_t* at = copy.get() + static_cast<size_t>(y + reach) * width + x + reach;
                __m128i sums = zero;
                int j = 0;
                for (; j + 2 <= count; j += 2) {
                    const __m128i two = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(at[jump[j]])),
                                                           _mm_cvtsi32_si128(static_cast<int>(at[jump[j + 1]])));
                    sums = _mm_add_epi16(sums, _mm_unpacklo_epi8(two, zero));
                }
                if (j < count)
                    sums = _mm_add_epi16(sums, _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(at[jump[j]])), zero));
                sums = _mm_add_epi16(sums, _mm_srli_si128(sums, 8));
                const uint32_t blue = static_cast<uint32_t>(_mm_extract_epi16(sums, 0));
                const uint32_t green = static_cast<uint32_t>(_mm_extract_epi16(sums, 1));
                const uint32_t red = static_cast<uint32_t>(_mm_extract_epi16(sums, 2));
                out[y * 256 + x] = rgb(quotient(red), quotient(green), quotient(blue));
                continue;
            }
#endif
            // Red and blue add up in two 16-bit halves: 255 samples of 255 fit.
            uint32_t redBlue = 0, green = 0;
            if (integerPath[angle]) {
                const SmearStep* st = steps.get() + angle * static_cast<size_t>(count);
                for (int j = 0; j < count; j++) {
                    int col = truncatedSum(x, st[j].colFloor, st[j].colCeil) & 255;
                    int row = truncatedSum(y, st[j].rowFloor, st[j].rowCeil) & 255;
                    uint32_t p = t[row * 256 + col];
                    redBlue += p & 0x00FF00FF;
                    green += (p >> 8) & 255;
                }
            } else {
                const double* o = offsets.get() + angle * perAngle;
                double fx = x, fy = y;
                for (int j = 0; j < count; j++) {
                    int col = static_cast<int>(fx + o[2 * j]) & 255;
                    int row = static_cast<int>(fy + o[2 * j + 1]) & 255;
                    uint32_t p = t[row * 256 + col];
                    redBlue += p & 0x00FF00FF;
                    green += (p >> 8) & 255;
                }
            }
            out[y * 256 + x] = rgb(quotient(redBlue >> 16), quotient(green), quotient(redBlue & 0xFFFF));
        }
    copyScratchInto(layer);
    Smooth(layer, 2);
}

// ---- Neighbourhood filters ----

void Smooth(int layer, int passes) {
    if (!prepare(layer)) return;
    for (int i = 0; i < passes; i++) smoothPass(layer);
}

void Emboss(int layer) {
    if (!prepare(layer)) return;
#if TEXGEN_WIDE
    {
        // The same sums with the channels in 16-bit lanes, four pixels at a
        // time; a column sum each side of the row copies the wrapped one, and
        // the byte packing's saturation is the clamp.
        const uint32_t* t = layerPixels(layer);
        uint32_t* out = scratchA();
        alignas(16) uint16_t columns[(256 + 4) * 4];   // pixels -2..257, four channels each
        uint16_t* column = columns + 2 * 4;
        const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(128), rgbOnly = _mm_set1_epi32(0x00FFFFFF);
        for (int y = 0; y < 256; y++) {
            const uint32_t* up = t + ((y - 1) & 255) * 256;
            const uint32_t* row = t + y * 256;
            const uint32_t* down = t + ((y + 1) & 255) * 256;
            for (int x = 0; x < 256; x += 4) {
                const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(up + x));
                const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
                const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(down + x));
                const __m128i low = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(u, zero), _mm_unpacklo_epi8(r, zero)),
                                                  _mm_unpacklo_epi8(d, zero));
                const __m128i high = _mm_add_epi16(
                    _mm_add_epi16(_mm_unpackhi_epi8(u, zero), _mm_unpackhi_epi8(r, zero)), _mm_unpackhi_epi8(d, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(column + 4 * x), low);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(column + 4 * x + 8), high);
            }
            std::memcpy(column - 4, column + 255 * 4, 8);
            std::memcpy(column + 256 * 4, column, 8);
            for (int x = 0; x < 256; x += 4) {
                auto difference = [&](int at) {
                    const __m128i right = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 4 * (at + 1)));
                    const __m128i left = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + 4 * (at - 1)));
                    return _mm_add_epi16(_mm_sub_epi16(right, left), bias);
                };
                const __m128i v = _mm_packus_epi16(difference(x), difference(x + 2));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + y * 256 + x), _mm_and_si128(v, rgbOnly));
            }
        }
        copyScratchInto(layer);
        return;
    }
#endif
    // Channels spread into 16-bit lanes of a 64-bit word: column sums over the
    // three rows, then right minus left, with a bias that keeps lanes positive.
    auto spread = [](uint32_t p) {
        return (static_cast<uint64_t>((p >> 16) & 255) << 32) | (static_cast<uint64_t>((p >> 8) & 255) << 16) |
               (p & 255);
    };
    const uint64_t bias = (1024ull << 32) | (1024ull << 16) | 1024ull;
    const uint32_t* t = layerPixels(layer);
    uint32_t* out = scratchA();
    uint64_t columns[256];
    for (int y = 0; y < 256; y++) {
        const uint32_t* up = t + ((y - 1) & 255) * 256;
        const uint32_t* row = t + y * 256;
        const uint32_t* down = t + ((y + 1) & 255) * 256;
        for (int x = 0; x < 256; x++) columns[x] = spread(up[x]) + spread(row[x]) + spread(down[x]);
        for (int x = 0; x < 256; x++) {
            uint64_t d = columns[(x + 1) & 255] + bias - columns[(x - 1) & 255];
            uint32_t value = 0;
            for (int lane = 0; lane < 3; lane++) {
                int v = static_cast<int>((d >> (16 * lane)) & 0xFFFF) - 1024 + 128;
                value |= static_cast<uint32_t>(clampInt(v, 0, 255)) << (8 * lane);
            }
            out[y * 256 + x] = value;
        }
    }
    copyScratchInto(layer);
}

void DiagonalDifference(int layer, int n) {
    if (!prepare(layer)) return;
    const uint32_t* t = layerPixels(layer);
    uint32_t* out = scratchA();
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i], q = t[(i + 257 * n) & 65535];
        uint32_t value = 0;
        for (int s = 0; s <= 16; s += 8) {
            int d = static_cast<int>(channelOf(q, s)) - static_cast<int>(channelOf(p, s));
            value |= static_cast<uint32_t>(d > 0 ? d : 0) << s;
        }
        out[i] = value;
    }
    copyScratchInto(layer);
}

// ---- Colour operators and combiners ----

void Contrast(int layer, int factor) {
    if (!prepare(layer)) return;
#if TEXGEN_WIDE
    if (factor >= 0 && factor <= 255) {
        // The table's formula in 16-bit lanes, four pixels at a time: the
        // products fit, and adding 31 to a negative one before the shift
        // truncates toward zero as the division does.
        uint32_t* t = layerPixels(layer);
        const __m128i zero = _mm_setzero_si128(), middle = _mm_set1_epi16(128), f = _mm_set1_epi16(static_cast<short>(factor));
        const __m128i lowest = _mm_set1_epi16(-127), highest = _mm_set1_epi16(127), round = _mm_set1_epi16(31);
        const __m128i rgbOnly = _mm_set1_epi32(0x00FFFFFF);
        auto contrast = [&](__m128i v) {
            const __m128i x = _mm_mullo_epi16(_mm_sub_epi16(v, middle), f);
            const __m128i q = _mm_srai_epi16(_mm_add_epi16(x, _mm_and_si128(_mm_srai_epi16(x, 15), round)), 5);
            return _mm_add_epi16(_mm_min_epi16(_mm_max_epi16(q, lowest), highest), middle);
        };
        for (int i = 0; i < IMAGE_PIXELS; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
            const __m128i v = _mm_packus_epi16(contrast(_mm_unpacklo_epi8(p, zero)), contrast(_mm_unpackhi_epi8(p, zero)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i), _mm_and_si128(v, rgbOnly));
        }
        return;
    }
#endif
    uint32_t table[256];
    for (int v = 0; v < 256; v++)
        table[v] = static_cast<uint32_t>(clampInt((v - 128) * factor / 32, -127, 127) + 128);
    mapChannels(layer, [&](uint32_t v) { return table[v]; });
}

void InvertBlue(int layer) {
    if (!prepare(layer)) return;
    uint32_t* t = layerPixels(layer);
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = (t[i] ^ 0xFF) & 0x00FFFFFF;
}

void Shade(int layer, int row) {
    if (!prepare(layer)) return;
    const uint8_t* table = layerBank.shadeTable[row & 255];
    mapChannels(layer, [&](uint32_t v) { return static_cast<uint32_t>(table[v]); });
}

void ShadeByChannel(int layer, int other, int ch) {
    if (!prepare(layer) || !validLayer(other) || !validChannel(ch)) return;
    uint32_t* t = layerPixels(layer);
    const uint32_t* o = layerPixels(other);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        const uint8_t* table = layerBank.shadeTable[channelOf(o[i], s)];
        uint32_t p = t[i];
        t[i] = rgb(table[(p >> 16) & 255], table[(p >> 8) & 255], table[p & 255]);
    }
}

void Mix(int layer, int other, int weight) {
    if (!prepare(layer) || !validLayer(other)) return;
    int k = (weight & 255) >> 1;
    const uint8_t* mine = layerBank.shadeTable[k];
    const uint8_t* theirs = layerBank.shadeTable[127 - k];
    combineChannels(layer, other, [&](uint32_t t, uint32_t o) { return (uint32_t(theirs[o]) + mine[t]) & 255; });
}

void Multiply(int layer, int other) {
    if (!prepare(layer) || !validLayer(other)) return;
    combineChannels(layer, other, [](uint32_t t, uint32_t o) { return (t * o) >> 8; });
}

void AddSaturate(int layer, int other) {
    if (!prepare(layer) || !validLayer(other)) return;
    combineChannels(layer, other, [](uint32_t t, uint32_t o) { return t + o > 255 ? 255u : t + o; });
}

void Lighten(int layer, int other) {
    if (!prepare(layer) || !validLayer(other)) return;
    combineChannels(layer, other, [](uint32_t t, uint32_t o) { return t > o ? t : o; });
}

void MaskedBlend(int layer, int other, int mask, int ch) {
    if (!prepare(layer) || !validLayer(other) || !validLayer(mask) || !validChannel(ch)) return;
    uint32_t* t = layerPixels(layer);
    const uint32_t* o = layerPixels(other);
    const uint32_t* m = layerPixels(mask);
    int s = channelShift(ch);
#if TEXGEN_WIDE
    {
        // Four pixels at a time in 16-bit lanes: t + floor((o - t) keep / 256)
        // is the high half of 2 (o - t) times 128 keep, both within 16 bits.
        const __m128i zero = _mm_setzero_si128(), byte = _mm_set1_epi32(255), rgbOnly = _mm_set1_epi32(0x00FFFFFF);
        const __m128i shift = _mm_cvtsi32_si128(s);
        for (int i = 0; i < IMAGE_PIXELS; i += 4) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
            const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(o + i));
            const __m128i mask = _mm_loadu_si128(reinterpret_cast<const __m128i*>(m + i));
            __m128i keep = _mm_slli_epi32(_mm_sub_epi32(byte, _mm_and_si128(_mm_srl_epi32(mask, shift), byte)), 7);
            keep = _mm_or_si128(keep, _mm_slli_epi32(keep, 16));
            auto blend = [](__m128i tv, __m128i ov, __m128i k) {
                return _mm_add_epi16(tv, _mm_mulhi_epi16(_mm_slli_epi16(_mm_sub_epi16(ov, tv), 1), k));
            };
            const __m128i low = blend(_mm_unpacklo_epi8(p, zero), _mm_unpacklo_epi8(q, zero), _mm_unpacklo_epi32(keep, keep));
            const __m128i high = blend(_mm_unpackhi_epi8(p, zero), _mm_unpackhi_epi8(q, zero), _mm_unpackhi_epi32(keep, keep));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(t + i), _mm_and_si128(_mm_packus_epi16(low, high), rgbOnly));
        }
        return;
    }
#endif
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        int keep = 255 - static_cast<int>(channelOf(m[i], s));
        uint32_t p = t[i], q = o[i], value = 0;
        for (int c = 0; c <= 16; c += 8) {
            int tv = static_cast<int>(channelOf(p, c)), ov = static_cast<int>(channelOf(q, c));
            // t + (o - t) * keep / 256 truncated: the numerator 256 t + (o - t) keep
            // is never negative, so the shift truncates exactly as the real
            // division would.
            value |= static_cast<uint32_t>((256 * tv + (ov - tv) * keep) >> 8) << c;
        }
        t[i] = value;
    }
}

void Colorize(int layer, int ch, int redFrom, int redTo, int greenFrom, int greenTo, int blueFrom, int blueTo) {
    if (!prepare(layer) || !validChannel(ch)) return;
    uint32_t palette[256];
    for (int i = 0; i < 256; i++) {
        uint32_t r = static_cast<uint32_t>(static_cast<int>(redFrom + (redTo - redFrom) * i / 256.0));
        uint32_t g = static_cast<uint32_t>(static_cast<int>(greenFrom + (greenTo - greenFrom) * i / 256.0));
        uint32_t b = static_cast<uint32_t>(static_cast<int>(blueFrom + (blueTo - blueFrom) * i / 256.0));
        palette[i] = rgb(r & 255, g & 255, b & 255);
    }
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = palette[channelOf(t[i], s)];
}

void CosineRemap(int layer, int ch, int frequency) {
    if (!prepare(layer) || !validChannel(ch)) return;
    uint32_t table[256];
    for (int v = 0; v < 256; v++)
        table[v] = static_cast<uint32_t>(
            static_cast<int>(127 - 127 * std::cos(v * frequency * 6.2831854820251465 / 256)));
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], s, table[channelOf(t[i], s)]);
}

void Levels(int layer, int ch, int low, int high) {
    if (!prepare(layer) || !validChannel(ch)) return;
    int step = high == low ? 1 : high - low;
    uint32_t table[256];
    for (int v = 0; v < 256; v++)
        table[v] = static_cast<uint32_t>(static_cast<int>(low + v * step / 256.0)) & 255;
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], s, table[channelOf(t[i], s)]);
}

Hsv rgbToHsv(float r, float g, float b) {
    float max = r > g ? r : g;
    if (b > max) max = b;
    float min = r < g ? r : g;
    if (b < min) min = b;
    Hsv out;
    out.v = max;
    out.s = max != 0.0f ? (max - min) / max : 0.0f;
    if (out.s == 0.0f) {
        out.h = -1.0f;
        return out;
    }
    float delta = max - min;
    float h;
    if (r == max)
        h = (g - b) / delta;
    else if (g == max)
        h = 2.0f + (b - r) / delta;
    else
        h = 4.0f + (r - g) / delta;
    h *= 60.0f;
    while (h < 0.0f) h += 360.0f;
    while (h >= 360.0f) h -= 360.0f;
    out.h = h;
    return out;
}

static inline uint32_t componentByte(float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 255.0f) return 255;
    return static_cast<uint32_t>(static_cast<int>(c));
}

uint32_t hsvToRgb(float h, float s, float v) {
    if (s == 0.0f || !std::isfinite(h)) {
        uint32_t c = componentByte(v);
        return rgb(c, c, c);
    }
    if (h < -1e6f || h > 1e6f) h = std::fmod(h, 360.0f);
    while (h < 0.0f) h += 360.0f;
    while (h >= 360.0f) h -= 360.0f;
    float h6 = static_cast<float>(h * 0.016666666666666666);
    int i = static_cast<int>(std::floor(h6));
    float f = h6 - static_cast<float>(i);
    float p = v * (1.0f - s);
    float q = v * (1.0f - s * f);
    float t = v * (1.0f - s * (1.0f - f));
    float r, g, b;
    switch (i) {
        case 1: r = q; g = v; b = p; break;
        case 2: r = p; g = v; b = t; break;
        case 3: r = p; g = q; b = v; break;
        case 4: r = t; g = p; b = v; break;
        case 5: r = v; g = p; b = q; break;
        default: r = v; g = t; b = p; break;   // 0, and 6 when rounding reaches a full turn
    }
    return rgb(componentByte(r), componentByte(g), componentByte(b));
}

void HueSaturation(int layer, int hueStep, int desaturation) {
    if (!prepare(layer)) return;
    uint32_t* t = layerPixels(layer);
    double saturationFactor = (255 - desaturation) * 0.00392156862745098;
    // Layers hold few distinct colours; a small cache of converted pixels
    // saves most of the conversions (bit 31 marks an empty slot).
    enum { CACHE_SLOTS = 4096 };
    std::unique_ptr<uint32_t[]> keys(new uint32_t[CACHE_SLOTS]), values(new uint32_t[CACHE_SLOTS]);
    for (int i = 0; i < CACHE_SLOTS; i++) keys[i] = 0x80000000u;
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i] & 0x00FFFFFF;
        uint32_t slot = ((p * 2654435761u) >> 20) & (CACHE_SLOTS - 1);
        if (keys[slot] == p) {
            t[i] = values[slot];
            continue;
        }
        Hsv hsv = rgbToHsv(static_cast<float>((p >> 16) & 255), static_cast<float>((p >> 8) & 255),
                           static_cast<float>(p & 255));
        hsv.h = static_cast<float>(hsv.h + hueStep * 1.40625);
        hsv.s = static_cast<float>(hsv.s * saturationFactor);
        uint32_t result = hsvToRgb(hsv.h, hsv.s, hsv.v);
        keys[slot] = p;
        values[slot] = result;
        t[i] = result;
    }
}

void ChannelToGrey(int layer, int ch) {
    if (!prepare(layer) || !validChannel(ch)) return;
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t v = channelOf(t[i], s);
        t[i] = rgb(v, v, v);
    }
}

// Both combiners below work pixel by pixel, so one pass that reads before it
// writes gives what collecting the moved channels first would.
void CopyChannel(int layer, int chT, int other, int chO) {
    if (!prepare(layer) || !validLayer(other) || !validChannel(chT) || !validChannel(chO)) return;
    const uint32_t* o = layerPixels(other);
    uint32_t* t = layerPixels(layer);
    int st = channelShift(chT), so = channelShift(chO);
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], st, channelOf(o[i], so));
}

void SwapChannels(int layer, int chT, int other, int chO) {
    if (!prepare(layer) || !validLayer(other) || !validChannel(chT) || !validChannel(chO)) return;
    uint32_t* t = layerPixels(layer);
    uint32_t* o = layerPixels(other);
    int st = channelShift(chT), so = channelShift(chO);
    if (layer == other && chT == chO) {
        for (int i = 0; i < IMAGE_PIXELS; i++) t[i] &= 0x00FFFFFF;
        return;
    }
    if (layer == other) {
        // The second write sees the first, as the two-layer loop would.
        for (int i = 0; i < IMAGE_PIXELS; i++) {
            uint32_t p = t[i];
            t[i] = withChannel(withChannel(p, st, channelOf(p, so)), so, channelOf(p, st));
        }
        return;
    }
    ELEMENTWISE
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t fromOther = channelOf(o[i], so), fromTarget = channelOf(t[i], st);
        t[i] = withChannel(t[i], st, fromOther);
        o[i] = withChannel(o[i], so, fromTarget);
    }
}
