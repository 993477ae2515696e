#include "stream/stream_records.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "protocol/byte_order.h"
#include "protocol/crc32.h"
#include "protocol/record_order.h"

namespace taviro::stream {

// The converters swap bytes unconditionally, so a converted word is read back in the
// host's (little-endian) order.
static_assert(std::endian::native == std::endian::little);

using protocol::CByteReader;

std::optional<EncoderHeader> ParseEncoderHeader(std::span<const std::uint8_t> bytes) {
    CByteReader r(bytes.first(std::min(bytes.size(), kEncoderHeaderSize)));
    EncoderHeader h;
    const std::uint16_t sizeLow = r.LE16();
    const std::uint8_t b2 = r.U8();
    const std::uint8_t b3 = r.U8();
    h.heightBlocks = r.U8();
    h.widthBlocks = r.U8();
    r.Seek(20);
    h.seconds = static_cast<std::int32_t>(r.LE32());
    h.microseconds = static_cast<std::int32_t>(r.LE32());
    r.Seek(36);
    const std::uint8_t b36 = r.U8();
    r.Seek(kEncoderHeaderSize - 1);
    r.U8();  // the header must be whole, not only up to the last field used
    if (!r.Ok()) {
        return std::nullopt;
    }
    h.size = sizeLow | (static_cast<std::uint32_t>(b2 & 0x0Fu) << 16);
    h.kind = static_cast<std::uint8_t>(b2 >> 6);
    h.flag = static_cast<std::uint8_t>((b3 >> 6) & 1u);
    h.channel = static_cast<std::uint8_t>(b36 & 0x0Fu);
    return h;
}

bool StreamFrameHeader::TitleValid() const {
    return protocol::Crc32(title) == titleCrc;
}

std::optional<StreamFrameHeader> ParseStreamFrameHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kStreamFrameHeaderSize) {
        return std::nullopt;
    }
    // The numeric words are converted in a copy; the caller's bytes stay as received.
    std::array<std::uint8_t, kStreamFrameHeaderSize> copy{};
    std::copy_n(bytes.begin(), kStreamFrameHeaderSize, copy.begin());
    protocol::VideoFrameHeaderToHost(std::span(copy).first(kStreamPartSize));

    CByteReader r(copy);
    StreamFrameHeader h;
    r.Seek(16);
    h.magic = r.LE32();
    r.Seek(24);
    h.frameTime = r.LE32();
    h.payloadLength = r.LE32();
    h.backLink = r.LE32();
    r.Seek(40);
    h.blockKey = r.LE32();
    r.Seek(48);
    r.Bytes(h.raw48);
    r.Seek(50);
    h.flag50 = r.U8();
    r.Seek(52);
    h.displayExempt = r.U8();
    r.Seek(92);
    h.titleCrc = r.BE32();  // not among the converted words: still in network order
    r.Bytes(h.title);
    auto encoder = ParseEncoderHeader(std::span(copy).subspan(kStreamPartSize));
    if (!r.Ok() || !encoder) {
        return std::nullopt;
    }
    h.encoder = *encoder;
    return h;
}

namespace {

std::optional<AudioBlockHeader> ParseAudioHeader(std::span<const std::uint8_t> bytes,
                                                 bool bigEndian, std::size_t maskOffset) {
    if (bytes.size() < kAudioBlockHeaderSize) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kAudioBlockHeaderSize> copy{};
    std::copy_n(bytes.begin(), kAudioBlockHeaderSize, copy.begin());
    if (bigEndian) {
        protocol::FrameHeaderToHost(copy);
    }
    CByteReader r(copy);
    AudioBlockHeader h;
    r.Seek(16);
    h.magic = r.LE32();
    r.Seek(28);
    h.payloadLength = r.LE32();
    h.backLink = r.LE32();
    r.Seek(maskOffset);
    h.channelMask = r.LE32();
    if (!r.Ok()) {
        return std::nullopt;
    }
    return h;
}

}  // namespace

std::optional<AudioBlockHeader> ParseLiveAudioHeader(std::span<const std::uint8_t> bytes) {
    return ParseAudioHeader(bytes, true, kLiveAudioMaskOffset);
}

