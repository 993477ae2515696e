// The records of the recorder's stream elements (video frames and audio blocks) as they
// arrive in live data, playback data and backup transfers, and the frame description that
// travels with every queued video frame. Parsers take a byte range, never read past it and
// return nothing when the range is too short for the record.
//
// Byte order: the 128-byte stream part of a video frame header and the words 16..52 of a
// live audio header are big-endian; the encoder's own 64-byte header is little-endian
// everywhere. Playback audio headers follow the recorder's product type (big-endian for
// product type 3, as stored for the others), like the element-kind test of playback data.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol/channel_mask.h"

namespace taviro::stream {

// Element kinds: the 32-bit word at offset 16 of every element.
inline constexpr std::uint32_t ENC_HEADER_TYPE_VIDEO = 0x20061123u;
inline constexpr std::uint32_t ENC_HEADER_TYPE_AUDIO = 0x2518F049u;
inline constexpr std::uint32_t HEAD_TYPE_EVTLOG = 0x20100611u;

inline constexpr std::size_t kKindOffset = 16;
inline constexpr std::size_t kStreamPartSize = 128;
inline constexpr std::size_t kEncoderHeaderSize = 64;
inline constexpr std::size_t kStreamFrameHeaderSize = kStreamPartSize + kEncoderHeaderSize;
inline constexpr std::size_t kAudioBlockHeaderSize = 64;
inline constexpr std::size_t kAudioBlockSize = 48;
inline constexpr std::size_t kTitleSize = 32;
inline constexpr std::size_t kFrameInfoSize = 68;

// Live element layout: a 260-byte prefix (an audio element's header and blocks start at
// 0), then the encoder header and the H.264 payload of a video element.
inline constexpr std::size_t kLiveEncoderOffset = 260;
inline constexpr std::size_t kLivePayloadOffset = kLiveEncoderOffset + kEncoderHeaderSize;
inline constexpr std::size_t kLiveAudioMaskOffset = 40;
inline constexpr std::size_t kPlayAudioMaskOffset = 52;

// The recorders of this product type send playback headers in network order; the others
// leave the kind word (and the audio header) as their encoder stored it.
inline constexpr int kBigEndianPlaybackProduct = 3;

inline constexpr std::uint32_t kMaxEncodedSize = 0xFFFFFu;  // 20 bits

enum FrameKind : std::uint8_t {
    kKeyFrame = 0,
    kDependentFrame = 1,
    kDependentFrame2 = 2,
    kNotVideo = 3,  // skipped by the decoder
};

// The encoder's 64-byte frame header, read without byte swapping.
struct EncoderHeader {
    std::uint32_t size = 0;  // 20-bit encoded frame size
    std::uint8_t kind = 0;   // FrameKind, 0..3
    std::uint8_t flag = 0;   // byte 3 bit 6, carried along uninterpreted
    std::uint8_t heightBlocks = 0;
    std::uint8_t widthBlocks = 0;
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    std::uint8_t channel = 0;  // 0..15

    [[nodiscard]] std::uint16_t Width() const {
        return static_cast<std::uint16_t>(widthBlocks * 16u);
    }
    [[nodiscard]] std::uint16_t Height() const {
        return static_cast<std::uint16_t>(heightBlocks * 16u);
    }
    // The frame's time in milliseconds as the client forms it (microseconds >> 10).
    [[nodiscard]] std::int64_t Milliseconds() const {
        return static_cast<std::int64_t>(seconds) * 1000 + (microseconds >> 10);
    }
};

// Nothing when fewer than 64 bytes are given.
std::optional<EncoderHeader> ParseEncoderHeader(std::span<const std::uint8_t> bytes);

// The 192-byte header of a video frame in playback data, backup transfers and backup
// files: the stream part (its numeric words converted to host order) and the encoder
// header at offset 128.
struct StreamFrameHeader {
    std::uint32_t magic = 0;                       // offset 16
    std::uint32_t frameTime = 0;                   // offset 24, whole seconds
    std::uint32_t payloadLength = 0;               // offset 28, bytes after the 192-byte header
    std::uint32_t backLink = 0;                    // offset 32
    std::uint32_t blockKey = 0;                    // offset 40
    std::array<std::uint8_t, 4> raw48{};           // offset 48, copied raw into index blocks
    std::uint8_t flag50 = 0;                       // offset 50
    std::uint8_t displayExempt = 0;                // offset 52
    std::uint32_t titleCrc = 0;                    // offset 92, big-endian
    std::array<std::uint8_t, kTitleSize> title{};  // offset 96
    EncoderHeader encoder;

    // The CRC-32 of the title bytes matches the stored one.
    [[nodiscard]] bool TitleValid() const;
};

// Nothing when fewer than 192 bytes are given.
std::optional<StreamFrameHeader> ParseStreamFrameHeader(std::span<const std::uint8_t> bytes);

struct AudioBlockHeader {
    std::uint32_t magic = 0;                // offset 16
    std::uint32_t payloadLength = 0;        // offset 28
    std::uint32_t backLink = 0;             // offset 32
    protocol::ChannelMask channelMask = 0;  // offset 40 (live) or 52 (playback)
};

// Live data: the words 16..52 are big-endian and the mask is at offset 40.
std::optional<AudioBlockHeader> ParseLiveAudioHeader(std::span<const std::uint8_t> bytes);
// Playback data and backup files: the mask is at offset 52; byte order by product type.
std::optional<AudioBlockHeader> ParsePlayAudioHeader(std::span<const std::uint8_t> bytes,
                                                     int productType);

// A live element is audio exactly when its big-endian word at 16 is the audio magic; an
// element too short to hold the word is not audio (and is later dropped as too short).
bool IsLiveAudioElement(std::span<const std::uint8_t> element);
// A playback element's kind word is compared big-endian for product type 3 and as stored
// (little-endian) for every other product type.
bool IsPlayAudioElement(std::span<const std::uint8_t> element, int productType);

// The description that travels with every queued video frame (68 bytes, host order).
struct FrameInfo {
    std::uint8_t channel = 0;
    std::uint8_t kind = 0;
    std::uint8_t flag = 0;
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    std::uint32_t payloadLength = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t generation = 0;
    // Remote playback: the stream part's time of the frame (whole seconds), which is what
    // the position shows; the encoder's own time may run on another clock.
    std::int32_t position = 0;
    std::array<std::uint8_t, kTitleSize> title{};
    std::uint32_t size = 0;  // encoded size, never more than payloadLength

    void WriteTo(std::span<std::uint8_t, kFrameInfoSize> out) const;
    static FrameInfo ReadFrom(std::span<const std::uint8_t, kFrameInfoSize> in);
};

// Fills the encoder fields; `size` is lowered to `payloadLength` when it is larger.
FrameInfo MakeFrameInfo(const EncoderHeader& encoder, std::uint32_t payloadLength,
                        std::uint32_t generation);

// The title a playback frame carries: the recorder's when its CRC matches, otherwise
// "CH<n>" with the 1-based channel.
std::array<std::uint8_t, kTitleSize> PlaybackTitle(const StreamFrameHeader& header);

// Which 48-byte block of an audio element is heard: `index` counts the mask's channels
// below the selected one. With no selection (-1) the lowest channel of the mask becomes
// the selection. Nothing when the mask is empty or does not hold the selected channel.
struct AudioSelection {
    int channel = -1;
    std::size_t index = 0;
};
std::optional<AudioSelection> SelectAudioBlock(protocol::ChannelMask mask, int selectedChannel);

}  // namespace taviro::stream
