#include <gtest/gtest.h>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unistd.h>
#include <memory>
#include <vector>
#include "texgen/texgen.h"

namespace {

uint32_t* L(int n) { return layerBank.layers[n]->pixels; }

void fill(int layer, uint32_t value) {
    for (uint32_t& p : layerBank.layers[layer]->pixels) p = value;
}

// Deterministic, not smooth: neighbouring pixels differ in every channel.
void fillPattern(int layer, uint32_t salt) {
    for (int i = 0; i < IMAGE_PIXELS; i++) {
        uint32_t h = (static_cast<uint32_t>(i) + salt) * 2654435761u;
        L(layer)[i] = (h ^ (h >> 13)) & 0x00FFFFFF;
    }
}

uint64_t fingerprint(const Image& image) {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t p : image.pixels) {
        h ^= p;
        h *= 1099511628211ull;
    }
    return h;
}

class Bank : public ::testing::Test {
protected:
    void SetUp() override {
        allocateWorkBuffers();
        for (int i = 0; i < 4; i++) fill(i, 0);
        layerBank.fastSampling = 0;
        layerBank.cacheTextures = 0;
    }
};

std::vector<float> fractions;
void record(float f) { fractions.push_back(f); }

std::vector<uint8_t> program(std::initializer_list<std::vector<uint8_t>> instructions, int count = -1) {
    std::vector<uint8_t> bytes = {'A', 'T', 'G', 0};
    int n = 0;
    for (const auto& in : instructions) {
        bytes.insert(bytes.end(), in.begin(), in.end());
        n++;
    }
    bytes[3] = static_cast<uint8_t>(count >= 0 ? count : n);
    return bytes;
}

}  // namespace

TEST(NoiseHash, SeedZeroSequence) {
    layerBank.seed = 0;
    EXPECT_EQ(noiseHash(0), 111361);
    EXPECT_EQ(noiseHash(1), 106546);
    EXPECT_EQ(noiseHash(2), 61368);
    EXPECT_EQ(noiseHash(3), -64535);
    EXPECT_EQ(noiseHash(3) & 255, 233);
}

TEST(CubicInterpolate, EndsAndFraction) {
    EXPECT_EQ(cubicInterpolate(3.0f, 7.25f, 1.0f, 9.0f, 0, 128), 7.25f);
    // Collinear points give a straight line.
    EXPECT_FLOAT_EQ(cubicInterpolate(0.0f, 10.0f, 20.0f, 30.0f, 64, 128), 15.0f);
}

TEST_F(Bank, ShadeTableIdentities) {
    for (int v = 0; v < 256; v++) {
        EXPECT_EQ(layerBank.shadeTable[0][v], 0);
        EXPECT_EQ(layerBank.shadeTable[127][v], v);
        EXPECT_EQ(layerBank.shadeTable[128][v], v);
        EXPECT_EQ(layerBank.shadeTable[255][v], 255);
    }
    EXPECT_EQ(layerBank.shadeTable[64][255], 64 * 255 / 127);
    EXPECT_EQ(layerBank.shadeTable[200][0], static_cast<int>(255 - (1 - 72 / 127.0) * 255));
}

TEST_F(Bank, NoiseImages) {
    // Step 1: no interpolation, lattice values numbered row by row.
    std::vector<float> f(IMAGE_PIXELS);
    layerBank.seed = 12345;
    cubicNoise(f.data(), 1, 255.0f);
    for (int i : {0, 1, 255, 256, 40000, 65535})
        EXPECT_EQ(f[i], static_cast<float>(noiseHash(i) & 255) * (255.0f / 256.0f)) << i;

    // Step 128: lattice points keep their values, and the image wraps seamlessly.
    cubicNoise(f.data(), 128, 255.0f);
    EXPECT_EQ(f[128], static_cast<float>(noiseHash(1) & 255) * (255.0f / 256.0f));
    EXPECT_EQ(f[128 * 256], static_cast<float>(noiseHash(2) & 255) * (255.0f / 256.0f));

    std::vector<int32_t> c(IMAGE_PIXELS);
    cosineNoise(c.data(), 128, 128.0f);
    EXPECT_EQ(c[0], (noiseHash(0) & 255) / 2 << 16);
    EXPECT_EQ(c[128 * 256 + 128], (noiseHash(3) & 255) / 2 << 16);
    EXPECT_EQ(layerBank.cosineWeights[0], 0);
    EXPECT_EQ(layerBank.cosineWeights[64], 128);
    EXPECT_LE(layerBank.cosineWeights[127], 255);
    // Between two lattice points on a lattice row the value stays between them.
    for (int x = 1; x < 128; x++) {
        EXPECT_GE(c[x], std::min(c[0], c[128]));
        EXPECT_LE(c[x], std::max(c[0], c[128]));
    }
}

