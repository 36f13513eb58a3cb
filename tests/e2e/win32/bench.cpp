// The Windows build's own speed: the loading sequence's textures and 60 s of
// the embedded tune, computed by the code and compiler options of the
// release executable. On a shared machine a whole run is rarely left alone,
// so each texture program and each second of music is timed on its own and
// its best of many runs counts; the totals add those bests.
//   tumble-bench.exe [RUNS]
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "music/offline.h"
#include "data/embedded.h"
#include "platform/platform.h"
#include "texgen/texgen.h"

namespace {

double now() {
    static LARGE_INTEGER frequency;
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void keepBest(std::vector<double>& best, size_t part, double ms) {
    if (best.size() <= part)
        best.resize(part + 1, 1e30);
    if (ms < best[part])
        best[part] = ms;
}

double total(const std::vector<double>& parts) {
    double sum = 0;
    for (double ms : parts)
        sum += ms;
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 101;
    if (runs < 1)
        runs = 1;
    layerBank.fastSampling = 0;
    layerBank.cacheTextures = 0;
    allocateWorkBuffers();

    const uint8_t* tune = nullptr;
    uint32_t size = 0;
    Player* player = platResource(MUSIC_RESOURCE_ID, "RAWDATA", &tune, &size) ? moduleOpenMemory(tune, size)
                                                                               : nullptr;
    if (!player) {
        std::fprintf(stderr, "tumble-bench: cannot load the embedded tune\n");
        return 1;
    }
    const uint32_t second = 44100;
    std::vector<int16_t> pcm(second * 2);
    Image* image = new Image;

    // Run 0 is not counted: it touches the images' and the buffers' memory.
    std::vector<double> textures, music;
    for (int run = 0; run <= runs; ++run) {
        size_t part = 0;
        for (int i = 0; i < storedProgramCount; ++i) {
            // A program that came earlier in the list is copied, not run again.
            bool again = false;
            for (int j = 0; j < i; ++j)
                again |= storedPrograms[j] == storedPrograms[i];
            if (again)
                continue;
            double start = now();
            runTextureProgram(storedPrograms[i]->bytes, storedPrograms[i]->length, image, nullptr);
            if (run > 0)
                keepBest(textures, part, now() - start);
            ++part;
        }
        offlineRenderStart(player);
        for (size_t s = 0; s < 60; ++s) {
            double start = now();
            offlineRender(player, pcm.data(), second);
            if (run > 0)
                keepBest(music, s, now() - start);
        }
    }
    std::printf("textures: %.2f ms\n", total(textures));
    std::printf("music, 60 s of the tune: %.2f ms\n", total(music));
    std::printf("both: %.2f ms (best of %d runs per texture and per second)\n", total(textures) + total(music), runs);
    delete image;
    return 0;
}
