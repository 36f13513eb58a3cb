// The looping ring as a sound backend that pulls its samples sees it: the
// backend's callback asks for the next bytes, and the bytes taken so far give
// the play position. Shared by the backends whose system calls back for sound
// (SDL2, Web Audio); the caller guards the record as its callback needs.
#pragma once
#include <cstdint>
#include <cstring>

struct PullRing {
    const uint8_t* ring;            // null: nothing loops, the callback gets silence
    uint32_t ringBytes;
    uint32_t readOffset;
    alignas(8) uint64_t consumed;   // bytes taken since the loop started; read from any thread
};

// `consumed` is only touched atomically; the record itself stays plain and copyable.
inline void pullRingSetConsumed(PullRing& r, uint64_t value) { __atomic_store_n(&r.consumed, value, __ATOMIC_SEQ_CST); }

// Starts looping `bytes` (whole stereo frames) of `pcm` from its beginning.
inline void pullRingLoop(PullRing& r, void* pcm, uint32_t bytes) {
    r.ring = static_cast<const uint8_t*>(pcm);
    r.ringBytes = bytes & ~3u;
    r.readOffset = 0;
    pullRingSetConsumed(r, 0);
}

// The ring may be freed after this: stop reading it.
inline void pullRingRelease(PullRing& r) {
    r.ring = nullptr;
    r.ringBytes = 0;
}

inline void pullRingReset(PullRing& r) {
    pullRingRelease(r);
    r.readOffset = 0;
    pullRingSetConsumed(r, 0);
}

// The callback's part: the next `bytes` of the ring into `out`, wrapping as often as needed.
inline void pullRingFill(PullRing& r, uint8_t* out, uint32_t bytes) {
    if (!r.ring || r.ringBytes == 0) {
        std::memset(out, 0, bytes);
        return;
    }
    for (uint32_t done = 0; done < bytes;) {
        uint32_t n = r.ringBytes - r.readOffset;
        if (n > bytes - done)
            n = bytes - done;
        std::memcpy(out + done, r.ring + r.readOffset, n);
        done += n;
        r.readOffset += n;
        if (r.readOffset >= r.ringBytes)
            r.readOffset = 0;
    }
    __atomic_fetch_add(&r.consumed, bytes, __ATOMIC_SEQ_CST);
}

// Bytes played, wrapping at 2^32: what was taken, less what the system still
// holds beyond the callback.
inline uint32_t pullRingPosition(const PullRing& r, uint32_t latencyBytes) {
    const uint64_t consumed = __atomic_load_n(&r.consumed, __ATOMIC_SEQ_CST);
    return static_cast<uint32_t>(consumed > latencyBytes ? consumed - latencyBytes : 0);
}
