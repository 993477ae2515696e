#include "sim/h264_bit_writer.h"

#include <bit>
#include <cassert>

namespace taviro::sim {

void CH264BitWriter::PutBits(std::uint32_t value, int bits) {
    assert(bits >= 0 && bits <= 32);
    // Feed at most 8 bits at a time so the pending accumulator never overflows.
    while (bits > 0) {
        const int room = 8 - m_pendingBits;
        const int take = bits < room ? bits : room;
        const std::uint32_t chunk = (value >> (bits - take)) & ((1u << take) - 1u);
        m_pending = (m_pending << take) | chunk;
        m_pendingBits += take;
        bits -= take;
        if (m_pendingBits == 8) {
            m_bytes.push_back(static_cast<std::uint8_t>(m_pending));
            m_pending = 0;
            m_pendingBits = 0;
        }
    }
}

void CH264BitWriter::PutUe(std::uint32_t value) {
    PutExpGolomb(value);
}

void CH264BitWriter::PutSe(std::int32_t value) {
    // Widened: -2 * INT32_MIN is 2^32, one more than a 32-bit code number can hold.
    const std::int64_t v = value;
    PutExpGolomb(v > 0 ? static_cast<std::uint64_t>(2 * v - 1)
                       : static_cast<std::uint64_t>(-2 * v));
}

void CH264BitWriter::PutExpGolomb(std::uint64_t codeNum) {
    // codeNum + 1 in 2n + 1 bits, n = bit length of codeNum + 1 minus one: n zeros, then
    // codeNum + 1 itself. codeNum is at most 2^32 here, so codeNum + 1 has up to 33 bits.
    const std::uint64_t code = codeNum + 1u;
    const int length = static_cast<int>(std::bit_width(code));  // 1..33
    const int zeros = length - 1;
    PutBits(0, zeros > 32 ? 32 : zeros);
    if (length > 32) {
        PutBits(static_cast<std::uint32_t>(code >> 32), length - 32);
        PutBits(static_cast<std::uint32_t>(code), 32);
    } else {
        PutBits(static_cast<std::uint32_t>(code), length);
    }
}

void CH264BitWriter::AlignWithZeros() {
    if (m_pendingBits != 0) {
        PutBits(0, 8 - m_pendingBits);
    }
}

void CH264BitWriter::PutTrailingBits() {
    PutBits(1, 1);
    AlignWithZeros();
}

void CH264BitWriter::PutAlignedBytes(std::span<const std::uint8_t> bytes) {
    assert(IsByteAligned());
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

void AppendH264NalUnit(std::vector<std::uint8_t>& out, std::uint8_t nalHeader,
                       std::span<const std::uint8_t> rbsp) {
    out.reserve(out.size() + 5 + rbsp.size() + rbsp.size() / 64);
    out.insert(out.end(), {0x00, 0x00, 0x00, 0x01, nalHeader});
    // The header byte is never zero for the units we write (forbidden bit 0, type >= 1),
    // so the zero run starts fresh with the payload.
    int zeros = 0;
    for (const std::uint8_t byte : rbsp) {
        if (zeros >= 2 && byte <= 0x03) {
            out.push_back(0x03);
            zeros = 0;
        }
        out.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    if (!rbsp.empty() && rbsp.back() == 0x00) {
        out.push_back(0x03);
    }
}

}  // namespace taviro::sim
