// Remote playback's rules without a socket: the play request, the speed code the recorder
// puts in every play data message, the credit that paces the recorder, the playback
// buttons' request sequences, the re-positioning that lands a resumed or stepped playback
// on the last frame shown, and the real-time pacing of normal speed.
//
// CPlayControl is plain state: it decides and returns the requests to send; the playback
// service sends them and guards the object with its one lock, so a button's sequence and
// the receive thread's credits never interleave.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"

namespace taviro::recordings {

// What PLAY_ON_REQ and the positioned PLAY_FORWARD / PLAY_BACKWARD carry.
struct PlayRequest {
    protocol::ChannelMask channels = 0;
    std::uint32_t kinds = 0;  // 0: all recordings; bit k: event kind k
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;  // 0: open-ended
};
inline constexpr std::size_t kPlayRequestSize = 24;
// Channel mask and times big-endian, the kinds as the recorder's own little-endian word.
std::array<std::uint8_t, kPlayRequestSize> EncodePlayRequest(const PlayRequest& request);

// Kinds of the Date/Time page (every recording kind), and the end of event playback.
inline constexpr std::uint32_t kDateTimeKinds = 0x3F;
inline constexpr protocol::RecorderTime kEventPlayEnd = 2145916799;

// The play speed of the code in bits 16..21 of a play data message's second header word:
// -6..-1, +1..+6, or 0 for a code that names no speed.
int SpeedOfCode(std::uint32_t code);
inline std::uint32_t SpeedCodeOf(std::uint32_t headerWord1) {
    return (headerWord1 >> 16) & 0x3Fu;
}

// The playback buttons, with the numbers the window and the recorder's modes use.
enum class PlayCommand : int {
    PreviousStep = 1,
    Backward = 2,
    Forward = 3,
    Pause = 4,
    NextStep = 7,
};

enum class PauseState : int {
    Streaming = 0,
    Paused = 1,
    Repositioning = 2,  // a positioned request went out; frames before the target are skipped
};

// One request to the recorder.
struct PlayMessage {
    std::uint16_t code = 0;
    std::vector<std::uint8_t> payload;
    friend bool operator==(const PlayMessage&, const PlayMessage&) = default;
};
using PlayMessages = std::vector<PlayMessage>;

// Credits.
inline constexpr std::uint32_t kStartCredit = 93;
inline constexpr std::uint32_t kCreditBatch = 48;

// A frame time in milliseconds as the recorder's clocks give it (microseconds / 1024).
inline std::int64_t FrameMillis(std::int64_t seconds, std::int64_t microseconds) {
    return seconds * 1000 + microseconds / 1024;
}

// What becomes of one complete play data element.
struct ElementVerdict {
    bool show = false;     // goes to its queue (video) or may be heard (audio)
    bool reverse = false;  // a frame played backward or stepped
    // Video on the way to a position: decoded (the frames after it need it), not shown.
    bool hidden = false;
    // Shown at its recorded moment (normal speed, real-time pacing): the credit for it is
    // counted once it has been handled (OnPacedHandled), not on arrival.
    bool paced = false;
    // Decoded on the way to a position: like a paced frame, its credit is counted once a
    // decoder has handled it (OnPacedHandled), so the recorder never runs more than a
    // credit ahead of the decoders and their back-pressure never drops the way there.
    bool creditWhenHandled = false;
    bool anchor = false;  // pacing starts again from this frame
    bool speedChanged = false;
    PlayMessages send;  // in order, before anything else goes out
};

class CPlayControl {
  public:
    CPlayControl() { m_channelShown.fill(-1); }
    // PLAY_ON_ACK: forward, no stepping, credit counter 0, speed unknown, the position at
    // the requested start. The returned credit starts the stream. With a start, the
    // recorder begins at a key frame at or before it: the frames before the start are
    // decoded hidden, and the first picture shown is the start's (as after a seek).
    PlayMessages Start(protocol::RecorderTime start = 0);
    // A playback button. `view` is the mask of the channels shown, `played` the session's
    // playback mask narrowed to the view, `channelCount` the recorder's channel count. The
    // new generation flag tells the caller to start a new playback generation; `discard`
    // whether the frames received but not yet shown are to be thrown away (every button
    // but a faster forward).
    //
    // Positioned from the last frame shown: from pause, as the recorder's sequences have
    // it, and also while the recorder is ahead of the screen (normal speed, paced: it has
    // sent what the credit allows), since a plain step or reversal would start where the
    // recorder stands, not where the picture does.
    PlayMessages Command(PlayCommand command, protocol::ChannelMask view,
                         protocol::ChannelMask played, int channelCount, bool* newGeneration,
                         bool* discard = nullptr);
    // One element from the recorder, in arrival order. `speedCode` from its header; video
    // frames with their time (the encoder's seconds and microseconds, which re-positioning
    // compares). An `unreadable` element (too short for its headers) only counts for the
    // credit and the speed. `realTime`: frames shown at normal speed wait for their moment
    // where they are shown (their verdict says paced).
    // `channel`: the video frame's.
    ElementVerdict OnElement(bool audio, std::uint32_t speedCode, std::int32_t seconds,
                             std::int32_t microseconds, protocol::ChannelMask view,
                             int channelCount, bool unreadable = false, bool realTime = false,
                             int channel = 0);
    // A picture of `channel` was shown: its encoder time (where the channel lands when
    // playback resumes or steps) and the stream part's time (what positioned requests
    // carry).
    void OnShown(int channel, std::int32_t seconds, std::int32_t microseconds,
                 protocol::RecorderTime position);
    // A paced frame, or one decoded on the way to a position, was handled (shown, or
    // dropped by the decoder): its credit counts now.
    PlayMessages OnPacedHandled();
    // The consumers lost what they held (the decoders started over): a fresh account of
    // credit while streaming or re-positioning, nothing while paused or stepping.
    PlayMessages FreshCredit();
    // PLAY_DATA_FINISH: another step's credit while re-positioning.
    PlayMessages OnDataFinish();
    // PLAY_ON_DONE: paused at the end, then streaming state (nothing is coming).
    PlayMessages OnDone();

