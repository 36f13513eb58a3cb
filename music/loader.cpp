#include <cstdio>
#include <cstring>
#include <new>

#include "music/module.h"
#include "music/output.h"
#include "music/sequencer.h"

Sample emptySample = {};
Instrument emptyInstrument = {};

namespace {

const char* lastError = "";
char lastWarning[96] = "";

// Longest sample kept, in samples; keeps every 32.32 position well inside 63 bits.
const uint32_t MAX_SAMPLE_LENGTH = 1u << 28;

struct Reader {
    void* stream;
    int32_t size;   // total stream size, for the truncation guards
    bool shortRead; // a read asked for bytes past the end

    int32_t read(void* destination, int32_t bytes) {
        int32_t n = streamHooks.read(destination, bytes, stream);
        shortRead |= n < bytes;
        return n;
    }
    uint8_t u8() {
        uint8_t b[1] = {0};
        read(b, 1);
        return b[0];
    }
    uint16_t u16() {
        uint8_t b[2] = {0, 0};
        read(b, 2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    uint32_t u32() {
        uint8_t b[4] = {0, 0, 0, 0};
        read(b, 4);
        return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
               (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    }
    int32_t tell() { return streamHooks.tell(stream); }
    void seekTo(int64_t position) {
        if (position < 0)
            position = 0;
        if (position > 0x7fffffff)
            position = 0x7fffffff;
        streamHooks.seek(stream, static_cast<int32_t>(position), 0);
    }
    void skip(int64_t bytes) { seekTo(static_cast<int64_t>(tell()) + bytes); }
    int64_t remaining() {
        int64_t r = static_cast<int64_t>(size) - tell();
        return r > 0 ? r : 0;
    }
};

bool fail(const char* why) {
    lastError = why;
    return false;
}

// Keeps the first place where the data ran out.
void noteCut(bool cut, const char* what, int32_t index, int32_t count) {
    if (!cut || lastWarning[0])
        return;
    if (count < 0)
        std::snprintf(lastWarning, sizeof lastWarning,
                      "the file ends inside %s; what is missing plays as silence", what);
    else
        std::snprintf(lastWarning, sizeof lastWarning,
                      "the file ends inside %s %d of %d; what is missing plays as silence", what,
                      static_cast<int>(index), static_cast<int>(count));
}

void loadPattern(Reader& in, Pattern& pattern, int32_t channels) {
    in.u32();   // header length: taken to be 9
    in.u8();    // packing type
    pattern.rows = in.u16();
    uint16_t packedSize = in.u16();
    int64_t cellCount = static_cast<int64_t>(pattern.rows) * channels;
    // Nothing stored (or nothing left to read): every cell is empty.
    if (packedSize == 0 || cellCount == 0 || in.remaining() == 0) {
        in.shortRead |= packedSize != 0 && cellCount != 0;
        return;
    }
    pattern.cells = new Cell[static_cast<size_t>(cellCount)]();
    for (int64_t i = 0; i < cellCount; ++i) {
        Cell& cell = pattern.cells[i];
        uint8_t b = in.u8();
        if (b & 0x80) {
            if (b & 0x01) cell.note = in.u8();
            if (b & 0x02) cell.instrument = in.u8();
            if (b & 0x04) cell.volume = in.u8();
            if (b & 0x08) cell.effect = in.u8();
            if (b & 0x10) cell.parameter = in.u8();
        } else {
            cell.note = b;
            cell.instrument = in.u8();
            cell.volume = in.u8();
            cell.effect = in.u8();
            cell.parameter = in.u8();
        }
        if (cell.note == 97)
            cell.note = 255;
        else if (cell.note > 97)
            cell.note = 0;   // not a note this player knows
        if (cell.instrument > 128)
            cell.instrument = 0;
    }
}

void readEnvelope(Reader& in, EnvelopePoint* points) {
    for (int i = 0; i < ENVELOPE_POINTS; ++i) {
        points[i].x = in.u16();
        points[i].y = in.u16();
    }
}

// Keeps the envelope walk inside its 12 points.
void guardEnvelope(uint8_t& count, uint8_t& type, uint8_t loopStart, uint8_t loopEnd) {
    if (count > ENVELOPE_POINTS)
        count = ENVELOPE_POINTS;
    if (count < 2)
        type = 0;
    if ((type & 4) && (loopStart >= count || loopEnd >= count))
        type &= static_cast<uint8_t>(~4);
}

void readSampleHeader(Reader& in, Sample& s) {
    s.length = in.u32();
    s.loopStart = in.u32();
    s.loopLength = in.u32();
    s.volume = in.u8();
    s.finetune = static_cast<int8_t>(in.u8());
    uint8_t type = in.u8();
    s.panning = in.u8();
    s.relativeNote = static_cast<int8_t>(in.u8());
    in.skip(23);
    s.loopType = 1;
    s.bits = 8;
    if (type & 1)
        s.loopType = 2;
    if (type & 2)
        s.loopType = 4;
    if (type & 0x10)
        s.bits = 16;
    if (s.loopType == 1) {
        s.loopStart = 0;
        s.loopLength = s.length;
    }
    if (s.bits == 16) {
        s.length >>= 1;
        s.loopStart >>= 1;
        s.loopLength >>= 1;
    }
    if (s.loopLength == 0) {
        s.loopStart = 0;
        s.loopLength = s.length;
        s.loopType = 1;
    }
}

// Keeps the loop inside the data the sample really has.
void guardLoop(Sample& s) {
    if (s.loopType == 1) {
        s.loopStart = 0;
        s.loopLength = s.length;
        return;
    }
    if (s.loopStart >= s.length) {
        s.loopType = 1;
        s.loopStart = 0;
        s.loopLength = s.length;
    } else if (static_cast<uint64_t>(s.loopStart) + s.loopLength > s.length) {
        s.loopLength = s.length - s.loopStart;
    }
}

void loadSampleData(Reader& in, Player* player, Sample& s, int32_t instrument, int32_t sample) {
    uint32_t bytesPerSample = s.bits / 8;
    // A truncated file: keep what is there.
    if (s.length > MAX_SAMPLE_LENGTH)
        s.length = MAX_SAMPLE_LENGTH;
    int64_t available = in.remaining() / bytesPerSample;
    if (!player->sampleProvider && s.length > available) {
        s.length = static_cast<uint32_t>(available);
        in.shortRead = true;
    }
    guardLoop(s);
    if (s.length == 0)
        return;
    uint32_t bytes = s.length * bytesPerSample;
    s.data = new int16_t[s.length + 8]();
    uint8_t* raw = reinterpret_cast<uint8_t*>(s.data);
    if (player->sampleProvider) {
        player->sampleProvider(raw, bytes, s.bits, instrument, sample);
        in.skip(bytes);
    } else {
        in.read(raw, static_cast<int32_t>(bytes));
    }
    if (s.bits == 8) {
        for (uint32_t i = s.length; i-- > 0;)
            s.data[i] = static_cast<int16_t>(static_cast<uint16_t>(raw[i]) << 8);
        s.bits = 16;
    } else {
        for (uint32_t i = 0; i < s.length; ++i)
            s.data[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    }
    if (!player->sampleProvider) {
        uint16_t sum = 0;
        for (uint32_t i = 0; i < s.length; ++i) {
            sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(s.data[i]));
            s.data[i] = static_cast<int16_t>(sum);
        }
    }
    uint32_t end = s.loopStart + s.loopLength;
    if (s.loopType == 4)
        s.data[end] = s.data[end - 1];
    else if (s.loopType == 2)
        s.data[end] = s.data[s.loopStart];
    s.dataFloat = new float[s.length + 8];
    for (uint32_t i = 0; i < s.length + 8; ++i)
        s.dataFloat[i] = static_cast<float>(s.data[i]);
}

bool loadInstrument(Reader& in, Player* player, Instrument& ins, int32_t index) {
    int64_t start = in.tell();
    uint32_t headerSize = in.u32();
    in.skip(23);
    uint16_t count = in.u16();
    if (count > SAMPLES_PER_INSTRUMENT)
        return fail("an instrument has more than 16 samples");
    for (int i = 0; i < SAMPLES_PER_INSTRUMENT; ++i)
        ins.samples[i] = &emptySample;
    if (count != 0) {
        in.u32();   // sample header size: taken to be 40
        in.read(ins.noteSampleMap, NOTE_COUNT);
        readEnvelope(in, ins.volumeEnvelope);
        readEnvelope(in, ins.panningEnvelope);
        ins.volumePointCount = in.u8();
        ins.panningPointCount = in.u8();
        ins.volumeSustainPoint = in.u8();
        ins.volumeLoopStart = in.u8();
        ins.volumeLoopEnd = in.u8();
        ins.panningSustainPoint = in.u8();
        ins.panningLoopStart = in.u8();
        ins.panningLoopEnd = in.u8();
        ins.volumeType = in.u8();
        ins.panningType = in.u8();
        ins.vibratoType = in.u8();
        ins.vibratoSweep = in.u8();
        ins.vibratoDepth = in.u8();
        ins.vibratoRate = in.u8();
        ins.fadeout = static_cast<uint16_t>(in.u16() << 1);
        guardEnvelope(ins.volumePointCount, ins.volumeType, ins.volumeLoopStart, ins.volumeLoopEnd);
        guardEnvelope(ins.panningPointCount, ins.panningType, ins.panningLoopStart, ins.panningLoopEnd);
        // Envelope values above 64 would overflow the 16.16 slope arithmetic.
        for (int i = 0; i < ENVELOPE_POINTS; ++i) {
            if (ins.volumeEnvelope[i].y > 64) ins.volumeEnvelope[i].y = 64;
            if (ins.panningEnvelope[i].y > 64) ins.panningEnvelope[i].y = 64;
        }
    }
    in.seekTo(start + headerSize);
    if (count == 0)
        return true;
    ins.sampleCount = count;
    for (int i = 0; i < count; ++i) {
        ins.samples[i] = new Sample{};
        readSampleHeader(in, *ins.samples[i]);
    }
    for (int i = 0; i < count; ++i)
        loadSampleData(in, player, *ins.samples[i], index, i);
    return true;
}

}  // namespace

const char* moduleLoadError() {
    return lastError;
}

const char* moduleLoadWarning() {
    return lastWarning;
}

const char* moduleCheckHeader(const uint8_t* data, uint32_t size) {
    if (!data)
        size = 0;
    auto word = [&](uint32_t at) { return static_cast<uint16_t>(data[at] | (data[at + 1] << 8)); };
    if (size < 17 || std::memcmp(data, "Extended Module: ", 17) != 0)
        return size < 17 ? nullptr : "not an extended module (bad signature)";
    if (size >= 70 && word(68) == 0)
        return "the module has no channels";
    if (size >= 70 && word(68) > MAX_CHANNELS)
        return "more than 32 channels";
    if (size >= 72 && word(70) > MAX_PATTERNS)
        return "more than 256 patterns";
    if (size >= 74 && word(72) > 0x7fff)
        return "more than 32767 instruments";
    if (size >= 76 && !(word(74) & MODULE_FLAG_LINEAR))
        return "Amiga frequency table is not supported (only linear frequencies)";
    return nullptr;
}

bool moduleLoad(Player* player, StreamHandle* handle) {
    if (!player || !handle || !streamHooksInstalled())
        return fail("no module stream");
    lastWarning[0] = 0;
    Reader in{handle->stream, 0, false};
    char signature[17] = {};
    in.read(signature, 17);
    if (std::memcmp(signature, "Extended Module: ", 17) != 0)
        return fail("not an extended module (bad signature)");
    player->tickRoutine = playerTick;
    player->initialGlobalVolume = 64;

    int32_t position = in.tell();
    streamHooks.seek(in.stream, 0, 2);
    in.size = in.tell();
    in.seekTo(position);

    in.seekTo(60);
    uint32_t headerSize = in.u32();
    uint16_t songLength = in.u16();
    uint16_t restart = in.u16();
    uint16_t channels = in.u16();
    uint16_t storedPatterns = in.u16();
    uint16_t instruments = in.u16();
    player->flags = in.u16();
    player->defaultSpeed = static_cast<int16_t>(in.u16());
    player->defaultBpm = static_cast<int16_t>(in.u16());
    in.read(player->orderTable, 256);
    if (in.size < 80)
        return fail("the file is truncated");
    if (channels == 0)
        return fail("the module has no channels");
    if (channels > MAX_CHANNELS)
        return fail("more than 32 channels");
    if (instruments > 0x7fff)
        return fail("more than 32767 instruments");
    if (!(player->flags & MODULE_FLAG_LINEAR))
        return fail("Amiga frequency table is not supported (only linear frequencies)");
    // The order table has 256 entries and the song needs at least one.
    if (songLength > 256)
        songLength = 256;
    if (songLength == 0)
        songLength = 1;
    if (restart >= songLength)
        restart = 0;
    player->songLength = static_cast<int16_t>(songLength);
    player->restartPosition = static_cast<int16_t>(restart);
    player->channelCount = static_cast<int16_t>(channels);
    player->instrumentCount = static_cast<int16_t>(instruments);

    int32_t highest = -1;
    for (int i = 0; i < songLength; ++i)
        if (player->orderTable[i] > highest)
            highest = player->orderTable[i];
    player->referencedPatternCount = highest + 1;
    player->patternCount = storedPatterns > player->referencedPatternCount ? storedPatterns
                                                                           : player->referencedPatternCount;

    in.seekTo(60 + static_cast<int64_t>(headerSize));
    player->patterns = new Pattern[static_cast<size_t>(player->patternCount)]();
    noteCut(in.shortRead, "the header", 0, -1);
    for (int32_t i = 0; i < storedPatterns; ++i) {
        loadPattern(in, player->patterns[i], channels);
        noteCut(in.shortRead, "pattern", i, storedPatterns);
    }
    for (int32_t i = storedPatterns; i < player->patternCount; ++i)
        player->patterns[i].rows = 64;

    if (instruments > 0)
        player->instruments = new Instrument[instruments]();
    for (int32_t i = 0; i < instruments; ++i) {
        if (!loadInstrument(in, player, player->instruments[i], i))
            return false;
        noteCut(in.shortRead, "instrument", i + 1, instruments);
    }
    return true;
}

Player* moduleOpenStream(intptr_t nameOrId, SampleProvider sampleProvider) {
    Player* player = new (std::nothrow) Player{};
    if (!player)
        return nullptr;
    StreamHandle* handle = streamOpen(nameOrId, 0, 0);
    if (!handle) {
        delete player;
        lastError = "cannot open the module stream";
        return nullptr;
    }
    player->sampleProvider = sampleProvider;
    lastError = "";
    lastWarning[0] = 0;
    bool ok = moduleLoad(player, handle);
    streamClose(handle);
    if (!ok) {
        moduleFree(player);
        return nullptr;
    }
    return player;
}

Player* moduleOpen(int32_t resourceId, SampleProvider sampleProvider) {
    return moduleOpenStream(resourceId, sampleProvider);
}

void moduleFree(Player* player) {
    if (!player)
        return;
    audioReleasePlayer(player);
    if (player->instruments) {
        for (int32_t i = 0; i < player->instrumentCount; ++i) {
            Instrument& ins = player->instruments[i];
            for (int32_t s = 0; s < ins.sampleCount; ++s) {
                delete[] ins.samples[s]->data;
                delete[] ins.samples[s]->dataFloat;
                delete ins.samples[s];
            }
        }
        delete[] player->instruments;
    }
    if (player->patterns) {
        for (int32_t i = 0; i < player->patternCount; ++i)
            delete[] player->patterns[i].cells;
        delete[] player->patterns;
    }
    delete player;
}
