#include "platform/rbsp_bits.h"

#include <bit>

namespace taviro::platform {

void CRbspWriter::PutBits(std::uint32_t value, int bits) {
    if (bits < 0 || bits > 32) {
        return;
    }
    // Fed at most 8 bits at a time, so the pending accumulator never overflows.
    while (bits > 0) {
        const int room = 8 - m_pendingBits;
        const int take = bits < room ? bits : room;
        const std::uint32_t chunk = (value >> (bits - take)) & ((1U << take) - 1U);
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

void CRbspWriter::PutUe(std::uint32_t value) {
    PutExpGolomb(value);
}

void CRbspWriter::PutSe(std::int32_t value) {
    // Widened: -2 * INT32_MIN is 2^32, one more than a 32-bit code number can hold.
    const std::int64_t v = value;
    PutExpGolomb(v > 0 ? static_cast<std::uint64_t>(2 * v - 1)
                       : static_cast<std::uint64_t>(-2 * v));
}

void CRbspWriter::PutExpGolomb(std::uint64_t codeNum) {
    // codeNum + 1 in 2n + 1 bits, n = bit length of codeNum + 1 minus one: n zeros, then
    // codeNum + 1 itself. codeNum is at most 2^32 here, so codeNum + 1 has up to 33 bits.
    const std::uint64_t code = codeNum + 1U;
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

void CRbspWriter::AlignWithZeros() {
    if (m_pendingBits != 0) {
        PutBits(0, 8 - m_pendingBits);
    }
}

void CRbspWriter::PutTrailingBits() {
    PutBits(1, 1);
    AlignWithZeros();
}

void CRbspWriter::PutAlignedBytes(std::span<const std::uint8_t> bytes) {
    if (!IsByteAligned()) {
        for (const std::uint8_t byte : bytes) {
            PutBits(byte, 8);
        }
        return;
    }
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
}

std::uint32_t CRbspReader::ReadBits(int bits) {
    if (bits < 0 || bits > 32 || static_cast<std::size_t>(bits) > BitsLeft()) {
        m_failed = true;
        m_bit = m_bytes.size() * 8;
        return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < bits; ++i) {
        const std::uint8_t byte = m_bytes[m_bit / 8];
        value = (value << 1) | ((byte >> (7 - m_bit % 8)) & 1U);
        ++m_bit;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t CRbspReader::ReadUe() {
    int zeros = 0;
    while (!ReadBit()) {
        if (m_failed || ++zeros > 31) {
            m_failed = true;
            return 0;
        }
    }
    if (zeros == 0) {
        return 0;
    }
    const std::uint64_t rest = ReadBits(zeros);
    if (m_failed) {
        return 0;
    }
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + rest);
}

std::int32_t CRbspReader::ReadSe() {
    const std::uint32_t code = ReadUe();
    // Code k maps to (k + 1) / 2 with the sign of k odd: 1 -> 1, 2 -> -1, 3 -> 2 ...
    const auto magnitude = static_cast<std::int64_t>((std::uint64_t{code} + 1) / 2);
    return static_cast<std::int32_t>((code & 1U) != 0 ? magnitude : -magnitude);
}

void CRbspReader::Skip(std::size_t bits) {
    if (bits > BitsLeft()) {
        m_failed = true;
        m_bit = m_bytes.size() * 8;
        return;
    }
    m_bit += bits;
}

bool CRbspReader::AlignedZeros() {
    bool zeros = true;
    while (!IsByteAligned() && !m_failed) {
        zeros = !ReadBit() && zeros;
    }
    return zeros;
}

bool CRbspReader::MoreRbspData() const {
    if (m_failed) {
        return false;
    }
    // The stop bit is the last set bit of the payload; trailing zero bytes (cabac_zero_words
    // and the like) come after it.
    std::size_t last = m_bytes.size();
    while (last > 0 && m_bytes[last - 1] == 0) {
        --last;
    }
    if (last == 0) {
        return false;
    }
    const std::size_t stopBit =
        (last - 1) * 8 + 7 - static_cast<std::size_t>(std::countr_zero(m_bytes[last - 1]));
    return m_bit < stopBit;
}

bool CRbspReader::AtTrailingBits() const {
    const std::size_t left = BitsLeft();
    if (m_failed || left == 0 || left > 8) {  // not within the last byte
        return false;
    }
    const std::uint8_t byte = m_bytes[m_bit / 8];
    const auto wanted = static_cast<std::uint8_t>(1U << (left - 1));
    return (byte & ((1U << left) - 1U)) == wanted;
}

void AppendEscapedRbsp(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> rbsp) {
    out.reserve(out.size() + rbsp.size() + rbsp.size() / 64 + 1);
    // Zero bytes already at the end of `out` count towards the first run.
    int zeros = 0;
    for (auto it = out.rbegin(); it != out.rend() && *it == 0 && zeros < 2; ++it) {
        ++zeros;
    }
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

void AppendNalUnit(std::vector<std::uint8_t>& out, std::uint8_t nalHeader,
                   std::span<const std::uint8_t> rbsp) {
    out.insert(out.end(), {0x00, 0x00, 0x00, 0x01, nalHeader});
    AppendEscapedRbsp(out, rbsp);
}

std::vector<std::span<const std::uint8_t>> SplitAnnexB(std::span<const std::uint8_t> stream) {
    std::vector<std::span<const std::uint8_t>> units;
    // Start of each unit's payload (just past a 00 00 01); the unit ends at the next one.
    std::size_t start = 0;
    bool inUnit = false;
    const auto finish = [&](std::size_t end) {
        // Zero bytes before the next start code belong to it (the 00 of 00 00 00 01) or
        // are trailing_zero_8bits.
        while (end > start && stream[end - 1] == 0) {
            --end;
        }
        units.push_back(stream.subspan(start, end - start));
    };
    std::size_t i = 0;
    while (i + 3 <= stream.size()) {
        if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
            if (inUnit) {
                finish(i);
            } else {
                for (std::size_t k = 0; k < i; ++k) {
                    if (stream[k] != 0) {
                        return {};
                    }
                }
            }
            inUnit = true;
            start = i + 3;
            i += 3;
            continue;
        }
        ++i;
    }
    if (inUnit) {
        finish(stream.size());
    }
    return units;
}

std::vector<std::uint8_t> UnescapeRbsp(std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> rbsp;
    rbsp.reserve(payload.size());
    int zeros = 0;
    for (const std::uint8_t byte : payload) {
        if (zeros >= 2 && byte == 0x03) {
            zeros = 0;
            continue;
        }
        rbsp.push_back(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    return rbsp;
}

}  // namespace taviro::platform
