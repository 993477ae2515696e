// CRemotePlaybackController: remote playback as the operator drives it. It owns what the
// main window used to keep about a playback: whether the grid shows one, the day it runs on
// with that day's recorded stretches, the part of the day the position slider spans, the
// user holding the slider, the line "R-PLAY <time> <state>" of the title strip and what the
// last playback started from the search window came from. The buttons, the keys and the
// slider reach the recorder through it; its view hears what to show as typed calls.
//
// Threads: the owner's (window) thread only; every call returns at once, since the
// commands run on the connection's worker.
// Ownership: the connection and the view belong to the owner. Attach() hands over the
// connection when it is made; Attach(nullptr) must come before the connection is destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "client/connection.h"
#include "platform/message_sink.h"
#include "recordings/search_model.h"
#include "timeline/calendar.h"
#include "timeline/timeline.h"

namespace taviro::client {

// What the playback controls show. Called on the owner's thread.
class IRemotePlaybackView {
  public:
    virtual ~IRemotePlaybackView() = default;
    // A playback began (true) or ended (false): the transport buttons, their keys and the
    // position slider work only meanwhile, and the grid goes back to its first layout after.
    virtual void PlaybackShown(bool shown) = 0;
    // The playback day's recorded stretches of the played channels (none: the bar is empty).
    virtual void DayStretches(std::int64_t dayStart,
                              const std::vector<timeline::DayInfoRecord>& records,
                              protocol::ChannelMask channels) = 0;
    // The seconds of the day the slider and the bar under it span.
    virtual void SliderSpan(int from, int to) = 0;
    // Where playback stands, in seconds of the day.
    virtual void SliderPosition(int second) = 0;
    // The title strip's playback line changed ("" once playback has ended).
    virtual void TitleChanged() = 0;
};

class CRemotePlaybackController {
  public:
    // `localShown` tells whether the grid shows local playback, which no remote command
    // interrupts.
    CRemotePlaybackController(IRemotePlaybackView& view, std::function<bool()> localShown);

    // The connection whose playback this drives (null: none any more). A new connection
    // forgets the previous one's search selection.
    void Attach(CConnection* connection);

    // --- commands ---
    // From the search window (calendar, day timeline, time entry, events, log).
    CommandResult Start(const recordings::PlayRequest& request);
    // Buttons 340..343, 345 and 346 while playback is shown: previous step, backward,
    // forward, pause, stop (live view again), next step. `view`: the channels shown.
    CommandResult Button(std::uint32_t id, protocol::ChannelMask view);
    // The id of the button the pause key presses: play when paused, else pause.
    [[nodiscard]] std::uint32_t PauseKeyButton() const;
    // The position slider: held (begin, move) or let go (end) at `second` of the day.
    void Slider(std::uint32_t message, int second, protocol::ChannelMask view);

    // --- what the connection posted ---
    void OnStarted();  // recordings::WM_PLAY_STARTED
    void OnStopped();  // recordings::WM_PLAY_STOPPED, connection gone
    void OnDay(const platform::MessageData& dayInfo);  // recordings::WM_PLAY_DAY_READY
    // A few times a second while shown: the position, the slider's span and the title.
    void Tick();

    // --- state ---
    [[nodiscard]] bool Shown() const { return m_shown; }
    [[nodiscard]] std::int64_t PositionSeconds() const;
    // What the panes' playback icon shows: 0 pause, 1 play, +-2..6 fast, -1 backward, 10 and
    // 11 the step icons.
    [[nodiscard]] int IconSpeed() const;
    // "R-PLAY 2026-12-10 08:00:05  x1", or "" while nothing plays.
    [[nodiscard]] const std::string& Title() const { return m_title; }
    // What the last playback from the search window came from; kept while the connection
    // lasts, so a reopened search window shows the same calendar.
    recordings::PendingSelection& Pending() { return m_pending; }

  private:
    void FitSpan(int second);
    [[nodiscard]] bool Usable() const;

    IRemotePlaybackView& m_view;
    std::function<bool()> m_localShown;
    CConnection* m_connection = nullptr;
    bool m_shown = false;
    bool m_dragging = false;  // the user holds the position slider
    std::int64_t m_dayStart = 0;
    std::vector<timeline::DayInfoRecord> m_dayRecords;
    timeline::SliderSpan m_span;
    std::string m_title;
    recordings::PendingSelection m_pending;
};

// The title line for a playback at `position` (recorder time) in the icon speed's state;
// "" for a time the recorder's calendar cannot name. `prefix`: "R-PLAY" or "L-PLAY".
std::string PlaybackTitle(const char* prefix, std::int64_t position, int iconSpeed);

}  // namespace taviro::client
