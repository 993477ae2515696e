// Turns an H.264 encoder's access units into slices as the recorder sends them: for the
// client's own fixed parameter sets (see h264_stream_writer.h for their fields), with no
// parameter sets, SEI or delimiters of their own.
//
// The encoder's SPS and PPS are read (the fields a slice header depends on), checked for
// what the client's sets cannot express (CABAC, weighted prediction, slice groups, cropping,
// field pictures, more than one active reference, another chroma QP offset or intra
// prediction mode), and every slice header is written again bit by bit: frame_num in 9 bits
// counting the reference pictures since the IDR, pic_order_cnt_lsb in 10 bits from the
// picture's order count (whichever order count type the encoder used), slice_qp_delta
// against the client's initial QP 26, and no deblocking fields, so the encoder's own must
// say "filter on, zero offsets". The slice data follows bit for bit.
//
// Threads and ownership: one rewriter per encoder stream, used by one thread at a time; the
// rewriter keeps the picture numbering of that stream and returns bytes the caller owns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/rbsp_bits.h"

namespace taviro::sim {

// The sequence parameter set fields a slice header depends on, and the ones checked.
struct H264SeqParams {
    std::uint32_t id = 0;
    std::uint32_t profileIdc = 66;
    std::uint32_t log2MaxFrameNum = 9;
    std::uint32_t pocType = 0;
    std::uint32_t log2MaxPocLsb = 10;  // POC type 0 only
    std::uint32_t maxRefFrames = 1;
    std::uint32_t mbWidth = 0;
    std::uint32_t mbHeight = 0;
    bool frameMbsOnly = true;
    bool cropping = false;
};

// The picture parameter set fields a slice header depends on, and the ones checked.
struct H264PicParams {
    std::uint32_t id = 0;
    std::uint32_t spsId = 0;
    bool cabac = false;
    bool bottomFieldPocPresent = false;
    std::uint32_t sliceGroups = 1;
    std::uint32_t refIdxL0Default = 1;  // num_ref_idx_l0_default_active
    bool weightedPred = false;
    std::uint32_t weightedBipredIdc = 0;
    std::int32_t picInitQp = 26;
    std::int32_t chromaQpOffset = 2;
    bool deblockingControl = false;
    bool constrainedIntra = true;
    bool redundantPicCnt = false;
};

// The parameter sets the client writes in front of every key frame (for `width` x `height`
// in whole macroblocks).
[[nodiscard]] H264SeqParams RecorderSeqParams(int width, int height);
[[nodiscard]] H264PicParams RecorderPicParams();

// Parse the RBSP (after the NAL header byte) of an SPS or PPS. Profiles with the chroma
// format fields (100 and up), POC type 1 and a PPS with the 8x8 transform extension are
// refused. nullopt and a reason in *error for anything malformed.
[[nodiscard]] std::optional<H264SeqParams> ParseH264Sps(std::span<const std::uint8_t> rbsp,
                                                        std::string* error = nullptr);
[[nodiscard]] std::optional<H264PicParams> ParseH264Pps(std::span<const std::uint8_t> rbsp,
                                                        std::string* error = nullptr);

// Writes an SPS and a PPS NAL unit (Annex B) with these fields; the rest are the
// recorder's: constraint flags 0, level 3.0, no frame-number gaps, direct 8x8 inference,
// no VUI, initial QS 26. The recorder's own sets give exactly the client's bytes. Encoder
// streams for tests and fuzz seeds are built with it.
[[nodiscard]] std::vector<std::uint8_t> WriteH264ParamSets(const H264SeqParams& sps,
                                                           const H264PicParams& pps);

inline constexpr std::size_t kMaxRefListChanges = 33;
inline constexpr std::size_t kMaxMarkingOps = 66;

// A P or I slice header, every field as coded (slice types 0, 2, 5 and 7 only).
struct H264SliceHeader {
    std::uint8_t nalRefIdc = 3;
    bool idr = false;  // nal_unit_type 5 (else 1)
    std::uint32_t firstMb = 0;
    std::uint32_t sliceType = 7;
    std::uint32_t ppsId = 0;
    std::uint32_t frameNum = 0;
    std::uint32_t idrPicId = 0;
    std::uint32_t pocLsb = 0;  // POC type 0 only
    bool refIdxOverride = false;
    std::uint32_t refIdxL0ActiveMinus1 = 0;
    bool refListModified = false;
    // (modification_of_pic_nums_idc, value) pairs before the closing idc 3.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> refListChanges;
    bool noOutputOfPriorPics = false;  // IDR
    bool longTermReference = false;    // IDR
    bool adaptiveMarking = false;      // non-IDR
    // (memory_management_control_operation, first value, second value) before the closing 0.
    struct MarkingOp {
        std::uint32_t op = 0;
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        bool operator==(const MarkingOp&) const = default;
    };
    std::vector<MarkingOp> markingOps;
    std::int32_t sliceQpDelta = 0;
    std::uint32_t deblockingIdc = 0;  // only when the PPS has deblocking control
    std::int32_t alphaOffsetDiv2 = 0;
    std::int32_t betaOffsetDiv2 = 0;

