// Offline rendering: the block renderer's arithmetic without a device or a
// thread, block by block, so a render is sample-identical to what playerStart
// would have put into the ring.
#include "music/offline.h"

#include <algorithm>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/output.h"
#include "music/sequencer.h"

namespace {
std::vector<float> offlineSlot;
std::vector<int16_t> offlineBlock;
int32_t offlineUsed = 0;   // frames of offlineBlock already handed out
}  // namespace

Player* moduleOpenMemory(const uint8_t* data, uint32_t size) {
    installMemoryStreamHooks();
    MemoryBlock block = {data, size};
    return moduleOpenStream(reinterpret_cast<intptr_t>(&block), nullptr);
}

void offlineRenderStart(Player* player) {
    if (!player)
        return;
    audioSetBlockGeometry(PLAT_OUTPUT_RATE);
    mixerSetup(outputRate);
    sequencerReset(player);
    offlineSlot.assign(static_cast<size_t>(blockFrames) * 2, 0.0f);
    offlineBlock.assign(static_cast<size_t>(blockFrames) * 2, 0);
    offlineUsed = blockFrames;
}

void offlineRender(Player* player, int16_t* out, uint32_t frames) {
    if (!player || !out || offlineBlock.empty())
        return;
    while (frames > 0) {
        // Whole blocks go straight into out, the rest through the block buffer.
        if (offlineUsed >= blockFrames && frames >= static_cast<uint32_t>(blockFrames)) {
            renderFrames(player, offlineSlot.data(), out, blockFrames);
            out += blockFrames * 2;
            frames -= static_cast<uint32_t>(blockFrames);
            continue;
        }
        if (offlineUsed >= blockFrames) {
            renderFrames(player, offlineSlot.data(), offlineBlock.data(), blockFrames);
            offlineUsed = 0;
        }
        uint32_t n = std::min<uint32_t>(frames, static_cast<uint32_t>(blockFrames - offlineUsed));
        std::copy_n(offlineBlock.data() + offlineUsed * 2, n * 2, out);
        out += n * 2;
        frames -= n;
        offlineUsed += static_cast<int32_t>(n);
    }
}
