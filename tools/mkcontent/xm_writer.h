// Extended modules from a description: tune.xm here, and in the tests small
// modules, damaged ones among them (the fields marked so write what the rest
// of the description would not).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/bytes.h"

struct XmCell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t parameter = 0;
};

struct XmPattern {
    uint16_t rows = 64;
    std::vector<XmCell> cells;   // rows x channels; missing cells are empty
    bool storeEmpty = false;     // damaged: packed size 0
    bool unpacked = false;       // every cell as five plain bytes
};

struct XmSample {
    std::string name;
    std::vector<int16_t> pcm;    // 8-bit samples keep the high byte
    bool sixteen = false;
    uint8_t loop = 0;            // type bits 0..1
    uint32_t loopStart = 0;      // in samples
    uint32_t loopLength = 0;
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    // Damaged: header length/loop fields in bytes and the data bytes exactly as given.
    bool raw = false;
    uint32_t rawLength = 0, rawLoopStart = 0, rawLoopLength = 0;
    Bytes rawData;
};

struct XmInstrument {
    std::string name;
    std::vector<XmSample> samples;
    uint8_t noteSampleMap[96] = {};
    std::vector<uint16_t> envelope;   // volume: x0, y0, x1, y1, ...
    uint8_t sustainPoint = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t volumeType = 0;
    uint16_t fadeout = 0;
    int32_t sampleCountOverride = -1;   // damaged: another count in the header
};

struct XmModule {
    std::string name;
    std::string tracker;
    uint16_t channels = 2;
    uint16_t songLength = 1;
    uint16_t restart = 0;
    uint16_t flags = 1;                 // 1: linear frequency table
    uint16_t speed = 6;
    uint16_t bpm = 125;
    std::vector<uint8_t> orders = {0};
    std::vector<XmPattern> patterns;
    int32_t headerPatternCount = -1;    // -1: patterns.size()
    std::vector<XmInstrument> instruments;
};

Bytes writeXm(const XmModule& module);
// The same a part at a time, so that only the file grows: the header and
// patterns (module.instruments is not read), then each instrument. False
// when a reader stops after this instrument (more than 16 samples).
void writeXmHead(Bytes& out, const XmModule& module, uint16_t instruments);
bool writeXmInstrument(Bytes& out, const XmInstrument& instrument);
