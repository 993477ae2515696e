// Bit-level writer for H.264 syntax: fixed-width fields, Exp-Golomb codes and the RBSP
// trailing bits, plus the Annex B packing of a finished RBSP into a NAL unit (start code,
// NAL header, emulation prevention bytes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace taviro::sim {

class CH264BitWriter {
  public:
    // u(n): the low `bits` bits of `value`, most significant first; 0 <= bits <= 32.
    void PutBits(std::uint32_t value, int bits);
    void PutBit(bool bit) { PutBits(bit ? 1u : 0u, 1); }
    // ue(v): Exp-Golomb code for any 32-bit value (65 bits for 0xFFFFFFFF).
    void PutUe(std::uint32_t value);
    // se(v): 0, 1, -1, 2, -2, ... mapped to code numbers 0, 1, 2, 3, 4, ... as for ue(v).
    void PutSe(std::int32_t value);
    // Zero bits up to the next byte boundary (pcm_alignment_zero_bit and friends).
    void AlignWithZeros();
    // rbsp_stop_one_bit and the zero bits up to the byte boundary.
    void PutTrailingBits();
    // Whole bytes at a byte boundary (I_PCM samples); the writer must be aligned.
    void PutAlignedBytes(std::span<const std::uint8_t> bytes);

    [[nodiscard]] bool IsByteAligned() const { return m_pendingBits == 0; }
    [[nodiscard]] std::size_t BitCount() const {
        return m_bytes.size() * 8 + static_cast<std::size_t>(m_pendingBits);
    }
    // The completed bytes; a partial last byte is not included until it is filled.
    [[nodiscard]] const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    void Reserve(std::size_t bytes) { m_bytes.reserve(bytes); }

  private:
    void PutExpGolomb(std::uint64_t codeNum);

    std::vector<std::uint8_t> m_bytes;
    std::uint32_t m_pending = 0;  // the bits of the unfinished byte, right-aligned
    int m_pendingBits = 0;        // 0..7
};

// Appends the 4-byte start code 00 00 00 01, the NAL header byte and `rbsp` with an
// emulation prevention byte 03 inserted wherever two zero bytes would be followed by a byte
// of 00..03, and after a final zero byte, so that no start code can appear inside the unit.
void AppendH264NalUnit(std::vector<std::uint8_t>& out, std::uint8_t nalHeader,
                       std::span<const std::uint8_t> rbsp);

}  // namespace taviro::sim
