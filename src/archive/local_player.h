// CLocalPlayer: the thread that plays backup pairs without a recorder. It walks the .vid
// of the current segment forwards (record by record) or backwards (by the back-links of
// the video frames), paces the frames by their times at the chosen speed, shows one frame
// per channel in the step modes, skips frames by speed, checks the watermarks at normal
// speed, seeks by the index, and hands each frame to the output as a queue element of the
// same kind the recorder's stream gives the decoders.
//
// A seek is exact: playback goes on from each shown channel's key frame at or before the
// second sought, and the frames before that second are handed over hidden (decoded, never
// shown, neither paced nor heard), so the first picture is the one at the second sought.
//
// Threads: the owner (window or command line) creates, starts, changes the mode, seeks and
// stops; the player's own thread calls the output. Stop() joins the thread (every wait of
// the thread ends on it, and on a button or a seek). The output must outlive the player.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "archive/backup_reader.h"
#include "archive/player_rules.h"
#include "stream/consumer_slots.h"
#include "stream/queued_frame.h"

namespace taviro::archive {

// A channel queue that holds more frames than this makes the player wait.
inline constexpr std::size_t kMaxQueuedPlayerFrames = 10;

// Where the player's frames, sound and state go. Called on the player thread.
class IPlayerOutput {
  public:
    virtual ~IPlayerOutput() = default;
    // The views are cleared before the first frame.
    virtual void Cleared() {}
    // The thread runs (WM_PLAYER_INFO 1).
    virtual void Started() {}
    // A new segment: the slider's span, the layout code for its channels, the channels.
    virtual void SegmentChanged(const SliderSpan& span, int layoutCode, std::uint32_t channels) = 0;
    // The channel has a view that takes frames; frames of other channels are not queued.
    virtual bool Accepts(int channel) = 0;
    // The view shows the channel (the step modes step only the shown channels).
    virtual bool Shown(int channel) { return Accepts(channel); }
    // Frames waiting in the channel's queue.
    virtual std::size_t Queued(int channel) = 0;
    // The queues ring `signal` whenever their consumer takes frames, so that the player
    // blocks while a queue is full instead of asking Queued() over and over. Called once,
    // on the player thread, before the first frame.
    virtual void WatchRoom(const std::shared_ptr<stream::CWakeSignal>& signal) { (void)signal; }
    virtual void QueueFrame(int channel, stream::QueuedFrame frame) = 0;
    // One 48-byte block of the heard channel.
    virtual void QueueAudio(const stream::AudioBlock& block) = 0;
    virtual void StopAudio() {}
    // The slider follows the frames shown (whole seconds).
    virtual void Position(std::uint32_t seconds) = 0;
    // The watermark state of the channel's last frame (-1 unchecked, 0 none, 1, 2).
    virtual void Integrity(int channel, int state) = 0;
    // The mode or speed changed (by a button or by the player itself).
    virtual void StateChanged(const PlayerState& state) = 0;
    // The thread has ended (back to the 16-pane layout).
    virtual void Stopped() {}
};

struct PlayerOptions {
    bool watermark = true;  // check the checksums at normal speed
    int audioChannel = -1;  // heard channel, -1: the lowest of the block's mask
    bool audio = true;      // a playback audio path exists
    std::chrono::milliseconds startPause{200};
};

class CLocalPlayer {
  public:
    CLocalPlayer(std::vector<PlaySegment> segments, std::size_t current, IPlayerOutput& output,
                 PlayerOptions options = {});
    ~CLocalPlayer();
    CLocalPlayer(const CLocalPlayer&) = delete;
    CLocalPlayer& operator=(const CLocalPlayer&) = delete;

    // Starts the thread in forward mode.
    void Start();
    // Ends the thread and joins it.
    void Stop();
    // A playback button.
    void SetMode(PlayerMode mode);
    // The slider or a bookmark: continue at this second.
    void SeekTo(std::uint32_t seconds);

    [[nodiscard]] PlayerState State() const;
    // The time of the frame shown last and the .vid it came from (the bookmark's).
    [[nodiscard]] std::uint32_t FrameTime() const { return m_nFrameTime.load(); }
    [[nodiscard]] std::filesystem::path CurrentVid() const;
    [[nodiscard]] bool Running() const { return m_bRunning.load(); }
    // Frames handed to the output since the start.
    [[nodiscard]] std::uint64_t FramesQueued() const { return m_nQueued.load(); }

