#include "audio/g726.h"

#include <algorithm>
#include <array>

namespace taviro::audio {

namespace {

// The 24 kbit/s tables, indexed by the code (0..7). Codes 0 and 7 are both the lowest
// level ("minus infinity" in the log domain): 7 is what an encoder sends, 0 still decodes.
// Reconstruction levels, log2 of the normalised difference in 1/128 units (2048: none).
constexpr std::array<unsigned, 8> kDqln = {2048, 135, 273, 373, 373, 273, 135, 2048};
// Scale factor multipliers W(I) in 1/16 units, 12-bit two's complement.
constexpr std::array<unsigned, 8> kWi = {4092, 30, 137, 582, 582, 137, 30, 4092};
// Speed control transitions F(I).
constexpr std::array<unsigned, 8> kFi = {0, 1, 2, 7, 7, 2, 1, 0};

// Number of significant bits of `mag` (0 for 0).
unsigned BitLength(unsigned mag) {
    unsigned length = 0;
    while (mag != 0) {
        ++length;
        mag >>= 1;
    }
    return length;
}

// Magnitude to the 11-bit floating format: sign, 4-bit exponent, 6-bit mantissa whose
// leading one is bit 5; zero keeps the mantissa 32.
unsigned ToFloat(unsigned sign, unsigned mag) {
    const unsigned exp = BitLength(mag);
    const unsigned mant = mag == 0 ? 32U : ((mag << 6) >> exp);
    return (sign << 10) + (exp << 6) + (mant & 63U);
}

// One predictor tap: a 16-bit coefficient times a value in the floating format, giving a
// 16-bit two's complement word.
unsigned Multiply(unsigned coefficient, unsigned value) {
    const unsigned as = coefficient >> 15;
    const unsigned amag = as == 0 ? (coefficient >> 2) : ((16384U - (coefficient >> 2)) & 8191U);
    const unsigned aexp = BitLength(amag);
    const unsigned amant = amag == 0 ? 32U : ((amag << 6) >> aexp);
    const unsigned vs = value >> 10;
    const unsigned vexp = (value >> 6) & 15U;
    const unsigned vmant = value & 63U;
    const unsigned ws = vs ^ as;
    const unsigned wexp = vexp + aexp;
    const unsigned wmant = ((vmant * amant) + 48U) >> 4;
    const unsigned wmag =
        wexp <= 26 ? ((wmant << 7) >> (26 - wexp)) : (((wmant << 7) << (wexp - 26)) & 32767U);
    return ws == 0 ? wmag : ((65536U - wmag) & 65535U);
}

// A two's complement word of `bits` bits as a signed value.
int Signed(unsigned word, unsigned bits) {
    const unsigned sign = 1U << (bits - 1);
    return static_cast<int>(word & (sign - 1)) - static_cast<int>(word & sign);
}

// A signed value as a two's complement word of `bits` bits.
unsigned Word(int value, unsigned bits) {
    return static_cast<unsigned>(value) & ((1U << bits) - 1);
}

}  // namespace

void UnpackCodes(std::span<const std::uint8_t> packed, std::span<std::uint8_t> codes) {
    const std::size_t groups =
        std::min(packed.size() / kBytesPerGroup, codes.size() / kCodesPerGroup);
    for (std::size_t g = 0; g < groups; ++g) {
        const std::size_t in = g * kBytesPerGroup;
        const std::uint32_t word = std::uint32_t{packed[in]} |
                                   (std::uint32_t{packed[in + 1]} << 8) |
                                   (std::uint32_t{packed[in + 2]} << 16);
        for (std::size_t k = 0; k < kCodesPerGroup; ++k) {
            codes[g * kCodesPerGroup + k] = static_cast<std::uint8_t>((word >> (3 * k)) & 7U);
        }
    }
}

void PackCodes(std::span<const std::uint8_t> codes, std::span<std::uint8_t> packed) {
    const std::size_t groups =
        std::min(packed.size() / kBytesPerGroup, codes.size() / kCodesPerGroup);
    for (std::size_t g = 0; g < groups; ++g) {
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < kCodesPerGroup; ++k) {
            word |= std::uint32_t{static_cast<std::uint8_t>(codes[g * kCodesPerGroup + k] & 7U)}
                    << (3 * k);
        }
        const std::size_t out = g * kBytesPerGroup;
        packed[out] = static_cast<std::uint8_t>(word & 0xFFU);
        packed[out + 1] = static_cast<std::uint8_t>((word >> 8) & 0xFFU);
        packed[out + 2] = static_cast<std::uint8_t>((word >> 16) & 0xFFU);
    }
}

