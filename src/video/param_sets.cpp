#include "video/param_sets.h"

#include <algorithm>
#include <vector>

#include "platform/rbsp_bits.h"

namespace taviro::video {

std::size_t WriteParameterSets(std::uint32_t width, std::uint32_t height,
                               std::span<std::uint8_t, kParamSetBufferSize> out) {
    const std::uint32_t mbWidth = width / 16U;
    const std::uint32_t mbHeight = height / 16U;
    if (mbWidth == 0 || mbHeight == 0) {
        return 0;
    }
    // Escaped like any NAL unit, though none of these fields can make two zero bytes.
    std::vector<std::uint8_t> bytes;
    platform::CRbspWriter bits;
    // Sequence parameter set.
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
    platform::AppendNalUnit(bytes, 0x67, bits.Bytes());
    // Picture parameter set.
    bits = platform::CRbspWriter();
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
    platform::AppendNalUnit(bytes, 0x68, bits.Bytes());
    if (bytes.size() > out.size()) {
        return 0;
    }
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return bytes.size();
}

}  // namespace taviro::video
