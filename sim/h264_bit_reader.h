// Bit-level reading of H.264 syntax, the counterpart of h264_bit_writer.h: fixed-width
// fields and Exp-Golomb codes from an RBSP, the Annex B split of a byte stream into NAL
// units, and the removal of emulation prevention bytes. Every read is bounded: reading past
// the end yields zeros and marks the reader failed, so hostile input cannot read out of
// bounds and the caller checks Failed() once after a run of reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace taviro::sim {

class CH264BitReader {
  public:
    // The reader only looks at `bytes`, which the caller keeps alive.
    explicit CH264BitReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    // u(n), 0 <= bits <= 32; 0 and failed when fewer bits are left.
    std::uint32_t ReadBits(int bits);
    bool ReadBit() { return ReadBits(1) != 0; }
    // ue(v) for values up to 2^32 - 2 (at most 31 leading zeros); longer codes fail.
    std::uint32_t ReadUe();
    // se(v) for the same code numbers.
    std::int32_t ReadSe();

    [[nodiscard]] bool Failed() const { return m_failed; }
    [[nodiscard]] std::size_t BitPosition() const { return m_bit; }
    [[nodiscard]] std::size_t BitsLeft() const { return m_bytes.size() * 8 - m_bit; }
    // True when what is left is exactly the RBSP trailing bits (a one, then zeros to the
    // end of the byte and no more bytes).
    [[nodiscard]] bool AtTrailingBits() const;

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_bit = 0;
    bool m_failed = false;
};

// The NAL units of an Annex B byte stream (each without its start code and without the
// zero bytes that may follow it). Empty when the stream has no start code, or has bytes
// other than zeros in front of the first one.
[[nodiscard]] std::vector<std::span<const std::uint8_t>> SplitAnnexB(
    std::span<const std::uint8_t> stream);

// The RBSP of a NAL unit's payload (the bytes after the NAL header): every 03 that follows
// two zero bytes is dropped.
[[nodiscard]] std::vector<std::uint8_t> UnescapeRbsp(std::span<const std::uint8_t> payload);

}  // namespace taviro::sim
