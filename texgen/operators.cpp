// The operators of the texture programs. Each works on the layer bank.
#include <cmath>
#include <cstring>
#include <memory>
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

inline int32_t seedFromBytes(int b0, int b1, int b2, int b3) {
    return static_cast<int32_t>((static_cast<uint32_t>(b0 & 255) << 24) | (static_cast<uint32_t>(b1 & 255) << 16) |
                                (static_cast<uint32_t>(b2 & 255) << 8) | static_cast<uint32_t>(b3 & 255));
}

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
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i], q = o[i];
        t[i] = rgb(f((p >> 16) & 255, (q >> 16) & 255), f((p >> 8) & 255, (q >> 8) & 255), f(p & 255, q & 255));
    }
}

void smoothPass(int layer) {
    const uint32_t* t = layerPixels(layer);
    uint32_t* out = scratchA();
    for (int y = 0; y < 256; y++) {
        const uint32_t* row = t + y * 256;
        const uint32_t* up = t + ((y - 1) & 255) * 256;
        const uint32_t* down = t + ((y + 1) & 255) * 256;
        for (int x = 0; x < 256; x++) {
            uint32_t c = row[x], u = up[x], d = down[x], l = row[(x - 1) & 255], r = row[(x + 1) & 255];
            uint32_t value = 0;
            for (int s = 0; s <= 16; s += 8) {
                uint32_t sum = 4 * ((c >> s) & 255) + ((u >> s) & 255) + ((d >> s) & 255) + ((l >> s) & 255) +
                               ((r >> s) & 255);
                value |= (sum >> 3) << s;
            }
            out[y * 256 + x] = value;
        }
    }
    copyScratchInto(layer);
}

}  // namespace

// ---- Generators ----

void CubicNoise(int layer, int ch, int step, int b0, int b1, int b2, int b3) {
    if (!prepare(layer) || !validChannel(ch) || step == 0) return;
    layerBank.seed = seedFromBytes(b0, b1, b2, b3);
    std::unique_ptr<float[]> noise(new float[IMAGE_PIXELS]);
    cubicNoise(noise.get(), step, 255.0f);
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        // Guard the conversion: values far outside a byte only clamp.
        float v = noise[i];
        int value = v >= 255.0f ? 255 : (v > 0.0f ? static_cast<int>(v) : 0);
        t[i] = withChannel(t[i], s, static_cast<uint32_t>(value));
    }
}

void FractalNoise(int layer, int ch, int b0, int b1, int b2, int b3) {
    if (!prepare(layer) || !validChannel(ch)) return;
    layerBank.seed = seedFromBytes(b0, b1, b2, b3);
    int32_t* sum = reinterpret_cast<int32_t*>(scratchA());
    int32_t* octave = reinterpret_cast<int32_t*>(scratchB());
    cosineNoise(sum, 128, 128.0f);
    for (int step = 64; step >= 1; step >>= 1) {
        cosineNoise(octave, step, static_cast<float>(step));
        for (int i = 0; i < IMAGE_PIXELS; i++)
            sum[i] = static_cast<int32_t>(static_cast<uint32_t>(sum[i]) + static_cast<uint32_t>(octave[i]));
    }
    uint32_t* t = layerPixels(layer);
    int s = channelShift(ch);
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
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], s, a[i] & 255);
}

void Cells(int layer, int ch, int count, int scale, int b0, int b1, int b2, int b3) {
    if (!prepare(layer) || !validChannel(ch)) return;
    // The cone is stored with every row twice over, so that placing it at any
    // column is one straight run of 256 byte minimums.
    std::unique_ptr<uint8_t[]> cone(new uint8_t[256 * 512]);
    for (int r = 0; r < 256; r++)
        for (int c = 0; c < 256; c++) {
            double d = std::sqrt(static_cast<double>((c - 128) * (c - 128) + (r - 128) * (r - 128))) * scale * 0.0390625;
            uint8_t v = static_cast<uint8_t>(static_cast<int>(d < 255.0 ? d : 255.0));
            cone[r * 512 + c] = v;
            cone[r * 512 + 256 + c] = v;
        }
    layerBank.seed = seedFromBytes(b0, b1, b2, b3);
    std::unique_ptr<uint8_t[]> nearest(new uint8_t[IMAGE_PIXELS]);
    std::memset(nearest.get(), 255, IMAGE_PIXELS);
    for (int k = 0; k < count; k++) {
        int px = noiseHash(2 * k) & 255;
        int py = noiseHash(2 * k + 1) & 255;
        // Destination column d takes cone column (d - px + 128) & 255.
        int offset = (128 - px) & 255;
        for (int r = 0; r < 256; r++) {
            uint8_t* dst = nearest.get() + ((py - 128 + r) & 255) * 256;
            const uint8_t* src = cone.get() + r * 512 + offset;
            for (int d = 0; d < 256; d++) dst[d] = src[d] < dst[d] ? src[d] : dst[d];
        }
    }
    uint32_t* t = layerPixels(layer);
    uint32_t* a = scratchA();
    int s = channelShift(ch);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        a[i] = nearest[i];
        t[i] = withChannel(t[i], s, nearest[i]);
    }
}

