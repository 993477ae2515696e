// Byte order helpers and the bounds-checked reader/writer every record off the wire or out
// of a file goes through. Multi-byte integers on the wire are big-endian, one 32-bit word
// at a time; the local files of the client are little-endian (host order on our targets).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace taviro::protocol {

constexpr std::uint32_t LoadBE32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
constexpr std::uint16_t LoadBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
constexpr std::uint32_t LoadLE32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[3]) << 24) | (static_cast<std::uint32_t>(p[2]) << 16) |
           (static_cast<std::uint32_t>(p[1]) << 8) | static_cast<std::uint32_t>(p[0]);
}
constexpr std::uint16_t LoadLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
constexpr void StoreBE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}
constexpr void StoreBE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
constexpr void StoreLE32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
constexpr void StoreLE16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

// Swaps the 32-bit words at the given byte offsets of a record in place (the same operation
// converts to host and to network order). Offsets outside the record are ignored, so a
// short record can never be written past.
void SwapWordsAt(std::span<std::uint8_t> record, std::span<const std::size_t> offsets);
// Reverses the 8 bytes at `offset` (64-bit fields travel as one reversed unit).
void Reverse64At(std::span<std::uint8_t> record, std::size_t offset);

// Reads fields from a byte range without ever reading past it. Every read after a failed
// one fails too, so a parser may read a whole record and check Ok() once at the end.
class CByteReader {
  public:
    explicit CByteReader(std::span<const std::uint8_t> data) : m_data(data) {}

    [[nodiscard]] bool Ok() const { return m_ok; }
    [[nodiscard]] std::size_t Offset() const { return m_pos; }
    [[nodiscard]] std::size_t Remaining() const { return m_ok ? m_data.size() - m_pos : 0; }

    std::uint8_t U8();
    std::uint16_t BE16();
    std::uint32_t BE32();
    std::int32_t BE32Signed() { return static_cast<std::int32_t>(BE32()); }
    std::uint16_t LE16();
    std::uint32_t LE32();
    // Copies `out.size()` bytes; zero-fills `out` on failure.
    bool Bytes(std::span<std::uint8_t> out);
    // A fixed-width text field: the bytes up to the first NUL or the field's end.
    std::string Text(std::size_t width);
    bool Skip(std::size_t count);
    bool Seek(std::size_t offset);

  private:
    const std::uint8_t* Take(std::size_t count);

    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// Writes fields into a fixed buffer; writes that do not fit fail and leave Ok() false.
class CByteWriter {
  public:
    explicit CByteWriter(std::span<std::uint8_t> out) : m_out(out) {}
    [[nodiscard]] bool Ok() const { return m_ok; }
    [[nodiscard]] std::size_t Offset() const { return m_pos; }

    void U8(std::uint8_t v);
    void BE16(std::uint16_t v);
    void BE32(std::uint32_t v);
    void LE16(std::uint16_t v);
    void LE32(std::uint32_t v);
    void Bytes(std::span<const std::uint8_t> data);
    // Zero-padded fixed-width text, cut at `width` (no terminator when exactly `width` long).
    void Text(std::string_view text, std::size_t width);
    void Zeros(std::size_t count);
    bool Seek(std::size_t offset);

  private:
    std::uint8_t* Take(std::size_t count);

    std::span<std::uint8_t> m_out;
    std::size_t m_pos = 0;
    bool m_ok = true;
};

// Copies `text` into a zero-filled fixed field of `width` bytes, cut at `width`.
template <std::size_t N>
std::array<std::uint8_t, N> FixedText(std::string_view text) {
    std::array<std::uint8_t, N> out{};
    if (!text.empty()) {  // an empty view may hold no pointer at all
        std::memcpy(out.data(), text.data(), text.size() < N ? text.size() : N);
    }
    return out;
}

}  // namespace taviro::protocol
