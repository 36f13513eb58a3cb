// The tune: a tracker-style pattern text and a recipe per instrument become
// an Extended Module. Samples are synthesised here from the recipes.
#include "content.h"
#include "xm_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace {

const int CHANNELS = 10;
const int ROWS = 64;
const int INSTRUMENTS = 31;

// ---------------------------------------------------------------- recipes

struct Recipe {
    int number = 0;
    std::string name;
    std::string synth;
    std::map<std::string, double> params;
    std::map<std::string, std::string> words;
    double rate = 0;        // drums: sample rate heard at C-4
    double transpose = 0;   // pitched: semitones added to the written note
    int bits = 8;
    double amp = 0.9;       // peak of the stored sample, fraction of full scale
    int volume = 64;
    int pan = 128;
    std::vector<std::pair<int, int>> env;
    int sustain = -1;
    int loopStart = -1, loopEnd = -1;
    int fadeout = 0;
    int line = 0;        // the instrument line
    int synthLine = 0;
};

enum LoopKind { LOOP_NONE, LOOP_FORWARD, LOOP_PINGPONG };   // the format's sample loop types

struct Synth {
    std::vector<double> data;
    size_t loopStart = 0, loopLength = 0;
    LoopKind loop = LOOP_NONE;
    double cycle = 0;   // samples per period for pitched sounds, 0 for drums
};

double param(const Recipe& r, const char* key, double fallback) {
    auto it = r.params.find(key);
    return it == r.params.end() ? fallback : it->second;
}

std::string word(const Recipe& r, const char* key, const char* fallback) {
    auto it = r.words.find(key);
    return it == r.words.end() ? fallback : it->second;
}

struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1) {}
    double next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
    }
};

// White noise through a one-pole high-pass and a one-pole low-pass.
std::vector<double> filteredNoise(size_t count, double rate, double hp, double lp, uint32_t seed) {
    Noise noise(seed);
    std::vector<double> out(count);
    double aHp = hp > 0 ? 1 - detExp(-2 * PI * hp / rate) : 0;
    double aLp = lp > 0 ? 1 - detExp(-2 * PI * lp / rate) : 1;
    double low = 0, smooth = 0;
    // Run in so the filters have settled at the first stored sample.
    for (size_t i = 0; i < count + 256; i++) {
        double x = noise.next();
        low += aHp * (x - low);
        double high = hp > 0 ? x - low : x;
        smooth += aLp * (high - smooth);
        if (i >= 256) out[i - 256] = smooth;
    }
    return out;
}

double softClip(double x, double drive) {
    if (drive <= 0) return x;
    double y = x * drive;
    return y / (1 + std::fabs(y)) * (1 + drive) / drive;
}

// Defaults the recipe checks need too.
constexpr double KICK_F1 = 50;         // Hz
constexpr double SNARE_BODY = 0.05;    // seconds
constexpr double CLAP_BODY = 0.04;     // seconds
constexpr double NOISE_TAIL = 1024;    // sample points

// Falling sine sweep, then one looped period at the final pitch; the volume
// envelope shapes the tail.
Synth synthKick(const Recipe& r) {
    double rate = r.rate;
    double f0 = param(r, "f0", 180), f1 = param(r, "f1", KICK_F1);
    double sweep = param(r, "sweep", 0.03), body = param(r, "body", 0.08);
    double click = param(r, "click", 0), drive = param(r, "drive", 0);
    size_t period = static_cast<size_t>(std::floor(rate / f1 + 0.5));
    double fEnd = rate / period;
    Noise noise(7);
    Synth s;
    double phase = 0;
    for (size_t i = 0; i < static_cast<size_t>(rate * 2); i++) {
        double t = i / rate;
        double f = fEnd + (f0 - fEnd) * detExp(-t / sweep);
        double x = detSin(phase) + click * detExp(-t / 0.0025) * noise.next();
        s.data.push_back(softClip(x, drive));
        double nextPhase = phase + 2 * PI * f / rate;
        if (t >= body && std::floor(nextPhase / (2 * PI)) > std::floor(phase / (2 * PI))) break;
        phase = nextPhase;
    }
    s.loopStart = s.data.size();
    for (size_t j = 0; j < period; j++) s.data.push_back(softClip(detSin(2 * PI * j / period), drive));
    s.loopLength = period;
    s.loop = LOOP_FORWARD;
    return s;
}