namespace detail {

void CG726State::Reset() {
    m_yu = 544;
    m_yl = 34816;
    m_dms = 0;
    m_dml = 0;
    m_ap = 0;
    m_a[0] = m_a[1] = 0;
    for (unsigned& b : m_b) {
        b = 0;
    }
    for (unsigned& dq : m_dq) {
        dq = 32;
    }
    m_sr[0] = m_sr[1] = 32;
    m_pk[0] = m_pk[1] = 0;
    m_td = 0;
    Prepare();
}

void CG726State::Prepare() {
    // Signal estimate: six zeros on past differences, two poles on past reconstructions.
    unsigned sezi = 0;
    for (std::size_t n = 0; n < 6; ++n) {
        sezi = (sezi + Multiply(m_b[n], m_dq[n])) & 65535U;
    }
    const unsigned sei = (sezi + Multiply(m_a[1], m_sr[1]) + Multiply(m_a[0], m_sr[0])) & 65535U;
    m_sez = Signed(sezi >> 1, 15);
    m_se = Signed(sei >> 1, 15);

    // Scale factor: the fast and slow parts mixed by the speed control.
    const unsigned al = m_ap >= 256 ? 64U : (m_ap >> 2);
    const unsigned ylShort = m_yl >> 6;
    const unsigned dif = (m_yu + 16384U - ylShort) & 16383U;
    const unsigned difs = dif >> 13;
    const unsigned difm = difs != 0 ? ((16384U - dif) & 8191U) : dif;
    const unsigned prodm = (difm * al) >> 6;
    const unsigned prod = difs != 0 ? ((16384U - prodm) & 16383U) : prodm;
    m_y = static_cast<int>((ylShort + prod) & 8191U);
}

std::uint8_t CG726State::Quantize(int d) const {
    // Log of the magnitude: 4-bit exponent, 7-bit mantissa.
    const unsigned dword = Word(d, 16);
    const unsigned ds = dword >> 15;
    const unsigned dqm = ds != 0 ? ((65536U - dword) & 32767U) : dword;
    const unsigned exp = dqm == 0 ? 0U : BitLength(dqm) - 1;
    const unsigned mant = ((dqm << 7) >> exp) & 127U;
    const unsigned dl = (exp << 7) + mant;
    // Normalised by the scale factor, 12-bit two's complement.
    const unsigned dln = (dl + 4096U - (static_cast<unsigned>(m_y) >> 2)) & 4095U;
    unsigned level = 0;
    if (dln >= 2048) {
        level = 0;
    } else if (dln >= 331) {
        level = 3;
    } else if (dln >= 218) {
        level = 2;
    } else if (dln >= 8) {
        level = 1;
    }
    if (level == 0) {
        return 7;
    }
    return static_cast<std::uint8_t>(ds != 0 ? 7U - level : level);
}

int CG726State::Update(std::uint8_t rawCode) {
    const unsigned code = rawCode & 7U;
    const auto y = static_cast<unsigned>(m_y);

    // Inverse quantizer: level plus scale factor in the log domain, back to linear.
    const unsigned dqs = code >> 2;
    const unsigned dql = (kDqln[code] + (y >> 2)) & 4095U;
    const unsigned dqlSign = dql >> 11;
    const unsigned dex = (dql >> 7) & 15U;
    const unsigned dqt = 128U + (dql & 127U);
    const unsigned dqmag = dqlSign != 0 ? 0U : ((dqt << 7) >> (14 - dex));
    const int dqSigned = dqs != 0 ? -static_cast<int>(dqmag) : static_cast<int>(dqmag);

    // Reconstructed signal and partial reconstruction, 16-bit words.
    const unsigned sr = Word(dqSigned + m_se, 16);
    const unsigned dqsez = Word(dqSigned + m_sez, 16);
    const unsigned pk0 = dqsez >> 15;
    const bool sigpk = dqsez == 0;

    // Transition detector: a large difference while a tone was present.
    const unsigned ylint = m_yl >> 15;
    const unsigned ylfrac = (m_yl >> 10) & 31U;
    const unsigned thr1 = (32U + ylfrac) << ylint;
    const unsigned thr2 = ylint > 9 ? (31U << 10) : thr1;
    const unsigned dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = dqmag > dqthr && m_td == 1;

    // Second pole.
    const unsigned pks1 = pk0 ^ m_pk[0];
    const unsigned pks2 = pk0 ^ m_pk[1];
    const unsigned a1 = m_a[0];
    const unsigned a2 = m_a[1];
    const unsigned uga2a = pks2 != 0 ? 114688U : 16384U;
    unsigned fa1 = 0;
    if ((a1 >> 15) == 0) {
        fa1 = a1 <= 8191 ? (a1 << 2) : (8191U << 2);
    } else {
        fa1 = a1 >= 57345 ? ((a1 << 2) & 131071U) : (24577U << 2);
    }
    const unsigned fa = pks1 != 0 ? fa1 : ((131072U - fa1) & 131071U);
    const unsigned uga2b = (uga2a + fa) & 131071U;
    unsigned uga2 = 0;
    if (!sigpk) {
        uga2 = (uga2b >> 16) != 0 ? ((uga2b >> 7) + 64512U) : (uga2b >> 7);
    }
    const unsigned ula2 = Word(-(Signed(a2, 16) >> 7), 16);
    const unsigned a2t = (a2 + uga2 + ula2) & 65535U;
    unsigned a2p = a2t;
    if (a2t >= 32768 && a2t <= 53248) {
        a2p = 53248;
    } else if (a2t >= 12288 && a2t <= 32767) {
        a2p = 12288;
    }

    // First pole, limited by the second.
    unsigned uga1 = 0;
    if (!sigpk) {
        uga1 = pks1 != 0 ? 65344U : 192U;
    }
    const unsigned ula1 = Word(-(Signed(a1, 16) >> 8), 16);
    const unsigned a1t = (a1 + uga1 + ula1) & 65535U;
    const int a1Limit = 15360 - Signed(a2p, 16);
    const unsigned a1p = Word(std::clamp(Signed(a1t, 16), -a1Limit, a1Limit), 16);

    // Zeros: sign correlation of the new difference with each past one, with leakage.
    std::array<unsigned, 6> bp{};
    for (std::size_t n = 0; n < 6; ++n) {
        unsigned ugb = 0;
        if (dqmag != 0) {
            ugb = (dqs ^ (m_dq[n] >> 10)) != 0 ? 65408U : 128U;
        }
        const unsigned ulb = Word(-(Signed(m_b[n], 16) >> 8), 16);
        bp[n] = (m_b[n] + ugb + ulb) & 65535U;
    }

    // Tone detector on the new second pole.
    const unsigned tdp = (a2p >= 32768 && a2p < 53760) ? 1U : 0U;

    // Scale factor adaptation: fast part towards W(I), slow part towards the fast one.
    const unsigned wi = kWi[code];
    const unsigned fdif = ((wi << 5) + 131072U - y) & 131071U;
    const unsigned fdifsx = (fdif >> 16) != 0 ? ((fdif >> 5) + 4096U) : (fdif >> 5);
    const unsigned yut = (y + fdifsx) & 8191U;
    const unsigned yup = std::clamp(yut, 544U, 5120U);
    const unsigned edif = (yup + ((1048576U - m_yl) >> 6)) & 16383U;
    const unsigned edifsx = (edif >> 13) != 0 ? (edif + 507904U) : edif;
    const unsigned ylp = (m_yl + edifsx) & 524287U;

    // Speed control: short and long averages of F(I).
    const unsigned fi = kFi[code];
    const unsigned adif = ((fi << 9) + 8192U - m_dms) & 8191U;
    const unsigned adifsx = (adif >> 12) != 0 ? ((adif >> 5) + 3840U) : (adif >> 5);
    const unsigned dmsp = (adifsx + m_dms) & 4095U;
    const unsigned bdif = ((fi << 11) + 32768U - m_dml) & 32767U;
    const unsigned bdifsx = (bdif >> 14) != 0 ? ((bdif >> 7) + 16128U) : (bdif >> 7);
    const unsigned dmlp = (bdifsx + m_dml) & 16383U;
    const unsigned cdif = ((dmsp << 2) + 32768U - dmlp) & 32767U;
    const unsigned cdifm = (cdif >> 14) != 0 ? ((32768U - cdif) & 16383U) : cdif;
    const unsigned dthr = dmlp >> 3;
    const unsigned ax = (y >= 1536 && cdifm < dthr && tdp == 0) ? 0U : 1U;
    const unsigned pdif = ((ax << 9) + 2048U - m_ap) & 2047U;
    const unsigned pdifsx = (pdif >> 10) != 0 ? ((pdif >> 4) + 896U) : (pdif >> 4);
    const unsigned app = (pdifsx + m_ap) & 1023U;

    // Store, with a transition resetting the predictor and forcing fast adaptation.
    m_yu = yup;
    m_yl = ylp;
    m_dms = dmsp;
    m_dml = dmlp;
    m_ap = tr ? 256U : app;
    m_a[0] = tr ? 0U : a1p;
    m_a[1] = tr ? 0U : a2p;
    for (std::size_t n = 6; n-- > 1;) {
        m_dq[n] = m_dq[n - 1];
    }
    for (std::size_t n = 0; n < 6; ++n) {
        m_b[n] = tr ? 0U : bp[n];
    }
    m_dq[0] = ToFloat(dqs, dqmag);
    const unsigned srs = sr >> 15;
    m_sr[1] = m_sr[0];
    m_sr[0] = ToFloat(srs, srs != 0 ? ((65536U - sr) & 32767U) : sr);
    m_pk[1] = m_pk[0];
    m_pk[0] = pk0;
    m_td = tr ? 0U : tdp;
    return Signed(sr, 16);
}

}  // namespace detail

