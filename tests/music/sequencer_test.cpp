#include <gtest/gtest.h>

#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/offline.h"
#include "music/output.h"
#include "music/sequencer.h"
#include "tests/music/xm_modules.h"

namespace {

struct Song {
    Player* player;
    explicit Song(const XmModule& m) {
        std::vector<uint8_t> bytes = writeXm(m);
        player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
        if (player)
            offlineRenderStart(player);
    }
    ~Song() { moduleFree(player); }
    void tick(int n = 1) {
        for (int i = 0; i < n; ++i)
            playerTick(player);
    }
};

std::vector<int16_t> constant(size_t n, int16_t v) { return std::vector<int16_t>(n, v); }

// One channel, one long looping instrument, cells given per row.
XmModule melody(uint16_t rows, const std::vector<XmCell>& cells, uint16_t speed = 6) {
    XmModule m;
    m.channels = 1;
    m.speed = speed;
    XmPattern p = emptyPattern(rows, 1);
    for (size_t i = 0; i < cells.size() && i < p.cells.size(); ++i)
        p.cells[i] = cells[i];
    m.patterns.push_back(p);
    m.instruments.push_back(simpleInstrument(constant(1000, 8000), true, 1, 0, 1000));
    return m;
}

TEST(Sequencer, SpeedOneMakesEveryTickARow) {
    Song s(melody(4, {}, 1));
    ASSERT_NE(s.player, nullptr);
    for (int i = 0; i < 9; ++i) {
        s.tick();
        EXPECT_EQ(s.player->row, i % 4);
        EXPECT_EQ(s.player->tick, 0);
    }
}

TEST(Sequencer, OneRowPatternsAdvanceTheOrderAndLoopAtRestart) {
    XmModule m;
    m.channels = 1;
    m.speed = 2;
    m.songLength = 4;
    m.restart = 2;
    m.orders = {0, 1, 2, 3};
    for (int i = 0; i < 4; ++i)
        m.patterns.push_back(emptyPattern(1, 1));
    Song s(m);
    ASSERT_NE(s.player, nullptr);
    std::vector<int> orders;
    for (int i = 0; i < 8; ++i) {
        s.tick();
        orders.push_back(s.player->order);
        s.tick();
    }
    EXPECT_EQ(orders, (std::vector<int>{0, 1, 2, 3, 2, 3, 2, 3}));
}

TEST(Sequencer, PitchAndVolumeOfANote) {
    Song s(melody(2, {{49, 1, 0, 0, 0}, {61, 0, 0, 0, 0}}));
    ASSERT_NE(s.player, nullptr);
    s.tick();
    const Voice& v = *channels[0].voice;
    EXPECT_EQ(channels[0].period, 4608);
    EXPECT_EQ(v.stepInteger, 0u);   // 8363 Hz
    EXPECT_EQ(v.stepFraction, static_cast<uint32_t>((8363ull << 32) / 44100));
    EXPECT_EQ(v.volume, 127);   // 64 x 64 x 65536 x 64 x 255 / 2^35, truncated
    EXPECT_EQ(v.panning, 128);
    EXPECT_EQ(v.gainA, 127 * 128 / 255);
    EXPECT_EQ(v.gainB, 127 * 127 / 255);
    s.tick(6);   // next row: one octave up, 16726 Hz
    EXPECT_EQ(channels[0].voice->stepFraction, static_cast<uint32_t>((16726ull << 32) / 44100));
}

TEST(Sequencer, KeyOffWithoutEnvelopeCutsTheNote) {
    Song s(melody(2, {{49, 1, 0, 0, 0}, {97, 0, 0, 0, 0}}));
    ASSERT_NE(s.player, nullptr);
    s.tick(6);
    EXPECT_EQ(channels[0].voice->volume, 127);
    s.tick();
    EXPECT_EQ(channels[0].keyOff, 1);
    EXPECT_EQ(channels[0].envelopeVolume, 0);
    EXPECT_EQ(channels[0].voice->volume, 0);
    EXPECT_EQ(channels[0].voice, &voices[0]);   // a key-off triggers nothing
}

TEST(Sequencer, SustainHoldsUntilKeyOffThenEnvelopeAndFadeoutRun) {
    XmModule m = melody(3, {{49, 1, 0, 0, 0}, {0, 0, 0, 0x14, 0}, {49, 0, 0, 0, 0}});
    XmInstrument& ins = m.instruments[0];
    ins.envelope = {0, 64, 4, 32, 8, 48};
    ins.sustainPoint = 1;
    ins.volumeType = 1 | 2;
    ins.fadeout = 1000;
    Song s(m);
    ASSERT_NE(s.player, nullptr);
    std::vector<int> env;
    for (int i = 0; i < 6; ++i) {
        s.tick();
        env.push_back(channels[0].envelopeVolume);
    }
    EXPECT_EQ(env, (std::vector<int>{64, 56, 48, 40, 32, 32}));
    EXPECT_EQ(channels[0].fadeoutVolume, 65536);
    env.clear();
    std::vector<int> fade;
    for (int i = 0; i < 6; ++i) {   // effect 0x14 releases the note
        s.tick();
        env.push_back(channels[0].envelopeVolume);
        fade.push_back(channels[0].fadeoutVolume);
    }
    EXPECT_EQ(env, (std::vector<int>{32, 36, 40, 44, 48, 48}));
    EXPECT_EQ(fade, (std::vector<int>{63536, 61536, 59536, 57536, 55536, 53536}));
    EXPECT_EQ(channels[0].envelopeDone, 1);
    // A note without instrument after the release keeps fading.
    s.tick();
    EXPECT_EQ(channels[0].keyOff, 1);
    EXPECT_EQ(channels[0].fadeoutVolume, 51536);
    int64_t expected = 64LL * 48 * 51536 * 64 * 255 / (1LL << 35);
    EXPECT_EQ(channels[0].voice->volume, expected);
}

TEST(Sequencer, LoopEndOnTheSustainPointLoops) {
    XmModule m = melody(1, {{49, 1, 0, 0, 0}});
    XmInstrument& ins = m.instruments[0];
    ins.envelope = {0, 64, 2, 0, 4, 64};
    ins.sustainPoint = 1;
    ins.loopStart = 0;
    ins.loopEnd = 1;
    ins.volumeType = 1 | 2 | 4;
    Song s(m);
    ASSERT_NE(s.player, nullptr);
    std::vector<int> env;
    for (int i = 0; i < 6; ++i) {
        s.tick();
        env.push_back(channels[0].envelopeVolume);
    }
    EXPECT_EQ(env, (std::vector<int>{64, 32, 64, 32, 64, 32}));
}

TEST(Sequencer, EqualXGivesSlopeZero) {
    XmModule m = melody(1, {{49, 1, 0, 0, 0}});
    XmInstrument& ins = m.instruments[0];
    ins.envelope = {0, 64, 0, 10, 5, 10};
    ins.volumeType = 1;
    Song s(m);
    ASSERT_NE(s.player, nullptr);
    s.tick(3);
    EXPECT_EQ(channels[0].envelopeSlope, 0);
    EXPECT_EQ(channels[0].envelopeVolume, 64);
}

TEST(Sequencer, RetriggerMovesTheChannelToThePartnerVoice) {
    Song s(melody(3, {{49, 1, 0, 0, 0}, {52, 1, 0, 0, 0}, {49, 1, 0, 0, 0}}, 1));
    ASSERT_NE(s.player, nullptr);
    s.tick();
    mixVoices(std::vector<float>(2 * 300).data(), 300);
    EXPECT_EQ(channels[0].voice, &voices[0]);
    s.tick();
    EXPECT_EQ(channels[0].voice, &voices[32]);
    EXPECT_EQ(voices[32].index, 32);
    EXPECT_EQ(voices[32].position, 0u);
    EXPECT_EQ(voices[32].currentGainA, 0);
    EXPECT_NE(voices[0].sample, nullptr);   // still running, ramping down
    EXPECT_EQ(voices[0].volume, 0);
    EXPECT_EQ(voices[0].gainA, 0);
    EXPECT_EQ(voices[0].gainB, 0);
    EXPECT_GT(voices[0].position, 0u);
    s.tick();
    EXPECT_EQ(channels[0].voice, &voices[0]);
}

TEST(Sequencer, InstrumentWithoutNoteResetsButDoesNotRestart) {
    XmModule m = melody(2, {{49, 1, 0, 0, 0}, {0, 1, 0, 0, 0}}, 1);
    m.instruments[0].samples[0].volume = 32;
    Song s(m);
    ASSERT_NE(s.player, nullptr);
    s.tick();
    std::vector<float> mix(2 * 500);
    mixVoices(mix.data(), 500);
    channels[0].volume = 10;
    channels[0].fadeoutVolume = 5;
    uint32_t before = voices[0].position;
    s.tick();
    EXPECT_EQ(channels[0].voice, &voices[0]);
    EXPECT_EQ(voices[0].position, before);
    EXPECT_EQ(channels[0].volume, 32);
    EXPECT_EQ(channels[0].fadeoutVolume, 65536);
}

TEST(Sequencer, PortamentoRetriggersAtTheOldPitch) {
    Song s(melody(2, {{49, 1, 0, 0, 0}, {61, 0, 0, 3, 0}}, 1));
    ASSERT_NE(s.player, nullptr);
    s.tick();
    uint32_t step = channels[0].voice->stepFraction;
    s.tick();
    EXPECT_EQ(channels[0].note, 48);
    EXPECT_EQ(channels[0].period, 4608);
    EXPECT_EQ(channels[0].voice->stepFraction, step);
    EXPECT_EQ(channels[0].voice->position, 0u);
}

TEST(Sequencer, TempoGivesExactTickLengths) {
    Player p{};
    outputRate = 44100;
    setTempo(&p, 125);
    EXPECT_EQ(p.samplesPerTick, 882);
    setTempo(&p, 120);
    EXPECT_EQ(p.samplesPerTick, 918);
    setTempo(&p, 0);
    EXPECT_GT(p.samplesPerTick, 0);
    setTempo(&p, 32000);
    EXPECT_GT(p.samplesPerTick, 0);
}

}  // namespace
