// Remote playback on the session: the play request and the recorder's answers, the play
// data and its credit, speed, pause and re-positioning rules (CPlayControl), real-time
// pacing at normal speed, the playback buttons and the slider's seek, the view-channel
// selections (PLAY_CH_CHANGE, PLAY_VIEW_CH) and the stop.
//
// Pacing happens where pictures are handed to the views (stream::IPlayPacing, on the
// decoder threads), never on the receive thread, which reads on at once: a reply that
// follows the pictures on the wire is not held up by them. The recorder is kept a credit
// ahead of the screen: the credit of a paced frame is granted once it has been shown.
// Every frame is stamped with the pace it was admitted in; a button discards what was
// received but not yet shown (but a faster forward), so the picture stops where it is.
//
// What must wait or touch the consumers (stopping live view, starting and draining the
// decoders and the audio output, live view again after a failure) is not done on the
// receive thread: the service asks its IPlaybackConsumers, whose owner runs it on its
// worker and calls back Begin().
//
// Threads: StartPlayback, Command, Seek, SendViewChannels from any thread (the owner's
// worker; they may sleep between the recorder's control messages). Begin and Stop on the
// owner's worker. The RecvFn_ handlers and the IPlayGate calls on the receive thread; the
// IPlayPacing calls on the decoder threads. One lock guards the playback state while a
// command sequence is sent.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "protocol/channel_mask.h"
#include "protocol/login_service.h"
#include "protocol/session.h"
#include "protocol/session_messages.h"
#include "protocol/session_service.h"
#include "protocol/stream_receiver.h"
#include "recordings/play_control.h"
#include "stream/stream_state.h"

