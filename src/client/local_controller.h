// CLocalPlaybackController: playback of backup pairs without a recorder, as the operator
// drives it. It owns the player and the worker that starts and stops it (both may wait for
// threads, so never on the window's thread), what the player last reported (the joined
// segments' span, the second shown, its mode and speed), the title strip's "L-PLAY" line,
// the user holding the position slider and the first press of the two-press bookmark.
// Live view and remote playback stop before a start; live view comes back after the
// operator's stop when a recorder is connected.
//
// Threads: the owner's (window) thread for everything but Drain(). Ownership: the owner
// keeps the views and the sink; the grid mode cell is the owner's, which this controller
// sets as local playback starts and stops; Attach(nullptr) comes before the connection goes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "archive/player_rules.h"
#include "client/connection.h"
#include "client/local_playback.h"
#include "platform/message_sink.h"
#include "platform/worker.h"
#include "protocol/session_messages.h"

namespace taviro::client {

// What the local playback controls show. Called on the owner's thread.
class ILocalPlaybackView {
  public:
    virtual ~ILocalPlaybackView() = default;
    // The grid shows local playback (true), or no longer (false).
    virtual void LocalShown(bool shown) = 0;
    // The joined segments: the layout to show, the channels they hold and the slider's span
    // in seconds.
    virtual void LocalSegment(int layout, protocol::ChannelMask channels, int spanSeconds) = 0;
    // Where playback stands in the span (never while the user holds the slider).
    virtual void LocalPosition(int second) = 0;
    // The title line or the panes' state icon changed.
    virtual void LocalStateChanged() = 0;
};

class CLocalPlaybackController {
  public:
    CLocalPlaybackController(platform::IMessageSink& sink, protocol::GridMode& gridMode);
    ~CLocalPlaybackController();
    CLocalPlaybackController(const CLocalPlaybackController&) = delete;
    CLocalPlaybackController& operator=(const CLocalPlaybackController&) = delete;

    void SetView(ILocalPlaybackView* view) { m_view = view; }
    // The connection whose live view or playback a start stops (null: none).
    void Attach(CConnection* connection) { m_connection = connection; }

    // Live view and remote playback stop, then the player starts at `time` on the worker;
    // protocol::WM_CHANNEL_GRID_MODE protocol::kGridLocal follows (or (4, 0) and
    // protocol::kGridNone when no pair holds the time). The views must outlive the controller.
    CommandResult Start(std::uint32_t time, video::CChannelViews& views,
                        const LocalPlaybackSettings& settings);
    // Buttons 340..346 while local playback is shown (345 stops it, live view again).
    CommandResult Button(std::uint32_t id);
    // The position slider: held (begin, move) or let go (end) at `position` of the span.
    void Slider(std::uint32_t message, int position);
    // Stops the player on the worker; protocol::kGridNone follows. With `liveAgain` live view is
    // asked for once the player has let go of the panes, when a recorder is logged in then.
    void Stop(bool liveAgain = false);
    // The player's messages (WM_LOCAL_*) and the worker's protocol::WM_CHANNEL_GRID_MODE.
    void OnMessage(const platform::PostedMessage& message);
    // Waits until the worker has run what it was given (quit, tests).
    void Drain() { m_worker.Drain(); }

    // The first press of the bookmark: the picture shown now (its time and pair); none
    // before the first picture.
    struct BookmarkMark {
        std::uint32_t time = 0;
        std::string vid;
    };
    [[nodiscard]] std::optional<BookmarkMark> MarkBookmark() const;

    [[nodiscard]] bool Shown() const { return m_shown; }
    [[nodiscard]] archive::PlayerState State() const { return m_state; }
    [[nodiscard]] int IconSpeed() const;
    // "L-PLAY 2026-12-10 08:00:05  x1", or "" while nothing is shown.
    [[nodiscard]] const std::string& Title() const { return m_title; }
    [[nodiscard]] CLocalPlayback* Player() { return m_player.get(); }

  private:
    void ShowTitle();
    [[nodiscard]] bool LoggedIn() const;

    platform::IMessageSink& m_sink;
    protocol::GridMode& m_gridMode;
    ILocalPlaybackView* m_view = nullptr;
    CConnection* m_connection = nullptr;
    std::unique_ptr<CLocalPlayback> m_player;
    archive::PlayerState m_state;
    bool m_liveAfter = false;  // the user stopped local playback: live view again
    bool m_shown = false;
    bool m_dragging = false;
    std::uint32_t m_spanStart = 0;  // the slider's span over the joined segments
    std::uint32_t m_position = 0;   // the second shown last (0: none yet)
    std::string m_title;
    // Last member: joined first, so no job runs on a member that is gone.
    platform::CWorker m_worker;
};

}  // namespace taviro::client
