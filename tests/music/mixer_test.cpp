#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"

namespace {

const float K = 1.0f / 255.0f;

struct TestSample {
    std::vector<int16_t> data;
    Sample sample{};
    TestSample(std::vector<int16_t> values, uint8_t loopType, uint32_t loopStart, uint32_t loopLength) {
        data = values;
        data.resize(values.size() + 8, 0);
        sample.data = data.data();
        sample.length = static_cast<uint32_t>(values.size());
        sample.loopType = loopType;
        sample.loopStart = loopStart;
        sample.loopLength = loopLength;
        sample.bits = 16;
        uint32_t end = loopStart + loopLength;
        if (loopType == 2)
            data[end] = data[loopStart];
        if (loopType == 4)
            data[end] = data[end - 1];
    }
};

// A voice at steady gains (no ramp pending).
Voice& steadyVoice(const Sample* s, uint32_t stepInteger, uint32_t stepFraction, int32_t gainA, int32_t gainB) {
    mixerSetup(44100);
    Voice& v = voices[0];
    v.sample = s;
    v.stepInteger = stepInteger;
    v.stepFraction = stepFraction;
    v.gainA = v.lastGainA = gainA;
    v.gainB = v.lastGainB = gainB;
    v.currentGainA = gainA * 256;
    v.currentGainB = gainB * 256;
    return v;
}

TEST(Mixer, EmptySampleStopsWithoutOutput) {
    mixerSetup(44100);
    voices[3].sample = &emptySample;
    voices[3].stepInteger = 1;
    voices[3].gainA = voices[3].gainB = 100;
    std::vector<float> out(2 * 16, 0.0f);
    mixVoices(out.data(), 16);
    EXPECT_EQ(voices[3].sample, nullptr);
    for (float f : out)
        EXPECT_EQ(f, 0.0f);
}

TEST(Mixer, ForwardLoopShorterThanOneStep) {
    TestSample t({10, 11, 12, 13, 14, 15, 16, 17}, 2, 4, 2);
    steadyVoice(&t.sample, 5, 0, 255, 0);
    std::vector<float> out(2 * 3, 0.0f);
    mixVoices(out.data(), 3);
    // Reads 0, then 5, then (10 - 3 x 2) = 4; ends at 9 - 2 x 2 = 5.
    EXPECT_EQ(out[0], 10.0f * (255 * K));
    EXPECT_EQ(out[2], 15.0f * (255 * K));
    EXPECT_EQ(out[4], 14.0f * (255 * K));
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(voices[0].position, 5u);
    EXPECT_EQ(voices[0].fraction, 0u);
    EXPECT_NE(voices[0].sample, nullptr);
}

TEST(Mixer, PingPongReflectsAboutBothEnds) {
    TestSample t({0, 100, 200, 300, 400, 500, 600, 700, 800, 900}, 4, 2, 6);
    Voice& v = steadyVoice(&t.sample, 3, 0, 255, 255);
    v.position = 6;
    std::vector<float> out(2 * 3, 0.0f);
    mixVoices(out.data(), 1);
    // Forward to 9, mirrored about 8 one fraction unit low.
    EXPECT_EQ(v.position, 6u);
    EXPECT_EQ(v.fraction, 0xffffffffu);
    EXPECT_EQ(v.direction, DIRECTION_BACKWARD);
    mixVoices(out.data() + 2, 1);
    EXPECT_EQ(v.position, 3u);
    EXPECT_EQ(v.fraction, 0xfffffffeu);
    mixVoices(out.data() + 4, 1);
    // Backward to 0.fffffffe, mirrored about 2.
    EXPECT_EQ(v.position, 3u);
    EXPECT_EQ(v.fraction, 1u);
    EXPECT_EQ(v.direction, DIRECTION_FORWARD);
    EXPECT_EQ(out[0], 600.0f * (255 * K));
    EXPECT_EQ(out[2], 700.0f * (255 * K));   // weight (2^31 - 1) x 2^-31 rounds to 1
    EXPECT_EQ(out[4], 400.0f * (255 * K));
}

TEST(Mixer, NoLoopStopsAtTheEnd) {
    TestSample t({1000, 1000, 1000, 1000}, 1, 0, 4);
    Voice& v = steadyVoice(&t.sample, 1, 0, 255, 255);
    std::vector<float> out(2 * 8, 0.0f);
    mixVoices(out.data(), 8);
    EXPECT_EQ(v.sample, nullptr);
    EXPECT_EQ(out[6], 1000.0f * (255 * K));
    EXPECT_EQ(out[8], 0.0f);
}

TEST(Mixer, InterpolationUsesTheGuardSample) {
    TestSample t({0, 0, 0, 1000}, 2, 1, 3);   // guard at index 4 repeats index 1 (0)
    Voice& v = steadyVoice(&t.sample, 0, 0x80000000u, 255, 0);
    v.position = 3;
    std::vector<float> out(2, 0.0f);
    mixVoices(out.data(), 1);
    EXPECT_EQ(out[0], 1000.0f * (255 * K));
    v.fraction = 0x80000000u;
    v.position = 3;
    out.assign(2, 0.0f);
    mixVoices(out.data(), 1);
    EXPECT_EQ(out[0], 500.0f * (255 * K));
}

TEST(Mixer, RampFromSilenceAndInterruptedRamp) {
    TestSample t(std::vector<int16_t>(1000, 10000), 2, 0, 1000);
    Voice& v = steadyVoice(&t.sample, 1, 0, 0, 0);
    v.gainA = 100;
    v.gainB = 50;
    std::vector<float> out(2 * 64, 0.0f);
    mixVoices(out.data(), 64);
    EXPECT_EQ(out[0], 0.0f);   // the ramp starts at the old gain
    EXPECT_EQ(v.rampRemaining, 64);
    float d = 100.0f * K * (1.0f / 128.0f);
    EXPECT_EQ(v.rampDeltaA, d);
    EXPECT_NEAR(v.currentGainA, 100 * 128, 2);
    EXPECT_NEAR(v.currentGainB, 50 * 128, 2);
    int32_t reached = v.currentGainA;
    // A new target in the middle restarts a full ramp from the gain reached.
    v.gainA = 0;
    mixVoices(out.data(), 1);
    EXPECT_EQ(v.rampRemaining, 127);
    EXPECT_EQ(v.rampDeltaA, static_cast<float>(0 - (reached >> 8)) * K * (1.0f / 128.0f));
    mixVoices(std::vector<float>(2 * 200).data(), 200);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(v.currentGainA, 0);
    EXPECT_EQ(v.currentGainB, 50 * 256);
}

TEST(Mixer, OddLastFrameUsesTheGainInEffect) {
    TestSample t(std::vector<int16_t>(1000, 1000), 2, 0, 1000);
    Voice& v = steadyVoice(&t.sample, 1, 0, 100, 0);
    v.currentGainA = 100 * 256 + 128;   // left over from an interrupted ramp
    v.rampRemaining = 0;
    v.lastGainA = 7;   // forces a fresh evaluation: target equals the integer gain, so no ramp
    std::vector<float> out(2 * 3, 0.0f);
    mixVoices(out.data(), 3);
    EXPECT_EQ(v.rampRemaining, 0);
    EXPECT_EQ(out[0], 1000.0f * (100 * K));
    EXPECT_EQ(out[2], 1000.0f * (100 * K));
    EXPECT_EQ(out[4], 1000.0f * (static_cast<float>(100 * 256 + 128) / 256.0f * K));
}

TEST(Mixer, SilentVoiceAdvancesExactlyAsAMixedOne) {
    std::vector<int16_t> values(5000);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<int16_t>((i * 37) % 2000);
    TestSample t(values, 4, 100, 3000);
    for (uint32_t fractionStep : {0x12345679u, 0x80000000u, 0x00000003u}) {
        Voice& a = steadyVoice(&t.sample, 5, fractionStep, 0, 0);
        a.position = 50;
        a.fraction = 0x7777;
        Voice copy = a;
        std::vector<float> out(2 * 884, 0.0f);
        mixVoices(out.data(), 884);
        Voice silent = voices[0];
        voices[0] = copy;
        voices[0].gainA = voices[0].lastGainA = 1;   // audible: takes the mixing path
        voices[0].currentGainA = 256;
        mixVoices(out.data(), 884);
        EXPECT_EQ(silent.position, voices[0].position);
        EXPECT_EQ(silent.fraction, voices[0].fraction);
        EXPECT_EQ(silent.direction, voices[0].direction);
    }
}

TEST(Mixer, OnlyTheFirst64VoicesAreMixed) {
    TestSample t(std::vector<int16_t>(100, 1000), 2, 0, 100);
    steadyVoice(&t.sample, 1, 0, 0, 0);
    voices[0].sample = nullptr;
    for (int i = 64; i < 256; ++i) {
        voices[i].sample = &t.sample;
        voices[i].stepInteger = 1;
        voices[i].gainA = voices[i].lastGainA = 100;
        voices[i].currentGainA = 100 * 256;
    }
    std::vector<float> out(2 * 10, 0.0f);
    mixVoices(out.data(), 10);
    for (float f : out)
        EXPECT_EQ(f, 0.0f);
    EXPECT_EQ(voices[64].position, 0u);
    mixerSetup(44100);
}

TEST(Mixer, HugeStepsStayInsideTheSample) {
    TestSample t(std::vector<int16_t>(10, 1000), 2, 3, 2);
    Voice& v = steadyVoice(&t.sample, 31000, 0x9abcdef0u, 100, 100);
    std::vector<float> out(2 * 500, 0.0f);
    mixVoices(out.data(), 500);
    EXPECT_GE(v.position, 3u);
    EXPECT_LT(v.position, 5u);
    TestSample p(std::vector<int16_t>(10, 1000), 4, 0, 3);
    Voice& w = steadyVoice(&p.sample, 30000, 1, 100, 100);
    mixVoices(out.data(), 500);
    EXPECT_LT(w.position, 3u);
}

TEST(Mixer, ZeroStepIsSilentAndNeverDivides) {
    TestSample t(std::vector<int16_t>(10, 1000), 1, 0, 10);
    Voice& v = steadyVoice(&t.sample, 0, 0, 100, 100);
    std::vector<float> out(2 * 20, 0.0f);
    mixVoices(out.data(), 20);
    for (float f : out)
        EXPECT_EQ(f, 0.0f);
    EXPECT_EQ(v.position, 0u);
}

TEST(Mixer, ConvertRoundsToEvenAndClamps) {
    const float in[8] = {0.25f, 0.75f, -0.75f, 1.25f, 20000.0f, -20000.0f, 16383.7f, -0.2f};
    int16_t out[8];
    convertBlock(out, in, 4);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], -2);
    EXPECT_EQ(out[3], 2);
    EXPECT_EQ(out[4], 32767);
    EXPECT_EQ(out[5], -32768);
    EXPECT_EQ(out[6], 32767);
    EXPECT_EQ(out[7], 0);
    convertBlock(out, in, 0);
    convertBlock(nullptr, in, 4);
}

}  // namespace