// Tone plus noise burst, then a ping-pong loop of the same noise.
Synth synthSnare(const Recipe& r) {
    double rate = r.rate;
    size_t body = static_cast<size_t>(param(r, "body", SNARE_BODY) * rate);
    size_t tail = static_cast<size_t>(param(r, "tail", NOISE_TAIL));
    double tone = param(r, "tone", 190), toneDecay = param(r, "tonedecay", 0.04);
    double toneLevel = param(r, "tonelevel", 1), noiseLevel = param(r, "noise", 0.7);
    double boost = param(r, "boost", 1.5);
    std::vector<double> n = filteredNoise(body + tail, rate, param(r, "hp", 200), param(r, "lp", 8000),
                                          static_cast<uint32_t>(param(r, "seed", 11)));
    Synth s;
    for (size_t i = 0; i < body + tail; i++) {
        double t = i / rate;
        double x = noiseLevel * n[i] * (1 + boost * detExp(-t / 0.012));
        if (i < body) x += toneLevel * detSin(2 * PI * tone * t) * detExp(-t / toneDecay);
        s.data.push_back(x);
    }
    s.loopStart = body;
    s.loopLength = tail;
    s.loop = LOOP_PINGPONG;
    return s;
}

// A few quick noise bursts, then a ping-pong loop of noise.
Synth synthClap(const Recipe& r) {
    double rate = r.rate;
    size_t body = static_cast<size_t>(param(r, "body", CLAP_BODY) * rate);
    size_t tail = static_cast<size_t>(param(r, "tail", NOISE_TAIL));
    int bursts = static_cast<int>(param(r, "bursts", 3));
    double spacing = param(r, "spacing", 0.011);
    std::vector<double> n = filteredNoise(body + tail, rate, param(r, "hp", 800), param(r, "lp", 4000),
                                          static_cast<uint32_t>(param(r, "seed", 23)));
    Synth s;
    double last = (bursts - 1) * spacing;
    for (size_t i = 0; i < body + tail; i++) {
        double t = i / rate, e = 0;
        for (int b = 0; b < bursts - 1; b++) {
            double tb = t - b * spacing;
            if (tb >= 0) e += 1.6 * detExp(-tb / 0.0035);
        }
        if (t >= last) e += 0.5 + 1.2 * detExp(-(t - last) / 0.01);
        s.data.push_back(n[i] * e);
    }
    s.loopStart = body;
    s.loopLength = tail;
    s.loop = LOOP_PINGPONG;
    return s;
}

// Filtered noise, looped or decaying.
Synth synthNoise(const Recipe& r) {
    double rate = r.rate;
    size_t length = static_cast<size_t>(param(r, "length", 1024));
    double decay = param(r, "decay", 0);
    Synth s;
    s.data = filteredNoise(length, rate, param(r, "hp", 0), param(r, "lp", 0),
                           static_cast<uint32_t>(param(r, "seed", 5)));
    if (decay > 0)
        for (size_t i = 0; i < length; i++) s.data[i] *= detExp(-(i / rate) / decay);
    std::string loop = word(r, "loop", "pingpong");
    s.loopStart = 0;
    s.loopLength = length;
    s.loop = loop == "forward" ? LOOP_FORWARD : loop == "none" ? LOOP_NONE : LOOP_PINGPONG;
    return s;
}

