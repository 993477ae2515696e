#include "sim/h264_stream_writer.h"

#include <array>
#include <cstring>
#include <string>
#include <utility>

#include "platform/rbsp_bits.h"

namespace taviro::sim {
namespace {

constexpr std::uint8_t kNalIdrSlice = 0x65;       // nal_ref_idc 3, type 5 (IDR slice)
constexpr std::uint8_t kNalNonIdrSlice = 0x41;    // nal_ref_idc 2, type 1 (non-IDR slice)
constexpr std::uint32_t kSliceTypeP = 5;          // P, every slice of the picture
constexpr std::uint32_t kSliceTypeI = 7;          // I, every slice of the picture
constexpr std::uint32_t kMbTypeIPcmInI = 25;      // I_PCM in an I slice
constexpr std::uint32_t kMbTypeIPcmInP = 5 + 25;  // intra types follow the 5 P types
constexpr std::int32_t kPicInitQp = 26;           // from the client's PPS
constexpr std::size_t kPcmBytes = 256 + 2 * 64;

struct SliceHeader {
    bool idr = false;
    std::uint32_t frame_num = 0;
    std::uint32_t idr_pic_id = 0;
    std::uint32_t poc_lsb = 0;
};

void PutSliceHeader(platform::CRbspWriter& w, const SliceHeader& h) {
    w.PutUe(0);  // first_mb_in_slice: one slice per picture
    w.PutUe(h.idr ? kSliceTypeI : kSliceTypeP);
    w.PutUe(0);  // pic_parameter_set_id
    w.PutBits(h.frame_num, 9);
    if (h.idr) {
        w.PutUe(h.idr_pic_id);
    }
    w.PutBits(h.poc_lsb, 10);
    if (!h.idr) {
        w.PutBit(false);  // num_ref_idx_active_override_flag: the PPS's one reference
        w.PutBit(false);  // ref_pic_list_modification_flag_l0
    }
    // dec_ref_pic_marking (every picture is a reference)
    if (h.idr) {
        w.PutBit(false);  // no_output_of_prior_pics_flag
        w.PutBit(false);  // long_term_reference_flag
    } else {
        w.PutBit(false);  // adaptive_ref_pic_marking_mode_flag: sliding window
    }
    // Slice QP 0: I_PCM and skipped macroblocks then all sit at QP 0, where the deblocking
    // filter's alpha and beta are zero (for chroma too, with the offset of 2).
    w.PutSe(-kPicInitQp);
}

void PutPcmSamples(platform::CRbspWriter& w, const YuvPicture& p, int mbX, int mbY) {
    std::array<std::uint8_t, kPcmBytes> samples{};
    std::size_t n = 0;
    const auto width = static_cast<std::size_t>(p.width);
    const auto x0 = static_cast<std::size_t>(mbX) * 16;
    const auto y0 = static_cast<std::size_t>(mbY) * 16;
    for (std::size_t row = 0; row < 16; ++row) {
        std::memcpy(samples.data() + n, p.y.data() + (y0 + row) * width + x0, 16);
        n += 16;
    }
    for (const auto* plane : {&p.u, &p.v}) {
        for (std::size_t row = 0; row < 8; ++row) {
            std::memcpy(samples.data() + n, plane->data() + (y0 / 2 + row) * (width / 2) + x0 / 2,
                        8);
            n += 8;
        }
    }
    w.AlignWithZeros();  // pcm_alignment_zero_bit
    w.PutAlignedBytes(samples);
}

bool SameMacroblock(const YuvPicture& a, const YuvPicture& b, int mbX, int mbY) {
    const auto width = static_cast<std::size_t>(a.width);
    const auto x0 = static_cast<std::size_t>(mbX) * 16;
    const auto y0 = static_cast<std::size_t>(mbY) * 16;
    for (std::size_t row = 0; row < 16; ++row) {
        const std::size_t at = (y0 + row) * width + x0;
        if (std::memcmp(a.y.data() + at, b.y.data() + at, 16) != 0) {
            return false;
        }
    }
    for (std::size_t row = 0; row < 8; ++row) {
        const std::size_t at = (y0 / 2 + row) * (width / 2) + x0 / 2;
        if (std::memcmp(a.u.data() + at, b.u.data() + at, 8) != 0 ||
            std::memcmp(a.v.data() + at, b.v.data() + at, 8) != 0) {
            return false;
        }
    }
    return true;
}

std::string CheckOptions(const H264StreamOptions& o) {
    if (!IsH264PictureSizeAccepted(o.width, o.height)) {
        return "picture size " + std::to_string(o.width) + "x" + std::to_string(o.height) +
               " is not one the recorder encodes";
    }
    if (o.gop_length < 1) {
        return "gop_length must be at least 1";
    }
    if (o.leading_dependent_frames < 0) {
        return "leading_dependent_frames must not be negative";
    }
    if (o.poc_step < 1 || o.poc_step >= static_cast<int>(kH264MaxPocLsb / 2)) {
        return "poc_step must be 1..511";
    }
    return {};
}

}  // namespace

bool IsH264PictureSizeAccepted(int width, int height) {
    const bool smallHeight = height == 240 || height == 288;
    const bool fullHeight = smallHeight || height == 480 || height == 576;
    return (width == 352 && smallHeight) || ((width == 704 || width == 720) && fullHeight);
}

std::optional<CH264StreamWriter> CH264StreamWriter::Create(const H264StreamOptions& options,
                                                           std::string* error) {
    std::string reason = CheckOptions(options);
    if (!reason.empty()) {
        if (error != nullptr) {
            *error = std::move(reason);
        }
        return std::nullopt;
    }
    return CH264StreamWriter(options);
}

CH264StreamWriter::CH264StreamWriter(const H264StreamOptions& options)
    : m_width(options.width),
      m_height(options.height),
      m_gopLength(options.gop_length),
      m_pocStep(static_cast<std::uint32_t>(options.poc_step)),
      m_framesToKey(options.leading_dependent_frames) {}

bool CH264StreamWriter::SetSize(int width, int height) {
    if (!IsH264PictureSizeAccepted(width, height)) {
        return false;
    }
    if (width != m_width || height != m_height) {
        m_width = width;
        m_height = height;
        m_reference.reset();
        m_framesToKey = 0;
    }
    return true;
}

std::optional<H264AccessUnit> CH264StreamWriter::Write(const YuvPicture& picture) {
    if (!picture.IsConsistent() || picture.width != m_width || picture.height != m_height) {
        return std::nullopt;
    }
    H264AccessUnit unit;
    if (m_framesToKey == 0) {
        unit = WriteKeyFrame(picture);
        m_framesToKey = m_gopLength - 1;
    } else {
        unit = WriteDependentFrame(picture);
        --m_framesToKey;
    }
    m_reference = picture;
    ++m_framesWritten;
    return unit;
}

H264AccessUnit CH264StreamWriter::WriteKeyFrame(const YuvPicture& picture) {
    m_frameNum = 0;
    m_pocLsb = 0;
    const int mbCols = m_width / 16;
    const int mbRows = m_height / 16;
    const auto mbCount = static_cast<std::size_t>(mbCols) * static_cast<std::size_t>(mbRows);

    platform::CRbspWriter w;
    w.Reserve(mbCount * (kPcmBytes + 2) + 16);
    PutSliceHeader(w, {.idr = true, .frame_num = 0, .idr_pic_id = m_idrPicId, .poc_lsb = 0});
    for (int mbY = 0; mbY < mbRows; ++mbY) {
        for (int mbX = 0; mbX < mbCols; ++mbX) {
            w.PutUe(kMbTypeIPcmInI);
            PutPcmSamples(w, picture, mbX, mbY);
        }
    }
    w.PutTrailingBits();
    // Consecutive IDR pictures must differ in idr_pic_id; any 16-bit value will do.
    m_idrPicId = (m_idrPicId + 1) & 0xFFFFu;

    H264AccessUnit unit;
    platform::AppendNalUnit(unit.bytes, kNalIdrSlice, w.Bytes());
    unit.key_frame = true;
    unit.width = m_width;
    unit.height = m_height;
    unit.intra_macroblocks = mbCount;
    return unit;
}

H264AccessUnit CH264StreamWriter::WriteDependentFrame(const YuvPicture& picture) {
    // Every frame is a reference, so frame_num counts up by one per frame (no gaps).
    m_frameNum = (m_frameNum + 1) % kH264MaxFrameNum;
    m_pocLsb = (m_pocLsb + m_pocStep) % kH264MaxPocLsb;
    const int mbCols = m_width / 16;
    const int mbRows = m_height / 16;

    platform::CRbspWriter w;
    PutSliceHeader(w, {.idr = false, .frame_num = m_frameNum, .poc_lsb = m_pocLsb});
    std::uint32_t skipRun = 0;
    std::size_t intra = 0;
    std::size_t skipped = 0;
    for (int mbY = 0; mbY < mbRows; ++mbY) {
        for (int mbX = 0; mbX < mbCols; ++mbX) {
            if (m_reference && SameMacroblock(picture, *m_reference, mbX, mbY)) {
                ++skipRun;
                ++skipped;
                continue;
            }
            w.PutUe(skipRun);  // mb_skip_run in front of every coded macroblock, maybe 0
            skipRun = 0;
            w.PutUe(kMbTypeIPcmInP);
            PutPcmSamples(w, picture, mbX, mbY);
            ++intra;
        }
    }
    if (skipRun > 0) {
        w.PutUe(skipRun);
    }
    w.PutTrailingBits();

    H264AccessUnit unit;
    platform::AppendNalUnit(unit.bytes, kNalNonIdrSlice, w.Bytes());
    unit.key_frame = false;
    unit.width = m_width;
    unit.height = m_height;
    unit.frame_num = m_frameNum;
    unit.poc_lsb = m_pocLsb;
    unit.intra_macroblocks = intra;
    unit.skipped_macroblocks = skipped;
    return unit;
}

}  // namespace taviro::sim
