#include "protocol/byte_order.h"

#include <algorithm>

namespace taviro::protocol {

void SwapWordsAt(std::span<std::uint8_t> record, std::span<const std::size_t> offsets) {
    for (std::size_t off : offsets) {
        if (off > record.size() || record.size() - off < 4) {
            continue;
        }
        std::uint8_t* p = record.data() + off;
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

void Reverse64At(std::span<std::uint8_t> record, std::size_t offset) {
    if (offset > record.size() || record.size() - offset < 8) {
        return;
    }
    std::reverse(record.begin() + static_cast<std::ptrdiff_t>(offset),
                 record.begin() + static_cast<std::ptrdiff_t>(offset + 8));
}

const std::uint8_t* CByteReader::Take(std::size_t count) {
    if (!m_ok || count > m_data.size() - m_pos) {
        m_ok = false;
        return nullptr;
    }
    const std::uint8_t* p = m_data.data() + m_pos;
    m_pos += count;
    return p;
}

std::uint8_t CByteReader::U8() {
    const auto* p = Take(1);
    return p ? p[0] : 0;
}
std::uint16_t CByteReader::BE16() {
    const auto* p = Take(2);
    return p ? LoadBE16(p) : 0;
}
std::uint32_t CByteReader::BE32() {
    const auto* p = Take(4);
    return p ? LoadBE32(p) : 0;
}
std::uint16_t CByteReader::LE16() {
    const auto* p = Take(2);
    return p ? LoadLE16(p) : 0;
}
std::uint32_t CByteReader::LE32() {
    const auto* p = Take(4);
    return p ? LoadLE32(p) : 0;
}

bool CByteReader::Bytes(std::span<std::uint8_t> out) {
    const auto* p = Take(out.size());
    if (!p) {
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        return false;
    }
    std::copy(p, p + out.size(), out.begin());
    return true;
}

std::string CByteReader::Text(std::size_t width) {
    const auto* p = Take(width);
    if (!p) {
        return {};
    }
    const auto* end = std::find(p, p + width, std::uint8_t{0});
    return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
}

bool CByteReader::Skip(std::size_t count) {
    return Take(count) != nullptr;
}

bool CByteReader::Seek(std::size_t offset) {
    if (!m_ok || offset > m_data.size()) {
        m_ok = false;
        return false;
    }
    m_pos = offset;
    return true;
}

std::uint8_t* CByteWriter::Take(std::size_t count) {
    if (!m_ok || count > m_out.size() - m_pos) {
        m_ok = false;
        return nullptr;
    }
    std::uint8_t* p = m_out.data() + m_pos;
    m_pos += count;
    return p;
}

void CByteWriter::U8(std::uint8_t v) {
    if (auto* p = Take(1))
        *p = v;
}
void CByteWriter::BE16(std::uint16_t v) {
    if (auto* p = Take(2))
        StoreBE16(p, v);
}
void CByteWriter::BE32(std::uint32_t v) {
    if (auto* p = Take(4))
        StoreBE32(p, v);
}
void CByteWriter::LE16(std::uint16_t v) {
    if (auto* p = Take(2))
        StoreLE16(p, v);
}
void CByteWriter::LE32(std::uint32_t v) {
    if (auto* p = Take(4))
        StoreLE32(p, v);
}
void CByteWriter::Bytes(std::span<const std::uint8_t> data) {
    if (auto* p = Take(data.size()))
        std::copy(data.begin(), data.end(), p);
}
void CByteWriter::Text(std::string_view text, std::size_t width) {
    if (auto* p = Take(width)) {
        std::fill(p, p + width, std::uint8_t{0});
        std::copy_n(text.data(), std::min(text.size(), width), p);
    }
}
void CByteWriter::Zeros(std::size_t count) {
    if (auto* p = Take(count))
        std::fill(p, p + count, std::uint8_t{0});
}
bool CByteWriter::Seek(std::size_t offset) {
    if (!m_ok || offset > m_out.size()) {
        m_ok = false;
        return false;
    }
    m_pos = offset;
    return true;
}

}  // namespace taviro::protocol