namespace taviro::recordings {

// The connection's owner, for what playback asks of the consumers.
class IPlaybackConsumers {
  public:
    virtual ~IPlaybackConsumers() = default;
    // Receive thread, must not wait: the recorder accepted the request for `channels`.
    // The owner stops live view, readies the decoders and the playback audio, then calls
    // CPlaybackService::Begin().
    virtual void PlaybackAccepted(protocol::ChannelMask channels) = 0;
    // Receive thread, must not wait: the recorder ended playback (PLAY_ON_FAIL, or a
    // refusal while playing). The owner runs CPlaybackService::Stop() and, when
    // `liveAgain`, asks for live view again 100 ms later.
    virtual void PlaybackEnded(bool liveAgain) = 0;
    // Receive thread: a new playback stream of `channels` starts (PLAY_CHANNEL_INFO): a
    // half-built element is dropped.
    virtual void PlaybackChannels(protocol::ChannelMask channels) = 0;
    // Any thread: the heard sound is dropped (speed change, pause, reversal).
    virtual void FlushPlaybackAudio() = 0;
    // The owner's worker, in the stop order: the audio output drained and stopped, then
    // each channel decoder drained, stopped and destroyed.
    virtual void DrainAndStopPlayback() = 0;
};

class CPlaybackService final : public protocol::ISessionService,
                               public protocol::IPlayGate,
                               public stream::IPlayPacing {
  public:
    // Paces the pictures of `state`'s decoders for its lifetime.
    CPlaybackService(protocol::CRecorderSession& session, protocol::CLoginService& login,
                     stream::CStreamState& state);
    ~CPlaybackService() override;
    CPlaybackService(const CPlaybackService&) = delete;
    CPlaybackService& operator=(const CPlaybackService&) = delete;

    [[nodiscard]] std::string_view Name() const override { return "playback"; }
    void Register(protocol::CDispatchTable& table) override;
    [[nodiscard]] protocol::Service Kind() const override { return protocol::Service::Playback; }
    [[nodiscard]] bool Running() const override { return m_bRunning.load(); }
    bool StopRunning() override;
    void CloseGates() override;

    // Set before the connection starts.
    void SetConsumers(IPlaybackConsumers* consumers) { m_pConsumers.store(consumers); }
    void SetStreamReceiver(protocol::IStreamReceiver* receiver) {
        m_pStreamReceiver.store(receiver);
    }
    // Tests: the pause after each control message and after a button (defaults 50 ms, and
    // 100 ms / 500 ms after a button).
    void SetPauses(std::chrono::milliseconds message, std::chrono::milliseconds play,
                   std::chrono::milliseconds step);
    // Off: pictures are shown as they come, at any speed (the fuzzing harness, which must
    // not wait on the recorder's clock). On by default.
    void SetRealTimePacing(bool on) { m_bPacing.store(on); }
    // The owner's worker: the decoders started over and lost what they held (a new
    // picture format), so the credit of the paced frames among it is granted afresh.
    void ConsumersRestarted();

    // --- requests ---
    // PLAY_ON_REQ. False (nothing sent) while the local player runs, while a request is
    // outstanding or playback runs (stop it first), or when it cannot be queued.
    bool StartPlayback(const PlayRequest& request);
    // The owner's worker after PlaybackAccepted: credit 93, playing, recordings::WM_PLAY_STARTED
    // and protocol::WM_PLAYER_INFO.
    void Begin();
    // A playback button with the channels shown. False when playback does not run.
    bool Command(PlayCommand command, protocol::ChannelMask view);
    // The slider: pause, then play forward from `seconds` (a new playback generation).
    bool Seek(protocol::RecorderTime seconds, protocol::ChannelMask view);
    // The owner's worker: the stop order (RPLAY_STOP, playing off, audio and decoders
    // drained and stopped through the consumers). False when nothing ran.
    bool Stop();
    // The visible panes changed while playing: PLAY_VIEW_CH when the recorder takes it.
    bool SendViewChannels(protocol::ChannelMask visible);
    void SetLocalPlayerActive(bool active) { m_bLocalPlayer.store(active); }
    // Playback of `channels` counts as running (or not) without a stream: for the checks
    // that only look at whether it runs (rights, view selections).
    void SetRunning(bool running, protocol::ChannelMask channels = 0) {
        m_nChannels = running ? channels : 0;
        m_bRunning = running;
    }

    // --- state (any thread) ---
    [[nodiscard]] bool Requested() const { return m_bRequested.load() || m_bAccepted.load(); }
    [[nodiscard]] protocol::ChannelMask Channels() const { return m_nChannels.load(); }
    [[nodiscard]] protocol::RecorderTime StartTime() const { return m_nStartTime.load(); }
    // The time of the last picture shown, in milliseconds (0 before the first).
    [[nodiscard]] std::int64_t PositionMillis() const { return m_nPositionMs.load(); }
    [[nodiscard]] int Speed() const { return m_nSpeed.load(); }
    [[nodiscard]] PlayCommand Mode() const;
    [[nodiscard]] PauseState Pause() const;
    // Pictures shown since the start.
    [[nodiscard]] std::uint64_t Shown() const { return m_nShown.load(); }

    // IPlayGate (receive thread).
    protocol::PlayAdmission Admit(const protocol::PlayElement& element) override;
    void Queued(const protocol::PlayElement& element, bool queued) override;
    // IPlayPacing (decoder threads).
    bool BeforeShow(std::uint16_t ticket, const stream::FrameInfo& frame,
                    const std::atomic<bool>& stop) override;
    void Handled(std::uint16_t ticket) override;
    // The audio thread.
    bool BeforeHear(std::uint16_t ticket, std::int32_t seconds, std::int32_t microseconds,
                    const std::atomic<bool>& stop) override;

  private:
    bool RecvFn_ChannelInfo(const protocol::PacketHeader& header);
    bool RecvFn_OnAck(const protocol::PacketHeader& header);
    bool RecvFn_OnNack(const protocol::PacketHeader& header);
    bool RecvFn_OffAck(const protocol::PacketHeader& header);
    bool RecvFn_OffNack(const protocol::PacketHeader& header);
    bool RecvFn_DataFinish(const protocol::PacketHeader& header);
    bool RecvFn_Data(const protocol::PacketHeader& header);
    bool RecvFn_OnFail(const protocol::PacketHeader& header);
    bool RecvFn_OnDone(const protocol::PacketHeader& header);

    // Sends a button's sequence, each message followed by the recorder's pause. Called
    // with m_lock held, so nothing of the receive thread goes out in between.
    void SendSequence(const PlayMessages& messages);
    // The receive thread's sends: no pause (it must keep reading), in order.
    void SendNow(const PlayMessages& messages);
    // The played mask narrowed to the view when the view shows some of it.
    protocol::ChannelMask PlayedInView(protocol::ChannelMask view) const;
    void Wake();
    // With m_lock: a new pace; `account`: a new account of credit (a button); `discard`:
    // what was received before is not shown.
    void NewPace(bool account, bool discard);
    [[nodiscard]] bool Before(std::uint16_t pace, std::uint16_t than) const;
    // With m_lock: what was admitted in `pace` is no longer shown or heard (a button since,
    // the stop, the session closing).
    [[nodiscard]] bool Discarded(std::uint16_t pace) const;

    protocol::CRecorderSession& m_session;
    protocol::CLoginService& m_login;
    stream::CStreamState& m_state;
    std::atomic<IPlaybackConsumers*> m_pConsumers{nullptr};
    std::atomic<protocol::IStreamReceiver*> m_pStreamReceiver{nullptr};
    std::unique_ptr<std::uint8_t[]> m_pStreamBuffer;

    std::atomic<bool> m_bRequested{false};
    // Accepted by the recorder, not yet begun: the owner's worker readies the consumers.
    // A failure or a stop in this time must still end the playback.
    std::atomic<bool> m_bAccepted{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bGatesClosed{false};
    std::atomic<bool> m_bLocalPlayer{false};
    std::atomic<bool> m_bPacing{true};
    std::atomic<protocol::ChannelMask> m_nChannels{0};
    std::atomic<protocol::ChannelMask> m_nView{protocol::kAllChannels};
    std::atomic<protocol::RecorderTime> m_nStartTime{0};
    std::atomic<std::int64_t> m_nPositionMs{0};
    std::atomic<int> m_nSpeed{0};
    std::atomic<std::uint64_t> m_nShown{0};
    std::atomic<std::uint64_t> m_nChanges{0};  // commands and stops: a pacing wait ends

    std::chrono::milliseconds m_messagePause{50};
    std::chrono::milliseconds m_playPause{100};
    std::chrono::milliseconds m_stepPause{500};

    mutable std::mutex m_lock;  // guards what follows and a command's sequence
    CPlayControl m_control;
    CPlayPacer m_pacer;
    // Paces: 1..kPaceMask, in order (wrapping). A ticket is the pace of its admission, with
    // kPacedBit when its credit is counted once handled: a frame that waits for its moment,
    // or a hidden one (never shown, so it never waits).
    static constexpr std::uint16_t kPacedBit = 0x8000;
    static constexpr std::uint16_t kPaceMask = 0x7FFF;
    std::uint16_t m_nPace = 1;
    std::uint16_t m_nAccountFrom = 1;  // paced frames from this pace on earn credit
    std::uint16_t m_nShowFrom = 1;     // frames from this pace on may be shown
    bool m_bAnchorPending = true;      // the next paced picture anchors the pacer
    bool m_bLastPaced = false;         // receive thread: the frame just admitted has kPacedBit
    // Receive thread: the last paced picture admitted, whose moment the audio after it
    // waits for (0: none in this pace).
    std::uint16_t m_nHeardPace = 0;
    std::int32_t m_nHeardSeconds = 0;
    std::int32_t m_nHeardMicroseconds = 0;
    std::condition_variable m_wake;  // ends a pacing wait (with m_lock)
};

}  // namespace taviro::recordings
