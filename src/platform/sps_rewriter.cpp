#include "platform/sps_rewriter.h"

#include <algorithm>

#include "platform/rbsp_bits.h"

namespace taviro::platform {
namespace {

// The profiles whose sets carry chroma format, bit depths and scaling matrix fields.
bool HasChromaFormatFields(std::uint32_t profile) {
    switch (profile) {
        case 100:
        case 110:
        case 122:
        case 244:
        case 44:
        case 83:
        case 86:
        case 118:
        case 128:
        case 138:
        case 139:
        case 134:
        case 135:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<SpsHead> ParseSpsHead(std::span<const std::uint8_t> rbsp) {
    CRbspReader in(rbsp);
    SpsHead head;
    head.profile = in.ReadBits(8);
    in.Skip(16);  // constraint flags, reserved bits, level_idc
    in.ReadUe();  // seq_parameter_set_id
    if (HasChromaFormatFields(head.profile)) {
        if (in.ReadUe() == 3) {  // chroma_format_idc 4:4:4
            in.Skip(1);          // separate_colour_plane_flag
        }
        in.ReadUe();  // bit_depth_luma_minus8
        in.ReadUe();  // bit_depth_chroma_minus8
        in.Skip(1);   // qpprime_y_zero_transform_bypass_flag
        if (in.ReadBit()) {
            return std::nullopt;  // seq_scaling_matrix_present_flag: not rewritten
        }
    }
    in.ReadUe();  // log2_max_frame_num_minus4
    const std::uint32_t pocType = in.ReadUe();
    if (pocType == 0) {
        in.ReadUe();  // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        in.Skip(1);   // delta_pic_order_always_zero_flag
        in.ReadSe();  // offset_for_non_ref_pic
        in.ReadSe();  // offset_for_top_to_bottom_field
        const std::uint32_t cycle = in.ReadUe();
        if (cycle > 255) {
            return std::nullopt;
        }
        for (std::uint32_t i = 0; i < cycle && !in.Failed(); ++i) {
            in.ReadSe();  // offset_for_ref_frame
        }
    } else if (pocType != 2) {
        return std::nullopt;
    }
    head.refFrames = in.ReadUe();
    if (head.refFrames > 16) {
        return std::nullopt;
    }
    in.Skip(1);  // gaps_in_frame_num_value_allowed_flag
    head.widthMbs = in.ReadUe() + 1U;
    head.heightMapUnits = in.ReadUe() + 1U;
    head.frameMbsOnly = in.ReadBit();
    if (!head.frameMbsOnly) {
        in.Skip(1);  // mb_adaptive_frame_field_flag
    }
    in.Skip(1);          // direct_8x8_inference_flag
    if (in.ReadBit()) {  // frame_cropping_flag
        for (int i = 0; i < 4; ++i) {
            in.ReadUe();  // the four crop offsets
        }
    }
    head.vuiFlagBit = in.BitPosition();
    head.vui = in.ReadBit();
    if (in.Failed()) {
        return std::nullopt;
    }
    return head;
}

std::optional<std::vector<std::uint8_t>> AddNoReorderVui(std::span<const std::uint8_t> rbsp) {
    const std::optional<SpsHead> head = ParseSpsHead(rbsp);
    if (!head || head->vui) {
        return std::nullopt;
    }
    CRbspWriter out;
    // Everything in front of the VUI flag as it was: whole bytes, then the bits left.
    const std::size_t wholeBytes = head->vuiFlagBit / 8;
    out.PutAlignedBytes(rbsp.first(wholeBytes));
    CRbspReader copy(rbsp.subspan(wholeBytes));
    out.PutBits(copy.ReadBits(static_cast<int>(head->vuiFlagBit % 8)),
                static_cast<int>(head->vuiFlagBit % 8));
    out.PutBit(true);   // vui_parameters_present_flag
    out.PutBit(false);  // aspect_ratio_info_present_flag
    out.PutBit(false);  // overscan_info_present_flag
    out.PutBit(false);  // video_signal_type_present_flag
    out.PutBit(false);  // chroma_loc_info_present_flag
    out.PutBit(false);  // timing_info_present_flag
    out.PutBit(false);  // nal_hrd_parameters_present_flag
    out.PutBit(false);  // vcl_hrd_parameters_present_flag
    out.PutBit(false);  // pic_struct_present_flag
    out.PutBit(true);   // bitstream_restriction_flag
    out.PutBit(true);   // motion_vectors_over_pic_boundaries_flag
    out.PutUe(0);       // max_bytes_per_pic_denom
    out.PutUe(0);       // max_bits_per_mb_denom
    out.PutUe(15);      // log2_max_mv_length_horizontal
    out.PutUe(15);      // log2_max_mv_length_vertical
    out.PutUe(0);       // max_num_reorder_frames
    out.PutUe(std::max<std::uint32_t>(head->refFrames, 1));  // max_dec_frame_buffering
    out.PutTrailingBits();
    return out.Bytes();
}

std::optional<std::vector<std::uint8_t>> RewriteSpsNalUnit(std::span<const std::uint8_t> nal) {
    if (nal.empty() || (nal[0] & 0x9FU) != 7) {
        return std::nullopt;  // not a sequence parameter set (or the forbidden bit is set)
    }
    auto rewritten = AddNoReorderVui(UnescapeRbsp(nal.subspan(1)));
    if (!rewritten) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> unit{nal[0]};
    AppendEscapedRbsp(unit, *rewritten);
    return unit;
}

const std::vector<std::uint8_t>* CSpsRewriter::Rewrite(std::span<const std::uint8_t> nal) {
    if (!m_lastIn.empty() && std::ranges::equal(nal, m_lastIn)) {
        return &m_lastOut;
    }
    if (auto unit = RewriteSpsNalUnit(nal)) {
        m_lastIn.assign(nal.begin(), nal.end());
        m_lastOut = std::move(*unit);
        return &m_lastOut;
    }
    m_lastIn.clear();
    m_lastOut.clear();
    return nullptr;
}

}  // namespace taviro::platform
