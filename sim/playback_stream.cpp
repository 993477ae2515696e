#include "sim/playback_stream.h"

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "sim/h264_test_pattern.h"

namespace taviro::sim {

namespace {

constexpr std::uint32_t kVideoMagic = 0x20061123u;
constexpr std::uint32_t kAudioMagic = 0x2518F049u;
constexpr std::size_t kTitleSize = 32;

// Offsets in the stream part of the frame header and in the audio block header.
constexpr std::size_t kMagic = 16;
constexpr std::size_t kChannel = 20;
constexpr std::size_t kSeconds = 24;
constexpr std::size_t kPayloadLength = 28;
constexpr std::size_t kMicroseconds = 36;
constexpr std::size_t kKeyFrame = 44;
constexpr std::size_t kTitleCrc = 92;
constexpr std::size_t kTitle = 96;

// Group length of the encoders: never reached, the playback says which frames are key
// frames.
constexpr int kNoAutomaticKeyFrames = 1'000'000'000;

void StoreWord(int productType, std::uint8_t* p, std::uint32_t value) {
    if (productType == 3) {
        protocol::StoreBE32(p, value);
    } else {
        protocol::StoreLE32(p, value);
    }
}

}  // namespace

std::vector<std::uint8_t> BuildPlayVideoElement(int productType, const PlayVideoFrame& frame,
                                                const H264AccessUnit& unit) {
    const auto size = static_cast<std::uint32_t>(unit.bytes.size());
    std::vector<std::uint8_t> e(kPlayFrameHeaderSize + unit.bytes.size(), 0);
    std::uint8_t* const b = e.data();
    StoreWord(productType, b + kMagic, kVideoMagic);
    StoreWord(productType, b + kChannel, static_cast<std::uint32_t>(frame.channel));
    StoreWord(productType, b + kSeconds, static_cast<std::uint32_t>(frame.seconds));
    StoreWord(productType, b + kPayloadLength, size);
    StoreWord(productType, b + kMicroseconds, static_cast<std::uint32_t>(frame.microseconds));
    StoreWord(productType, b + kKeyFrame, unit.key_frame ? 1u : 0u);
    b[kPlayDisplayExemptOffset] = frame.displayExempt ? 1 : 0;
    const auto title = protocol::FixedText<kTitleSize>(frame.title.substr(0, kTitleSize));
    protocol::StoreBE32(b + kTitleCrc, protocol::Crc32(title));
    std::copy(title.begin(), title.end(), b + kTitle);

    // The encoder header, in the encoder's little-endian order whatever the product.
    std::uint8_t* const enc = b + kPlayStreamPartSize;
    protocol::StoreLE16(enc, static_cast<std::uint16_t>(size & 0xFFFFu));
    const std::uint32_t kind = unit.key_frame ? 0u : 1u;
    enc[2] = static_cast<std::uint8_t>(((size >> 16) & 0x0Fu) | (kind << 6));
    enc[4] = static_cast<std::uint8_t>(frame.height / 16);
    enc[5] = static_cast<std::uint8_t>(frame.width / 16);
    protocol::StoreLE32(enc + 20, static_cast<std::uint32_t>(frame.seconds));
    protocol::StoreLE32(enc + 24, static_cast<std::uint32_t>(frame.microseconds));
    enc[36] = static_cast<std::uint8_t>(frame.channel & 0x0F);

    std::copy(unit.bytes.begin(), unit.bytes.end(), b + kPlayFrameHeaderSize);
    return e;
}

std::vector<std::uint8_t> BuildPlayAudioElement(int productType, protocol::ChannelMask mask,
                                                protocol::RecorderTime seconds,
                                                std::int32_t microseconds,
                                                std::span<const std::uint8_t> blocks) {
    mask &= protocol::kAllChannels;
    const std::size_t payload =
        kPlayAudioBlockSize * static_cast<std::size_t>(protocol::ChannelCount(mask));
    std::vector<std::uint8_t> e(kPlayAudioHeaderSize + payload, 0);
    std::uint8_t* const b = e.data();
    StoreWord(productType, b + kMagic, kAudioMagic);
    StoreWord(productType, b + kSeconds, static_cast<std::uint32_t>(seconds));
    StoreWord(productType, b + kPayloadLength, static_cast<std::uint32_t>(payload));
    StoreWord(productType, b + kMicroseconds, static_cast<std::uint32_t>(microseconds));
    StoreWord(productType, b + kPlayAudioMaskOffset, mask);
    const std::size_t n = std::min(payload, blocks.size());
    std::copy_n(blocks.begin(), n, b + kPlayAudioHeaderSize);
    return e;
}

std::uint32_t PlaySpeedCode(int speed) {
    if (speed == 0 || speed < -kMaxPlaySpeed || speed > kMaxPlaySpeed) {
        return 0;
    }
    return static_cast<std::uint32_t>(10 + speed);
}

int PlaySpeedOf(std::uint32_t word1) {
    const auto code = static_cast<int>((word1 & kPlaySpeedBits) >> kPlaySpeedShift);
    if (code < 10 - kMaxPlaySpeed || code > 10 + kMaxPlaySpeed || code == 10) {
        return 0;
    }
    return code - 10;
}

std::vector<LiveFragment> SplitPlayElement(std::span<const std::uint8_t> element,
                                           protocol::RecorderTime seconds, std::size_t pieceSize,
                                           int speed, bool audioOn) {
    return SplitStreamElement(protocol::msg::PLAY_DATA, element, seconds, pieceSize, audioOn,
                              PlaySpeedCode(speed) << kPlaySpeedShift);
}

CPlayEncoder::CPlayEncoder(int pocStep) : m_pocStep(pocStep) {}

void CPlayEncoder::Reset() {
    for (auto& w : m_writers) {
        w.reset();
    }
}

std::optional<H264AccessUnit> CPlayEncoder::Encode(int channel, int width, int height,
                                                   std::uint32_t counter, bool key) {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return std::nullopt;
    }
    auto& writer = m_writers[static_cast<std::size_t>(channel)];
    if (!writer) {
        H264StreamOptions o;
        o.width = width;
        o.height = height;
        o.gop_length = kNoAutomaticKeyFrames;
        o.poc_step = m_pocStep;
        writer = CH264StreamWriter::Create(o);
        if (!writer) {
            return std::nullopt;
        }
    } else if (!writer->SetSize(width, height)) {
        return std::nullopt;
    }
    if (key) {
        writer->ForceKeyFrame();
    }
    return writer->Write(MakeH264TestPattern(channel, counter, width, height));
}

}  // namespace taviro::sim
