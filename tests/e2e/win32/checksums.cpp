// Prints fingerprints of the nine generated textures and of the first 20 s
// of the embedded tune as the Windows build computes them, so that a change
// of compiler or linker options can be checked for identical results.
#include <cstdio>
#include "music/offline.h"
#include "data/embedded.h"
#include "platform/platform.h"
#include "texgen/texgen.h"

namespace {

uint64_t fnv(uint64_t h, const void* data, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

int main() {
    allocateWorkBuffers();
    layerBank.fastSampling = 0;
    layerBank.cacheTextures = 0;
    Image** images = generateTextures(storedPrograms, nullptr);
    if (!images)
        return 1;
    for (int i = 0; i < 9; ++i) {
        // Pixel by pixel, as the Linux texture test's fingerprint.
        uint64_t h = 1469598103934665603ull;
        for (uint32_t p : images[i]->pixels) {
            h ^= p;
            h *= 1099511628211ull;
        }
        std::printf("texture %d %016llx\n", i, static_cast<unsigned long long>(h));
    }

    const uint8_t* tune = nullptr;
    uint32_t size = 0;
    if (!platResource(MUSIC_RESOURCE_ID, "RAWDATA", &tune, &size))
        return 1;
    Player* player = moduleOpenMemory(tune, size);
    if (!player)
        return 1;
    offlineRenderStart(player);
    static int16_t pcm[44100 * 2];
    uint64_t h = 1469598103934665603ull;
    for (int second = 0; second < 20; ++second) {
        offlineRender(player, pcm, 44100);
        h = fnv(h, pcm, sizeof pcm);
    }
    std::printf("music %016llx\n", static_cast<unsigned long long>(h));
    std::fflush(stdout);
    return 0;
}
