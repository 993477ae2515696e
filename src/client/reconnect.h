// Coming back by itself after a network loss: the waits between attempts, where the
// attempts stand, and what ran when the connection was lost so that a successful log-in can
// bring it back. Plain logic without a clock of its own: every call that depends on time
// takes `now`, so tests drive it with made-up times and short waits.
//
// What counts as a loss is the session's (protocol::SessionEnd::kLost); the owner (the
// shell, or the command-line client's loop) reports it here and makes the connections.
// Remote playback and a backup that ran at the loss are only reported as interrupted: a
// transfer or a playback position is the user's to start again, never restarted behind
// their back.
//
// Thread: the owner's (the window thread, or the command-line loop); not thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/channel_mask.h"

namespace taviro::client {

// What ran when the connection was lost.
struct ResumeState {
    bool live = false;
    bool playback = false;       // interrupted, never restarted
    bool backup = false;         // interrupted, never restarted
    int layout = -1;             // the grid's layout number; -1 unknown (no grid)
    int page = 0;                // the grid's page of that layout
    int heardChannel = -1;       // 0..15, -1 none
    bool recorderAudio = false;  // the recorder's audio was on (asked for again)
    // The live selection the recorder was asked for (the command-line client's --channels).
    protocol::ChannelMask liveChannels = protocol::kAllChannels;
};

enum class ReconnectState {
    kIdle,        // nothing lost, or the last loss has been dealt with
    kWaiting,     // the next attempt starts when its wait is over
    kConnecting,  // an attempt runs
    kRestored,    // an attempt logged in; what ran is being brought back
    kCancelled,   // the user stopped the attempts
    kRefused,     // the recorder refused an attempt (goodbye, wrong password, product)
};

class CReconnectController {
  public:
    using Clock = std::chrono::steady_clock;

    // `unit` is one second of the wait sequence; tests make it milliseconds.
    explicit CReconnectController(
        std::chrono::milliseconds unit = std::chrono::milliseconds(1'000));

    // The wait before attempt `attempt` (0 first): 1, 2, 4, 8, 16, then 30 units each.
    [[nodiscard]] std::chrono::milliseconds WaitBefore(int attempt) const;

    // A connection that was logged in has been lost: the first wait starts. A restored
    // connection lost again starts over too, unless it was lost within kStableUnits of its
    // log-in: a recorder that takes the log-in and drops at once every time is then asked
    // with the growing waits instead of once a second for ever.
    void OnLost(const ResumeState& state, Clock::time_point now);
    static constexpr int kStableUnits = 30;
    // True once when the wait is over: the owner starts an attempt now.
    bool Poll(Clock::time_point now);
    // The attempt ended without logging in and without a refusal (the recorder is still
    // away): the next, longer wait starts.
    void OnAttemptFailed(Clock::time_point now);
    // The attempt logged in: what ran at the loss, for the owner to bring back; nothing
    // when no attempt was running (cancelled or refused meanwhile), so a late log-in
    // restores nothing.
    std::optional<ResumeState> OnLoggedIn(Clock::time_point now);
    // Restored less than kStableUnits ago: a loss now continues the waits of the last one.
    [[nodiscard]] bool RecentlyRestored(Clock::time_point now) const;
    // The attempt was refused; `why` says how (shown or printed as it is).
    void OnRefused(std::string why);
    // The user stopped the attempts (or connected, disconnected or quit).
    void Cancel();
    // Back to idle, forgetting the loss (a connection of the user's own).
    void Reset();

    [[nodiscard]] ReconnectState State() const { return m_state; }
    // Waiting or connecting: the owner keeps going.
    [[nodiscard]] bool Active() const {
        return m_state == ReconnectState::kWaiting || m_state == ReconnectState::kConnecting;
    }
    // Whole units left of the wait, rounded up (0 unless waiting).
    [[nodiscard]] int SecondsLeft(Clock::time_point now) const;
    // Attempts started since the loss.
    [[nodiscard]] int Attempts() const { return m_attempts; }
    [[nodiscard]] const ResumeState& Resume() const { return m_resume; }
    [[nodiscard]] const std::string& RefusedWhy() const { return m_refusedWhy; }

  private:
    void StartWait(Clock::time_point now);

    std::chrono::milliseconds m_unit;
    ReconnectState m_state = ReconnectState::kIdle;
    ResumeState m_resume;
    Clock::time_point m_due{};
    Clock::time_point m_restoredAt{};
    int m_attempts = 0;
    std::string m_refusedWhy;
};

// What the title strip says while the client comes back after a loss: "Reconnecting in N s"
// (or "Reconnecting..." while an attempt runs) with a Cancel button, and after the return,
// for a while, "Connection restored" when a playback or backup could not be brought back;
// empty text: nothing to show. The owner keeps one per window and calls Update often.
class CReconnectBanner {
  public:
    using Clock = CReconnectController::Clock;
    static constexpr std::chrono::seconds kRestoredNote{10};

    struct Line {
        std::string text;
        bool cancellable = false;
    };
    Line Update(const CReconnectController& reconnect, Clock::time_point now);

  private:
    Clock::time_point m_noteUntil{};  // the "restored" note shows until then
};

}  // namespace taviro::client
