#include <gtest/gtest.h>

#include <cstring>

#include "music/module.h"
#include "music/offline.h"
#include "music/stream.h"
#include "tests/music/xm_modules.h"

namespace {

struct Loaded {
    Player* player;
    explicit Loaded(const std::vector<uint8_t>& bytes)
        : player(moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()))) {}
    ~Loaded() { moduleFree(player); }
    Player* operator->() const { return player; }
};

XmModule oneSampleModule(XmSample sample) {
    XmModule m;
    m.patterns.push_back(emptyPattern(4, 2));
    XmInstrument ins;
    ins.samples.push_back(sample);
    m.instruments.push_back(ins);
    return m;
}

TEST(MemoryStream, SeeksClampAndReadsStopAtTheEnd) {
    const uint8_t bytes[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemoryBlock block = {bytes, 10};
    void* s = memoryStreamOpen(reinterpret_cast<intptr_t>(&block));
    uint8_t out[16] = {};
    resourceStreamSeek(s, 0, 2);
    EXPECT_EQ(resourceStreamTell(s), 10);
    EXPECT_EQ(resourceStreamRead(out, 4, s), 0);
    resourceStreamSeek(s, 100, 0);
    EXPECT_EQ(resourceStreamTell(s), 10);
    resourceStreamSeek(s, -50, 1);   // backward past the start clamps at 0
    EXPECT_EQ(resourceStreamTell(s), 0);
    resourceStreamSeek(s, 6, 0);
    EXPECT_EQ(resourceStreamRead(out, 4, s), 4);   // exactly the remaining bytes
    EXPECT_EQ(out[3], 9);
    resourceStreamSeek(s, 7, 0);
    EXPECT_EQ(resourceStreamRead(out, 8, s), 3);
    resourceStreamSeek(s, 3, 9);   // unknown origin leaves the position
    EXPECT_EQ(resourceStreamTell(s), 10);
    resourceStreamClose(s);
}

TEST(MemoryStream, OneMissingHookClearsTheTable) {
    installMemoryStreamHooks();
    ASSERT_TRUE(streamHooksInstalled());
    setStreamHooks(memoryStreamOpen, resourceStreamClose, nullptr, resourceStreamSeek, resourceStreamTell);
    EXPECT_FALSE(streamHooksInstalled());
    EXPECT_EQ(streamHooks.open, nullptr);
    EXPECT_EQ(streamOpen(0), nullptr);
    installMemoryStreamHooks();
}

TEST(Loader, ReadsHeaderAndPatterns) {
    XmModule m;
    m.channels = 3;
    m.songLength = 3;
    m.restart = 1;
    m.speed = 5;
    m.bpm = 140;
    m.orders = {0, 3, 1};   // pattern 2 is stored but unused, 3 is missing
    m.headerPatternCount = 3;
    m.patterns.push_back(emptyPattern(2, 3));
    m.patterns[0].cells[0] = {97, 129, 0, 0, 0};   // key-off, instrument out of range
    m.patterns[0].cells[1] = {5, 128, 0x10, 0x14, 0x33};
    m.patterns[0].unpacked = true;
    m.patterns.push_back(XmPattern{7, {}, true, false});   // packed size 0
    m.patterns.push_back(emptyPattern(3, 3));
    m.patterns[2].cells[4] = {12, 1, 0, 0, 0};
    Loaded p(writeXm(m));
    ASSERT_NE(p.player, nullptr) << moduleLoadError();
    EXPECT_EQ(p->songLength, 3);
    EXPECT_EQ(p->restartPosition, 1);
    EXPECT_EQ(p->channelCount, 3);
    EXPECT_EQ(p->defaultSpeed, 5);
    EXPECT_EQ(p->defaultBpm, 140);
    EXPECT_EQ(p->referencedPatternCount, 4);
    EXPECT_EQ(p->patternCount, 4);
    EXPECT_EQ(p->initialGlobalVolume, 64);
    const Cell& off = p->patterns[0].cells[0];
    EXPECT_EQ(off.note, 255);
    EXPECT_EQ(off.instrument, 0);
    const Cell& c = p->patterns[0].cells[1];
    EXPECT_EQ(c.note, 5);
    EXPECT_EQ(c.instrument, 128);
    EXPECT_EQ(c.volume, 0x10);
    EXPECT_EQ(c.effect, 0x14);
    EXPECT_EQ(c.parameter, 0x33);
    EXPECT_EQ(p->patterns[1].rows, 7);   // packed size 0 keeps its rows, all empty
    if (p->patterns[1].cells) {
        for (int i = 0; i < 21; ++i)
            EXPECT_EQ(p->patterns[1].cells[i].note, 0);
    }
    EXPECT_EQ(p->patterns[2].cells[4].note, 12);
    EXPECT_EQ(p->patterns[2].cells[4].instrument, 1);
    EXPECT_EQ(p->patterns[3].rows, 64);   // referenced, not stored
}

TEST(Loader, PackedByteAndUnpackedZeroNote) {
    XmModule m;
    m.channels = 1;
    m.patterns.push_back(XmPattern{2, {}, false, false});
    std::vector<uint8_t> bytes = writeXm(m);
    // Replace the pattern data by hand: 0x80 (empty cell), then 0 followed by four bytes.
    size_t at = 60 + 276;
    bytes.resize(at + 9);
    bytes[at + 7] = 6;
    bytes.insert(bytes.end(), {0x80, 0, 7, 8, 9, 10});
    Loaded p(bytes);
    ASSERT_NE(p.player, nullptr);
    const Cell* cells = p->patterns[0].cells;
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells[0].note, 0);
    EXPECT_EQ(cells[0].effect, 0);
    EXPECT_EQ(cells[1].note, 0);
    EXPECT_EQ(cells[1].instrument, 7);
    EXPECT_EQ(cells[1].volume, 8);
    EXPECT_EQ(cells[1].effect, 9);
    EXPECT_EQ(cells[1].parameter, 10);
}