// Harmonic amplitude k of a named shape; pulse width w for "pulse".
double harmonic(const std::string& shape, int k, double w) {
    if (shape == "saw") return 1.0 / k;
    if (shape == "square") return k % 2 ? 1.0 / k : 0;
    if (shape == "tri") return k % 2 ? ((k / 2) % 2 ? -1.0 : 1.0) / (static_cast<double>(k) * k) : 0;
    if (shape == "sine") return k == 1 ? 1 : 0;
    if (shape == "pulse") return detSin(PI * k * w) / k;
    if (shape == "organ") {
        static const double a[] = {0, 1, 0.55, 0.3, 0.22, 0, 0.12, 0, 0.08};
        return k < 9 ? a[k] : 0;
    }
    if (shape == "bell") {
        static const double a[] = {0, 1, 0.45, 0.1, 0.35, 0, 0.18, 0, 0.1, 0, 0.06};
        return k < 11 ? a[k] : 0;
    }
    if (shape == "sawsquare") return (1.0 / k) * (k % 2 ? 1.0 : 0.45);
    return 0;
}

// Band-limited periodic waves. "cycles" periods form the loop, with the pulse
// width moving from w0 to w1 across them; "body" periods before the loop let
// the brightness fall from bright0 to bright (a plucked attack).
Synth synthWave(const Recipe& r) {
    int L = static_cast<int>(param(r, "cycle", 32));
    std::string shape = word(r, "shape", "saw");
    int cycles = static_cast<int>(param(r, "cycles", 1));
    int body = static_cast<int>(param(r, "body", 0));
    double bright = param(r, "bright", 0), bright0 = param(r, "bright0", bright);
    double w0 = param(r, "w0", 0.5), w1 = param(r, "w1", w0);
    double sub = param(r, "sub", 0);   // fundamental boost for weight
    int top = L / 2 - 1;
    Synth s;
    s.cycle = L;
    auto period = [&](double b, double w) {
        for (int j = 0; j < L; j++) {
            double x = 0;
            for (int k = 1; k <= top; k++) {
                double a = harmonic(shape, k, w);
                if (a == 0) continue;
                if (b > 0) a /= 1 + (k / b) * (k / b);
                if (k == 1) a *= 1 + sub;
                double ph = 2 * PI * k * j / L;
                x += a * (shape == "pulse" ? detCos(ph) : detSin(ph));
            }
            s.data.push_back(x);
        }
    };
    for (int c = 0; c < body; c++) {
        double f = body > 1 ? static_cast<double>(c) / body : 0;
        period(bright0 * detPow2(detLog2(bright / bright0) * f), w0);
    }
    s.loopStart = s.data.size();
    for (int c = 0; c < cycles; c++)
        period(bright, cycles > 1 ? w0 + (w1 - w0) * c / (cycles - 1) : w0);
    s.loopLength = s.data.size() - s.loopStart;
    s.loop = word(r, "loop", "forward") == "pingpong" ? LOOP_PINGPONG : LOOP_FORWARD;
    return s;
}

Synth synthesise(const Recipe& r) {
    if (r.synth == "kick") return synthKick(r);
    if (r.synth == "snare") return synthSnare(r);
    if (r.synth == "clap") return synthClap(r);
    if (r.synth == "noise") return synthNoise(r);
    return synthWave(r);
}

// ---------------------------------------------------------------- ranges

// Every number a source gives has a range, so that no edit can make the
// generator run away, allocate without bound or wrap a value silently.
// These are the ranges tumble-mkcontent(1) lists.
struct Range {
    const char* key;
    double low, high;
    bool whole;
    const char* unit;   // empty for plain levels and counts
};

// The most sample points of one instrument: tune.xm stays under 63 MiB.
const double MAX_SAMPLE_POINTS = 1048576;
const double MAX_SEED = 4294967295.0;

