// Module loader: reads an extended module through the stream hooks into the
// Player's patterns, instruments and samples. Every count, index and loop it
// keeps lies inside the data it allocated; a file that ends early keeps what
// was there (the rest plays as silence) and says so in moduleLoadWarning.
#include <cstring>
#include <new>

#include "data/reader.h"
#include "music/module.h"
#include "music/output.h"
#include "music/sequencer.h"

Sample emptySample = {};
Instrument emptyInstrument = {};

namespace {

const char* lastError = "";
char lastWarning[96] = "";

const char SIGNATURE[] = "Extended Module: ";
const uint32_t SIGNATURE_LENGTH = sizeof SIGNATURE - 1;

// Longest sample kept, in samples; keeps every 32.32 position well inside 63 bits.
const uint32_t MAX_SAMPLE_LENGTH = 1u << 28;

// The loader reads through the installed stream hooks; this remembers where the
// hook stream stands so that sequential reads need no seek.
struct HookStream {
    void* stream;
    uint64_t position;
};

uint32_t fetchFromHooks(void* context, uint64_t offset, void* out, uint32_t bytes) {
    HookStream* s = static_cast<HookStream*>(context);
    if (s->position != offset)
        streamHooks.seek(s->stream, static_cast<int32_t>(offset), 0);
    int32_t n = streamHooks.read(out, static_cast<int32_t>(bytes), s->stream);
    n = n > 0 ? n : 0;
    s->position = offset + static_cast<uint32_t>(n);
    return static_cast<uint32_t>(n);
}

bool fail(const char* why) {
    lastError = why;
    return false;
}

// Writes text into lastWarning from position at, cut short as snprintf would
// be; returns the new end. (snprintf would link the runtime's whole printf.)
size_t warningAppend(size_t at, const char* text) {
    while (*text && at + 1 < sizeof lastWarning)
        lastWarning[at++] = *text++;
    lastWarning[at] = 0;
    return at;
}

size_t warningAppend(size_t at, int32_t value) {
    char digits[12];
    char* p = digits + sizeof digits;
    *--p = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        *--p = '-';
    return warningAppend(at, p);
}

// Keeps the first place where the data ran out.
void noteCut(bool cut, const char* what, int32_t index, int32_t count) {
    if (!cut || lastWarning[0])
        return;
    size_t at = warningAppend(warningAppend(0, "the file ends inside "), what);
    if (count >= 0) {
        at = warningAppend(warningAppend(at, " "), index);
        at = warningAppend(warningAppend(at, " of "), count);
    }
    warningAppend(at, "; what is missing plays as silence");
}

void loadPattern(ByteReader& in, Pattern& pattern, int32_t channels) {
    readerU32(&in);   // header length: taken to be 9
    readerU8(&in);    // packing type
    pattern.rows = readerU16(&in);
    uint16_t packedSize = readerU16(&in);
    int64_t cellCount = static_cast<int64_t>(pattern.rows) * channels;
    // Nothing stored (or nothing left to read): every cell is empty.
    if (packedSize == 0 || cellCount == 0 || readerRemaining(&in) == 0) {
        in.ended |= packedSize != 0 && cellCount != 0;
        return;
    }
    pattern.cells = new Cell[static_cast<size_t>(cellCount)]();
    for (int64_t i = 0; i < cellCount; ++i) {
        Cell& cell = pattern.cells[i];
        uint8_t b = readerU8(&in);
        if (b & PACKED) {
            if (b & PACKED_NOTE) cell.note = readerU8(&in);
            if (b & PACKED_INSTRUMENT) cell.instrument = readerU8(&in);
            if (b & PACKED_VOLUME) cell.volume = readerU8(&in);
            if (b & PACKED_EFFECT) cell.effect = readerU8(&in);
            if (b & PACKED_PARAMETER) cell.parameter = readerU8(&in);
        } else {
            cell.note = b;
            cell.instrument = readerU8(&in);
            cell.volume = readerU8(&in);
            cell.effect = readerU8(&in);
            cell.parameter = readerU8(&in);
        }
        if (cell.note == FILE_NOTE_KEY_OFF)
            cell.note = NOTE_KEY_OFF;
        else if (cell.note > FILE_NOTE_KEY_OFF)
            cell.note = NOTE_NONE;   // not a note this player knows
        if (cell.instrument > 128)
            cell.instrument = 0;
    }
}

void readEnvelope(ByteReader& in, EnvelopePoint* points) {
    for (int i = 0; i < ENVELOPE_POINTS; ++i) {
        points[i].x = readerU16(&in);
        points[i].y = readerU16(&in);
    }
}

// Keeps the envelope walk inside its 12 points.
void guardEnvelope(uint8_t& count, uint8_t& type, uint8_t loopStart, uint8_t loopEnd) {
    if (count > ENVELOPE_POINTS)
        count = ENVELOPE_POINTS;
    if (count < 2)
        type = 0;
    if ((type & ENVELOPE_LOOP) && (loopStart >= count || loopEnd >= count))
        type &= static_cast<uint8_t>(~ENVELOPE_LOOP);
}

void readSampleHeader(ByteReader& in, Sample& s) {
    s.length = readerU32(&in);
    s.loopStart = readerU32(&in);
    s.loopLength = readerU32(&in);
    s.volume = readerU8(&in);
    s.finetune = static_cast<int8_t>(readerU8(&in));
    uint8_t type = readerU8(&in);
    s.panning = readerU8(&in);
    s.relativeNote = static_cast<int8_t>(readerU8(&in));
    readerSkip(&in, 23);
    s.loopType = LOOP_NONE;
    s.bits = 8;
    if (type & SAMPLE_TYPE_FORWARD)
        s.loopType = LOOP_FORWARD;
    if (type & SAMPLE_TYPE_PING_PONG)
        s.loopType = LOOP_PING_PONG;
    if (type & SAMPLE_TYPE_16_BIT)
        s.bits = 16;
    if (s.loopType == LOOP_NONE) {
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
        s.loopType = LOOP_NONE;
    }
}

// Keeps the loop inside the data the sample really has.
void guardLoop(Sample& s) {
    if (s.loopType == LOOP_NONE) {
        s.loopStart = 0;
        s.loopLength = s.length;
        return;
    }
    if (s.loopStart >= s.length) {
        s.loopType = LOOP_NONE;
        s.loopStart = 0;
        s.loopLength = s.length;
    } else if (static_cast<uint64_t>(s.loopStart) + s.loopLength > s.length) {
        s.loopLength = s.length - s.loopStart;
    }
}

void loadSampleData(ByteReader& in, Player* player, Sample& s, int32_t instrument, int32_t sample) {
    uint32_t bytesPerSample = s.bits / 8;
    // A truncated file: keep what is there.
    if (s.length > MAX_SAMPLE_LENGTH)
        s.length = MAX_SAMPLE_LENGTH;
    int64_t available = readerRemaining(&in) / bytesPerSample;
    if (!player->sampleProvider && s.length > available) {
        s.length = static_cast<uint32_t>(available);
        in.ended = true;
    }
    guardLoop(s);
    if (s.length == 0)
        return;
    uint32_t bytes = s.length * bytesPerSample;
    s.data = new int16_t[s.length + 8]();
    uint8_t* raw = reinterpret_cast<uint8_t*>(s.data);
    if (player->sampleProvider) {
        player->sampleProvider(raw, bytes, s.bits, instrument, sample);
        readerSkip(&in, bytes);
    } else {
        readerRead(&in, raw, bytes);
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
    if (s.loopType == LOOP_PING_PONG)
        s.data[end] = s.data[end - 1];
    else if (s.loopType == LOOP_FORWARD)
        s.data[end] = s.data[s.loopStart];
    s.dataFloat = new float[s.length + 8];
    for (uint32_t i = 0; i < s.length + 8; ++i)
        s.dataFloat[i] = static_cast<float>(s.data[i]);
}

bool loadInstrument(ByteReader& in, Player* player, Instrument& ins, int32_t index) {
    int64_t start = in.position;
    uint32_t headerSize = readerU32(&in);
    readerSkip(&in, 23);
    uint16_t count = readerU16(&in);
    if (count > SAMPLES_PER_INSTRUMENT)
        return fail("an instrument has more than 16 samples");
    for (int i = 0; i < SAMPLES_PER_INSTRUMENT; ++i)
        ins.samples[i] = &emptySample;
    if (count != 0) {
        readerU32(&in);   // sample header size: taken to be 40
        readerRead(&in, ins.noteSampleMap, NOTE_COUNT);
        readEnvelope(in, ins.volumeEnvelope);
        readEnvelope(in, ins.panningEnvelope);
        ins.volumePointCount = readerU8(&in);
        ins.panningPointCount = readerU8(&in);
        ins.volumeSustainPoint = readerU8(&in);
        ins.volumeLoopStart = readerU8(&in);
        ins.volumeLoopEnd = readerU8(&in);
        ins.panningSustainPoint = readerU8(&in);
        ins.panningLoopStart = readerU8(&in);
        ins.panningLoopEnd = readerU8(&in);
        ins.volumeType = readerU8(&in);
        ins.panningType = readerU8(&in);
        ins.vibratoType = readerU8(&in);
        ins.vibratoSweep = readerU8(&in);
        ins.vibratoDepth = readerU8(&in);
        ins.vibratoRate = readerU8(&in);
        ins.fadeout = static_cast<uint16_t>(readerU16(&in) << 1);
        guardEnvelope(ins.volumePointCount, ins.volumeType, ins.volumeLoopStart, ins.volumeLoopEnd);
        guardEnvelope(ins.panningPointCount, ins.panningType, ins.panningLoopStart, ins.panningLoopEnd);
        // Envelope values above 64 would overflow the 16.16 slope arithmetic.
        for (int i = 0; i < ENVELOPE_POINTS; ++i) {
            if (ins.volumeEnvelope[i].y > 64) ins.volumeEnvelope[i].y = 64;
            if (ins.panningEnvelope[i].y > 64) ins.panningEnvelope[i].y = 64;
        }
    }
    readerSeek(&in, start + headerSize);
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
    if (size < SIGNATURE_LENGTH || std::memcmp(data, SIGNATURE, SIGNATURE_LENGTH) != 0)
        return size < SIGNATURE_LENGTH ? nullptr : "not an extended module (bad signature)";
    if (size >= 70 && word(68) == 0)
        return "the module has no channels";
    if (size >= 70 && word(68) > MAX_CHANNELS)
        return "more than 32 channels";
    if (size >= 72 && word(70) > MAX_PATTERNS)
        return "more than 256 patterns";
    if (size >= 74 && word(72) > MAX_INSTRUMENTS)
        return "more than 32767 instruments";
    if (size >= 76 && !(word(74) & MODULE_FLAG_LINEAR))
        return "Amiga frequency table is not supported (only linear frequencies)";
    return nullptr;
}

bool moduleLoad(Player* player, StreamHandle* handle) {
    if (!player || !handle || !streamHooksInstalled())
        return fail("no module stream");
    lastWarning[0] = 0;
    streamHooks.seek(handle->stream, 0, 2);
    int32_t size = streamHooks.tell(handle->stream);
    HookStream hook = {handle->stream, UINT64_MAX};
    ByteReader in;
    readerOpenStream(&in, fetchFromHooks, &hook, size > 0 ? static_cast<uint32_t>(size) : 0);
    // Zeros past the end: a stream too short for the signature is no module.
    // Of a header cut short, only the signature is judged.
    uint8_t header[MODULE_HEADER_SIZE] = {};
    readerRead(&in, header, MODULE_HEADER_SIZE);
    const bool whole = in.size >= MODULE_HEADER_SIZE;
    if (const char* why = moduleCheckHeader(header, whole ? MODULE_HEADER_SIZE : SIGNATURE_LENGTH))
        return fail(why);
    if (!whole)
        return fail("the file is truncated");
    player->tickRoutine = playerTick;
    player->initialGlobalVolume = 64;

    readerSeek(&in, 60);
    uint32_t headerSize = readerU32(&in);
    uint16_t songLength = readerU16(&in);
    uint16_t restart = readerU16(&in);
    uint16_t channels = readerU16(&in);
    uint16_t storedPatterns = readerU16(&in);
    uint16_t instruments = readerU16(&in);
    player->flags = readerU16(&in);
    player->defaultSpeed = static_cast<int16_t>(readerU16(&in));
    player->defaultBpm = static_cast<int16_t>(readerU16(&in));
    readerRead(&in, player->orderTable, 256);
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

    readerSeek(&in, 60 + static_cast<int64_t>(headerSize));
    player->patterns = new Pattern[static_cast<size_t>(player->patternCount)]();
    noteCut(in.ended, "the header", 0, -1);
    for (int32_t i = 0; i < storedPatterns; ++i) {
        loadPattern(in, player->patterns[i], channels);
        noteCut(in.ended, "pattern", i, storedPatterns);
    }
    for (int32_t i = storedPatterns; i < player->patternCount; ++i)
        player->patterns[i].rows = 64;

    if (instruments > 0)
        player->instruments = new Instrument[instruments]();
    for (int32_t i = 0; i < instruments; ++i) {
        if (!loadInstrument(in, player, player->instruments[i], i))
            return false;
        noteCut(in.ended, "instrument", i + 1, instruments);
    }
    return true;
}

Player* moduleOpenStream(intptr_t nameOrId, SampleProvider sampleProvider) {
    Player* player = new (std::nothrow) Player{};
    if (!player)
        return nullptr;
    StreamHandle* handle = streamOpen(nameOrId);
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
