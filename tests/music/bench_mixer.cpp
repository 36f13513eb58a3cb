// Renders 60 s of a 10-channel module offline and prints the realtime factor.
// Every run must give the same samples as ever: a changed checksum fails.
// With --check it renders once and only compares (a ctest, also run with
// TUMBLE_MIXER set to each mixer path).
#include <time.h>
#include <cstdio>
#include <cstring>
#include <vector>

#include "music/module.h"
#include "music/offline.h"
#include "tests/music/xm_modules.h"

namespace {

XmModule benchSong() {
    XmModule m;
    m.channels = 10;
    m.speed = 6;
    m.bpm = 125;
    m.songLength = 6;
    m.restart = 2;
    m.orders = {0, 1, 2, 3, 2, 3};
    uint32_t seed = 12345;
    auto rnd = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int p = 0; p < 4; ++p) {
        XmPattern pat = emptyPattern(64, 10);
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 10; ++c) {
                uint32_t x = rnd() % 8;
                if (x < 2)
                    pat.cells[r * 10 + c] = {static_cast<uint8_t>(30 + rnd() % 40),
                                             static_cast<uint8_t>(1 + (c + p) % 8), 0, 0, 0};
                else if (x == 2)
                    pat.cells[r * 10 + c].note = 97;
            }
        m.patterns.push_back(pat);
    }
    for (int i = 0; i < 8; ++i) {
        std::vector<int16_t> wave(4000 + 1000 * i);
        for (size_t k = 0; k < wave.size(); ++k)
            wave[k] = static_cast<int16_t>(static_cast<int>(rnd()) - 16384);
        XmInstrument ins = simpleInstrument(wave, i % 2 == 0, static_cast<uint8_t>(i % 3),
                                            static_cast<uint32_t>(wave.size() / 4),
                                            static_cast<uint32_t>(wave.size() / 2));
        ins.envelope = {0, 64, 10, 40, 30, 50, 80, 0};
        ins.sustainPoint = 2;
        ins.volumeType = i % 2 ? 3 : 0;
        ins.fadeout = 300;
        m.instruments.push_back(ins);
    }
    return m;
}

const unsigned long long EXPECTED_CHECKSUM = 0x9f5480ec5dbab636ull;

}  // namespace

int main(int argc, char** argv) {
    const bool checkOnly = argc > 1 && std::strcmp(argv[1], "--check") == 0;
    std::vector<uint8_t> bytes = writeXm(benchSong());
    Player* player = moduleOpenMemory(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!player) {
        std::fprintf(stderr, "music_bench: cannot load the benchmark module: %s\n", moduleLoadError());
        return 1;
    }
    const uint32_t frames = 60 * 44100;
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    double best = 1e9;
    uint64_t checksum = 0;   // wraps (unsigned: no overflow)
    for (int run = 0; run < (checkOnly ? 1 : 5); ++run) {
        offlineRenderStart(player);
        // CPU time of this thread: the machine is shared, wall time would measure the neighbours.
        timespec begin{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &begin);
        offlineRender(player, out.data(), frames);
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
        double seconds = static_cast<double>(end.tv_sec - begin.tv_sec) +
                         static_cast<double>(end.tv_nsec - begin.tv_nsec) * 1e-9;
        if (seconds < best)
            best = seconds;
        checksum = 0;
        for (int16_t s : out)
            checksum = checksum * 31 + static_cast<uint64_t>(static_cast<int64_t>(s));
    }
    moduleFree(player);
    if (static_cast<unsigned long long>(checksum) != EXPECTED_CHECKSUM) {
        std::printf("music: checksum %016llx, expected %016llx: the mixer's output changed\n",
                    static_cast<unsigned long long>(checksum), EXPECTED_CHECKSUM);
        return 1;
    }
    if (checkOnly) {
        std::printf("music: checksum %016llx as expected\n", static_cast<unsigned long long>(checksum));
        return 0;
    }
    std::printf("music: 60 s of a 10-channel module in %.2f ms CPU: %.0fx realtime (checksum %016llx)\n",
                best * 1000.0, 60.0 / best, static_cast<unsigned long long>(checksum));
    const double target = 2000.0;   // the mixing thread then takes 0.05 % of one core
    std::printf("target: %.0fx realtime ... %s\n", target, 60.0 / best >= target ? "met" : "missed");
    return 0;
}