void RadialGradient(int layer, int mode, int ch, int size) {
    if (!prepare(layer)) return;
    if (mode != 0 && mode != 1) return;
    if (mode == 1 && !validChannel(ch)) return;
    double factor = mode == 0 ? 1.0 : size / 256.0 + 0.8;
    uint32_t* t = layerPixels(layer);
    int s = mode == 1 ? channelShift(ch) : 0;
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            double d = std::sqrt(static_cast<double>((x - 128) * (x - 128) + (y - 128) * (y - 128)));
            double g = 255 - 2 * factor * d;
            uint32_t v = static_cast<uint32_t>(g >= 255.0 ? 255 : (g > 0.0 ? static_cast<int>(g) : 0));
            uint32_t& p = t[y * 256 + x];
            p = mode == 0 ? rgb(v, v, v) : withChannel(p, s, v);
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

void SineWarp(int layer, int a1, int a2, int a3, int a4, int a5, int a6) {
    if (!prepare(layer)) return;
    float shiftY[256], shiftX[256];
    for (int i = 0; i < 256; i++) {
        shiftY[i] = static_cast<float>(a4 * std::cos((i + a6) * a2 * K));   // by column
        shiftX[i] = static_cast<float>(a3 * std::sin((i + a5) * a1 * K));   // by row
    }
    const Image* t = layerBank.layers[layer].get();
    uint32_t* a = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++)
            a[y * 256 + x] = sampleImage(t, static_cast<float>(x) + shiftX[y], static_cast<float>(y) + shiftY[x]);
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
    const Image* t = layerBank.layers[layer].get();
    uint32_t* a = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            double dx = x - 127.5, dy = y - 127.5;
            double r = std::sqrt(dx * dx + dy * dy);
            double theta = std::atan2(dx, dy);
            double w = r <= 128 ? 128 * std::cos((128 - r) * k * 0.012271846644580364) + 128 : 0.0;
            double phi = (theta * 40.74366429772945 + sign * w) * K;
            a[y * 256 + x] = sampleImage(t, static_cast<float>(r * std::sin(phi) + 128),
                                         static_cast<float>(r * std::cos(phi) + 128));
        }
    copyScratchInto(layer);
}

void Displace(int layer, int srcA, int chA, int ampA, int srcB, int chB, int ampB) {
    if (!prepare(layer) || !validLayer(srcA) || !validLayer(srcB) || !validChannel(chA) || !validChannel(chB)) return;
    const Image* t = layerBank.layers[layer].get();
    const uint32_t* la = layerPixels(srcA);
    const uint32_t* lb = layerPixels(srcB);
    int sa = channelShift(chA), sb = channelShift(chB);
    uint32_t* out = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int i = y * 256 + x;
            int a = static_cast<int>(channelOf(la[i], sa)), b = static_cast<int>(channelOf(lb[i], sb));
            // a * amp / 256 is exact in single precision.
            float u = static_cast<float>(x) + static_cast<float>(a * ampA) / 256.0f;
            float v = static_cast<float>(y) + static_cast<float>(b * ampB) / 256.0f;
            out[i] = sampleImage(t, u, v);
        }
    copyScratchInto(layer);
}

