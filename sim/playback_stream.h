// The simulated recorder's playback stream: the PLAY_DATA elements it sends, byte for byte
// as a recorder's stream layer lays them out, and their split into messages.
//
// A video element is a 192-byte frame header and one H.264 access unit (the same encoder
// and camera pattern as live video):
//
//      0  16  zero
//     16   4  0x20061123, video frame          (numeric words: big-endian from product
//     20   4  channel 0..15                     type 3 recorders, little-endian from the
//     24   4  frame time, whole seconds         others, as their stream layer stores them)
//     28   4  H.264 payload length n
//     32   4  back-link slot, 0
//     36   4  frame time, microseconds
//     40   4  index block key, 0
//     44   4  1 for a key frame, 0 for a dependent one
//     52   1  display-exempt: 1 on a frame that is only there so that the next one can be
//             decoded (the lead-in of a step back), 0 on every frame meant to be seen
//     92   4  CRC-32 of the 32 title bytes, big-endian whatever the product type
//     96  32  camera title, NUL-padded
//    128  64  encoder header, exactly as in live data (live_stream.h)
//    192   n  the access unit
//
// and zeros elsewhere. An audio element is a 64-byte block header and one 48-byte G.726
// block per channel of its mask, in ascending channel order:
//
//     16   4  0x2518F049, audio block          (numeric words in the product type's
//     24   4  time of the block, whole seconds  order, as above)
//     28   4  payload length, 48 x channels
//     32   4  back-link slot, 0
//     36   4  microseconds of the block time
//     52   4  channel mask
//
// Messages: each PLAY_DATA message carries the next piece of one element, the last one
// flagged; bits 16..21 of word 1 of every one of them carry the play speed (4..9 for
// backward at 6..1 times, 11..16 for forward at 1..6 times) and word 3 the element's time
// in whole seconds.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"
#include "sim/h264_stream_writer.h"
#include "sim/live_stream.h"

namespace taviro::sim {

inline constexpr std::size_t kPlayFrameHeaderSize = 192;
inline constexpr std::size_t kPlayStreamPartSize = 128;
inline constexpr std::size_t kPlayAudioHeaderSize = 64;
inline constexpr std::size_t kPlayAudioBlockSize = 48;
inline constexpr std::size_t kPlayAudioMaskOffset = 52;
inline constexpr std::size_t kPlayDisplayExemptOffset = 52;
inline constexpr int kPlaySpeedShift = 16;
inline constexpr std::uint32_t kPlaySpeedBits = 0x3Fu << kPlaySpeedShift;
inline constexpr int kMaxPlaySpeed = 6;

struct PlayVideoFrame {
    int channel = 0;
    protocol::RecorderTime seconds = 0;
    std::int32_t microseconds = 0;
    bool displayExempt = false;
    std::string_view title;  // at most 32 bytes are used
    int width = 704;
    int height = 480;
};

// `productType` 3 writes the stream part's numeric words big-endian, anything else
// little-endian.
[[nodiscard]] std::vector<std::uint8_t> BuildPlayVideoElement(int productType,
                                                              const PlayVideoFrame& frame,
                                                              const H264AccessUnit& unit);
// `blocks` holds 48 bytes for each channel of `mask` (anything beyond is ignored, anything
// missing is silence).
[[nodiscard]] std::vector<std::uint8_t> BuildPlayAudioElement(int productType,
                                                              protocol::ChannelMask mask,
                                                              protocol::RecorderTime seconds,
                                                              std::int32_t microseconds,
                                                              std::span<const std::uint8_t> blocks);

// The speed code of a play speed: -6..-1 -> 4..9, +1..+6 -> 11..16, anything else 0.
[[nodiscard]] std::uint32_t PlaySpeedCode(int speed);
// The play speed of a message's word 1, 0 for a code that names none.
[[nodiscard]] int PlaySpeedOf(std::uint32_t word1);

// The element's PLAY_DATA messages, at most `pieceSize` payload bytes each.
[[nodiscard]] std::vector<LiveFragment> SplitPlayElement(std::span<const std::uint8_t> element,
                                                         protocol::RecorderTime seconds,
                                                         std::size_t pieceSize, int speed,
                                                         bool audioOn = false);

// One H.264 encoder per channel, each with the picture it coded last as its reference,
// which is also the reference of a client's decoder that got every frame sent.
class CPlayEncoder {
  public:
    explicit CPlayEncoder(int pocStep = 2);

    // The camera pattern of `channel` with frame counter `counter`, as a key frame when
    // `key`, else as a frame that depends on the channel's previous one. nullopt for a size
    // the encoder does not take.
    [[nodiscard]] std::optional<H264AccessUnit> Encode(int channel, int width, int height,
                                                       std::uint32_t counter, bool key);
    // Every channel starts over (its next frame must be a key frame).
    void Reset();

  private:
    int m_pocStep;
    std::array<std::optional<CH264StreamWriter>, protocol::kMaxChannels> m_writers;
};

}  // namespace taviro::sim