TEST(Loader, SampleNormalisation) {
    // 16-bit sample of 1001 bytes: 500 samples.
    XmSample odd;
    odd.raw = true;
    odd.sixteen = true;
    odd.rawLength = 1001;
    odd.rawData.assign(1001, 0);
    Loaded a(writeXm(oneSampleModule(odd)));
    ASSERT_NE(a.player, nullptr);
    const Sample* s = a->instruments[0].samples[0];
    EXPECT_EQ(s->length, 500u);
    EXPECT_EQ(s->bits, 16);
    EXPECT_EQ(s->loopType, 1);
    EXPECT_EQ(s->loopLength, 500u);

    // Type 3 is ping-pong; forward with loop length 0 becomes no loop.
    XmSample pp;
    pp.pcm = {0, 256, 512, 768, 1024, 1280};
    pp.loop = 3;
    pp.loopStart = 1;
    pp.loopLength = 3;
    Loaded b(writeXm(oneSampleModule(pp)));
    ASSERT_NE(b.player, nullptr);
    s = b->instruments[0].samples[0];
    EXPECT_EQ(s->loopType, 4);
    EXPECT_EQ(s->loopStart, 1u);
    EXPECT_EQ(s->loopLength, 3u);
    EXPECT_EQ(s->data[4], s->data[3]);   // ping-pong guard repeats the last loop sample

    XmSample zero = pp;
    zero.loop = 1;
    zero.loopLength = 0;
    Loaded c(writeXm(oneSampleModule(zero)));
    ASSERT_NE(c.player, nullptr);
    s = c->instruments[0].samples[0];
    EXPECT_EQ(s->loopType, 1);
    EXPECT_EQ(s->loopStart, 0u);
    EXPECT_EQ(s->loopLength, 6u);
    EXPECT_EQ(s->data[6], 0);   // no loop: the padding stays zero

    XmSample fwd = pp;
    fwd.loop = 1;
    Loaded d(writeXm(oneSampleModule(fwd)));
    s = d->instruments[0].samples[0];
    EXPECT_EQ(s->loopType, 2);
    EXPECT_EQ(s->data[4], s->data[1]);   // forward guard repeats the loop start
}

TEST(Loader, EightBitDataIsWidenedThenDeltaDecoded) {
    XmSample s8;
    s8.raw = true;
    s8.rawLength = 4;
    s8.rawData = {0x7f, 0x02, 0x80, 0xff};   // deltas: 127, 129, 1, 0 (mod 256)
    Loaded p(writeXm(oneSampleModule(s8)));
    ASSERT_NE(p.player, nullptr);
    const Sample* s = p->instruments[0].samples[0];
    ASSERT_EQ(s->length, 4u);
    EXPECT_EQ(s->data[0], 127 * 256);
    EXPECT_EQ(s->data[1], -127 * 256);   // 0x81 in the high byte
    EXPECT_EQ(s->data[2], 1 * 256);
    EXPECT_EQ(s->data[3], 0);
    for (int i = 4; i < 12; ++i)
        EXPECT_EQ(s->data[i], 0);

    XmSample s16;
    s16.sixteen = true;
    s16.pcm = {1000, -32768, 32767, 5};
    Loaded q(writeXm(oneSampleModule(s16)));
    ASSERT_NE(q.player, nullptr);
    const Sample* t = q->instruments[0].samples[0];
    EXPECT_EQ(t->data[0], 1000);
    EXPECT_EQ(t->data[1], -32768);
    EXPECT_EQ(t->data[2], 32767);
    EXPECT_EQ(t->data[3], 5);
}

