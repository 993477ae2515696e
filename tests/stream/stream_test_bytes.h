// Hand-built stream elements for the video tests: every byte is placed from the field
// tables of the recorder's records, never by the code under test.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace taviro::stream::test {

using Bytes = std::vector<std::uint8_t>;

inline void PutLE32(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    b[at + 2] = static_cast<std::uint8_t>(v >> 16);
    b[at + 3] = static_cast<std::uint8_t>(v >> 24);
}
inline void PutBE32(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 24);
    b[at + 1] = static_cast<std::uint8_t>(v >> 16);
    b[at + 2] = static_cast<std::uint8_t>(v >> 8);
    b[at + 3] = static_cast<std::uint8_t>(v);
}

struct Encoder {
    std::uint32_t size = 0;
    std::uint8_t kind = 0;
    bool flag = false;
    std::uint8_t widthBlocks = 44;   // 704
    std::uint8_t heightBlocks = 30;  // 480
    std::uint32_t seconds = 0;
    std::uint32_t microseconds = 0;
    std::uint8_t channel = 0;
};

// The encoder's 64-byte header written at `at` of `b` (little-endian, bit fields by hand).
inline void PutEncoder(Bytes& b, std::size_t at, const Encoder& e) {
    b[at + 0] = static_cast<std::uint8_t>(e.size & 0xFF);
    b[at + 1] = static_cast<std::uint8_t>((e.size >> 8) & 0xFF);
    b[at + 2] =
        static_cast<std::uint8_t>(((e.size >> 16) & 0x0Fu) | (static_cast<unsigned>(e.kind) << 6));
    b[at + 3] = e.flag ? 0x40 : 0x00;
    b[at + 4] = e.heightBlocks;
    b[at + 5] = e.widthBlocks;
    PutLE32(b, at + 20, e.seconds);
    PutLE32(b, at + 24, e.microseconds);
    b[at + 36] = e.channel;
}

// `tail` appended to `b` (resize and copy: gcc 12 misreads vector::insert here).
inline void Append(Bytes& b, const Bytes& tail) {
    const std::size_t at = b.size();
    b.resize(at + tail.size());
    std::copy(tail.begin(), tail.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

// A live video element: 260-byte prefix, encoder header at 260, payload from 324.
inline Bytes LiveVideo(const Encoder& e, const Bytes& payload) {
    Bytes b(324, 0);
    PutEncoder(b, 260, e);
    Append(b, payload);
    return b;
}

// A live audio element: magic and mask big-endian, then one 48-byte block per channel of
// the mask, block i filled with the byte 0xA0 + i.
inline Bytes LiveAudio(std::uint32_t mask, std::size_t blocks) {
    Bytes b(64 + 48 * blocks, 0);
    PutBE32(b, 16, 0x2518F049u);
    PutBE32(b, 28, static_cast<std::uint32_t>(48 * blocks));
    PutBE32(b, 40, mask);
    for (std::size_t i = 0; i < blocks; ++i) {
        for (std::size_t j = 0; j < 48; ++j) {
            b[64 + 48 * i + j] = static_cast<std::uint8_t>(0xA0 + i);
        }
    }
    return b;
}

// A payload whose byte i is (i * 7 + seed) mod 256.
inline Bytes Pattern(std::size_t n, std::uint8_t seed = 0) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(i * 7 + seed);
    }
    return b;
}

}  // namespace taviro::stream::test
