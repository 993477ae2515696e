#include "platform/null_h264_decoder.h"

#include <cstring>
#include <utility>

#include "platform/rbsp_bits.h"
#include "platform/sps_rewriter.h"

namespace taviro::platform {
namespace {

constexpr std::uint8_t kGrey = 128;  // mid grey in luma, no colour in chroma; RGB 128s

}  // namespace

CNullH264Decoder::CNullH264Decoder(std::uint32_t format,
                                   std::shared_ptr<NullH264DecoderCounts> counts)
    : m_format(format), m_counts(std::move(counts)) {
    if (m_counts) {
        ++m_counts->opened;
    }
}

CNullH264Decoder::~CNullH264Decoder() {
    if (m_counts) {
        ++m_counts->closed;
    }
}

int CNullH264Decoder::Decode(std::span<const std::uint8_t> accessUnit, PictureRef& picture) {
    picture.reset();
    if (m_counts) {
        ++m_counts->calls;
        m_counts->bytes += accessUnit.size();
    }
    if (accessUnit.empty()) {
        return kH264BadInput;
    }
    bool slice = false;
    for (const auto unit : SplitAnnexB(accessUnit)) {
        if (unit.empty()) {
            continue;
        }
        const unsigned type = unit[0] & 0x1FU;
        slice = slice || (type >= 1 && type <= 5);
        if (type != 7) {
            continue;
        }
        const auto head = ParseSpsHead(UnescapeRbsp(unit.subspan(1)));
        const std::uint64_t width = head ? std::uint64_t{head->widthMbs} * 16 : 0;
        const std::uint64_t height =
            head ? std::uint64_t{head->heightMapUnits} * (head->frameMbsOnly ? 16 : 32) : 0;
        // A size no picture may have leaves the last one in force.
        if (width > 0 && height > 0 && width <= 4096 && height <= 4096 &&
            PackedPictureBytes(static_cast<int>(width), static_cast<int>(height), m_format) <=
                kH264PictureBufferSize) {
            m_width = static_cast<int>(width);
            m_height = static_cast<int>(height);
        }
    }
    if (!slice || m_width == 0) {
        return kH264NoPicture;
    }
    if (!m_grey || m_grey->width != m_width || m_grey->height != m_height) {
        auto grey = std::make_shared<CPackedPicture>(m_width, m_height, m_format);
        std::memset(grey->Data(), kGrey, grey->Size());
        m_grey = std::move(grey);
    }
    picture = m_grey;
    if (m_counts) {
        ++m_counts->pictures;
    }
    return kH264Picture;
}

H264DecoderFactory NullH264Decoders(std::shared_ptr<NullH264DecoderCounts> counts) {
    return [counts = std::move(counts)](std::uint32_t format) -> std::unique_ptr<IH264Decoder> {
        if (format != kH264FormatYuv420 && format != kH264FormatRgb24) {
            return nullptr;
        }
        return std::make_unique<CNullH264Decoder>(format, counts);
    };
}

}  // namespace taviro::platform