TEST_F(Bank, Samplers) {
    fillPattern(0, 7);
    const Image* im = layerBank.layers[0].get();
    for (int y : {0, 17, 255})
        for (int x : {0, 100, 255}) {
            EXPECT_EQ(sampleBilinear(im, static_cast<float>(x), static_cast<float>(y)), im->pixels[y * 256 + x]);
            EXPECT_EQ(sampleBilinear(im, x + 256.0f, y - 512.0f), im->pixels[y * 256 + x]);
        }
    EXPECT_EQ(sampleBilinear(im, 256.0f, 256.0f), im->pixels[0]);

    // u = -0.5 blends column 255 and column 0 half and half.
    L(0)[5 * 256 + 255] = 0x00102030;
    L(0)[5 * 256 + 0] = 0x00304050;
    EXPECT_EQ(sampleBilinear(im, -0.5f, 5.0f), 0x00203040u);

    // The fixed-point sampler darkens a constant image slightly.
    fill(0, 0x00FFFFFF);
    for (float u : {0.0f, 3.25f, 100.5f, -7.75f, 255.9f}) {
        uint32_t p = sampleBilinearFixed(im, u, u * 0.5f);
        for (int s = 0; s <= 16; s += 8) {
            EXPECT_GE((p >> s) & 255, 251u) << u;
            EXPECT_LE((p >> s) & 255, 253u) << u;
        }
        EXPECT_EQ(p >> 24, 0u);
    }
    layerBank.fastSampling = 1;
    EXPECT_EQ(sampleImage(im, 1.0f, 1.0f), sampleBilinearFixed(im, 1.0f, 1.0f));
    layerBank.fastSampling = 0;
    // Non-finite coordinates never hang or read outside the image.
    EXPECT_EQ(sampleBilinear(im, std::numeric_limits<float>::quiet_NaN(), 1e30f) >> 24, 0u);
    EXPECT_EQ(sampleBilinearFixed(im, std::numeric_limits<float>::infinity(), -1e30f) >> 24, 0u);
}

// The float sampler written out per channel, as a reference for the
// three-channels-at-once form.
uint32_t referenceBilinear(const Image* im, float u, float v) {
    while (u < 0) u += 256;
    while (u >= 256) u -= 256;
    while (v < 0) v += 256;
    while (v >= 256) v -= 256;
    int iu = static_cast<int>(std::floor(u)), iv = static_cast<int>(std::floor(v));
    float fx = u - iu, fy = v - iv;
    uint32_t out = 0;
    for (int s = 0; s <= 16; s += 8) {
        auto c = [&](int x, int y) { return static_cast<float>((im->pixels[(y & 255) * 256 + (x & 255)] >> s) & 255); };
        float top = c(iu, iv) + (c(iu + 1, iv) - c(iu, iv)) * fx;
        float bottom = c(iu, iv + 1) + (c(iu + 1, iv + 1) - c(iu, iv + 1)) * fx;
        out |= static_cast<uint32_t>(static_cast<int>(top + (bottom - top) * fy)) << s;
    }
    return out;
}

TEST_F(Bank, SamplerMatchesReference) {
    fillPattern(0, 99);
    const Image* im = layerBank.layers[0].get();
    uint32_t state = 1;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(state >> 8) % 200000) / 256.0f - 300.0f;
    };
    for (int i = 0; i < 20000; i++) {
        float u = next(), v = next();
        ASSERT_EQ(sampleBilinear(im, u, v), referenceBilinear(im, u, v)) << u << "," << v;
    }
    // Fixed point at whole 1/256ths: weights 255 - f, rounding ties to even.
    fill(0, 0);
    L(0)[0] = 0x00FFFFFF;
    EXPECT_EQ(sampleBilinearFixed(im, 0.0f, 0.0f), 0x00FDFDFDu);   // ((255*255)>>8)*255 >> 8 = 253
    EXPECT_EQ(sampleBilinearFixed(im, 1.0f / 512, 0.0f), sampleBilinearFixed(im, 0.0f, 0.0f));   // 0.5 -> 0
    EXPECT_EQ(sampleBilinearFixed(im, 3.0f / 512, 0.0f), sampleBilinearFixed(im, 2.0f / 256, 0.0f));   // 1.5 -> 2
    EXPECT_EQ(sampleBilinearFixed(im, -1.0f, 0.0f), 0u);   // column 255: fu = 0 weighs 255 on column 255
    // -1/256 wraps through the two's complement: column 255 with fu = 255.
    EXPECT_EQ(sampleBilinearFixed(im, -1.0f / 256, 0.0f), 0x00FDFDFDu);
}