TEST(Loader, InstrumentFields) {
    XmModule m;
    m.patterns.push_back(emptyPattern(1, 2));
    XmInstrument ins = simpleInstrument({100, 200});
    ins.fadeout = 0x9000;   // doubled and kept to 16 bits
    ins.envelope = {0, 64};   // one point: the envelope is switched off
    ins.volumeType = 1;
    ins.noteSampleMap[10] = 3;
    m.instruments.push_back(ins);
    m.instruments.push_back(XmInstrument{});   // no samples
    Loaded p(writeXm(m));
    ASSERT_NE(p.player, nullptr);
    EXPECT_EQ(p->instruments[0].fadeout, 0x2000);
    EXPECT_EQ(p->instruments[0].volumeType, 0);
    EXPECT_EQ(p->instruments[0].noteSampleMap[10], 3);
    EXPECT_EQ(p->instruments[0].samples[1], &emptySample);
    EXPECT_EQ(p->instruments[1].sampleCount, 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(p->instruments[1].samples[i], &emptySample);
}

TEST(Loader, RefusesWhatItCannotPlay) {
    XmModule m;
    m.patterns.push_back(emptyPattern(1, 2));
    std::vector<uint8_t> good = writeXm(m);

    std::vector<uint8_t> bad = good;
    bad[0] = 'X';
    EXPECT_EQ(moduleOpenMemory(bad.data(), static_cast<uint32_t>(bad.size())), nullptr);

    XmModule wide = m;
    wide.channels = 33;
    wide.patterns[0] = emptyPattern(1, 33);
    bad = writeXm(wide);
    EXPECT_EQ(moduleOpenMemory(bad.data(), static_cast<uint32_t>(bad.size())), nullptr);
    EXPECT_NE(std::strstr(moduleLoadError(), "32"), nullptr);

    XmModule amiga = m;
    amiga.flags = 0;
    bad = writeXm(amiga);
    EXPECT_EQ(moduleOpenMemory(bad.data(), static_cast<uint32_t>(bad.size())), nullptr);
    EXPECT_NE(std::strstr(moduleLoadError(), "Amiga"), nullptr);

    XmModule many = m;
    XmInstrument ins = simpleInstrument({1, 2});
    many.instruments.push_back(ins);
    ins.sampleCountOverride = 17;
    many.instruments.push_back(ins);
    bad = writeXm(many);
    EXPECT_EQ(moduleOpenMemory(bad.data(), static_cast<uint32_t>(bad.size())), nullptr);

    EXPECT_EQ(moduleOpenMemory(nullptr, 0), nullptr);
}

TEST(Loader, NamesTheRealCauseAndWhatWasCut) {
    XmModule m;
    for (int i = 0; i < 12; ++i)
        m.patterns.push_back(emptyPattern(4, 2));
    m.instruments.push_back(simpleInstrument({1, 2, 3, 4}));
    std::vector<uint8_t> good = writeXm(m);
    EXPECT_EQ(moduleCheckHeader(good.data(), static_cast<uint32_t>(good.size())), nullptr);
    {
        Loaded whole(good);
        ASSERT_NE(whole.player, nullptr);
        EXPECT_STREQ(moduleLoadWarning(), "");
    }
    std::vector<uint8_t> cut(good.begin(), good.begin() + 336 + 17 * 10 + 5);   // inside pattern 10
    {
        Loaded part(cut);
        ASSERT_NE(part.player, nullptr);
        EXPECT_STREQ(moduleLoadWarning(),
                     "the file ends inside pattern 10 of 12; what is missing plays as silence");
    }
    cut.resize(200);   // inside the order table
    {
        Loaded part(cut);
        ASSERT_NE(part.player, nullptr);
        EXPECT_STREQ(moduleLoadWarning(), "the file ends inside the header; what is missing plays as silence");
    }

    XmModule none = m;
    none.channels = 0;
    std::vector<uint8_t> bad = writeXm(none);
    EXPECT_EQ(moduleOpenMemory(bad.data(), static_cast<uint32_t>(bad.size())), nullptr);
    EXPECT_STREQ(moduleLoadError(), "the module has no channels");
    EXPECT_STREQ(moduleCheckHeader(bad.data(), 80), "the module has no channels");
    EXPECT_EQ(moduleCheckHeader(bad.data(), 68), nullptr);   // the count is not there yet

    // The signature is judged first: an empty stream is no module, a cut header is truncated.
    EXPECT_EQ(moduleOpenMemory(good.data(), 0), nullptr);
    EXPECT_STREQ(moduleLoadError(), "not an extended module (bad signature)");
    EXPECT_EQ(moduleOpenMemory(good.data(), 79), nullptr);
    EXPECT_STREQ(moduleLoadError(), "the file is truncated");

    std::vector<uint8_t> zeros(400, 0);
    EXPECT_EQ(moduleOpenMemory(zeros.data(), 400), nullptr);
    EXPECT_STREQ(moduleLoadError(), "not an extended module (bad signature)");
    EXPECT_STREQ(moduleCheckHeader(zeros.data(), 80), "not an extended module (bad signature)");
    std::vector<uint8_t> header(good.begin(), good.begin() + 80);
    header[70] = 1, header[71] = 1;   // 257 patterns
    EXPECT_STREQ(moduleCheckHeader(header.data(), 80), "more than 256 patterns");
    std::vector<uint8_t> many = good;
    many[70] = 1, many[71] = 1;
    EXPECT_EQ(moduleOpenMemory(many.data(), static_cast<uint32_t>(many.size())), nullptr);
    EXPECT_STREQ(moduleLoadError(), "more than 256 patterns");
    header[71] = 0, header[74] = 0;
    EXPECT_NE(std::strstr(moduleCheckHeader(header.data(), 80), "Amiga"), nullptr);
}

TEST(Loader, GuardsIndexesAndBuffers) {
    XmModule m;
    m.channels = 2;
    m.songLength = 2;
    m.restart = 5;   // beyond the song
    m.orders = {0, 0};
    m.patterns.push_back(emptyPattern(2, 2));
    m.patterns[0].cells[0] = {120, 1, 0, 0, 0};   // note above 97
    XmSample s;
    s.sixteen = true;
    s.pcm = {1, 2, 3, 4};
    s.loop = 1;
    s.loopStart = 2;
    s.loopLength = 10;   // beyond the data
    XmInstrument ins;
    ins.samples.push_back(s);
    ins.envelope = {0, 64, 10, 200, 20, 0};   // y above 64
    ins.volumeType = 1 | 4;
    ins.loopStart = 1;
    ins.loopEnd = 7;   // beyond the points
    m.instruments.push_back(ins);
    Loaded p(writeXm(m));
    ASSERT_NE(p.player, nullptr);
    EXPECT_EQ(p->restartPosition, 0);
    EXPECT_EQ(p->patterns[0].cells[0].note, 0);
    const Sample* smp = p->instruments[0].samples[0];
    EXPECT_EQ(smp->loopStart, 2u);
    EXPECT_EQ(smp->loopLength, 2u);
    EXPECT_EQ(smp->data[4], 3);
    EXPECT_EQ(p->instruments[0].volumeEnvelope[1].y, 64);
    EXPECT_EQ(p->instruments[0].volumeType & 4, 0);
}

TEST(Loader, TruncatedFilesNeverReadOutside) {
    XmModule m;
    m.patterns.push_back(emptyPattern(8, 2));
    m.patterns[0].cells[3] = {49, 1, 0, 0, 0};
    std::vector<int16_t> pcm(3000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(i * 7);
    m.instruments.push_back(simpleInstrument(pcm, true, 1, 100, 2000));
    std::vector<uint8_t> full = writeXm(m);
    std::vector<int16_t> out(2 * 3000);
    for (size_t cut = 0; cut < full.size(); cut += cut < 400 ? 1 : 97) {
        std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<ptrdiff_t>(cut));
        Player* p = moduleOpenMemory(part.data(), static_cast<uint32_t>(part.size()));
        if (!p)
            continue;
        offlineRenderStart(p);
        offlineRender(p, out.data(), 3000);
        if (p->instrumentCount > 0 && p->instruments[0].sampleCount > 0) {
            const Sample* s = p->instruments[0].samples[0];
            EXPECT_LE(static_cast<uint64_t>(s->loopStart) + s->loopLength, s->length) << cut;
        }
        moduleFree(p);
    }
}

}  // namespace
