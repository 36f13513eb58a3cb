// The one little-endian writer of the tools: every multi-byte field of the
// files they make (XM, TGA, MD2, WAV), whatever the host's byte order.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void put8(Bytes& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
}
inline void put16(Bytes& b, uint32_t v) {
    put8(b, v);
    put8(b, v >> 8);
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v);
    put16(b, v >> 16);
}
// text cut or padded with zero bytes to width.
inline void putText(Bytes& b, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        put8(b, i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}