TEST_F(Bank, Generators) {
    // Radial gradient, mode 0: a grey cone.
    RadialGradient(0, 0, 7, 0);
    EXPECT_EQ(L(0)[128 * 256 + 128], 0x00FFFFFFu);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            uint32_t p = L(0)[y * 256 + x];
            EXPECT_EQ(p, (p & 255) * 0x010101u);
            if ((x - 128) * (x - 128) + (y - 128) * (y - 128) > 127 * 127) {
                EXPECT_EQ(p, 0u) << x << "," << y;
            }
        }
    // Mode 1 writes one channel; other modes change nothing.
    fill(1, 0x00123456);
    RadialGradient(1, 1, 1, 0);
    EXPECT_EQ(L(1)[0], 0x00120056u);
    EXPECT_EQ(L(1)[128 * 256 + 128], 0x0012FF56u);
    fill(1, 0x00123456);
    RadialGradient(1, 2, 1, 0);
    EXPECT_EQ(L(1)[999], 0x00123456u);

    // Cells: no points leaves 255; more points are a superset of fewer.
    fill(2, 0x00111111);
    Cells(2, 1, 0, 82, 1, 2, 3, 4);
    for (uint32_t p : layerBank.layers[2]->pixels) ASSERT_EQ(p, 0x0011FF11u);
    Cells(2, 0, 5, 82, 1, 2, 3, 4);
    Cells(3, 0, 12, 82, 1, 2, 3, 4);
    for (int i = 0; i < IMAGE_PIXELS; i++) ASSERT_LE(L(3)[i] >> 16, L(2)[i] >> 16);
    for (int k = 0; k < 12; k++) {
        int px = noiseHash(2 * k) & 255, py = noiseHash(2 * k + 1) & 255;
        EXPECT_EQ(L(3)[py * 256 + px] >> 16, 0u);
    }

    // CubicNoise with step 0 touches neither the layer nor the seed.
    fill(0, 0x00ABCDEF);
    layerBank.seed = 777;
    CubicNoise(0, 2, 0, 9, 9, 9, 9);
    EXPECT_EQ(L(0)[1234], 0x00ABCDEFu);
    EXPECT_EQ(layerBank.seed, 777);
    CubicNoise(0, 2, 64, 9, 9, 9, 9);
    EXPECT_EQ(L(0)[1234] & 0x00FFFF00, 0x00ABCD00u);
    EXPECT_EQ(layerBank.seed, 0x09090909);

    // Bitmap: least significant bit first, 32 bytes per row.
    std::vector<uint8_t> bits(8192, 0);
    bits[0] = 0x02;          // pixel (1, 0)
    bits[32 + 31] = 0x80;    // pixel (255, 1)
    Bitmap(1, 0x000000AA, 0x00BB0000, bits.data());
    EXPECT_EQ(L(1)[0], 0x000000AAu);
    EXPECT_EQ(L(1)[1], 0x00BB0000u);
    EXPECT_EQ(L(1)[256 + 255], 0x00BB0000u);
    EXPECT_EQ(L(1)[256 + 254], 0x000000AAu);

    Clear(1);
    for (uint32_t p : layerBank.layers[1]->pixels) ASSERT_EQ(p, 0u);

    // Sine plasma values lie in 1..253.
    SinePlasma(1, 3, 5, 10, 20, 2);
    for (uint32_t p : layerBank.layers[1]->pixels) {
        ASSERT_EQ(p & 0x00FFFF00, 0u);
        ASSERT_GE(p, 1u);
        ASSERT_LE(p, 253u);
    }
}

