#include "tests/music/xm_writer.h"

#include <cstring>

namespace {

void put8(std::vector<uint8_t>& o, uint32_t v) { o.push_back(static_cast<uint8_t>(v)); }
void put16(std::vector<uint8_t>& o, uint32_t v) {
    put8(o, v);
    put8(o, v >> 8);
}
void put32(std::vector<uint8_t>& o, uint32_t v) {
    put16(o, v & 0xffff);
    put16(o, v >> 16);
}
void zeros(std::vector<uint8_t>& o, size_t n) { o.insert(o.end(), n, 0); }

std::vector<uint8_t> sampleBytes(const XmSample& s) {
    if (s.raw)
        return s.rawData;
    std::vector<uint8_t> out;
    if (s.sixteen) {
        int16_t previous = 0;
        for (int16_t v : s.pcm) {
            put16(out, static_cast<uint16_t>(v - previous));
            previous = v;
        }
    } else {
        int8_t previous = 0;
        for (int16_t v : s.pcm) {
            int8_t b = static_cast<int8_t>(v >> 8);
            put8(out, static_cast<uint8_t>(b - previous));
            previous = b;
        }
    }
    return out;
}

}  // namespace

std::vector<uint8_t> writeXm(const XmModule& m) {
    const char* signature = "Extended Module: ";
    std::vector<uint8_t> o(signature, signature + 17);
    zeros(o, 20);   // name
    put8(o, 0x1a);
    zeros(o, 20);   // tracker
    put16(o, 0x0104);
    uint16_t patternCount =
        static_cast<uint16_t>(m.headerPatternCount >= 0 ? m.headerPatternCount : static_cast<int32_t>(m.patterns.size()));
    put32(o, 276);
    put16(o, m.songLength);
    put16(o, m.restart);
    put16(o, m.channels);
    put16(o, patternCount);
    put16(o, static_cast<uint32_t>(m.instruments.size()));
    put16(o, m.flags);
    put16(o, m.speed);
    put16(o, m.bpm);
    for (int i = 0; i < 256; ++i)
        put8(o, i < static_cast<int>(m.orders.size()) ? m.orders[i] : 0);

    for (size_t p = 0; p < m.patterns.size() && p < patternCount; ++p) {
        const XmPattern& pat = m.patterns[p];
        std::vector<uint8_t> packed;
        if (!pat.storeEmpty) {
            size_t count = static_cast<size_t>(pat.rows) * m.channels;
            for (size_t i = 0; i < count; ++i) {
                XmCell c = i < pat.cells.size() ? pat.cells[i] : XmCell{};
                if (pat.unpacked) {
                    packed.insert(packed.end(), {c.note, c.instrument, c.volume, c.effect, c.parameter});
                    continue;
                }
                uint8_t flags = 0x80;
                if (c.note) flags |= 1;
                if (c.instrument) flags |= 2;
                if (c.volume) flags |= 4;
                if (c.effect) flags |= 8;
                if (c.parameter) flags |= 16;
                packed.push_back(flags);
                if (c.note) packed.push_back(c.note);
                if (c.instrument) packed.push_back(c.instrument);
                if (c.volume) packed.push_back(c.volume);
                if (c.effect) packed.push_back(c.effect);
                if (c.parameter) packed.push_back(c.parameter);
            }
        }
        put32(o, 9);
        put8(o, 0);
        put16(o, pat.rows);
        put16(o, static_cast<uint32_t>(packed.size()));
        o.insert(o.end(), packed.begin(), packed.end());
    }

    for (const XmInstrument& ins : m.instruments) {
        uint32_t count = ins.sampleCountOverride >= 0 ? static_cast<uint32_t>(ins.sampleCountOverride)
                                                       : static_cast<uint32_t>(ins.samples.size());
        bool full = count > 0;
        put32(o, full ? 263 : 29);
        zeros(o, 22);
        put8(o, 0);
        put16(o, count);
        if (full) {
            put32(o, 40);
            o.insert(o.end(), ins.noteSampleMap, ins.noteSampleMap + 96);
            for (int i = 0; i < 24; ++i)
                put16(o, i < static_cast<int>(ins.envelope.size()) ? ins.envelope[i] : 0);
            zeros(o, 48);
            put8(o, static_cast<uint32_t>(ins.envelope.size() / 2));
            put8(o, 0);
            put8(o, ins.sustainPoint);
            put8(o, ins.loopStart);
            put8(o, ins.loopEnd);
            zeros(o, 3);
            put8(o, ins.volumeType);
            put8(o, 0);
            zeros(o, 4);
            put16(o, ins.fadeout);
            zeros(o, 22);
        }
        if (count > 16)
            break;   // the loader stops here anyway
        for (const XmSample& s : ins.samples) {
            uint32_t scale = s.sixteen ? 2 : 1;
            put32(o, s.raw ? s.rawLength : static_cast<uint32_t>(s.pcm.size()) * scale);
            put32(o, s.raw ? s.rawLoopStart : s.loopStart * scale);
            put32(o, s.raw ? s.rawLoopLength : s.loopLength * scale);
            put8(o, s.volume);
            put8(o, static_cast<uint8_t>(s.finetune));
            put8(o, static_cast<uint32_t>(s.loop | (s.sixteen ? 0x10 : 0)));
            put8(o, s.panning);
            put8(o, static_cast<uint8_t>(s.relativeNote));
            zeros(o, 23);
        }
        for (const XmSample& s : ins.samples) {
            std::vector<uint8_t> b = sampleBytes(s);
            o.insert(o.end(), b.begin(), b.end());
        }
    }
    return o;
}

XmPattern emptyPattern(uint16_t rows, uint16_t channels) {
    XmPattern p;
    p.rows = rows;
    p.cells.assign(static_cast<size_t>(rows) * channels, XmCell{});
    return p;
}

XmInstrument simpleInstrument(const std::vector<int16_t>& pcm, bool sixteen, uint8_t loop, uint32_t loopStart,
                              uint32_t loopLength) {
    XmInstrument ins;
    XmSample s;
    s.pcm = pcm;
    s.sixteen = sixteen;
    s.loop = loop;
    s.loopStart = loopStart;
    s.loopLength = loopLength;
    ins.samples.push_back(s);
    return ins;
}
