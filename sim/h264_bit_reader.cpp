#include "sim/h264_bit_reader.h"

namespace taviro::sim {

std::uint32_t CH264BitReader::ReadBits(int bits) {
    if (bits < 0 || bits > 32 || static_cast<std::size_t>(bits) > BitsLeft()) {
        m_failed = true;
        m_bit = m_bytes.size() * 8;
        return 0;
    }
    std::uint64_t value = 0;
    for (int i = 0; i < bits; ++i) {
        const std::uint8_t byte = m_bytes[m_bit / 8];
        value = (value << 1) | ((byte >> (7 - m_bit % 8)) & 1u);
        ++m_bit;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t CH264BitReader::ReadUe() {
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
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + rest);
}

std::int32_t CH264BitReader::ReadSe() {
    const std::uint32_t code = ReadUe();
    // Code k maps to (k + 1) / 2 with the sign of k odd: 1 -> 1, 2 -> -1, 3 -> 2 ...
    const auto magnitude = static_cast<std::int64_t>((std::uint64_t{code} + 1) / 2);
    return static_cast<std::int32_t>((code & 1u) != 0 ? magnitude : -magnitude);
}

bool CH264BitReader::AtTrailingBits() const {
    const std::size_t left = BitsLeft();
    if (left == 0 || left > 8) {  // not within the last byte
        return false;
    }
    const std::uint8_t byte = m_bytes[m_bit / 8];
    const auto wanted = static_cast<std::uint8_t>(1u << (left - 1));
    return (byte & ((1u << left) - 1u)) == wanted;
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

}  // namespace taviro::sim