TEST_F(Bank, ColourOperators) {
    fillPattern(0, 1);
    Image before = *layerBank.layers[0];
    Contrast(0, 32);
    for (int i = 0; i < IMAGE_PIXELS; i++)
        for (int s = 0; s <= 16; s += 8) {
            uint32_t v = (before.pixels[i] >> s) & 255;
            ASSERT_EQ((L(0)[i] >> s) & 255, v == 0 ? 1u : v);
        }
    Contrast(0, 0);
    for (uint32_t p : layerBank.layers[0]->pixels) ASSERT_EQ(p, 0x00808080u);

    // Shade by a source of 127 or 128 leaves the target as it was.
    fillPattern(0, 2);
    before = *layerBank.layers[0];
    fill(1, 0x007F8000);
    ShadeByChannel(0, 1, 0);
    ShadeByChannel(0, 1, 1);
    EXPECT_EQ(std::memcmp(L(0), before.pixels, sizeof before), 0);
    ShadeByChannel(0, 1, 2);   // 0: black
    for (uint32_t p : layerBank.layers[0]->pixels) ASSERT_EQ(p, 0u);

    // Hue and saturation leave greys alone.
    for (int i = 0; i < IMAGE_PIXELS; i++) L(2)[i] = (i & 255) * 0x010101u;
    HueSaturation(2, 208, 0);
    HueSaturation(2, 36, 233);
    for (int i = 0; i < IMAGE_PIXELS; i++) ASSERT_EQ(L(2)[i], (i & 255) * 0x010101u);
    // A full desaturation turns colours grey at their brightest channel.
    fill(2, 0x00FF4010);
    HueSaturation(2, 0, 255);
    EXPECT_EQ(L(2)[0], 0x00FFFFFFu);
    // Hue step 0 round-trips pure colours.
    fill(2, 0x0000FF00);
    HueSaturation(2, 0, 0);
    EXPECT_EQ(L(2)[0], 0x0000FF00u);
    // 85.33 steps of 1.40625 degrees: 120 degrees turns red towards green.
    fill(2, 0x00FF0000);
    HueSaturation(2, 256 / 3 + 1, 0);
    EXPECT_GT((L(2)[0] >> 8) & 255, 200u);

    // Levels with low = high uses step 1.
    fillPattern(3, 3);
    Levels(3, 0, 40, 40);
    for (uint32_t p : layerBank.layers[3]->pixels) ASSERT_EQ(p >> 16, 40u);
    Levels(3, 1, 200, 100);
    for (uint32_t p : layerBank.layers[3]->pixels) {
        ASSERT_LE((p >> 8) & 255, 200u);
        ASSERT_GE((p >> 8) & 255, 100u);
    }

    // Colorize: the top entry stops short of the end colour.
    for (int i = 0; i < 256; i++) L(1)[i] = static_cast<uint32_t>(i);
    Colorize(1, 2, 0, 255, 255, 0, 10, 10);
    EXPECT_EQ(L(1)[0], 0x0000FF0Au);
    EXPECT_EQ(L(1)[255], 0x00FE000Au);   // 0 + 255*255/256, 255 - 255*255/256 = 0.996 -> 0
    EXPECT_EQ(L(1)[128], 0x007F7F0Au);

    // Cosine remap: 0 stays 0; half a period lands just past pi (the
    // single-precision one), so the truncation gives 253.
    for (int i = 0; i < 256; i++) L(1)[i] = static_cast<uint32_t>(i) << 8;
    CosineRemap(1, 1, 1);
    EXPECT_EQ(L(1)[0], 0u);
    EXPECT_EQ(L(1)[128], 253u << 8);
    EXPECT_EQ(L(1)[64], 127u << 8);

    fill(1, 0x00123456);
    InvertBlue(1);
    EXPECT_EQ(L(1)[5], 0x001234A9u);
    ChannelToGrey(1, 1);
    EXPECT_EQ(L(1)[5], 0x00343434u);
    Shade(1, 0);
    EXPECT_EQ(L(1)[5], 0u);
}

TEST_F(Bank, Combiners) {
    fillPattern(0, 4);
    fillPattern(1, 5);
    Image t = *layerBank.layers[0], o = *layerBank.layers[1];

    // Swapping a channel with itself changes nothing; three swaps exchange layers.
    for (int ch = 0; ch < 3; ch++) SwapChannels(0, ch, 0, ch);
    EXPECT_EQ(std::memcmp(L(0), t.pixels, sizeof t), 0);
    for (int ch = 0; ch < 3; ch++) SwapChannels(0, ch, 1, ch);
    EXPECT_EQ(std::memcmp(L(0), o.pixels, sizeof t), 0);
    EXPECT_EQ(std::memcmp(L(1), t.pixels, sizeof t), 0);
    fill(2, 0x00112233);
    SwapChannels(2, 0, 2, 2);
    EXPECT_EQ(L(2)[9], 0x00332211u);

    fill(2, 0x00112233);
    fill(3, 0x00445566);
    CopyChannel(2, 1, 3, 2);
    EXPECT_EQ(L(2)[9], 0x00116633u);

    // Mix: weight 0 gives the other layer, 254 and 255 the target.
    *layerBank.layers[0] = t;
    *layerBank.layers[1] = o;
    Mix(0, 1, 0);
    EXPECT_EQ(std::memcmp(L(0), o.pixels, sizeof t), 0);
    *layerBank.layers[0] = t;
    Mix(0, 1, 254);
    EXPECT_EQ(std::memcmp(L(0), t.pixels, sizeof t), 0);

    fill(2, 0x0080FF10);
    fill(3, 0x00FF80F8);
    Multiply(2, 3);
    EXPECT_EQ(L(2)[0], 0x007F7F0Fu);
    fill(2, 0x0080FF10);
    AddSaturate(2, 3);
    EXPECT_EQ(L(2)[0], 0x00FFFFFFu);
    fill(2, 0x0080FF10);
    Lighten(2, 3);
    EXPECT_EQ(L(2)[0], 0x00FFFFF8u);

    // Masked blend: mask 255 keeps T, mask 0 moves it 255/256 of the way,
    // and the fraction counts before truncation when O is darker.
    fill(2, 0x00C80064);
    fill(3, 0x0000FF64);
    fill(1, 0x00FF0000);
    MaskedBlend(2, 3, 1, 0);
    EXPECT_EQ(L(2)[0], 0x00C80064u);
    MaskedBlend(2, 3, 1, 1);
    EXPECT_EQ(L(2)[0], 0x0000FE64u);   // 200 - 199.2 = 0.78 -> 0, 0 + 254.0 -> 254
}

