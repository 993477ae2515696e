#include "client/live_view.h"

#include <algorithm>

#include "protocol/session_messages.h"

namespace taviro::client {

CLiveViewController::CLiveViewController(video::CChannelViews& views, CLiveSoundController& sound)
    : m_views(views), m_sound(sound) {}

void CLiveViewController::SetView(ILiveView* view) {
    m_view = view;
    if (m_view != nullptr && !m_site.Recorders().empty())
        m_view->SetSite(m_site.Recorders());
}

const LiveRecorder* CLiveViewController::Find(int id) const {
    for (const LiveRecorder& r : m_recorders)
        if (r.id == id)
            return &r;
    return nullptr;
}

int CLiveViewController::AttachedId() const {
    if (m_connection == nullptr)
        return -1;
    for (const LiveRecorder& r : m_recorders)
        if (r.connection == m_connection)
            return r.id;
    return -1;
}

video::CChannelViews& CLiveViewController::SingleViews() const {
    return m_recorders.size() == 1 && m_recorders.front().views != nullptr
               ? *m_recorders.front().views
               : m_views;
}

video::CChannelViews& CLiveViewController::AttachedViews() const {
    const LiveRecorder* r = Find(AttachedId());
    return r != nullptr ? *r->views : SingleViews();
}

void CLiveViewController::SetRecorders(std::vector<LiveRecorder> recorders) {
    std::erase_if(recorders, [](const LiveRecorder& r) { return r.views == nullptr; });
    // Called with every message: nothing changed, nothing to draw again.
    const bool same = std::equal(
        recorders.begin(), recorders.end(), m_recorders.begin(), m_recorders.end(),
        [](const LiveRecorder& a, const LiveRecorder& b) {
            return a.id == b.id && a.connection == b.connection && a.views == b.views &&
                   a.name == b.name && a.state == b.state && a.connected == b.connected &&
                   a.key == b.key && a.knownChannels == b.knownChannels;
        });
    if (same)
        return;
    m_recorders = std::move(recorders);
    for (const LiveRecorder& r : m_recorders)
        if (r.connection != nullptr && r.connected)
            m_counts[r.id] = r.connection->Session().Login().ChannelCount();
    std::erase_if(m_counts, [this](const auto& entry) { return Find(entry.first) == nullptr; });
    std::erase_if(m_available, [this](const auto& entry) { return Find(entry.first) == nullptr; });
    std::erase_if(m_sent, [this](const auto& entry) { return Find(entry.first) == nullptr; });
    // The recorders' states may have changed (one lost, one back): the panes say so.
    if (!Compose() && SeveralRecorders())
        Refresh();
}

void CLiveViewController::ConnectionGoing(std::uint32_t generation) {
    for (LiveRecorder& r : m_recorders) {
        if (r.connection != nullptr && r.connection->Generation() == generation) {
            r.connection = nullptr;
            r.connected = false;
        }
    }
}

void CLiveViewController::Refresh() {
    if (m_view != nullptr)
        m_view->Refresh();
}

bool CLiveViewController::Compose() {
    std::vector<video::SiteRecorder> site;
    if (m_recorders.size() == 1) {
        // One recorder: its channels numbered as it numbers them, its own paging.
        site.push_back(video::SiteRecorder{m_recorders.front().id, m_recorders.front().views,
                                           protocol::kMaxChannels});
    } else {
        for (const LiveRecorder& r : m_recorders) {
            // Until it logs in, a recorder takes as many panes as it had when last seen.
            const auto count = m_counts.find(r.id);
            site.push_back(video::SiteRecorder{
                r.id, r.views, count != m_counts.end() ? count->second : r.knownChannels});
        }
    }
    const auto& before = m_site.Recorders();
    const bool same = std::equal(site.begin(), site.end(), before.begin(), before.end(),
                                 [](const video::SiteRecorder& a, const video::SiteRecorder& b) {
                                     return a.id == b.id && a.views == b.views &&
                                            a.channelCount == b.channelCount;
                                 });
    if (same)
        return false;
    const bool wasSeveral = before.size() > 1;
    m_site.Set(std::move(site));
    if (m_view == nullptr)
        return true;
    m_view->SetSite(m_site.Recorders());
    const bool anyLive =
        std::any_of(m_recorders.begin(), m_recorders.end(),
                    [](const LiveRecorder& r) { return r.views->Mode() == video::ViewMode::Live; });
    if (SeveralRecorders()) {
        m_view->SetAvailableChannels(AvailablePanes());
        // A new row of channels starts from its first page, recorder 1's channels first.
        if (anyLive)
            m_view->StartLive(m_site.Count());
        else
            m_view->SetChannelCount(m_site.Count());
        ApplyView();
    } else if (wasSeveral) {
        // Back to one recorder: its own count, paging and available channels.
        const auto available =
            m_recorders.empty() ? m_available.end() : m_available.find(m_recorders.front().id);
        m_view->SetAvailableChannels(available != m_available.end() ? available->second : 0);
        if (const auto count = ChannelCount()) {
            if (anyLive)
                m_view->StartLive(*count);
            else
                m_view->SetChannelCount(*count);
        }
    }
    m_view->Refresh();
    return true;
}

video::PaneMask CLiveViewController::AvailablePanes() const {
    video::PaneMask mask = 0;
    for (const auto& [id, channels] : m_available)
        mask |= m_site.GridMask(channels, id);
    return mask;
}

void CLiveViewController::SendSelections() {
    for (const LiveRecorder& r : m_recorders)
        SendSelection(r);
}

void CLiveViewController::SendSelection(const LiveRecorder& r) {
    // The connection sends nothing unless its live view (or playback) runs; what went out
    // is remembered, so the recorder's answer does not make the same request again.
    if (r.connection == nullptr || m_view == nullptr)
        return;
    const protocol::ChannelMask mask =
        m_site.RecorderMask(m_view->Layout().VisibleChannels(), r.id);
    if (r.connection->SendVisibleSelection(mask))
        m_sent[r.id] = mask;
}

void CLiveViewController::OnMessage(const platform::PostedMessage& m, int recorderId) {
    if (m_view == nullptr)
        return;
    if (SeveralRecorders()) {
        OnSiteMessage(m, recorderId < 0 ? AttachedId() : recorderId);
        return;
    }
    // What each recorder offers is kept for when the grid shows several.
    if (m.message == protocol::WM_CHANNEL_AVAILABLE && !m_recorders.empty())
        m_available[m_recorders.front().id] = static_cast<protocol::ChannelMask>(m.wParam);
    protocol::CClientSession* session = m_connection ? &m_connection->Session() : nullptr;
    switch (m.message) {
        case protocol::WM_SESSION_LOGGED_IN:
            if (session != nullptr)
                m_view->SetChannelCount(session->Login().ChannelCount());
            m_view->ResetStatistics(-1);
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_GRID_MODE:
            if (m.wParam == protocol::kGridLive) {
                if (session != nullptr)
                    m_view->StartLive(session->Login().ChannelCount());
                ApplyView();
                m_view->SetAudioPolling(true);
            } else if (m.wParam == protocol::kGridNone) {
                m_view->SetAudioPolling(false);
                SingleViews().SetViewMode(video::ViewMode::Idle);
                m_view->Refresh();
            }
            break;
        case protocol::WM_CLEAR_CHANNEL_GRID:
            SingleViews().ClearHasPicture();
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_AVAILABLE:
            m_view->SetAvailableChannels(static_cast<protocol::ChannelMask>(m.wParam));
            ApplyViewPage();
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

void CLiveViewController::OnSiteMessage(const platform::PostedMessage& m, int recorderId) {
    const LiveRecorder* r = Find(recorderId);
    if (r == nullptr)
        return;
    const bool attached = recorderId == AttachedId();
    switch (m.message) {
        case protocol::WM_SESSION_LOGGED_IN:
            m_view->ResetStatistics(recorderId);
            if (r->connection != nullptr)
                m_counts[recorderId] = r->connection->Session().Login().ChannelCount();
            // Its live view may have started before the grid knew its channels.
            if (!Compose())
                SendSelection(*r);
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_GRID_MODE:
            if (m.wParam == protocol::kGridLive) {
                // The connection's own live start asks for every channel after this.
                m_sent.erase(recorderId);
                if (r->connection != nullptr && r->connection->LoggedIn())
                    m_counts[recorderId] = r->connection->Session().Login().ChannelCount();
                // A recorder whose channels already have their place is asked for its part
                // of the panes shown; a new row of channels starts live view over all.
                if (!Compose())
                    SendSelection(*r);
                if (attached)
                    m_view->SetAudioPolling(true);
            } else if (m.wParam == protocol::kGridNone) {
                r->views->SetViewMode(video::ViewMode::Idle);
                if (attached)
                    m_view->SetAudioPolling(false);
            }
            m_view->Refresh();
            break;
        case protocol::WM_CLEAR_CHANNEL_GRID:
            r->views->ClearHasPicture();
            m_view->Refresh();
            break;
        case protocol::WM_CHANNEL_AVAILABLE: {
            m_available[recorderId] = static_cast<protocol::ChannelMask>(m.wParam);
            m_view->SetAvailableChannels(AvailablePanes());
            ApplyViewPage();
            // The recorder's live view runs now (it answered a request): it gets its part of
            // the panes unless that is what it was last asked for.
            const auto sent = m_sent.find(recorderId);
            const protocol::ChannelMask wanted =
                m_site.RecorderMask(m_view->Layout().VisibleChannels(), recorderId);
            if (sent == m_sent.end() || sent->second != wanted)
                SendSelection(*r);
            m_view->Refresh();
            break;
        }
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

void CLiveViewController::OnConnectionClosed(int recorderId) {
    if (SeveralRecorders()) {
        // Only that recorder's panes go idle; the others play on.
        if (const LiveRecorder* r = Find(recorderId)) {
            r->views->SetViewMode(video::ViewMode::Idle);
            r->views->ClearHasPicture();
        }
        m_available.erase(recorderId);
        m_sent.erase(recorderId);
        if (m_view == nullptr)
            return;
        m_view->SetAvailableChannels(AvailablePanes());
        if (m_connection == nullptr)
            m_view->SetAudioPolling(false);
        m_view->Refresh();
        return;
    }
    m_available.clear();
    SingleViews().SetViewMode(video::ViewMode::Idle);
    SingleViews().ClearHasPicture();
    if (m_view == nullptr)
        return;
    m_view->SetAudioPolling(false);
    m_view->Refresh();
}

void CLiveViewController::OnLayoutApplied(const video::LayoutEffects& effects) {
    // The operator moved a pane or chose another: the arrangement is his from now on.
    if ((effects.swapped || effects.byOperator) && !m_applyingView)
        m_heldView.reset();
    if (SeveralRecorders()) {
        // Every transition that moved panes (it names the buttons to show) asks each
        // recorder for its part.
        if (effects.buttons && m_view != nullptr)
            SendSelections();
    } else if (effects.request && m_connection != nullptr) {
        m_connection->SendVisibleSelection(effects.request->mask);
    }
    std::optional<int> heard = effects.audioChannel;
    if (heard && SeveralRecorders()) {
        // The chosen pane is heard when it is the attached recorder's.
        const auto at = m_site.At(*heard);
        heard =
            at && at->recorderId == AttachedId() ? std::optional<int>(at->channel) : std::nullopt;
    }
    if (heard)
        m_sound.Select(*heard, Shown());
    else if (effects.recheckAudio || effects.audioChannel)
        RecheckAudio();
}

void CLiveViewController::RecheckAudio() {
    if (m_view != nullptr)
        m_sound.Recheck(Shown());
}

void CLiveViewController::ShowView(SiteView view) {
    m_heldView = std::move(view);
    ApplyView();
}

std::string CLiveViewController::KeyOf(int recorderId) const {
    const LiveRecorder* r = Find(recorderId);
    return r != nullptr ? r->key : std::string();
}

SiteView CLiveViewController::CaptureView() const {
    if (m_view == nullptr)
        return {};
    return client::CaptureView(m_view->Layout(), m_site, [this](int id) { return KeyOf(id); });
}

void CLiveViewController::ApplyView() {
    if (m_view == nullptr || !m_heldView || m_applyingView)
        return;
    m_applyingView = true;
    m_view->Arrange(ArrangementFor(*m_heldView, m_site, [this](int id) { return KeyOf(id); }));
    // The layout pressed once, then again until the page is reached (a page the grid no
    // longer has ends the turns where they began).
    m_view->SelectLayout(m_heldView->layout);
    for (int turns = 0; turns < video::kMaxPanes && m_view->Layout().Page() != m_heldView->page;
         ++turns)
        m_view->SelectLayout(m_heldView->layout);
    m_applyingView = false;
    // Several recorders were each asked for their panes as the panes moved; one recorder
    // is asked here, as a rearrangement carries no request of its own.
    if (!SeveralRecorders() && m_connection != nullptr)
        m_connection->SendVisibleSelection(
            static_cast<protocol::ChannelMask>(m_view->Layout().VisibleChannels()));
}

void CLiveViewController::ApplyViewPage() {
    // A page is reached only once it has an available channel: a view shown before the
    // recorder said which it sends gets its page when it does.
    if (m_view != nullptr && m_heldView &&
        (m_view->Layout().Layout() != m_heldView->layout ||
         m_view->Layout().Page() != m_heldView->page))
        ApplyView();
}

void CLiveViewController::Probe(ResumeState& state) const {
    if (m_view == nullptr)
        return;
    state.layout = m_view->Layout().Layout();
    state.page = m_view->Layout().Page();
}

void CLiveViewController::Restore(const ResumeState& resume) {
    // With several recorders the grid kept its layout while one was away.
    if (m_view == nullptr || resume.layout < 0 || SeveralRecorders())
        return;
    m_view->SelectLayout(resume.layout);
    for (int turns = 0; turns < protocol::kMaxChannels && m_view->Layout().Page() != resume.page;
         ++turns)
        m_view->SelectLayout(resume.layout);
}

video::GridStatus CLiveViewController::Status() const {
    video::GridStatus status;
    if (SeveralRecorders()) {
        const auto& site = m_site.Recorders();
        for (std::size_t place = 0; place < m_recorders.size() && place < site.size(); ++place) {
            const LiveRecorder& r = m_recorders[place];
            status.recorders.push_back(
                video::PaneRecorder{r.name, r.connected ? std::string() : r.state, r.connected});
            if (r.connection == nullptr || !r.connected)
                continue;
            status.session = true;
            const protocol::DeviceState device = r.connection->Session().Live().Device();
            status.videoLoss |= m_site.GridMask(device.videoLoss, r.id);
            status.blocked |= m_site.GridMask(device.hidden, r.id);
            const int offset = m_site.OffsetAt(static_cast<int>(place));
            for (int c = 0; c < site[place].channelCount; ++c)
                if (static_cast<std::size_t>(c) < device.camInfo.size())
                    status.cameraFlags[static_cast<std::size_t>(offset + c)] =
                        device.camInfo[static_cast<std::size_t>(c)];
        }
        return status;
    }
    if (m_connection == nullptr)
        return status;
    status.session = true;
    const protocol::DeviceState device = m_connection->Session().Live().Device();
    status.videoLoss = device.videoLoss;
    status.blocked = device.hidden;
    for (std::size_t c = 0; c < protocol::kMaxChannels && c < device.camInfo.size(); ++c)
        status.cameraFlags[c] = device.camInfo[c];
    return status;
}

video::GridContext CLiveViewController::Context(protocol::GridMode mode) const {
    video::GridContext ctx;
    ctx.mode = mode;
    if (m_connection != nullptr) {
        ctx.liveFrozen = m_connection->Session().Live().Frozen();
        // The channels whose sound the recorder sends: the mask of its last audio element.
        const protocol::ChannelMask audio = m_connection->State().LastAudioMask();
        ctx.audioMask = SeveralRecorders() ? m_site.GridMask(audio, AttachedId()) : audio;
    }
    return ctx;
}

std::optional<int> CLiveViewController::ChannelCount() const {
    if (m_connection == nullptr || !m_connection->LoggedIn())
        return std::nullopt;
    return m_connection->Session().Login().ChannelCount();
}

int CLiveViewController::GridChannelOf(int channel) const {
    return SeveralRecorders() ? m_site.GridChannel(AttachedId(), channel) : channel;
}

std::optional<int> CLiveViewController::GridChannelCount() const {
    if (SeveralRecorders())
        return m_site.Count();
    return ChannelCount();
}

protocol::ChannelMask CLiveViewController::Shown() const {
    if (m_view == nullptr)
        return 0;
    const video::PaneMask visible = m_view->Layout().VisibleChannels();
    return SeveralRecorders() ? m_site.RecorderMask(visible, AttachedId())
                              : video::FirstRecorderMask(visible);
}

}  // namespace taviro::client