std::int16_t CG726Decoder::DecodeCode(std::uint8_t code) {
    m_state.Prepare();
    const int sr = std::clamp(m_state.Update(code), -8192, 8191);
    return static_cast<std::int16_t>(sr * 4);
}

void CG726Decoder::Decode(std::span<const std::uint8_t> packed, std::span<std::int16_t> samples) {
    const std::size_t groups =
        std::min(packed.size() / kBytesPerGroup, samples.size() / kCodesPerGroup);
    std::array<std::uint8_t, kCodesPerGroup> codes{};
    for (std::size_t g = 0; g < groups; ++g) {
        UnpackCodes(packed.subspan(g * kBytesPerGroup, kBytesPerGroup), codes);
        for (std::size_t k = 0; k < kCodesPerGroup; ++k) {
            samples[g * kCodesPerGroup + k] = DecodeCode(codes[k]);
        }
    }
}

std::uint8_t CG726Encoder::EncodeSample(std::int16_t linear) {
    m_state.Prepare();
    // Arithmetic shift: the 14-bit sample the coder works on.
    const int sl = static_cast<int>(linear) >> 2;
    const std::uint8_t code = m_state.Quantize(sl - m_state.Estimate());
    m_state.Update(code);
    return code;
}

void CG726Encoder::Encode(std::span<const std::int16_t> samples, std::span<std::uint8_t> packed) {
    const std::size_t groups =
        std::min(packed.size() / kBytesPerGroup, samples.size() / kCodesPerGroup);
    std::array<std::uint8_t, kCodesPerGroup> codes{};
    for (std::size_t g = 0; g < groups; ++g) {
        for (std::size_t k = 0; k < kCodesPerGroup; ++k) {
            codes[k] = EncodeSample(samples[g * kCodesPerGroup + k]);
        }
        PackCodes(codes, packed.subspan(g * kBytesPerGroup, kBytesPerGroup));
    }
}

}  // namespace taviro::audio