TEST_F(Bank, Filters) {
    // Smooth and Emboss of a constant image.
    fill(0, 0x00406080);
    Smooth(0, 3);
    for (uint32_t p : layerBank.layers[0]->pixels) ASSERT_EQ(p, 0x00406080u);
    Emboss(0);
    for (uint32_t p : layerBank.layers[0]->pixels) ASSERT_EQ(p, 0x00808080u);

    // Smooth with wrap-around neighbours.
    fill(1, 0);
    L(1)[0] = 0x00800000;
    Smooth(1, 1);
    EXPECT_EQ(L(1)[0], 0x00400000u);
    EXPECT_EQ(L(1)[255], 0x00100000u);
    EXPECT_EQ(L(1)[255 * 256], 0x00100000u);
    EXPECT_EQ(L(1)[257], 0u);

    // Emboss: horizontal gradient over three rows.
    fill(1, 0);
    L(1)[10 * 256 + 0] = 0x00000010;
    Emboss(1);
    EXPECT_EQ(L(1)[10 * 256 + 255] & 255, 0x90u);
    EXPECT_EQ(L(1)[9 * 256 + 255] & 255, 0x90u);
    EXPECT_EQ(L(1)[11 * 256 + 1] & 255, 0x70u);
    EXPECT_EQ(L(1)[12 * 256 + 1] & 255, 0x80u);

    // Diagonal difference on the linear index: a column overflow carries.
    fill(2, 0x00101010);
    L(2)[2 * 256 + 0] = 0x00FF0810;   // i + 257 from (255, 0)
    DiagonalDifference(2, 1);
    EXPECT_EQ(L(2)[255], 0x00EF0000u);
    EXPECT_EQ(L(2)[2 * 256], 0x00000800u);

    // Scroll by whole pixels with wrap-around.
    fillPattern(3, 8);
    Image s = *layerBank.layers[3];
    Scroll(3, 3, 250);
    EXPECT_EQ(L(3)[0], s.pixels[250 * 256 + 3]);
    EXPECT_EQ(L(3)[10 * 256 + 254], s.pixels[4 * 256 + 1]);

    // Displace by zero amplitude and SineWarp by zero amplitude are identities.
    *layerBank.layers[3] = s;
    Displace(3, 3, 0, 0, 3, 1, 0);
    SineWarp(3, 9, 9, 0, 0, 1, 1);
    EXPECT_EQ(std::memcmp(L(3), s.pixels, sizeof s), 0);
    // Displace reads its sources before writing, so T may be its own source.
    fill(0, 0x00800000);
    *layerBank.layers[3] = s;
    Displace(3, 0, 0, 2, 3, 0, 0);   // 128 * 2 / 256: one column on
    EXPECT_EQ(L(3)[7 * 256 + 9], s.pixels[7 * 256 + 10]);
    EXPECT_EQ(L(3)[7 * 256 + 255], s.pixels[7 * 256 + 0]);
    *layerBank.layers[0] = s;
    Displace(0, 0, 2, 0, 0, 1, 0);   // target as its own source, amplitude 0
    EXPECT_EQ(std::memcmp(L(0), s.pixels, sizeof s), 0);

    // Twirl keeps a constant image; beyond r = 128 it only shifts by half a
    // pixel (the centre is 127.5, the sample is placed about 128).
    fill(1, 0x00345678);
    Twirl(1, 200);
    for (uint32_t p : layerBank.layers[1]->pixels) ASSERT_EQ(p, 0x00345678u);
    fillPattern(1, 9);
    s = *layerBank.layers[1];
    Twirl(1, 7);
    uint32_t corner = sampleBilinear(&s, 0.5f, 0.5f);
    for (int sh = 0; sh <= 16; sh += 8)
        EXPECT_NEAR(static_cast<int>((L(1)[0] >> sh) & 255), static_cast<int>((corner >> sh) & 255), 1);

    // Smear of a constant image stays constant; count 0 changes nothing.
    fill(2, 0x00305070);
    fillPattern(1, 10);
    Smear(2, 1, 1, 16);
    for (uint32_t p : layerBank.layers[2]->pixels) ASSERT_EQ(p, 0x00305070u);
    fillPattern(2, 11);
    s = *layerBank.layers[2];
    Smear(2, 1, 1, 0);
    EXPECT_EQ(std::memcmp(L(2), s.pixels, sizeof s), 0);
    // Angle 0 walks down the column: rows y, y+2, ... (wrapped), then two smooth passes.
    fill(1, 0);
    fill(2, 0);
    for (int x = 0; x < 256; x++) L(2)[4 * 256 + x] = 0x00000080;
    Smear(2, 1, 1, 2);   // rows 2 and 4 see 0x40 in blue
    Image expected;
    std::memset(&expected, 0, sizeof expected);
    for (int x = 0; x < 256; x++) expected.pixels[2 * 256 + x] = expected.pixels[4 * 256 + x] = 0x40;
    *layerBank.layers[3] = expected;
    Smooth(3, 2);
    EXPECT_EQ(std::memcmp(L(2), L(3), sizeof expected), 0);
}

