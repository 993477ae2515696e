// The parameter sets the decoder adapter writes in front of the first key frame of every
// stream. The recorders send bare slices with no sequence or picture parameter set, so the
// client makes both up from the picture size in the encoder header: Baseline profile, level
// 3.0, 9-bit frame numbers, picture order count type 0 with 10-bit lsb, one reference frame.
// The bytes must stay exactly as below: the recorders' slice headers are written against them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace taviro::video {

// Big-endian bit writer over a fixed 128-byte buffer, collecting 32-bit words, with the
// H.264 Exp-Golomb codes. Writing past the buffer sets Overflowed() and drops the bits, so a
// hostile size can never write out of bounds.
class CBitWriter {
  public:
    static constexpr std::size_t kCapacity = 128;

    // The low `count` (0..32) bits of `value`, most significant first.
    void PutBits(std::uint32_t value, unsigned count);
    void PutBit(bool bit) { PutBits(bit ? 1U : 0U, 1); }
    // ue(v): v + 1 in 2n + 1 bits, n = bit length of v + 1 minus one, at most 16 leading zeros.
    void PutUe(std::uint32_t value);
    // se(v): v > 0 as ue(2v - 1), v <= 0 as ue(-2v).
    void PutSe(std::int32_t value);
    // rbsp trailing bits: a one, then zeros up to the byte boundary.
    void PutTrailingBits();
    // Zeros up to the byte boundary (nothing when already aligned).
    void AlignZero();

    [[nodiscard]] bool ByteAligned() const { return (m_bitCount % 8U) == 0; }
    [[nodiscard]] bool Overflowed() const { return m_overflow; }
    [[nodiscard]] std::size_t BitCount() const { return m_bitCount; }
    // Whole bytes written so far, including the partly filled last one.
    [[nodiscard]] std::size_t ByteCount() const { return (m_bitCount + 7U) / 8U; }
    // Copies ByteCount() bytes into `out`; returns the count, 0 when `out` is too small.
    std::size_t CopyTo(std::span<std::uint8_t> out) const;

  private:
    std::array<std::uint32_t, kCapacity / 4> m_words{};
    std::size_t m_bitCount = 0;
    bool m_overflow = false;
};

// The thread's parameter-set buffer holds at most this many bytes.
inline constexpr std::size_t kParamSetBufferSize = 31;

// Writes start code + SPS + start code + PPS for a picture of width x height pixels into
// `out` and returns the byte count: 11 to 15 bytes of sequence set (15 for the largest size
// an encoder header can state, 4,080 x 4,080), then always the same 8 bytes of picture set.
// Width and height count whole macroblocks; a remainder below 16 is ignored. Returns 0 and
// writes nothing when either side is below 16 pixels, since no macroblock count describes it.
std::size_t WriteParameterSets(std::uint32_t width, std::uint32_t height,
                               std::span<std::uint8_t, kParamSetBufferSize> out);

}  // namespace taviro::video