const Range KICK[] = {
    {"f0", 20, 20000, false, "Hz"},       {"f1", 20, 20000, false, "Hz"},  {"sweep", 0.0001, 10, false, "seconds"},
    {"body", 0, 2, false, "seconds"},     {"click", 0, 10, false, ""},     {"drive", 0, 100, false, ""}};
const Range SNARE[] = {
    {"body", 0, 10, false, "seconds"},    {"tail", 1, MAX_SAMPLE_POINTS, true, "samples"},
    {"tone", 0, 20000, false, "Hz"},      {"tonedecay", 0.0001, 10, false, "seconds"},
    {"tonelevel", 0, 10, false, ""},      {"noise", 0, 10, false, ""},     {"boost", 0, 100, false, ""},
    {"hp", 0, 48000, false, "Hz"},        {"lp", 0, 48000, false, "Hz"},   {"seed", 0, MAX_SEED, true, ""}};
const Range CLAP[] = {
    {"body", 0, 10, false, "seconds"},    {"tail", 1, MAX_SAMPLE_POINTS, true, "samples"},
    {"bursts", 1, 16, true, ""},          {"spacing", 0, 1, false, "seconds"},
    {"hp", 0, 48000, false, "Hz"},        {"lp", 0, 48000, false, "Hz"},   {"seed", 0, MAX_SEED, true, ""}};
const Range NOISE[] = {
    {"length", 1, MAX_SAMPLE_POINTS, true, "samples"},                     {"decay", 0, 100, false, "seconds"},
    {"hp", 0, 48000, false, "Hz"},        {"lp", 0, 48000, false, "Hz"},   {"seed", 0, MAX_SEED, true, ""}};
const Range WAVE[] = {
    {"cycle", 4, 128, true, "samples"},   {"cycles", 1, 128, true, "periods"}, {"body", 0, 128, true, "periods"},
    {"bright", 0, 1000, false, ""},       {"bright0", 0.001, 1000, false, ""},
    {"w0", 0, 1, false, ""},              {"w1", 0, 1, false, ""},         {"sub", 0, 100, false, ""}};

const Range RATE = {"rate", 1000, 96000, false, "Hz"};
const Range TRANSPOSE = {"transpose", -48, 48, false, "semitones"};
const Range BITS = {"bits", 8, 16, true, ""};
const Range AMP = {"amp", 0, 1, false, ""};   // above 0
const Range VOLUME = {"volume", 0, 64, true, ""};
const Range PAN = {"pan", 0, 255, true, ""};
const Range FADEOUT = {"fadeout", 0, 4095, true, ""};
const Range POINT = {"sustain", 0, 11, true, ""};
const Range LOOP_POINT = {"loop", 0, 11, true, ""};
const Range ENV_X = {"env x", 0, 65535, true, "ticks"};
const Range ENV_Y = {"env y", 0, 64, true, ""};

template <size_t N>
const Range* findRange(const Range (&table)[N], const std::string& key) {
    for (const Range& r : table)
        if (key == r.key) return &r;
    return nullptr;
}