void Smear(int layer, int angleLayer, int ch, int count) {
    if (!prepare(layer) || !validLayer(angleLayer) || !validChannel(ch)) return;
    if (count <= 0) return;   // nothing to average: the layer stays as it is
    double sines[256], cosines[256];
    for (int i = 0; i < 256; i++) {
        sines[i] = std::sin(i * K);
        cosines[i] = std::cos(i * K);
    }
    const uint32_t* t = layerPixels(layer);
    const uint32_t* angles = layerPixels(angleLayer);
    int s = channelShift(ch);
    uint32_t* out = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t angle = channelOf(angles[y * 256 + x], s);
            double sn = sines[angle], cs = cosines[angle];
            // Integer sums are exact, as float sums of bytes would be.
            uint32_t sr = 0, sg = 0, sbl = 0;
            for (int j = 0; j < count; j++) {
                double d = 2.0 * j;
                int col = static_cast<int>(x + d * sn) & 255;
                int row = static_cast<int>(y + d * cs) & 255;
                uint32_t p = t[row * 256 + col];
                sr += (p >> 16) & 255;
                sg += (p >> 8) & 255;
                sbl += p & 255;
            }
            uint32_t n = static_cast<uint32_t>(count);
            out[y * 256 + x] = rgb(sr / n, sg / n, sbl / n);
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
    const uint32_t* t = layerPixels(layer);
    uint32_t* out = scratchA();
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            int right = (x + 1) & 255, left = (x - 1) & 255;
            uint32_t value = 0;
            for (int s = 0; s <= 16; s += 8) {
                int sum = 128;
                for (int dy = -1; dy <= 1; dy++) {
                    const uint32_t* row = t + ((y + dy) & 255) * 256;
                    sum += static_cast<int>(channelOf(row[right], s)) - static_cast<int>(channelOf(row[left], s));
                }
                value |= static_cast<uint32_t>(clampInt(sum, 0, 255)) << s;
            }
            out[y * 256 + x] = value;
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
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        int keep = 255 - static_cast<int>(channelOf(m[i], s));
        uint32_t p = t[i], q = o[i], value = 0;
        for (int c = 0; c <= 16; c += 8) {
            int tv = static_cast<int>(channelOf(p, c)), ov = static_cast<int>(channelOf(q, c));
            // Real division: the fraction counts before the truncation.
            value |= static_cast<uint32_t>(static_cast<int>(tv + (ov - tv) * keep / 256.0)) << c;
        }
        t[i] = value;
    }
}

void Colorize(int layer, int ch, int r0, int r1, int g0, int g1, int b0, int b1) {
    if (!prepare(layer) || !validChannel(ch)) return;
    uint32_t palette[256];
    for (int i = 0; i < 256; i++) {
        uint32_t r = static_cast<uint32_t>(static_cast<int>(r0 + (r1 - r0) * i / 256.0));
        uint32_t g = static_cast<uint32_t>(static_cast<int>(g0 + (g1 - g0) * i / 256.0));
        uint32_t b = static_cast<uint32_t>(static_cast<int>(b0 + (b1 - b0) * i / 256.0));
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
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t p = t[i];
        Hsv hsv = rgbToHsv(static_cast<float>((p >> 16) & 255), static_cast<float>((p >> 8) & 255),
                           static_cast<float>(p & 255));
        hsv.h = static_cast<float>(hsv.h + hueStep * 1.40625);
        hsv.s = static_cast<float>(hsv.s * saturationFactor);
        t[i] = hsvToRgb(hsv.h, hsv.s, hsv.v);
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

void CopyChannel(int layer, int chT, int other, int chO) {
    if (!prepare(layer) || !validLayer(other) || !validChannel(chT) || !validChannel(chO)) return;
    const uint32_t* o = layerPixels(other);
    uint32_t* a = scratchA();
    int st = channelShift(chT), so = channelShift(chO);
    for (int i = 0; i < IMAGE_PIXELS; i++) a[i] = channelOf(o[i], so) << st;
    uint32_t* t = layerPixels(layer);
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], st, a[i] >> st);
}

void SwapChannels(int layer, int chT, int other, int chO) {
    if (!prepare(layer) || !validLayer(other) || !validChannel(chT) || !validChannel(chO)) return;
    uint32_t* t = layerPixels(layer);
    uint32_t* o = layerPixels(other);
    uint32_t* a = scratchA();
    uint32_t* b = scratchB();
    int st = channelShift(chT), so = channelShift(chO);
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        a[i] = channelOf(o[i], so) << st;
        b[i] = channelOf(t[i], st) << so;
    }
    for (int i = 0; i < IMAGE_PIXELS; i++) t[i] = withChannel(t[i], st, a[i] >> st);
    for (int i = 0; i < IMAGE_PIXELS; i++) o[i] = withChannel(o[i], so, b[i] >> so);
}
