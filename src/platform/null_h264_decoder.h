// A decoder that decodes nothing: it takes any input and hands out one flat grey picture of
// the size the last sequence parameter set gave (none before the first one), always the
// same for the same input, and counts what it was given. For tests and benchmarks of
// everything around the decoder, where real decoding would only cost time or need real
// streams.
//
// Threads: each decoder is used as h264_decoder.h says. The counts are atomics shared by all
// decoders of one factory, read from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/h264_decoder.h"

namespace taviro::platform {

struct NullH264DecoderCounts {
    std::atomic<std::uint64_t> opened{0};
    std::atomic<std::uint64_t> closed{0};
    std::atomic<std::uint64_t> calls{0};     // Decode and DecodePadded
    std::atomic<std::uint64_t> pictures{0};  // calls that handed a picture out
    std::atomic<std::uint64_t> bytes{0};     // input bytes taken
};

class CNullH264Decoder final : public IH264Decoder {
  public:
    // `counts` may be null.
    CNullH264Decoder(std::uint32_t format, std::shared_ptr<NullH264DecoderCounts> counts);
    ~CNullH264Decoder() override;
    CNullH264Decoder(const CNullH264Decoder&) = delete;
    CNullH264Decoder& operator=(const CNullH264Decoder&) = delete;

    // kH264BadInput for empty input; kH264NoPicture until a sequence parameter set gave a
    // size (and for input with no slice); else kH264Picture with the grey picture, which is
    // made once per size and handed out again, unwritten, at every call.
    int Decode(std::span<const std::uint8_t> accessUnit, PictureRef& picture) override;
    [[nodiscard]] std::uint32_t Format() const override { return m_format; }

  private:
    const std::uint32_t m_format;
    std::shared_ptr<NullH264DecoderCounts> m_counts;
    PictureRef m_grey;
    int m_width = 0;
    int m_height = 0;
};

// Null decoders for the formats h264_decoder.h knows (null for any other), all counting into
// `counts` (may be null).
H264DecoderFactory NullH264Decoders(std::shared_ptr<NullH264DecoderCounts> counts = nullptr);

}  // namespace taviro::platform