TEST_F(Bank, RgbHsvRoundTrip) {
    Hsv hsv = rgbToHsv(255.0f, 0.0f, 0.0f);
    EXPECT_EQ(hsv.h, 0.0f);
    EXPECT_EQ(hsv.s, 1.0f);
    EXPECT_EQ(hsv.v, 255.0f);
    EXPECT_EQ(rgbToHsv(0.0f, 0.0f, 255.0f).h, 240.0f);
    EXPECT_EQ(rgbToHsv(50.0f, 50.0f, 50.0f).h, -1.0f);
    EXPECT_EQ(hsvToRgb(-1.0f, 0.0f, 77.0f), 0x004D4D4Du);
    EXPECT_EQ(hsvToRgb(120.0f + 720.0f, 1.0f, 255.0f), 0x0000FF00u);
    EXPECT_EQ(hsvToRgb(-120.0f, 1.0f, 255.0f), 0x000000FFu);
    EXPECT_EQ(hsvToRgb(300.0f, 1.0f, 300.0f), 0x00FF00FFu);   // capped at 255
}

TEST_F(Bank, OperandsOutOfRangeDoNothing) {
    fillPattern(0, 12);
    Image s = *layerBank.layers[0];
    CopyChannel(0, 3, 1, 0);
    CopyChannel(0, 0, 4, 0);
    SwapChannels(0, 0, 9, 0);
    Displace(0, 5, 0, 10, 0, 0, 10);
    Smear(0, 0, 7, 4);
    MaskedBlend(0, 1, 4, 0);
    Mix(0, 200, 3);
    Cells(0, 3, 10, 10, 1, 2, 3, 4);
    FractalNoise(0, 200, 1, 2, 3, 4);
    Clear(4);
    Contrast(255, 0);
    EXPECT_EQ(std::memcmp(L(0), s.pixels, sizeof s), 0);
}

TEST(Interpreter, StoredListProgressAndImages) {
    fractions.clear();
    layerBank.cacheTextures = 0;
    layerBank.fastSampling = 0;
    Image** images = generateTextures(storedPrograms, record);
    ASSERT_NE(images, nullptr);
    ASSERT_EQ(fractions.size(), 104u);
    for (size_t k = 0; k < fractions.size(); k++) EXPECT_EQ(fractions[k], static_cast<float>(k + 1) / 104.0f);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_EQ(layerBank.progressTotal, 0);
    EXPECT_EQ(layerBank.progressDone, 0);
    EXPECT_EQ(layerBank.buffersReady, 0);

    for (int i : {4, 5, 6, 7}) EXPECT_EQ(std::memcmp(images[0], images[i], sizeof(Image)), 0) << i;
    // Pinned after checking the images by eye against their descriptions.
    const uint64_t expected[9] = {
        0x5e7cb0415a378449ull, 0x4671d8cb5b96fc0full, 0x14e0c54f80fc9b39ull,
        0xc9154a245d402894ull, 0x5e7cb0415a378449ull, 0x5e7cb0415a378449ull,
        0x5e7cb0415a378449ull, 0x5e7cb0415a378449ull, 0xdd5e5dc229851da9ull,
    };
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(fingerprint(*images[i]), expected[i]) << "texture " << i;
        for (uint32_t p : images[i]->pixels) ASSERT_EQ(p >> 24, 0u);
    }
    // Copying the repeated program gives what running it gives.
    Image alone;
    ASSERT_TRUE(runTextureProgram(storedPrograms[4]->bytes, storedPrograms[4]->length, &alone, nullptr));
    EXPECT_EQ(std::memcmp(&alone, images[4], sizeof alone), 0);
    // The program list helper counts from entry 1.
    EXPECT_EQ(countPrograms(storedPrograms), 9);
    for (int i = 0; i < 9; i++) freeImage(images[i]);
    freeImageList(images);
}

