#include "client/live_view.h"

#include "protocol/session_messages.h"

namespace taviro::client {

CLiveViewController::CLiveViewController(video::CChannelViews& views, CLiveSoundController& sound)
    : m_views(views), m_sound(sound) {}

void CLiveViewController::OnMessage(const platform::PostedMessage& m) {
    if (m_view == nullptr)
        return;
    protocol::CClientSession* session = m_connection ? &m_connection->Session() : nullptr;
    switch (m.message) {
        case protocol::WM_SESSION_LOGGED_IN:
            if (session != nullptr)
                m_view->SetChannelCount(session->Login().ChannelCount());
            m_view->ResetStatistics();
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_GRID_MODE:
            if (m.wParam == protocol::kGridLive) {
                if (session != nullptr)
                    m_view->StartLive(session->Login().ChannelCount());
                m_view->SetAudioPolling(true);
            } else if (m.wParam == protocol::kGridNone) {
                m_view->SetAudioPolling(false);
                m_views.SetViewMode(video::ViewMode::Idle);
                m_view->Refresh();
            }
            break;
        case protocol::WM_CLEAR_CHANNEL_GRID:
            m_views.ClearHasPicture();
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_AVAILABLE:
            m_view->SetAvailableChannels(static_cast<protocol::ChannelMask>(m.wParam));
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_HIDDEN:
        case protocol::WM_CHANNEL_TITLES:
        case protocol::WM_REDRAW_CHANNEL_GRID:
        case protocol::WM_PLAYER_INFO:
            m_view->Refresh();
            break;
        default:
            break;
    }
}

void CLiveViewController::OnConnectionClosed() {
    m_views.SetViewMode(video::ViewMode::Idle);
    m_views.ClearHasPicture();
    if (m_view == nullptr)
        return;
    m_view->SetAudioPolling(false);
    m_view->Refresh();
}

void CLiveViewController::OnLayoutApplied(const video::LayoutEffects& effects) {
    if (effects.request && m_connection != nullptr)
        m_connection->SendVisibleSelection(effects.request->mask);
    if (effects.audioChannel)
        m_sound.Select(*effects.audioChannel, Shown());
    else if (effects.recheckAudio)
        RecheckAudio();
}

void CLiveViewController::RecheckAudio() {
    if (m_view != nullptr)
        m_sound.Recheck(Shown());
}

void CLiveViewController::Probe(ResumeState& state) const {
    if (m_view == nullptr)
        return;
    state.layout = m_view->Layout().Layout();
    state.page = m_view->Layout().Page();
}

void CLiveViewController::Restore(const ResumeState& resume) {
    if (m_view == nullptr || resume.layout < 0)
        return;
    m_view->SelectLayout(resume.layout);
    for (int turns = 0; turns < protocol::kMaxChannels && m_view->Layout().Page() != resume.page;
         ++turns)
        m_view->SelectLayout(resume.layout);
}

video::GridStatus CLiveViewController::Status() const {
    video::GridStatus status;
    if (m_connection == nullptr)
        return status;
    status.session = true;
    const protocol::DeviceState device = m_connection->Session().Live().Device();
    status.videoLoss = device.videoLoss;
    status.blocked = device.hidden;
    for (std::size_t c = 0; c < status.cameraFlags.size() && c < device.camInfo.size(); ++c)
        status.cameraFlags[c] = device.camInfo[c];
    return status;
}

video::GridContext CLiveViewController::Context(protocol::GridMode mode) const {
    video::GridContext ctx;
    ctx.mode = mode;
    if (m_connection != nullptr) {
        ctx.liveFrozen = m_connection->Session().Live().Frozen();
        // The channels whose sound the recorder sends: the mask of its last audio element.
        ctx.audioMask = m_connection->State().LastAudioMask();
    }
    return ctx;
}

std::optional<int> CLiveViewController::ChannelCount() const {
    if (m_connection == nullptr || !m_connection->LoggedIn())
        return std::nullopt;
    return m_connection->Session().Login().ChannelCount();
}

protocol::ChannelMask CLiveViewController::Shown() const {
    return m_view != nullptr ? video::FirstRecorderMask(m_view->Layout().VisibleChannels()) : 0;
}

}  // namespace taviro::client
