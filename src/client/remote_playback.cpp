#include "client/remote_playback.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "controls/control_events.h"
#include "protocol/recorder_time.h"

namespace taviro::client {

namespace {

constexpr int kLastSecond = timeline::kDaySeconds - 1;

}  // namespace

std::string PlaybackTitle(const char* prefix, std::int64_t position, int iconSpeed) {
    protocol::UserTime t;
    if (position <= 0 ||
        !protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(position), &t))
        return {};
    std::string state;
    switch (iconSpeed) {
        case 0:
            state = "paused";
            break;
        case 10:
            state = "step";
            break;
        case 11:
            state = "step back";
            break;
        default:
            state = "x" + std::to_string(iconSpeed);
            break;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%s %04d-%02d-%02d %02d:%02d:%02d  ", prefix, t.year,
                  t.month + 1, t.day + 1, t.hour, t.minute, t.second);
    return line + state;
}

CRemotePlaybackController::CRemotePlaybackController(IRemotePlaybackView& view,
                                                     std::function<bool()> localShown)
    : m_view(view), m_localShown(std::move(localShown)) {}

void CRemotePlaybackController::Attach(CConnection* connection) {
    if (connection == m_connection)
        return;
    m_connection = connection;
    m_pending.Clear();
    if (connection == nullptr)
        OnStopped();
}

bool CRemotePlaybackController::Usable() const {
    return m_connection != nullptr && !m_connection->Closing();
}

CommandResult CRemotePlaybackController::Start(const recordings::PlayRequest& request) {
    if (!Usable() || (m_localShown && m_localShown()))
        return CommandResult::kIgnored;
    return m_connection->StartPlayback(request);
}

CommandResult CRemotePlaybackController::Button(std::uint32_t id, protocol::ChannelMask view) {
    using recordings::PlayCommand;
    if (!Usable() || !m_shown)
        return CommandResult::kIgnored;
    switch (id) {
        case 340:
            return m_connection->PlayCommand(PlayCommand::PreviousStep, view);
        case 341:
            return m_connection->PlayCommand(PlayCommand::Backward, view);
        case 342:
            return m_connection->PlayCommand(PlayCommand::Forward, view);
        case 343:
            return m_connection->PlayCommand(PlayCommand::Pause, view);
        case 345:
            return m_connection->StopPlayback(true);
        case 346:
            return m_connection->PlayCommand(PlayCommand::NextStep, view);
        default:
            return CommandResult::kIgnored;
    }
}

std::uint32_t CRemotePlaybackController::PauseKeyButton() const {
    const bool paused = m_connection != nullptr &&
                        m_connection->Playback().Pause() == recordings::PauseState::Paused;
    return paused ? 342 : 343;
}

void CRemotePlaybackController::Slider(std::uint32_t message, int second,
                                       protocol::ChannelMask view) {
    if (!m_shown)
        return;
    if (message == controls::WM_SLIDER_BEGIN || message == controls::WM_SLIDER_MOVE) {
        // The slider never jumps under the user's hand.
        m_dragging = true;
        return;
    }
    m_dragging = false;
    if (!Usable())
        return;
    const std::int64_t target = m_dayStart + std::clamp(second, 0, kLastSecond);
    m_connection->SeekPlayback(static_cast<protocol::RecorderTime>(target), view);
}

void CRemotePlaybackController::OnStarted() {
    if (!Usable())
        return;
    m_shown = true;
    m_dragging = false;
    m_view.PlaybackShown(true);
    // The bar shows the day playback started on; its stretches come from the day the
    // calendar showed, or are asked for.
    const std::int64_t start = m_connection->Playback().StartTime();
    m_dayStart = start - start % timeline::kDaySeconds;
    m_dayRecords.clear();
    const recordings::PendingSelection& p = m_pending;
    if (p.pending && p.days && timeline::DayStart(p.year, p.month0, p.day0) == m_dayStart) {
        m_dayRecords = timeline::ParseDayInfo(*p.days);
    } else {
        protocol::UserTime t;
        if (protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(start), &t))
            m_connection->Search().RequestDay(recordings::SearchSide::Playback, t.year, t.month,
                                              t.day, platform::Window::Main);
    }
    m_view.DayStretches(m_dayStart, m_dayRecords, m_connection->Playback().Channels());
    // A span that differs from every earlier one, so the view hears it.
    m_span = timeline::SliderSpan{-1, -1};
    FitSpan(static_cast<int>(std::clamp<std::int64_t>(start - m_dayStart, 0, kLastSecond)));
    Tick();
}

void CRemotePlaybackController::OnStopped() {
    if (!m_shown)
        return;
    m_shown = false;
    m_dragging = false;
    m_dayRecords.clear();
    m_span = timeline::SliderSpan{};
    m_view.DayStretches(0, m_dayRecords, 0);
    m_view.SliderSpan(m_span.from, m_span.to);
    m_view.SliderPosition(0);
    if (!m_title.empty()) {
        m_title.clear();
        m_view.TitleChanged();
    }
    m_view.PlaybackShown(false);
}

void CRemotePlaybackController::OnDay(const platform::MessageData& dayInfo) {
    if (!m_shown || !Usable() || !dayInfo)
        return;
    m_dayRecords = timeline::ParseDayInfo(*dayInfo);
    m_view.DayStretches(m_dayStart, m_dayRecords, m_connection->Playback().Channels());
    // The stretches are known now: the slider spans the one playback is in.
    const std::int64_t position = PositionSeconds();
    m_span = timeline::SliderSpan{-1, -1};
    FitSpan(static_cast<int>(std::clamp<std::int64_t>(
        (position > 0 ? position : m_connection->Playback().StartTime()) - m_dayStart, 0,
        kLastSecond)));
}

void CRemotePlaybackController::FitSpan(int second) {
    if (m_connection == nullptr)
        return;
    const timeline::SliderSpan span = timeline::PositionSliderSpan(
        m_dayRecords, m_dayStart, m_connection->Playback().Channels(), second);
    if (span == m_span)
        return;
    m_span = span;
    m_view.SliderSpan(span.from, span.to);
}

void CRemotePlaybackController::Tick() {
    if (!m_shown || m_connection == nullptr)
        return;
    const std::int64_t position = PositionSeconds();
    std::string title = PlaybackTitle("R-PLAY", position, IconSpeed());
    if (title != m_title) {
        m_title = std::move(title);
        m_view.TitleChanged();
    }
    // Playback that runs out of the span the slider shows (into the next stretch) moves the
    // span along; never while the user holds the slider.
    if (m_dragging || position <= 0)
        return;
    const auto second =
        static_cast<int>(std::clamp<std::int64_t>(position - m_dayStart, 0, kLastSecond));
    if (second < m_span.from || second > m_span.to)
        FitSpan(second);
    m_view.SliderPosition(second);
}

std::int64_t CRemotePlaybackController::PositionSeconds() const {
    return m_connection != nullptr ? m_connection->Playback().PositionMillis() / 1000 : 0;
}

int CRemotePlaybackController::IconSpeed() const {
    if (m_connection == nullptr || !m_connection->Playback().Running())
        return 0;
    const recordings::CPlaybackService& playback = m_connection->Playback();
    if (playback.Pause() == recordings::PauseState::Paused)
        return 0;
    switch (playback.Mode()) {
        case recordings::PlayCommand::NextStep:
            return 10;
        case recordings::PlayCommand::PreviousStep:
            return 11;
        default:
            return playback.Speed();
    }
}

}  // namespace taviro::client
