#include "client/local_controller.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <utility>

#include "client/local_playback.h"
#include "client/remote_playback.h"
#include "controls/control_events.h"
#include "protocol/session_messages.h"

namespace taviro::client {

CLocalPlaybackController::CLocalPlaybackController(platform::IMessageSink& sink,
                                                   protocol::GridMode& gridMode)
    : m_sink(sink), m_gridMode(gridMode) {}

CLocalPlaybackController::~CLocalPlaybackController() {
    if (m_player) {
        CLocalPlayback* player = m_player.get();
        m_worker.Post([player] { player->Stop(); });
    }
    m_worker.Drain();
}

bool CLocalPlaybackController::LoggedIn() const {
    return m_connection != nullptr && m_connection->LoggedIn() && !m_connection->Closing();
}

CommandResult CLocalPlaybackController::Start(std::uint32_t time, video::CChannelViews& views,
                                              const LocalPlaybackSettings& settings) {
    // Live view and remote playback stop first; the player starts once the connection's
    // worker has let go of the panes (or has ended).
    std::shared_future<void> connectionIdle;
    if (m_connection != nullptr) {
        if (m_gridMode == protocol::kGridPlayback)
            m_connection->StopPlayback(false);
        else
            m_connection->StopLive();  // also a live request still on its way
        auto idle = std::make_shared<std::promise<void>>();
        connectionIdle = idle->get_future().share();
        m_connection->RunAfterQueued([idle] { idle->set_value(); });
    }
    if (!m_player)
        m_player = std::make_unique<CLocalPlayback>(views, m_sink, settings);
    m_gridMode = protocol::kGridLocal;
    m_state = archive::PlayerState{};
    m_liveAfter = false;
    CLocalPlayback* player = m_player.get();
    platform::IMessageSink& sink = m_sink;
    m_worker.Post([player, time, connectionIdle, &sink] {
        if (connectionIdle.valid())
            connectionIdle.wait_for(std::chrono::seconds(5));
        const bool started = player->Start(time) == LocalStart::kStarted;
        sink.Post(platform::Window::Main, protocol::WM_CHANNEL_GRID_MODE,
                  started ? protocol::kGridLocal : protocol::kGridNone, 0);
    });
    return CommandResult::kDone;
}

CommandResult CLocalPlaybackController::Button(std::uint32_t id) {
    if (!m_player || m_gridMode != protocol::kGridLocal)
        return CommandResult::kIgnored;
    using archive::PlayerMode;
    switch (id) {
        case 340:
            m_player->SetMode(PlayerMode::PreviousStep);
            return CommandResult::kDone;
        case 341:
            m_player->SetMode(PlayerMode::Backward);
            return CommandResult::kDone;
        case 342:
            m_player->SetMode(PlayerMode::Forward);
            return CommandResult::kDone;
        case 343:
            m_player->SetMode(PlayerMode::Pause);
            return CommandResult::kDone;
        case 345:
            Stop(true);
            return CommandResult::kDone;
        case 346:
            m_player->SetMode(PlayerMode::NextStep);
            return CommandResult::kDone;
        default:
            return CommandResult::kIgnored;
    }
}

void CLocalPlaybackController::Slider(std::uint32_t message, int position) {
    if (message == controls::WM_SLIDER_BEGIN || message == controls::WM_SLIDER_MOVE) {
        m_dragging = true;  // the slider never jumps under the user's hand
        return;
    }
    m_dragging = false;
    if (m_player && m_gridMode == protocol::kGridLocal)
        m_player->SeekTo(m_spanStart + static_cast<std::uint32_t>(std::max(position, 0)));
}

void CLocalPlaybackController::Stop(bool liveAgain) {
    if (!m_player)
        return;
    if (m_gridMode == protocol::kGridLocal)
        m_gridMode = protocol::kGridNone;
    m_liveAfter = liveAgain;
    CLocalPlayback* player = m_player.get();
    platform::IMessageSink& sink = m_sink;
    m_worker.Post([player, &sink] {
        player->Stop();
        sink.Post(platform::Window::Main, protocol::WM_CHANNEL_GRID_MODE, protocol::kGridNone, 0);
    });
}

void CLocalPlaybackController::OnMessage(const platform::PostedMessage& m) {
    switch (m.message) {
        case protocol::WM_CHANNEL_GRID_MODE:
            if (m.wParam == protocol::kGridLocal || (m.wParam == protocol::kGridNone && m_shown)) {
                const bool on = m.wParam == protocol::kGridLocal;
                if (on != m_shown) {
                    m_shown = on;
                    m_dragging = false;
                    m_position = 0;
                    m_title.clear();
                    if (m_view != nullptr)
                        m_view->LocalShown(on);
                }
            }
            // The player's worker has let go of the panes (its messages carry no
            // connection): live view comes back as after remote playback.
            if (m.generation == 0 && m.wParam == protocol::kGridNone &&
                std::exchange(m_liveAfter, false) && LoggedIn())
                m_connection->ResumeLive();
            break;
        case client::WM_LOCAL_STOPPED:
            // A recording that went away under the player: the Stop button's path.
            if (m.wParam != kLocalEndedUnreadable)
                break;
            if (m_gridMode == protocol::kGridLocal)
                Stop(LoggedIn());
            m_sink.ShowMessageBox(
                "The recording could not be read, so local playback has stopped.");
            break;
        case client::WM_LOCAL_STATE:
            m_state.mode = static_cast<archive::PlayerMode>(m.wParam);
            m_state.speed = static_cast<int>(m.lParam);
            // A pause (by a button, a tampered frame or either end of the recording) shows
            // no new picture: the title and the icons follow the state itself.
            if (m_shown)
                ShowTitle();
            break;
        case client::WM_LOCAL_SEGMENT: {
            m_spanStart = static_cast<std::uint32_t>(m.wParam >> 32);
            const auto spanEnd = static_cast<std::uint32_t>(m.wParam & 0xFFFFFFFFu);
            const int span = spanEnd > m_spanStart ? static_cast<int>(spanEnd - m_spanStart) : 0;
            if (m_view != nullptr)
                m_view->LocalSegment(static_cast<int>(m.lParam >> 32),
                                     static_cast<protocol::ChannelMask>(m.lParam & 0xFFFF), span);
            break;
        }
        case client::WM_LOCAL_POSITION: {
            if (!m_shown)
                break;
            const auto seconds = static_cast<std::uint32_t>(m.wParam);
            if (!m_dragging && seconds >= m_spanStart && m_view != nullptr)
                m_view->LocalPosition(static_cast<int>(seconds - m_spanStart));
            m_position = seconds;
            ShowTitle();
            break;
        }
        default:
            break;
    }
}

void CLocalPlaybackController::ShowTitle() {
    std::string title = PlaybackTitle("L-PLAY", m_position, IconSpeed());
    if (!title.empty())
        m_title = std::move(title);
    if (m_view != nullptr)
        m_view->LocalStateChanged();
}

int CLocalPlaybackController::IconSpeed() const {
    return m_gridMode == protocol::kGridLocal ? archive::IconSpeed(m_state) : 0;
}

std::optional<CLocalPlaybackController::BookmarkMark> CLocalPlaybackController::MarkBookmark()
    const {
    if (!m_player || !m_shown)
        return std::nullopt;
    // Before the first picture there is nothing to mark (a bookmark at time 0 would name 1970).
    const std::uint32_t time = m_player->FrameTime();
    if (time == 0)
        return std::nullopt;
    return BookmarkMark{time, m_player->CurrentVid().string()};
}

}  // namespace taviro::client
