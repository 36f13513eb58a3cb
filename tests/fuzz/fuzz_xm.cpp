// XM loader on arbitrary bytes; a module that loads is then played for two
// seconds through the real sequencer and mixer and freed again.
#include <cstdio>
#include <cstdlib>

#include "music/module.h"
#include "music/offline.h"

namespace {
enum { CHUNK_FRAMES = 4410, CHUNKS = 20 };   // 20 x 0.1 s
int16_t output[CHUNK_FRAMES * 2];

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "xm: %s\n", what);
        std::abort();
    }
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFFFFFFu)
        return 0;
    Player* player = moduleOpenMemory(data, static_cast<uint32_t>(size));
    if (!player)
        return 0;
    check(player->channelCount >= 0 && player->channelCount <= MAX_CHANNELS, "channel count out of range");
    check(player->instrumentCount >= 0, "negative instrument count");
    offlineRenderStart(player);
    for (int i = 0; i < CHUNKS; i++) {
        offlineRender(player, output, CHUNK_FRAMES);
        check(player->order >= 0 && player->order < 256, "order left the order table");
        check(player->row >= 0, "negative row");
        check(player->samplesPerTick > 0, "tick of no frames");
    }
    moduleFree(player);
    return 0;
}
