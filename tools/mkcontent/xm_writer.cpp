#include "tools/mkcontent/xm_writer.h"

namespace {

void zeros(Bytes& o, size_t n) {
    o.insert(o.end(), n, 0);
}

// Delta-coded, as the format stores sample data.
void putSampleData(Bytes& o, const XmSample& s) {
    if (s.raw) {
        o.insert(o.end(), s.rawData.begin(), s.rawData.end());
        return;
    }
    int16_t previous = 0;
    for (int16_t v : s.pcm) {
        const int16_t stored = s.sixteen ? v : static_cast<int16_t>(v >> 8);
        if (s.sixteen)
            put16(o, static_cast<uint16_t>(stored - previous));
        else
            put8(o, static_cast<uint8_t>(stored - previous));
        previous = stored;
    }
}

void putPattern(Bytes& o, const XmPattern& pat, uint16_t channels) {
    Bytes packed;
    const size_t count = pat.storeEmpty ? 0 : static_cast<size_t>(pat.rows) * channels;
    for (size_t i = 0; i < count; ++i) {
        const XmCell c = i < pat.cells.size() ? pat.cells[i] : XmCell{};
        if (pat.unpacked) {
            packed.insert(packed.end(), {c.note, c.instrument, c.volume, c.effect, c.parameter});
            continue;
        }
        const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.parameter};
        uint8_t flags = 0x80;
        for (int f = 0; f < 5; ++f)
            flags |= fields[f] ? 1 << f : 0;
        packed.push_back(flags);
        for (uint8_t field : fields)
            if (field)
                packed.push_back(field);
    }
    put32(o, 9);
    put8(o, 0);
    put16(o, pat.rows);
    put16(o, static_cast<uint32_t>(packed.size()));
    o.insert(o.end(), packed.begin(), packed.end());
}

}  // namespace

void writeXmHead(Bytes& o, const XmModule& m, uint16_t instruments) {
    putText(o, "Extended Module: ", 17);
    putText(o, m.name, 20);
    put8(o, 0x1a);
    putText(o, m.tracker, 20);
    put16(o, 0x0104);
    const uint16_t patternCount = static_cast<uint16_t>(
        m.headerPatternCount >= 0 ? m.headerPatternCount : static_cast<int32_t>(m.patterns.size()));
    put32(o, 276);
    put16(o, m.songLength);
    put16(o, m.restart);
    put16(o, m.channels);
    put16(o, patternCount);
    put16(o, instruments);
    put16(o, m.flags);
    put16(o, m.speed);
    put16(o, m.bpm);
    for (size_t i = 0; i < 256; ++i)
        put8(o, i < m.orders.size() ? m.orders[i] : 0);
    for (size_t p = 0; p < m.patterns.size() && p < patternCount; ++p)
        putPattern(o, m.patterns[p], m.channels);
}

bool writeXmInstrument(Bytes& o, const XmInstrument& ins) {
    const uint32_t count = ins.sampleCountOverride >= 0 ? static_cast<uint32_t>(ins.sampleCountOverride)
                                                         : static_cast<uint32_t>(ins.samples.size());
    const bool full = count > 0;
    put32(o, full ? 263 : 29);
    putText(o, ins.name, 22);
    put8(o, 0);
    put16(o, count);
    if (full) {
        put32(o, 40);
        o.insert(o.end(), ins.noteSampleMap, ins.noteSampleMap + 96);
        for (size_t i = 0; i < 24; ++i)
            put16(o, i < ins.envelope.size() ? ins.envelope[i] : 0);
        zeros(o, 48);   // panning envelope
        put8(o, static_cast<uint32_t>(ins.envelope.size() / 2));
        put8(o, 0);
        put8(o, ins.sustainPoint);
        put8(o, ins.loopStart);
        put8(o, ins.loopEnd);
        zeros(o, 3);
        put8(o, ins.volumeType);
        put8(o, 0);
        zeros(o, 4);   // vibrato
        put16(o, ins.fadeout);
        zeros(o, 22);
    }
    if (count > 16)
        return false;   // a reader stops here
    for (const XmSample& s : ins.samples) {
        const uint32_t scale = s.sixteen ? 2 : 1;
        put32(o, s.raw ? s.rawLength : static_cast<uint32_t>(s.pcm.size()) * scale);
        put32(o, s.raw ? s.rawLoopStart : s.loopStart * scale);
        put32(o, s.raw ? s.rawLoopLength : s.loopLength * scale);
        put8(o, s.volume);
        put8(o, static_cast<uint8_t>(s.finetune));
        put8(o, s.loop | (s.sixteen ? 0x10u : 0u));
        put8(o, s.panning);
        put8(o, static_cast<uint8_t>(s.relativeNote));
        put8(o, 0);
        putText(o, s.name, 22);
    }
    for (const XmSample& s : ins.samples)
        putSampleData(o, s);
    return true;
}

Bytes writeXm(const XmModule& m) {
    Bytes o;
    writeXmHead(o, m, static_cast<uint16_t>(m.instruments.size()));
    for (const XmInstrument& ins : m.instruments)
        if (!writeXmInstrument(o, ins))
            break;
    return o;
}
