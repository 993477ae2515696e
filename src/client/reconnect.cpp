#include "client/reconnect.h"

#include <algorithm>
#include <array>
#include <utility>

namespace taviro::client {

namespace {

// Doubling from one second, held at half a minute: a recorder that reboots is back within
// a minute or two, and one that stays away is asked twice a minute at most.
constexpr std::array<int, 6> kWaitUnits = {1, 2, 4, 8, 16, 30};

}  // namespace

CReconnectController::CReconnectController(std::chrono::milliseconds unit)
    : m_unit(unit.count() > 0 ? unit : std::chrono::milliseconds(1)) {}

std::chrono::milliseconds CReconnectController::WaitBefore(int attempt) const {
    const std::size_t index =
        attempt < 0 ? 0 : std::min(static_cast<std::size_t>(attempt), kWaitUnits.size() - 1);
    return m_unit * kWaitUnits[index];
}

void CReconnectController::OnLost(const ResumeState& state, Clock::time_point now) {
    if (!RecentlyRestored(now))
        m_attempts = 0;
    m_resume = state;
    m_refusedWhy.clear();
    StartWait(now);
}

void CReconnectController::StartWait(Clock::time_point now) {
    m_state = ReconnectState::kWaiting;
    m_due = now + WaitBefore(m_attempts);
}

bool CReconnectController::Poll(Clock::time_point now) {
    if (m_state != ReconnectState::kWaiting || now < m_due)
        return false;
    m_state = ReconnectState::kConnecting;
    ++m_attempts;
    return true;
}

void CReconnectController::OnAttemptFailed(Clock::time_point now) {
    if (m_state == ReconnectState::kConnecting)
        StartWait(now);
}

std::optional<ResumeState> CReconnectController::OnLoggedIn(Clock::time_point now) {
    if (m_state != ReconnectState::kConnecting)
        return std::nullopt;
    m_state = ReconnectState::kRestored;
    m_restoredAt = now;
    return m_resume;
}

bool CReconnectController::RecentlyRestored(Clock::time_point now) const {
    return m_state == ReconnectState::kRestored && now - m_restoredAt < m_unit * kStableUnits;
}

void CReconnectController::OnRefused(std::string why) {
    if (!Active())
        return;
    m_state = ReconnectState::kRefused;
    m_refusedWhy = std::move(why);
}

void CReconnectController::Cancel() {
    if (Active())
        m_state = ReconnectState::kCancelled;
}

void CReconnectController::Reset() {
    m_state = ReconnectState::kIdle;
    m_resume = ResumeState{};
    m_attempts = 0;
    m_refusedWhy.clear();
}

int CReconnectController::SecondsLeft(Clock::time_point now) const {
    if (m_state != ReconnectState::kWaiting || now >= m_due)
        return 0;
    const auto left = m_due - now;
    // Rounded up: "in 1 s" until the attempt starts, never "in 0 s" while still waiting.
    return static_cast<int>((left + m_unit - Clock::duration(1)) / m_unit);
}

namespace {

std::string Interrupted(const ResumeState& resume) {
    if (resume.playback && resume.backup)
        return "remote playback and backup interrupted";
    if (resume.playback)
        return "remote playback interrupted";
    if (resume.backup)
        return "backup interrupted";
    return {};
}

}  // namespace

CReconnectBanner::Line CReconnectBanner::Update(const CReconnectController& reconnect,
                                                Clock::time_point now) {
    const std::string interrupted = Interrupted(reconnect.Resume());
    Line line;
    switch (reconnect.State()) {
        case ReconnectState::kWaiting:
            line.text = "Reconnecting in " + std::to_string(reconnect.SecondsLeft(now)) + " s";
            line.cancellable = true;
            m_noteUntil = Clock::time_point::max();
            break;
        case ReconnectState::kConnecting:
            line.text = "Reconnecting\u2026";
            line.cancellable = true;
            m_noteUntil = Clock::time_point::max();
            break;
        case ReconnectState::kRestored:
            // What was not brought back is said once more, for a while.
            if (m_noteUntil == Clock::time_point::max())
                m_noteUntil = now + kRestoredNote;
            if (!interrupted.empty() && now < m_noteUntil)
                line.text = "Connection restored";
            break;
        default:
            break;
    }
    if (!line.text.empty() && !interrupted.empty())
        line.text += " \u00b7 " + interrupted;
    return line;
}

}  // namespace taviro::client