std::optional<AudioBlockHeader> ParsePlayAudioHeader(std::span<const std::uint8_t> bytes,
                                                     int productType) {
    return ParseAudioHeader(bytes, productType == kBigEndianPlaybackProduct, kPlayAudioMaskOffset);
}

bool IsLiveAudioElement(std::span<const std::uint8_t> element) {
    CByteReader r(element);
    r.Seek(kKindOffset);
    const std::uint32_t kind = r.BE32();
    return r.Ok() && kind == ENC_HEADER_TYPE_AUDIO;
}

bool IsPlayAudioElement(std::span<const std::uint8_t> element, int productType) {
    CByteReader r(element);
    r.Seek(kKindOffset);
    const std::uint32_t kind = productType == kBigEndianPlaybackProduct ? r.BE32() : r.LE32();
    return r.Ok() && kind == ENC_HEADER_TYPE_AUDIO;
}

void FrameInfo::WriteTo(std::span<std::uint8_t, kFrameInfoSize> out) const {
    protocol::CByteWriter w(out);
    w.U8(channel);
    w.U8(kind);
    w.U8(flag);
    w.U8(0);
    w.LE32(static_cast<std::uint32_t>(seconds));
    w.LE32(static_cast<std::uint32_t>(microseconds));
    w.LE32(payloadLength);
    w.LE16(width);
    w.LE16(height);
    w.LE32(generation);
    w.LE32(static_cast<std::uint32_t>(position));
    w.Zeros(4);
    w.Bytes(title);
    w.LE32(size);
}

FrameInfo FrameInfo::ReadFrom(std::span<const std::uint8_t, kFrameInfoSize> in) {
    CByteReader r(in);
    FrameInfo f;
    f.channel = r.U8();
    f.kind = r.U8();
    f.flag = r.U8();
    r.Skip(1);
    f.seconds = static_cast<std::int32_t>(r.LE32());
    f.microseconds = static_cast<std::int32_t>(r.LE32());
    f.payloadLength = r.LE32();
    f.width = r.LE16();
    f.height = r.LE16();
    f.generation = r.LE32();
    f.position = static_cast<std::int32_t>(r.LE32());
    r.Skip(4);
    r.Bytes(f.title);
    f.size = r.LE32();
    return f;
}

FrameInfo MakeFrameInfo(const EncoderHeader& encoder, std::uint32_t payloadLength,
                        std::uint32_t generation) {
    FrameInfo f;
    f.channel = encoder.channel;
    f.kind = encoder.kind;
    f.flag = encoder.flag;
    f.seconds = encoder.seconds;
    f.microseconds = encoder.microseconds;
    f.payloadLength = payloadLength;
    f.width = encoder.Width();
    f.height = encoder.Height();
    f.generation = generation;
    f.size = std::min(encoder.size, payloadLength);
    return f;
}

std::array<std::uint8_t, kTitleSize> PlaybackTitle(const StreamFrameHeader& header) {
    if (header.TitleValid()) {
        return header.title;
    }
    std::array<std::uint8_t, kTitleSize> title{};
    char text[8] = {};
    const int n = std::snprintf(text, sizeof text, "CH%d", header.encoder.channel + 1);
    std::copy_n(text, n > 0 ? static_cast<std::size_t>(n) : 0, title.begin());
    return title;
}

std::optional<AudioSelection> SelectAudioBlock(protocol::ChannelMask mask, int selectedChannel) {
    mask &= protocol::kAllChannels;
    if (selectedChannel < 0) {
        const int first = protocol::FirstChannel(mask);
        if (first < 0) {
            return std::nullopt;
        }
        return AudioSelection{first, 0};
    }
    if (!protocol::HasChannel(mask, selectedChannel)) {
        return std::nullopt;
    }
    const protocol::ChannelMask below = mask & (protocol::ChannelBit(selectedChannel) - 1u);
    return AudioSelection{selectedChannel, static_cast<std::size_t>(std::popcount(below))};
}

}  // namespace taviro::stream
