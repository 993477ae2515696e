// The simulated recorder's live stream: the LIVE_DATA elements it sends for each channel,
// byte for byte as a recorder lays them out, and their split into messages.
//
// A live video element (reassembled from its LIVE_DATA messages) is
//
//     0    260  live prefix: a 128-byte stream part, then 132 zero bytes
//     260   64  encoder header (the encoder's little-endian order)
//     324    n  one H.264 access unit (a single slice, Annex B)
//
// The stream part has the layout of the stream part of a playback frame header:
//
//     16  4  0x20061123, video frame            (numeric words: big-endian from product
//     20  4  channel 0..15                       type 3 recorders, little-endian from the
//     24  4  frame time, whole seconds           others, as their stream layer stores them)
//     28  4  H.264 payload length n
//     36  4  frame time, microseconds
//     44  4  1 for a key frame, 0 for a dependent one
//     92  4  CRC-32 of the title bytes, big-endian whatever the product type
//     96 32  camera title, NUL-padded
//
// and zeros elsewhere. The client reads only the kind word at 16 of the prefix; the rest is
// there so the element looks like what a recorder sends.
//
// The encoder header:
//
//     0   2  encoded size, low 16 bits (little-endian)
//     2   1  bits 0..3 size bits 16..19, bits 6..7 kind (0 key frame, 1 dependent frame)
//     3   1  0 (bit 6 is the uninterpreted flag)
//     4   1  height / 16
//     5   1  width / 16
//     20  4  seconds since 1970 (little-endian)
//     24  4  microseconds (little-endian)
//     36  1  bits 0..3 channel
//
// and zeros elsewhere.
//
// A live audio element is a 64-byte block header followed by one 48-byte G.726 block per
// channel of its mask, in ascending channel order:
//
//     16  4  0x2518F049, audio block
//     24  4  time of the block, whole seconds
//     28  4  payload length, 48 x channels
//     32  4  back-link slot, 0 in live data
//     36  4  microseconds of the block time
//     40  4  channel mask
//
// Its numeric words are big-endian from every recorder: the client tells audio from video
// in live data by the big-endian kind word alone, whatever the product type.
//
// Messages: each LIVE_DATA message carries the next piece of one element; the last has the
// last-fragment flag; word 3 of every header carries the element's time in whole seconds.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/packet_header.h"
#include "protocol/recorder_time.h"
#include "sim/camera_loop.h"
#include "sim/h264_stream_writer.h"

namespace taviro::sim {

inline constexpr std::size_t kLivePrefixSize = 260;
inline constexpr std::size_t kLiveStreamPartSize = 128;
inline constexpr std::size_t kLiveEncoderHeaderSize = 64;
inline constexpr std::size_t kLiveVideoPayloadOffset = kLivePrefixSize + kLiveEncoderHeaderSize;
inline constexpr std::size_t kLiveAudioHeaderSize = 64;
inline constexpr std::size_t kLiveAudioBlockSize = 48;
inline constexpr std::size_t kLiveTitleSize = 32;

inline constexpr std::uint32_t kLiveVideoMagic = 0x20061123u;
inline constexpr std::uint32_t kLiveAudioMagic = 0x2518F049u;

// One G.726 block is 128 samples at 8,000 per second: 125 blocks every 2 seconds (the
// rate to give CStreamPacer for audio).
inline constexpr std::uint32_t kAudioBlockRateNum = 125;
inline constexpr std::uint32_t kAudioBlockRateDen = 2;

// The largest frame size the encoder header can state (20 bits).
inline constexpr std::uint32_t kLiveMaxEncodedSize = 0xFFFFFu;

struct LiveStreamOptions {
    // 3 or 5: the recorder's product type, which decides the byte order of the stream part.
    int productType = 3;
    int width = 704;
    int height = 480;
    // Frames per second, 1..60.
    int frameRate = 30;
    // A key frame every gopLength frames (1: every frame).
    int gopLength = 30;
    // pic_order_cnt_lsb advance per frame, 1..511.
    int pocStep = 2;
    // Channels that start with dependent frames, as when the client joins in the middle of
    // a group of pictures, and how many such frames come before the first key frame.
    protocol::ChannelMask dependentStartChannels = 0;
    int leadingDependentFrames = 5;
    // Payload bytes per LIVE_DATA message, 1..65535.
    std::size_t fragmentSize = 8000;
    // The recorder's clock at frame 0 (and audio block 0).
    protocol::RecorderTime startTime = 0;
    // Camera titles by channel; an empty or missing title is "CH<n>" with the 1-based
    // channel.
    std::vector<std::string> titles;
    // Channels that send camera-like video: `camera`'s loop of the channel, which must be
    // of this width and height. While a loop is not ready (or when `camera` is null) the
    // channel sends the test pattern.
    protocol::ChannelMask cameraChannels = 0;
    std::shared_ptr<const CCameraLoops> camera;
};

// A whole element with what its messages need to know.
struct LiveElement {
    std::vector<std::uint8_t> bytes;
    // Frame (or block) time: whole seconds go into word 3 of every message header.
    protocol::RecorderTime seconds = 0;
    std::int32_t microseconds = 0;
    // The frame's channel; for an audio element the lowest channel of its mask.
    int channel = 0;
    // Video only.
    bool keyFrame = false;
    std::uint32_t encodedSize = 0;
};

// One LIVE_DATA message ready to go out.
struct LiveFragment {
    protocol::PacketHeader header;   // host order
    std::vector<std::uint8_t> wire;  // 16 header bytes in network order, then the piece