// The parameters a synth takes, or null for an unknown synth.
const Range* synthRange(const std::string& synth, const std::string& key, bool* known) {
    *known = true;
    if (synth == "kick") return findRange(KICK, key);
    if (synth == "snare") return findRange(SNARE, key);
    if (synth == "clap") return findRange(CLAP, key);
    if (synth == "noise") return findRange(NOISE, key);
    if (synth == "wave") return findRange(WAVE, key);
    *known = false;
    return nullptr;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// Empty when v lies in r, else why not.
std::string outside(const Range& r, double v, const std::string& text) {
    const bool amp = &r == &AMP;
    if ((amp ? v > r.low : v >= r.low) && v <= r.high && (!r.whole || v == std::floor(v))) return "";
    const std::string unit = *r.unit ? std::string(" ") + r.unit : "";
    return std::string(r.key) + " must be " + (r.whole ? "a whole number " : "") +
           (amp ? "above 0 and at most " + number(r.high) : "from " + number(r.low) + " to " + number(r.high)) +
           unit + ", not " + text;
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    std::string w;
    while (in >> w) {
        if (w[0] == '#') break;
        out.push_back(w);
    }
    return out;
}

// A finite number and nothing else.
bool parseNumber(const std::string& s, double& v) {
    char* end = nullptr;
    v = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == 0 && std::isfinite(v);
}

bool parseRecipes(const std::string& text, std::vector<Recipe>& out, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = "instruments line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    // An x:y envelope point, each part a whole number in its range.
    auto point = [](const std::string& text, int& x, int& y) {
        const size_t colon = text.find(':');
        double vx = 0, vy = 0;
        if (colon == std::string::npos || !parseNumber(text.substr(0, colon), vx) ||
            !parseNumber(text.substr(colon + 1), vy) || !outside(ENV_X, vx, "").empty() ||
            !outside(ENV_Y, vy, "").empty())
            return false;
        x = static_cast<int>(vx);
        y = static_cast<int>(vy);
        return true;
    };
    while (std::getline(in, line)) {
        lineNo++;
        std::vector<std::string> w = split(line);
        if (w.empty()) continue;
        double v = 0;
        if (w[0] == "instrument") {
            if (w.size() < 3 || !parseNumber(w[1], v)) return fail("expected 'instrument N name'");
            if (v != static_cast<double>(out.size()) + 1)
                return fail("instruments must be numbered 1, 2, 3, ... in order");
            if (out.size() == INSTRUMENTS) return fail("at most " + std::to_string(INSTRUMENTS) + " instruments");
            out.emplace_back();
            out.back().number = static_cast<int>(v);
            out.back().name = w[2];
            out.back().line = lineNo;
            continue;
        }
        if (out.empty()) return fail("setting before the first instrument");
        Recipe& cur = out.back();
        const std::string& key = w[0];
        if (key == "synth") {
            if (w.size() < 2) return fail("synth needs a kind");
            cur.synth = w[1];
            cur.synthLine = lineNo;
            cur.params.clear();
            cur.words.clear();
            bool known = false;
            synthRange(cur.synth, "", &known);
            if (!known) return fail("unknown synth '" + cur.synth + "' (kick, snare, clap, noise or wave)");
            for (size_t i = 2; i < w.size(); i++) {
                size_t eq = w[i].find('=');
                if (eq == std::string::npos) return fail("expected key=value, got '" + w[i] + "'");
                std::string k = w[i].substr(0, eq), val = w[i].substr(eq + 1);
                const bool wave = cur.synth == "wave";
                if ((wave && (k == "shape" || k == "loop")) || (cur.synth == "noise" && k == "loop")) {
                    static const char* shapes[] = {"saw", "square", "tri", "sine", "pulse", "organ", "bell", "sawsquare"};
                    bool fits = false;
                    if (k == "shape")
                        for (const char* shape : shapes) fits = fits || val == shape;
                    else
                        fits = val == "forward" || val == "pingpong" || (!wave && val == "none");
                    if (!fits) return fail("bad " + k + " '" + val + "' for synth " + cur.synth);
                    cur.words[k] = val;
                    continue;
                }
                const Range* range = synthRange(cur.synth, k, &known);
                if (!range) return fail("synth " + cur.synth + " takes no parameter '" + k + "'");
                if (!parseNumber(val, v)) return fail(k + " needs a finite number, not '" + val + "'");
                const std::string why = outside(*range, v, val);
                if (!why.empty()) return fail(why);
                cur.params[k] = v;
            }
        } else if (key == "env") {
            cur.env.clear();
            for (size_t i = 1; i < w.size(); i++) {
                int x = 0, y = 0;
                if (!point(w[i], x, y))
                    return fail("envelope points are x:y, whole numbers with x from 0 to 65535 (ticks) and y "
                                "from 0 to 64, not '" + w[i] + "'");
                if (!cur.env.empty() && x < cur.env.back().first) return fail("envelope x must not fall");
                cur.env.push_back({x, y});
            }
            if (cur.env.size() > 12) return fail("at most 12 envelope points");
        } else if (key == "loop") {
            double a = 0, b = 0;
            if (w.size() != 3 || !parseNumber(w[1], a) || !parseNumber(w[2], b)) return fail("loop START END");
            for (auto [value, text] : {std::pair{a, w[1]}, std::pair{b, w[2]}}) {
                const std::string why = outside(LOOP_POINT, value, text);
                if (!why.empty()) return fail(why);
            }
            cur.loopStart = static_cast<int>(a);
            cur.loopEnd = static_cast<int>(b);
        } else {
            if (w.size() != 2) return fail("expected '" + key + " NUMBER'");
            if (!parseNumber(w[1], v)) return fail(key + " needs a finite number, not '" + w[1] + "'");
            static const Range* settings[] = {&RATE, &TRANSPOSE, &BITS, &AMP, &VOLUME, &PAN, &POINT, &FADEOUT};
            const Range* range = nullptr;
            for (const Range* r : settings)
                if (key == r->key) range = r;
            if (!range) return fail("unknown setting '" + key + "'");
            const std::string why = outside(*range, v, w[1]);
            if (!why.empty()) return fail(why);
            if (key == "bits" && v != 8 && v != 16) return fail("bits must be 8 or 16, not " + w[1]);
            if (key == "rate") cur.rate = v;
            else if (key == "transpose") cur.transpose = v;
            else if (key == "bits") cur.bits = static_cast<int>(v);
            else if (key == "amp") cur.amp = v;
            else if (key == "volume") cur.volume = static_cast<int>(v);
            else if (key == "pan") cur.pan = static_cast<int>(v);
            else if (key == "sustain") cur.sustain = static_cast<int>(v);
            else cur.fadeout = static_cast<int>(v);
        }
    }
    // What only the whole recipe shows, at the instrument's synth line.
    for (const Recipe& r : out) {
        lineNo = r.line;
        if (r.synth.empty()) return fail("instrument " + std::to_string(r.number) + " has no synth line");
        lineNo = r.synthLine;
        const bool drum = r.synth != "wave";
        if (drum && r.rate <= 0) return fail("drum instrument needs a rate");
        if (r.synth == "kick" && param(r, "f1", KICK_F1) > r.rate / 2)
            return fail("f1 must be at most half the rate (" + number(r.rate / 2) + " Hz)");
        if (r.synth == "snare" || r.synth == "clap") {
            const double points = std::floor(param(r, "body", r.synth == "snare" ? SNARE_BODY : CLAP_BODY) * r.rate) +
                                  param(r, "tail", NOISE_TAIL);
            if (points > MAX_SAMPLE_POINTS)
                return fail("body and tail make " + number(points) + " sample points; at most " +
                            number(MAX_SAMPLE_POINTS));
        }
        lineNo = r.line;
        int n = static_cast<int>(r.env.size());
        if (r.sustain >= n || r.loopEnd >= n || r.loopStart > r.loopEnd) return fail("envelope point index out of range");
    }
    if (static_cast<int>(out.size()) != INSTRUMENTS) {
        error = "instruments: expected " + std::to_string(INSTRUMENTS) + " instruments, found " + std::to_string(out.size());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- patterns

// "C-4", "F#2", "===" (key off), "..." (none)
bool parseNote(const std::string& s, uint8_t& note) {
    if (s == "...") { note = 0; return true; }
    if (s == "===") { note = 97; return true; }
    static const char* names = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (s.size() != 3 || s[2] < '0' || s[2] > '7') return false;
    for (int i = 0; i < 12; i++)
        if (s[0] == names[2 * i] && s[1] == names[2 * i + 1]) {
            note = static_cast<uint8_t>(1 + 12 * (s[2] - '0') + i);
            return true;
        }
    return false;
}

bool parsePatterns(const std::string& text, XmModule& song, std::string& error) {
    std::istringstream in(text);
    std::string line;
    int lineNo = 0, current = -1, nextRow = 0;
    auto fail = [&](const std::string& what) {
        error = "patterns line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    auto complete = [&]() { return current < 0 || nextRow == ROWS; };
    song.channels = CHANNELS;
    song.orders.clear();
    while (std::getline(in, line)) {
        lineNo++;
        std::vector<std::string> w = split(line);
        if (w.empty()) continue;
        double v = 0;
        if (w[0] == "speed" || w[0] == "bpm" || w[0] == "restart") {
            static const Range SONG[] = {{"speed", 1, 31, true, ""},
                                         {"bpm", 32, 255, true, ""},
                                         {"restart", 0, 255, true, ""}};
            if (w.size() != 2 || !parseNumber(w[1], v)) return fail("expected '" + w[0] + " NUMBER'");
            const std::string why = outside(*findRange(SONG, w[0]), v, w[1]);
            if (!why.empty()) return fail(why);
            (w[0] == "speed" ? song.speed : w[0] == "bpm" ? song.bpm : song.restart) = static_cast<uint16_t>(v);
        } else if (w[0] == "order") {
            for (size_t i = 1; i < w.size(); i++) {
                if (!parseNumber(w[i], v) || v < 0 || v > 255 || v != std::floor(v))
                    return fail("order entries are pattern numbers from 0 to 255, not '" + w[i] + "'");
                if (song.orders.size() == 256) return fail("order needs 1..256 entries");
                song.orders.push_back(static_cast<uint8_t>(v));
            }
        } else if (w[0] == "pattern") {
            if (!complete()) return fail("previous pattern has " + std::to_string(nextRow) + " rows, not 64");
            if (w.size() != 2 || !parseNumber(w[1], v) || v != static_cast<double>(song.patterns.size()))
                return fail("patterns must be numbered 0, 1, 2, ... in order");
            if (song.patterns.size() == 256) return fail("at most 256 patterns");
            song.patterns.push_back(XmPattern{ROWS, std::vector<XmCell>(ROWS * CHANNELS)});
            current = static_cast<int>(v);
            nextRow = 0;
        } else {
            // A row: "NN | C-4 01 | ... .. | ..."
            if (current < 0) return fail("row outside a pattern");
            std::vector<std::string> fields;
            std::string f;
            std::istringstream row(line);
            while (std::getline(row, f, '|')) fields.push_back(f);
            if (fields.size() != CHANNELS + 1) return fail("a row has a number and 10 cells separated by '|'");
            std::vector<std::string> number = split(fields[0]);
            if (number.size() != 1 || !parseNumber(number[0], v) || v != static_cast<double>(nextRow))
                return fail("expected row " + std::to_string(nextRow));
            if (nextRow >= ROWS) return fail("more than 64 rows");
            for (int c = 0; c < CHANNELS; c++) {
                std::vector<std::string> parts = split(fields[c + 1]);
                if (parts.size() != 2) return fail("cell " + std::to_string(c) + " is 'NOTE INS'");
                XmCell cell;
                if (!parseNote(parts[0], cell.note)) return fail("bad note '" + parts[0] + "'");
                if (parts[1] != "..") {
                    if (!parseNumber(parts[1], v) || v < 1 || v > INSTRUMENTS || v != std::floor(v))
                        return fail("bad instrument '" + parts[1] + "'");
                    cell.instrument = static_cast<uint8_t>(v);
                }
                if (cell.note == 97 && cell.instrument) return fail("a key-off carries no instrument");
                song.patterns[current].cells[nextRow * CHANNELS + c] = cell;
            }
            nextRow++;
        }
    }
    if (!complete()) return fail("last pattern has " + std::to_string(nextRow) + " rows, not 64");
    if (song.orders.empty()) return fail("order needs 1..256 entries");
    for (uint8_t o : song.orders)
        if (o >= song.patterns.size()) return fail("order entry names a missing pattern");
    if (song.restart >= song.orders.size()) return fail("restart outside the order");
    song.songLength = static_cast<uint16_t>(song.orders.size());
    return true;
}

// ---------------------------------------------------------------- writing

// The sample scaled to its stored width, peak at amp of full scale; 8-bit
// samples in the high byte.
std::vector<int16_t> quantiseSample(const Recipe& r, const Synth& s) {
    double peak = 0;
    for (double x : s.data) peak = std::max(peak, std::fabs(x));
    double full = r.bits == 16 ? 32767.0 : 127.0;
    double gain = peak > 0 ? full * r.amp / peak : 0;
    int scale = r.bits == 16 ? 1 : 256;
    std::vector<int16_t> q;
    for (double x : s.data) q.push_back(static_cast<int16_t>(static_cast<int>(std::floor(x * gain + 0.5)) * scale));
    return q;
}

XmInstrument instrument(const Recipe& r, const Synth& s) {
    XmInstrument ins;
    ins.name = r.name;
    for (auto [x, y] : r.env) {
        ins.envelope.push_back(static_cast<uint16_t>(x));
        ins.envelope.push_back(static_cast<uint16_t>(y));
    }
    ins.sustainPoint = static_cast<uint8_t>(std::max(r.sustain, 0));
    ins.loopStart = static_cast<uint8_t>(std::max(r.loopStart, 0));
    ins.loopEnd = static_cast<uint8_t>(std::max(r.loopEnd, 0));
    if (r.env.size() >= 2)
        ins.volumeType = static_cast<uint8_t>(1 | (r.sustain >= 0 ? 2 : 0) | (r.loopStart >= 0 ? 4 : 0));
    ins.fadeout = static_cast<uint16_t>(r.fadeout);

    // Tuning: pitched sounds play their period at the written note; drums
    // play at their rate at C-4.
    double rate = s.cycle > 0 ? 261.6255653005986 * s.cycle * detPow2(r.transpose / 12) : r.rate;
    double semis = 12 * detLog2(rate / 8363.0);
    int relative = static_cast<int>(std::floor(semis + 0.5));
    XmSample sample;
    sample.name = r.name;
    sample.pcm = quantiseSample(r, s);
    sample.sixteen = r.bits == 16;
    sample.loop = static_cast<uint8_t>(s.loop);
    if (s.loop != LOOP_NONE) {
        sample.loopStart = static_cast<uint32_t>(s.loopStart);
        sample.loopLength = static_cast<uint32_t>(s.loopLength);
    }
    sample.volume = static_cast<uint8_t>(r.volume);
    const int finetune = static_cast<int>(std::floor((semis - relative) * 128 + 0.5));
    sample.finetune = static_cast<int8_t>(std::clamp(finetune, -128, 127));
    sample.panning = static_cast<uint8_t>(r.pan);
    sample.relativeNote = static_cast<int8_t>(relative);
    ins.samples.push_back(sample);
    return ins;
}

}  // namespace

bool buildTune(const std::string& patternText, const std::string& instrumentText,
               Bytes& out, std::string& error) {
    XmModule song;
    std::vector<Recipe> recipes;
    if (!parsePatterns(patternText, song, error)) return false;
    if (!parseRecipes(instrumentText, recipes, error)) return false;
    song.name = "kaas op de zolder";
    song.tracker = "tumble mkcontent";
    out.clear();
    writeXmHead(out, song, static_cast<uint16_t>(recipes.size()));
    // One instrument's sound at a time: only the file being built grows.
    for (const Recipe& r : recipes) writeXmInstrument(out, instrument(r, synthesise(r)));
    return true;
}
