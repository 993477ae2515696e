// G.726 ADPCM at 24 kbit/s, the recorders' sound format in both directions: 8000 samples a
// second, one 3-bit code per sample, eight codes packed into three bytes. The coder works on
// 14-bit uniform PCM; the client's sound path is 16-bit, so samples are shifted by two bits on
// the way in and out.
//
// Threads: none of these classes lock; each object belongs to the one thread that feeds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace taviro::audio {

inline constexpr std::size_t kCodesPerGroup = 8;  // eight 3-bit codes in three bytes
inline constexpr std::size_t kBytesPerGroup = 3;

// Code k of each little-endian 24-bit group sits at bits 3k..3k+2. Whole groups only: a
// trailing part of a group is left alone, and the shorter span bounds the work.
void UnpackCodes(std::span<const std::uint8_t> packed,
                 std::span<std::uint8_t> codes);  // codes.size() == packed.size() / 3 * 8
void PackCodes(std::span<const std::uint8_t> codes,
               std::span<std::uint8_t> packed);  // packed.size() == codes.size() / 8 * 3

namespace detail {

// The coder's state shared by the encoder and the decoder: the scale factor with its fast
// and slow parts, the speed control, the two-pole six-zero predictor and the tone and
// transition detectors. All arithmetic is the fixed-point word arithmetic of the ITU-T G.726
// coder, so the encoder and a remote decoder stay bit-exact in step.
//
// Per sample: Prepare() computes the signal estimate and the scale factor from the state;
// Quantize() turns a difference into a code (encoder only); Update() applies the code and
// returns the reconstructed signal. Estimate(), Scale() and Quantize() refer to the last
// prepared sample until the next Prepare().
class CG726State {
  public:
    CG726State() { Reset(); }
    void Reset();

    void Prepare();
    [[nodiscard]] int Estimate() const { return m_se; }  // 15-bit two's complement, signed
    [[nodiscard]] int Scale() const { return m_y; }      // 13-bit scale factor
    // The code for the difference `d` (14-bit sample minus Estimate()); never 0: the lowest
    // level is sent as 7 whatever its sign.
    [[nodiscard]] std::uint8_t Quantize(int d) const;
    // Applies the code (low three bits) and returns the reconstructed signal, a 16-bit two's
    // complement value that may leave the 14-bit range on overload.
    int Update(std::uint8_t code);

  private:
    // Delayed state, kept as G.726's unsigned fixed-point words.
    unsigned m_yu = 0;  // fast scale factor, 13 bits
    unsigned m_yl = 0;  // slow scale factor, 19 bits
    unsigned m_dms = 0;
    unsigned m_dml = 0;
    unsigned m_ap = 0;
    unsigned m_a[2] = {};   // pole coefficients, 16-bit two's complement
    unsigned m_b[6] = {};   // zero coefficients
    unsigned m_dq[6] = {};  // past quantized differences, 11-bit floating format
    unsigned m_sr[2] = {};  // past reconstructed signals, 11-bit floating format
    unsigned m_pk[2] = {};  // signs of past partial reconstructions
    unsigned m_td = 0;      // tone detected
    // Values of the prepared sample.
    int m_se = 0;
    int m_sez = 0;
    int m_y = 0;
};

}  // namespace detail

// 24 kbit/s decoder, state kept across calls.
class CG726Decoder {
  public:
    void Reset() { m_state.Reset(); }
    // 16-bit linear: the 14-bit output << 2. An overloaded reconstruction saturates at the
    // 14-bit limits first, so the output lies in -32768..32764.
    std::int16_t DecodeCode(std::uint8_t code);
    // samples.size() == packed.size() / 3 * 8; the shorter span bounds the work.
    void Decode(std::span<const std::uint8_t> packed, std::span<std::int16_t> samples);

  private:
    detail::CG726State m_state;
};

// 24 kbit/s encoder, state kept across calls.
class CG726Encoder {
  public:
    void Reset() { m_state.Reset(); }
    std::uint8_t EncodeSample(std::int16_t linear);  // linear >> 2 into the 14-bit encoder
    // samples.size() multiple of 8, packed.size() == samples.size() / 8 * 3; whole groups
    // that fit both spans are coded, the rest is left alone.
    void Encode(std::span<const std::int16_t> samples, std::span<std::uint8_t> packed);

  private:
    detail::CG726State m_state;
};

}  // namespace taviro::audio