  private:
    void Thread_Play();
    bool OpenSegment(std::size_t index, bool backward, bool first);
    // One record by the current mode; false when the thread is to end.
    bool Step();
    bool ShowFrame(const VidRecord& record);
    // A frame before the second sought: handed over hidden once its queue has room.
    bool ShowHidden(const VidRecord& record, int channel);
    // Hands the frame in m_payload to the output (`hidden`: decoded, not shown); false when
    // it could not be made.
    bool HandOver(const VidRecord& record, int channel, bool hidden, bool reverse);
    // Waits until the channel's queue has room; false when a stop, a button or a seek
    // came first.
    bool WaitForRoom(int channel);
    // The record was read but not shown: the next read, in either direction, is it again.
    void HoldBack(const VidRecord& record, bool backward);
    void PlayAudio(const VidRecord& record);
    bool NextSegment();
    bool PreviousSegment();
    void PauseHere();
    bool Seek(std::uint32_t target);
    // Forwards from the video record `at`: the key frames before it come first, hidden, and
    // pictures are shown from `showFromMs` on (m_pending, when set, becomes the first).
    void Preroll(const VidRecord& at, std::int64_t showFromMs);
    // Where a seek to `at` starts: the earliest of the key frames at or before it of the
    // channels the output takes, looked for back to kMaxPrerollSeconds before it.
    std::uint64_t PrerollStart(const VidRecord& at, const PlaySegment& segment);
    // Waits up to `ms`, ending early on a stop or a button; false when stopped.
    bool Sleep(std::chrono::milliseconds ms);
    void Pace(const VidRecord& record);
    void Reanchor() {
        m_bReanchor = true;
        m_bNewStream = true;
    }

    std::vector<PlaySegment> m_segments;
    IPlayerOutput& m_output;
    PlayerOptions m_options;

    // The lock and condition of every wait of the thread; the decoders' queues ring it too.
    std::shared_ptr<stream::CWakeSignal> m_signal = std::make_shared<stream::CWakeSignal>();
    std::mutex& m_lock = m_signal->lock;  // guards m_state, m_pendingModes, m_seekTarget, m_vidPath
    std::condition_variable& m_wake = m_signal->changed;
    PlayerState m_state;
    std::deque<PlayerMode> m_pendingModes;  // presses not yet taken, in order
    std::optional<std::uint32_t> m_seekTarget;
    std::filesystem::path m_vidPath;
    std::uint64_t m_nChanges = 0;      // buttons and seeks, so a wait can end on them
    std::uint64_t m_nSeenChanges = 0;  // m_nChanges when the thread last took them

    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<std::uint32_t> m_nFrameTime{0};
    std::atomic<std::uint64_t> m_nQueued{0};
    std::thread m_thread;

    // The player thread's own state. Where playback stands serves both directions, so a
    // button or a seek in either direction continues from the picture shown: forwards the
    // next record is read at m_nNext; backwards m_pending is shown next when set (and then
    // m_nNext is its offset, so forwards it comes next too), else the record before
    // m_cursor.
    std::size_t m_nCurrent = 0;
    CVidReader m_vid;
    CFile m_idx;
    std::uint64_t m_nNext = 0;           // forwards: the next record's offset
    std::optional<VidRecord> m_cursor;   // the record read last
    std::optional<VidRecord> m_pending;  // read, not shown, next in both directions
    bool m_bReanchor = true;             // the next shown frame starts the pacing clock
    bool m_bNewStream = true;            // the next frame handed over starts a stream generation
    // After a seek: frames before this time (ms) are handed over hidden; -1 when none are.
    std::int64_t m_nShowFromMs = -1;
    std::int64_t m_nAnchorMs = 0;
    std::chrono::steady_clock::time_point m_anchorTick{};
    std::uint32_t m_nGeneration = 0;
    std::array<std::uint32_t, 16> m_skip{};
    std::uint32_t m_nStepShown = 0;  // channels shown in the current step
    std::vector<std::uint8_t> m_payload;
};

}  // namespace taviro::archive
