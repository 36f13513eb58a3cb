// Small modules for the music tests and the benchmark, written by the content tool's XM writer.
#pragma once
#include "tools/mkcontent/xm_writer.h"

// A pattern of `rows` empty rows for `channels` channels.
inline XmPattern emptyPattern(uint16_t rows, uint16_t channels) {
    XmPattern p;
    p.rows = rows;
    p.cells.assign(static_cast<size_t>(rows) * channels, XmCell{});
    return p;
}

// One instrument with one sample playing `pcm` for every note.
inline XmInstrument simpleInstrument(const std::vector<int16_t>& pcm, bool sixteen = true, uint8_t loop = 0,
                                     uint32_t loopStart = 0, uint32_t loopLength = 0) {
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
