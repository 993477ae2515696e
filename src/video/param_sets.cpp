#include "video/param_sets.h"

#include <algorithm>
#include <bit>

namespace taviro::video {

void CBitWriter::PutBits(std::uint32_t value, unsigned count) {
    if (count == 0 || count > 32) {
        return;
    }
    if (m_bitCount + count > kCapacity * 8U) {
        m_overflow = true;
        return;
    }
    for (unsigned i = count; i-- > 0;) {
        if (((value >> i) & 1U) != 0) {
            m_words[m_bitCount / 32U] |= 1U << (31U - m_bitCount % 32U);
        }
        ++m_bitCount;
    }
}

void CBitWriter::PutUe(std::uint32_t value) {
    const std::uint64_t code = std::uint64_t{value} + 1U;
    unsigned n = static_cast<unsigned>(std::bit_width(code)) - 1U;
    n = std::min(n, 16U);
    PutBits(0, n);
    // The value part: the n + 1 low bits of v + 1 (its leading one included).
    const unsigned valueBits = n + 1U;
    const std::uint64_t mask = (std::uint64_t{1} << valueBits) - 1U;
    PutBits(static_cast<std::uint32_t>(code & mask), valueBits);
}

void CBitWriter::PutSe(std::int32_t value) {
    const std::int64_t v = value;
    const std::int64_t mapped = v > 0 ? 2 * v - 1 : -2 * v;
    PutUe(static_cast<std::uint32_t>(mapped));
}

void CBitWriter::PutTrailingBits() {
    PutBit(true);
    AlignZero();
}

void CBitWriter::AlignZero() {
    const auto partial = static_cast<unsigned>(m_bitCount % 8U);
    if (partial != 0) {
        PutBits(0, 8U - partial);
    }
}

std::size_t CBitWriter::CopyTo(std::span<std::uint8_t> out) const {
    const std::size_t count = ByteCount();
    if (out.size() < count) {
        return 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto shift = static_cast<unsigned>(24U - 8U * (i % 4U));
        out[i] = static_cast<std::uint8_t>(m_words[i / 4U] >> shift);
    }
    return count;
}

std::size_t WriteParameterSets(std::uint32_t width, std::uint32_t height,
                               std::span<std::uint8_t, kParamSetBufferSize> out) {
    const std::uint32_t mbWidth = width / 16U;
    const std::uint32_t mbHeight = height / 16U;
    if (mbWidth == 0 || mbHeight == 0) {
        return 0;
    }
    CBitWriter bits;
    // Sequence parameter set.
    bits.PutBits(0x00000001, 32);
    bits.PutBits(0x67, 8);
    bits.PutBits(66, 8);  // profile_idc: Baseline
    bits.PutBits(0, 4);   // constraint_set0..3 flags
    bits.PutBits(0, 4);   // reserved
    bits.PutBits(30, 8);  // level_idc 3.0
    bits.PutUe(0);        // seq_parameter_set_id
    bits.PutUe(5);        // log2_max_frame_num - 4
    bits.PutUe(0);        // pic_order_cnt_type
    bits.PutUe(6);        // log2_max_pic_order_cnt_lsb - 4
    bits.PutUe(1);        // max_num_ref_frames
    bits.PutBit(false);   // gaps_in_frame_num_value_allowed_flag
    bits.PutUe(mbWidth - 1U);
    bits.PutUe(mbHeight - 1U);
    bits.PutBit(true);   // frame_mbs_only_flag
    bits.PutBit(true);   // direct_8x8_inference_flag
    bits.PutBit(false);  // frame_cropping_flag
    bits.PutBit(false);  // vui_parameters_present_flag
    bits.PutTrailingBits();
    // Picture parameter set.
    bits.PutBits(0x00000001, 32);
    bits.PutBits(0x68, 8);
    bits.PutUe(0);       // pic_parameter_set_id
    bits.PutUe(0);       // seq_parameter_set_id
    bits.PutBit(false);  // entropy_coding_mode_flag: CAVLC
    bits.PutBit(false);  // bottom_field_pic_order_in_frame_present_flag
    bits.PutUe(0);       // num_slice_groups - 1
    bits.PutUe(0);       // num_ref_idx_l0_default_active - 1
    bits.PutUe(0);       // num_ref_idx_l1_default_active - 1
    bits.PutBit(false);  // weighted_pred_flag
    bits.PutBits(0, 2);  // weighted_bipred_idc
    bits.PutSe(0);       // pic_init_qp - 26
    bits.PutSe(0);       // pic_init_qs - 26
    bits.PutSe(2);       // chroma_qp_index_offset
    bits.PutBit(false);  // deblocking_filter_control_present_flag
    bits.PutBit(true);   // constrained_intra_pred_flag
    bits.PutBit(false);  // redundant_pic_cnt_present_flag
    bits.PutTrailingBits();
    if (bits.Overflowed()) {
        return 0;
    }
    return bits.CopyTo(out);
}

}  // namespace taviro::video