    [[nodiscard]] bool IsP() const { return sliceType % 5 == 0; }
};

// Reads a slice header from a slice NAL unit's RBSP (after the header byte `nalHeader`)
// against the given parameter sets; *dataBit (when given) receives the bit position of the
// slice data. nullopt and a reason for anything malformed or outside the types above.
[[nodiscard]] std::optional<H264SliceHeader> ParseH264SliceHeader(
    std::uint8_t nalHeader, std::span<const std::uint8_t> rbsp, const H264SeqParams& sps,
    const H264PicParams& pps, std::size_t* dataBit = nullptr, std::string* error = nullptr);

// Writes the header (without the NAL header byte) as coded against the given sets.
void WriteH264SliceHeader(platform::CRbspWriter& out, const H264SliceHeader& header,
                          const H264SeqParams& sps, const H264PicParams& pps);

// Appends the bits [from, to) of `bytes` to `out`; bits beyond `bytes` are not read.
void AppendH264Bits(platform::CRbspWriter& out, std::span<const std::uint8_t> bytes,
                    std::size_t from, std::size_t to);

// One access unit as the recorder sends it.
struct RewrittenAccessUnit {
    std::vector<std::uint8_t> bytes;  // the slice NAL units, Annex B
    bool idr = false;
    std::uint32_t frameNum = 0;
    std::uint32_t pocLsb = 0;
};

class CH264SliceRewriter {
  public:
    // The pictures must be `width` x `height` (whole macroblocks).
    CH264SliceRewriter(int width, int height);

    // Rewrites one access unit of the encoder's Annex B output (at most kMaxAccessUnit
    // bytes). Parameter sets in it replace the ones kept; SEI, delimiters, end-of-sequence
    // and filler units are dropped. Every slice must belong to the same picture. nullopt
    // and a reason in *error for malformed input or a stream the client's parameter sets
    // cannot carry; the numbering state is then unchanged.
    [[nodiscard]] std::optional<RewrittenAccessUnit> Rewrite(std::span<const std::uint8_t> unit,
                                                             std::string* error = nullptr);

    static constexpr std::size_t kMaxAccessUnit = 4u << 20;

  private:
    // Where the last reference picture left the numbering.
    struct Numbering {
        bool seenIdr = false;
        std::uint32_t prevRefFrameNum = 0;  // as the encoder coded it
        std::uint64_t prevRefCount = 0;     // reference pictures since the IDR, minus one
        std::int64_t prevPocMsb = 0;        // POC type 0 input
        std::uint32_t prevPocLsb = 0;
        std::int64_t prevPoc = 0;  // the last picture's order count, any picture
    };

    H264SeqParams m_target;
    H264PicParams m_targetPps;
    std::optional<H264SeqParams> m_sps;
    std::optional<H264PicParams> m_pps;
    Numbering m_numbering;
};

}  // namespace taviro::sim