TEST(Interpreter, ProgramEdges) {
    Image out;
    auto run = [&](const std::vector<uint8_t>& p) {
        fractions.clear();
        for (uint32_t& v : out.pixels) v = 0xA5A5A5A5u;
        return runTextureProgram(p.data(), p.size(), &out, record);
    };

    // Count 0, and counts 128..255: nothing runs, the image is black.
    EXPECT_TRUE(run(program({{6, 0, 0, 0, 0, 0, 0, 0, 0}}, 0)));
    EXPECT_TRUE(fractions.empty());
    EXPECT_EQ(out.pixels[77], 0u);
    std::vector<uint8_t> big = program({}, 200);
    big.resize(4 + 200 * 9, 0);
    EXPECT_TRUE(run(big));
    EXPECT_TRUE(fractions.empty());

    // Wrong magic: nothing runs, nothing is written or reported.
    std::vector<uint8_t> bad = program({{4, 0, 0, 0, 0, 0, 0, 0, 0}});
    bad[1] = 'X';
    EXPECT_FALSE(run(bad));
    EXPECT_TRUE(fractions.empty());
    EXPECT_EQ(out.pixels[0], 0xA5A5A5A5u);
    EXPECT_FALSE(run({'A', 'T', 'G'}));

    // A layer above 3 and an unknown opcode still count as steps.
    EXPECT_TRUE(run(program({{4, 0, 0, 0, 0, 0, 0, 0, 0}, {6, 4, 0, 0, 0, 0, 0, 0, 0}, {13, 0, 1, 2, 3, 4, 5, 6, 7}})));
    ASSERT_EQ(fractions.size(), 3u);
    EXPECT_EQ(fractions[0], 1.0f / 3.0f);
    EXPECT_EQ(fractions[2], 1.0f);
    EXPECT_EQ(out.pixels[128 * 256 + 128], 0x00FFFFFFu);
    EXPECT_TRUE(run(program({{4, 0, 0, 0, 0, 0, 0, 0, 0}, {6, 0, 0, 0, 0, 0, 0, 0, 0}})));
    EXPECT_EQ(out.pixels[128 * 256 + 128], 0u);

    // Opcode 40 carries its bitmap, also on a layer above 3.
    std::vector<uint8_t> bmp = {'A', 'T', 'G', 3, 40, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0};
    bmp.resize(bmp.size() + 8192, 0);
    bmp[13] = 0x01;
    std::vector<uint8_t> skipped = {40, 5, 0, 0, 0, 0, 0, 0, 0};
    skipped.resize(9 + 8192, 0xFF);
    bmp.insert(bmp.end(), skipped.begin(), skipped.end());
    std::vector<uint8_t> last = {31, 0, 0, 0, 0, 0, 0, 0, 0};
    bmp.insert(bmp.end(), last.begin(), last.end());
    EXPECT_TRUE(run(bmp));
    EXPECT_EQ(fractions.size(), 3u);
    EXPECT_EQ(out.pixels[0], 0x00445599u);
    EXPECT_EQ(out.pixels[1], 0x001122CCu);
    EXPECT_EQ(textureProgramSize(bmp.data(), bmp.size()), bmp.size());

    // A program shorter than its count runs its whole instructions and still
    // reports every step.
    std::vector<uint8_t> cut = program({{4, 0, 0, 0, 0, 0, 0, 0, 0}, {31, 0, 0, 0, 0, 0, 0, 0, 0}}, 5);
    cut.resize(cut.size() - 4);
    EXPECT_TRUE(run(cut));
    EXPECT_EQ(fractions.size(), 5u);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_EQ(out.pixels[128 * 256 + 128], 0x00FFFFFFu);
    EXPECT_EQ(textureProgramSize(cut.data(), cut.size()), 4u + 5 * 9);
    std::vector<uint8_t> shortBitmap(bmp.begin(), bmp.begin() + 4000);
    EXPECT_TRUE(run(shortBitmap));
    EXPECT_EQ(out.pixels[0], 0u);
    EXPECT_EQ(fractions.size(), 3u);
}

TEST(Interpreter, NullAndForeignLists) {
    EXPECT_EQ(generateTextures(nullptr, record), nullptr);
    const TextureProgram* empty[] = {nullptr};
    EXPECT_EQ(countPrograms(empty), 0);
    freeImageList(generateTextures(empty, record));
    std::vector<uint8_t> bad = {'X', 'T', 'G', 4};
    TextureProgram badProgram = {bad.data(), bad.size()};
    std::vector<uint8_t> one = program({{4, 0, 0, 0, 0, 0, 0, 0, 0}});
    TextureProgram oneProgram = {one.data(), one.size()};
    const TextureProgram* list[] = {&badProgram, &oneProgram, nullptr};
    fractions.clear();
    Image** images = generateTextures(list, record);
    // The bad program's count belongs to the total, so the bar ends short.
    ASSERT_EQ(fractions.size(), 1u);
    EXPECT_EQ(fractions[0], 1.0f / 5.0f);
    EXPECT_EQ(images[0]->pixels[0], 0u);
    EXPECT_EQ(images[1]->pixels[128 * 256 + 128], 0x00FFFFFFu);
    freeImage(images[0]);
    freeImage(images[1]);
    freeImageList(images);
    // Null program or output: nothing happens.
    Image untouched;
    untouched.pixels[0] = 0x00ABCDEF;
    runTextureProgram(static_cast<const TextureProgram*>(nullptr), &untouched);
    runTextureProgram(&oneProgram, nullptr);
    EXPECT_EQ(untouched.pixels[0], 0x00ABCDEFu);
}

