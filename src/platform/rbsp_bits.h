// Bit-level H.264 syntax, written and read: fixed-width fields, Exp-Golomb codes and the
// RBSP trailing bits over a raw byte sequence payload, and the NAL unit layer around it
// (start codes, emulation prevention bytes, the Annex B split of a byte stream).
//
// One implementation for everything that writes or parses H.264 syntax: the client's own
// parameter sets, the decoder's sequence parameter set rewriting, the simulated recorder's
// encoders and the tests. Headless and free of any other library.
//
// Threads and ownership: plain values; one thread uses an object at a time. A reader only
// looks at the bytes it was given, which the caller keeps alive while it reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace taviro::platform {

// Grows as it is written; nothing is ever lost, so no value a caller passes can make it
// write out of bounds.
class CRbspWriter {
  public:
    // u(n): the low `bits` bits of `value`, most significant first; 0 <= bits <= 32 (other
    // counts write nothing).
    void PutBits(std::uint32_t value, int bits);
    void PutBit(bool bit) { PutBits(bit ? 1U : 0U, 1); }
    // ue(v): the Exp-Golomb code of any 32-bit value (65 bits for 0xFFFFFFFF).
    void PutUe(std::uint32_t value);
    // se(v): 0, 1, -1, 2, -2, ... as code numbers 0, 1, 2, 3, 4, ... of ue(v); every 32-bit
    // value, INT32_MIN included.
    void PutSe(std::int32_t value);
    // Zero bits up to the next byte boundary (nothing when aligned).
    void AlignWithZeros();
    // rbsp_stop_one_bit and the zero bits up to the byte boundary.
    void PutTrailingBits();
    // Whole bytes (I_PCM samples): copied at once at a byte boundary, else bit by bit.
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

// Reads an RBSP (emulation prevention bytes already removed). Every read is bounded: a read
// past the end yields zeros and marks the reader failed for good, so hostile bytes can never
// make it read out of bounds; the caller checks Failed() once after a run of reads.
class CRbspReader {
  public:
    explicit CRbspReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    // u(n), 0 <= bits <= 32; 0 and failed when fewer bits are left or the count is invalid.
    std::uint32_t ReadBits(int bits);
    bool ReadBit() { return ReadBits(1) != 0; }
    // ue(v) for code numbers up to 2^32 - 2 (at most 31 leading zeros); longer codes and
    // codes cut off by the end fail (0).
    std::uint32_t ReadUe();
    // se(v) for the same code numbers.
    std::int32_t ReadSe();
    // Skips `bits` bits; failed when fewer are left.
    void Skip(std::size_t bits);
    // Skips to the next byte boundary; true when every skipped bit was zero.
    bool AlignedZeros();

    [[nodiscard]] bool Failed() const { return m_failed; }
    [[nodiscard]] std::size_t BitPosition() const { return m_bit; }
    [[nodiscard]] std::size_t BitsLeft() const { return m_bytes.size() * 8 - m_bit; }
    [[nodiscard]] bool IsByteAligned() const { return m_bit % 8 == 0; }
    // more_rbsp_data(): a bit is left before the RBSP's stop bit (its last set bit).
    [[nodiscard]] bool MoreRbspData() const;
    // True when what is left is exactly the RBSP trailing bits (a one, then zeros to the
    // end of the byte and no more bytes).
    [[nodiscard]] bool AtTrailingBits() const;

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_bit = 0;
    bool m_failed = false;
};

// Appends `rbsp` with an emulation prevention byte 03 inserted wherever two zero bytes would
// be followed by a byte of 00..03 (zero bytes that `out` already ends in count), and after a
// final zero byte, so that no start code can appear inside the NAL unit it becomes.
void AppendEscapedRbsp(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> rbsp);

// Appends a whole Annex B NAL unit: the 4-byte start code 00 00 00 01, the NAL header byte
// and the escaped `rbsp`.
void AppendNalUnit(std::vector<std::uint8_t>& out, std::uint8_t nalHeader,
                   std::span<const std::uint8_t> rbsp);

// The NAL units of an Annex B byte stream (each without its start code and without the
// zero bytes that may follow it). Empty when the stream has no start code, or has bytes
// other than zeros in front of the first one.
[[nodiscard]] std::vector<std::span<const std::uint8_t>> SplitAnnexB(
    std::span<const std::uint8_t> stream);

// The RBSP of a NAL unit's payload (the bytes after the NAL header): every 03 that follows
// two zero bytes is dropped.
[[nodiscard]] std::vector<std::uint8_t> UnescapeRbsp(std::span<const std::uint8_t> payload);

}  // namespace taviro::platform