    [[nodiscard]] PlayCommand Mode() const { return m_mode; }
    [[nodiscard]] PauseState Pause() const { return m_pause; }
    [[nodiscard]] int Reversal() const { return m_reversal; }
    [[nodiscard]] int Speed() const { return m_speed; }
    [[nodiscard]] bool Stepping() const { return m_stepping; }
    // The recorder has sent frames that are still waiting for their moment.
    [[nodiscard]] bool Ahead() const { return m_ahead; }
    // Seconds of the last video frame shown.
    [[nodiscard]] protocol::RecorderTime Position() const { return m_position; }
    // The target of re-positioning, in frame milliseconds.
    [[nodiscard]] std::int64_t TargetMillis() const { return m_target; }
    [[nodiscard]] std::int64_t RemainingCredit() const { return m_remaining; }
    // Re-positions at `seconds` (slider seek): the frames before it are skipped.
    PlayMessages SeekTo(protocol::RecorderTime seconds, protocol::ChannelMask played);

  private:
    // OnElement's re-positioning: a video frame's verdict on the way to the target.
    ElementVerdict Reposition(ElementVerdict v, std::int32_t seconds, std::int32_t microseconds,
                              protocol::ChannelMask view, int channel);

    PlayCommand m_mode = PlayCommand::Forward;
    PauseState m_pause = PauseState::Streaming;
    int m_reversal = 0;
    int m_speed = 0;
    bool m_speedKnown = false;
    bool m_stepping = false;
    bool m_anchorPending = true;
    bool m_ahead = false;
    // Re-positioning forward: the recorder has started again from the position (a frame
    // at or before the target came). What arrives before is still under way from before.
    bool m_restarted = false;
    bool m_landForward = true;  // the direction re-positioning comes to its target from
    // A start or a seek lands on a picture not shown yet, which is shown; a resume or a
    // step lands on the one already shown.
    bool m_showLanding = false;
    std::uint32_t m_underway = 0;
    // Each channel's last picture shown (frame milliseconds, -1 none), and the channels of
    // a positioned request still on their way to theirs.
    std::array<std::int64_t, protocol::kMaxChannels> m_channelShown{};
    protocol::ChannelMask m_waiting = 0;
    std::uint32_t m_creditCount = 0;
    std::int64_t m_remaining = 0;
    std::int64_t m_target = 0;              // ms
    protocol::RecorderTime m_position = 0;  // the stream part's time of the last frame shown
    std::int32_t m_shownSeconds = 0;        // and its encoder time: the landing target
    std::int32_t m_shownMicros = 0;
};

// Real-time pacing at normal speed: a frame is due when the wall clock has advanced as far
// as the frame clock since the anchor. The anchor lies 100 ms before the first frame, so
// the decoders get a head start.
class CPlayPacer {
  public:
    void Anchor(std::int64_t mediaMs, std::int64_t nowMs) {
        m_media = mediaMs - 100;
        m_tick = nowMs;
        m_anchored = true;
    }
    void Reset() { m_anchored = false; }
    [[nodiscard]] bool Anchored() const { return m_anchored; }
    // How long to wait before showing the frame at `mediaMs`. A display more than a second
    // behind, or a frame more than three seconds ahead, re-anchors instead (0).
    std::int64_t WaitMillis(std::int64_t mediaMs, std::int64_t nowMs);
    // How long until the frame at `mediaMs` is due, without re-anchoring: 0 when it is due,
    // when nothing is anchored, or when it lies more than three seconds ahead (a jump).
    [[nodiscard]] std::int64_t DueInMillis(std::int64_t mediaMs, std::int64_t nowMs) const;

  private:
    bool m_anchored = false;
    std::int64_t m_media = 0;
    std::int64_t m_tick = 0;
};

}  // namespace taviro::recordings