TEST(CacheFiles, WriteReadAndNames) {
    namespace fs = std::filesystem;
    fs::path old = fs::current_path();
    fs::path dir = fs::temp_directory_path() / ("texgen_cache_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    std::strcpy(textureCacheName, "tex00000.tga");

    // Caching off: no file appears.
    layerBank.cacheTextures = 0;
    Image** images = generateTextures(storedPrograms, nullptr);
    EXPECT_TRUE(fs::is_empty(dir));
    std::vector<Image> reference(9);
    for (int i = 0; i < 9; i++) {
        reference[i] = *images[i];
        freeImage(images[i]);
    }
    freeImageList(images);

    // First cached run writes nine files of 196,626 bytes.
    layerBank.cacheTextures = 1;
    fractions.clear();
    images = generateTextures(storedPrograms, record);
    EXPECT_EQ(fractions.size(), 104u);
    EXPECT_STREQ(textureCacheName, "tex00009.tga");
    for (int i = 0; i < 9; i++) {
        fs::path f = dir / ("tex0000" + std::to_string(i) + ".tga");
        ASSERT_TRUE(fs::exists(f)) << f;
        EXPECT_EQ(fs::file_size(f), 196626u);
        EXPECT_EQ(std::memcmp(images[i], &reference[i], sizeof(Image)), 0);
        freeImage(images[i]);
    }
    freeImageList(images);

    // Header and pixel layout: row 255 first, bytes blue, green, red.
    std::FILE* f = std::fopen("tex00001.tga", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> bytes(196626);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const uint8_t header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 24, 0};
    EXPECT_EQ(std::memcmp(bytes.data(), header, 18), 0);
    uint32_t p = reference[1].pixels[255 * 256 + 3];
    EXPECT_EQ(bytes[18 + 9], p & 255);
    EXPECT_EQ(bytes[18 + 11], p >> 16);

    // Second run from the counter's start reads all nine: one step each.
    std::strcpy(textureCacheName, "tex00000.tga");
    fractions.clear();
    images = generateTextures(storedPrograms, record);
    ASSERT_EQ(fractions.size(), 9u);
    EXPECT_EQ(fractions.back(), 1.0f);
    EXPECT_EQ(fractions[0], 11.0f / 104.0f);
    for (int i = 0; i < 9; i++) {
        EXPECT_EQ(std::memcmp(images[i], &reference[i], sizeof(Image)), 0) << i;
        freeImage(images[i]);
    }
    freeImageList(images);

    // Round trip of arbitrary pixels, and a short file reads as black beyond its end.
    Image in, back;
    for (int i = 0; i < IMAGE_PIXELS; i++) in.pixels[i] = (static_cast<uint32_t>(i) * 2654435761u) & 0x00FFFFFF;
    std::strcpy(textureCacheName, "tex00042.tga");
    writeCacheFile(&in);
    EXPECT_STREQ(textureCacheName, "tex00043.tga");
    ASSERT_TRUE(readCacheFile("tex00042.tga", &back));
    EXPECT_EQ(std::memcmp(&in, &back, sizeof in), 0);
    EXPECT_STREQ(textureCacheName, "tex00044.tga");
    fs::resize_file("tex00042.tga", 18 + 3 * 256);
    ASSERT_TRUE(readCacheFile("tex00042.tga", &back));
    EXPECT_EQ(back.pixels[255 * 256 + 7], in.pixels[255 * 256 + 7]);
    EXPECT_EQ(back.pixels[0], 0u);
    EXPECT_FALSE(readCacheFile("missing.tga", &back));
    EXPECT_STREQ(textureCacheName, "tex00045.tga");

    // The counter carries into the tens and starts again after 99.
    std::strcpy(textureCacheName, "tex00019.tga");
    writeCacheFile(&in);
    EXPECT_STREQ(textureCacheName, "tex00020.tga");
    std::strcpy(textureCacheName, "tex00099.tga");
    writeCacheFile(&in);
    EXPECT_STREQ(textureCacheName, "tex00000.tga");

    layerBank.cacheTextures = 0;
    freeWorkBuffers();
    fs::current_path(old);
    fs::remove_all(dir);
}

TEST(Upload, ByteOrder) {
    uint32_t pixels[3] = {0x00112233, 0x00FFFFFF, 0};
    toUploadFormat(pixels, 2);
    uint8_t bytes[12];
    std::memcpy(bytes, pixels, sizeof bytes);
    const uint8_t expected[12] = {0x11, 0x22, 0x33, 0x80, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);
}
