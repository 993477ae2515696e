// Remote playback on the recorder's side.
//
// PLAY_ON_REQ (a 24-byte request: channel mask, kinds, start, end) opens a playback of the
// requested channels the recorder has: PLAY_CHANNEL_INFO with that mask, then PLAY_ON_ACK;
// PLAY_ON_NACK 83 when those channels hold nothing at or after the start (1 for a request
// of the wrong size, the configured reason when one is set). Then nothing is sent until the
// client grants credit with PLAY_STEP_DATA; every element sent (video frame or audio block)
// takes one unit, and nothing is sent beyond it. Every play command (PLAY_FORWARD,
// PLAY_BACKWARD, PLAY_PAUSE, PLAY_NEXT_STEP, PLAY_PREV_STEP) starts a new account: credit
// granted before it is forgotten, as the client grants afresh after each command.
//
// Playing forward at +1 the recorder sends as fast as the credit allows (the client paces
// the display), video in time order across the channels with the audio blocks of the
// channels with sound in between; at any other speed it sends no audio and paces the
// recorded time at |speed| times real time, jumping over gaps without recordings. Backward
// it sends key frames only, going back in time. A positioned start (PLAY_ON_REQ, a
// positioned PLAY_FORWARD) begins at the key frame at or before the position, so the
// stream can always be decoded; a positioned PLAY_BACKWARD goes back from the position.
//
//   PLAY_FORWARD    no payload: while playing forward one step faster (at most +6), else
//                   +1 forward from where playback stands; 24 bytes: +1 from that position
//   PLAY_BACKWARD   no payload: while playing backward one step faster (at most -6), else
//                   -1 backward from where playback stands; 24 bytes: -1 from that position
//   PLAY_PAUSE      nothing more is sent
//   PLAY_NEXT_STEP, PLAY_PREV_STEP
//                   step mode: each unit of credit is one step, which sends the next (the
//                   previous) frame of every channel of the last PLAY_CH_CHANGE mask (at
//                   first the played channels), then PLAY_DATA_FINISH. A step back to a
//                   dependent frame sends the frames from the key frame before it too,
//                   marked display-exempt, so the decoder can rebuild the picture.
//   PLAY_CH_CHANGE  the channels a step sends
//   RPLAY_STOP      PLAY_OFF_ACK, and the playback ends
//
// PLAY_ON_DONE goes out when the recordings run out (forward past the last frame of the
// played channels or past the requested end, backward before the first frame), after which
// nothing more is sent until the next play command or request. With a configured failure,
// PLAY_ON_FAIL goes out after that many elements and the playback ends.
//
// The element layout and the speed code of the messages: playback_stream.h; which frames
// exist, their pictures and their key frames: playback_timeline.h.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "sim/archive.h"
#include "sim/live_audio.h"
#include "sim/playback_stream.h"
#include "sim/playback_timeline.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CPlaybackService final : public ISimService {
  public:
    enum class State { Idle, Streaming, Paused, Stepping, Done };

    CPlaybackService(const SimConfig& config, std::shared_ptr<const SimArchive> archive);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;
    void Poll(CSimConnection& connection) override;
    [[nodiscard]] bool Busy() const override { return m_busy; }

    [[nodiscard]] State CurrentState() const { return m_state; }
    [[nodiscard]] int Speed() const { return m_speed; }
    [[nodiscard]] std::int64_t Credit() const { return m_credit; }
    // Elements sent since the last PLAY_ON_REQ.
    [[nodiscard]] std::uint64_t ElementsSent() const { return m_elements; }

  private:
    using Clock = std::chrono::steady_clock;

    struct PlayRequest {
        protocol::ChannelMask mask = 0;
        std::uint32_t kinds = 0;
        protocol::RecorderTime start = 0;
        protocol::RecorderTime end = 0;
    };
    // The next element of a stream: a channel's frame or an audio block.
    struct Pick {
        int track = 0;
        PlayFrame frame;
        std::int64_t micros = 0;
    };

    static std::optional<PlayRequest> ParseRequest(std::span<const std::uint8_t> payload);
    void Open(CSimConnection& connection, std::span<const std::uint8_t> payload);
    void Command(CSimConnection& connection, std::uint16_t code,
                 std::span<const std::uint8_t> payload);
    // Forward: positioned, from the key frame at or before `micros`; else from the first
    // frame at or after it, going on from the frame each channel's decoder has when that
    // is the one before.
    void StartForward(std::int64_t micros, bool positioned);
    // Backward: from the key frame at or before `micros`.
    void StartBackward(std::int64_t micros);

    void Stream(CSimConnection& connection);
    void Step(CSimConnection& connection);
    [[nodiscard]] std::optional<Pick> NextPick() const;
    // Whether the element of that time is due at the current speed.
    bool Due(std::int64_t micros);
    bool SendPick(CSimConnection& connection, const Pick& pick);
    // Sends `target` so that it can be decoded (with its lead-in when it depends on frames
    // the client does not have) and makes it the channel's shown frame.
    bool Show(CSimConnection& connection, int channel, PlayFrame target);
    bool SendFrame(CSimConnection& connection, int channel, PlayFrame frame, bool exempt);
    bool SendElement(CSimConnection& connection, std::span<const std::uint8_t> element,
                     protocol::RecorderTime seconds);
    // After an element: PLAY_ON_FAIL when the configured count is reached. True when the
    // playback failed.
    bool FailIfDue(CSimConnection& connection);
    void End(CSimConnection& connection, std::uint16_t code, std::optional<std::int32_t> reason);

    // Configuration.
    std::shared_ptr<const SimArchive> m_archive;
    protocol::ChannelMask m_channels;
    int m_productType;
    std::size_t m_fragmentSize;
    int m_gop;
    std::optional<std::int32_t> m_playReason;
    std::optional<std::uint32_t> m_failAfter;
    std::int32_t m_failCode;

    // The playback.
    State m_state = State::Idle;
    std::optional<CPlayTimeline> m_timeline;
    protocol::ChannelMask m_mask = 0;      // the channels played (PLAY_CHANNEL_INFO)
    protocol::ChannelMask m_active = 0;    // of those, the ones a positioned request kept
    protocol::ChannelMask m_stepMask = 0;  // the last PLAY_CH_CHANGE
    bool m_eventsOnly = false;
    protocol::RecorderTime m_end = 0;
    int m_speed = 1;
    bool m_stepForward = true;
    std::int64_t m_credit = 0;
    std::uint64_t m_elements = 0;
    // Where playback stands: the time of the last frame meant to be seen (microseconds).
    std::int64_t m_position = 0;
    // Per channel: the next frame of the stream, the last frame meant to be seen, and the
    // last frame coded (the encoder's and the client decoder's reference).
    std::array<std::optional<PlayFrame>, protocol::kMaxChannels> m_cursor;
    std::array<std::optional<PlayFrame>, protocol::kMaxChannels> m_shown;
    std::array<std::optional<PlayFrame>, protocol::kMaxChannels> m_coded;
    std::optional<PlayFrame> m_audioCursor;
    // Pacing at speeds other than +1: when and at which recorded time it was anchored.
    std::optional<std::pair<Clock::time_point, std::int64_t>> m_anchor;
    std::int64_t m_groupMicros = 0;  // the longest group of pictures of the played channels
    bool m_busy = false;

    CPlayEncoder m_encoder;
    CLiveAudioSource m_audio;
};

}  // namespace taviro::sim