    [[nodiscard]] std::span<const std::uint8_t> Payload() const {
        return std::span(wire).subspan(protocol::kHeaderSize);
    }
};

class CLiveStreamBuilder {
  public:
    // nullopt (and a reason in *error when given) for options outside the ranges above.
    [[nodiscard]] static std::optional<CLiveStreamBuilder> Create(const LiveStreamOptions& options,
                                                                  std::string* error = nullptr);

    // The video element of `channel` (0..15) at `frame`. Frames of a channel are meant to
    // be asked for in order, 0, 1, 2 ...; any other index (a skipped or repeated frame, as
    // when the sender fell behind) starts a new group of pictures with a key frame of that
    // frame's picture, so the stream stays decodable. nullopt for a channel out of range.
    [[nodiscard]] std::optional<LiveElement> VideoElement(int channel, std::uint32_t frame);

    // The next frame of `channel` is a key frame (a new live request joins the stream).
    void RestartChannel(int channel);

    // The audio element carrying block `index` of the channels in `mask` (bits 0..15;
    // nullopt when none is set). The blocks hold silence: zero code words.
    [[nodiscard]] std::optional<LiveElement> AudioElement(protocol::ChannelMask mask,
                                                          std::uint32_t index) const;

    // The element's LIVE_DATA messages, in order, with the configured piece size.
    // `audioOn` sets the audio flag in every header (the recorder is sending this client
    // audio). An empty element gives no message.
    [[nodiscard]] std::vector<LiveFragment> Fragments(const LiveElement& element,
                                                      bool audioOn = false) const;

    // The time of video frame `frame` and of audio block `index`.
    [[nodiscard]] std::pair<protocol::RecorderTime, std::int32_t> FrameTime(
        std::uint32_t frame) const;
    [[nodiscard]] std::pair<protocol::RecorderTime, std::int32_t> AudioTime(
        std::uint32_t index) const;

    [[nodiscard]] const LiveStreamOptions& Options() const { return m_options; }

  private:
    explicit CLiveStreamBuilder(const LiveStreamOptions& options);

    CH264StreamWriter& Writer(int channel);
    std::array<std::uint8_t, kLiveTitleSize> Title(int channel) const;
    void StoreStreamWord(std::uint8_t* p, std::uint32_t value) const;

    // The camera loop's next access unit for `channel`, or null when the channel sends the
    // test pattern.
    const CameraLoopFrame* CameraFrame(int channel, std::uint32_t frame);

    LiveStreamOptions m_options;
    std::array<std::optional<CH264StreamWriter>, protocol::kMaxChannels> m_writers;
    // A camera channel's loop (held while it plays) and the index of its next access unit;
    // no index until the channel starts, or starts again, at a key frame.
    struct CameraPlay {
        std::shared_ptr<const CameraLoop> loop;
        std::optional<std::size_t> next;
    };
    std::array<CameraPlay, protocol::kMaxChannels> m_camera;
    // The frame each channel's writer expects next.
    std::array<std::uint32_t, protocol::kMaxChannels> m_nextFrame{};
};

// Splits any element into LIVE_DATA messages of at most `pieceSize` payload bytes
// (1..65535; 0 or more is clamped into that range), word 3 = `seconds`.
[[nodiscard]] std::vector<LiveFragment> SplitLiveElement(std::span<const std::uint8_t> element,
                                                         protocol::RecorderTime seconds,
                                                         std::size_t pieceSize,
                                                         bool audioOn = false);
// The same for any stream message code, with `word1Bits` ORed into word 1 of every header
// (playback data carries its speed there).
[[nodiscard]] std::vector<LiveFragment> SplitStreamElement(std::uint16_t code,
                                                           std::span<const std::uint8_t> element,
                                                           protocol::RecorderTime seconds,
                                                           std::size_t pieceSize, bool audioOn,
                                                           std::uint32_t word1Bits);

// Which frames are due: the stream started at `start` and runs at `num / den` elements per
// second (30/1 for 30 frames a second, 125/2 for audio blocks). A service polls it and
// sends every element up to DueCount(now) - 1 that it has not sent yet.
class CStreamPacer {
  public:
    using Clock = std::chrono::steady_clock;

    // `num` and `den` at least 1 (smaller values are taken as 1).
    CStreamPacer(Clock::time_point start, std::uint32_t num, std::uint32_t den = 1);

    // How many elements are due at `now`: element 0 is due at the start, element k at
    // start + k * den / num seconds. 0 before the start.
    [[nodiscard]] std::uint64_t DueCount(Clock::time_point now) const;
    // When element `index` becomes due.
    [[nodiscard]] Clock::time_point DueTime(std::uint64_t index) const;

  private:
    Clock::time_point m_start;
    std::uint64_t m_num;
    std::uint64_t m_den;
};

}  // namespace taviro::sim
