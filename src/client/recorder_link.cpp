#include "client/recorder_link.h"

#include <utility>

#include "notify/notifications.h"
#include "platform/trace.h"
#include "protocol/session_messages.h"

namespace taviro::client {

CRecorderLink::CRecorderLink(RecorderLinkContext context, std::chrono::milliseconds reconnectUnit)
    : m_ctx(std::move(context)), m_reconnect(reconnectUnit) {}

CRecorderLink::~CRecorderLink() {
    Quit();
}

CommandResult CRecorderLink::Connect(const RecorderTarget& target, video::CChannelViews& views,
                                     std::uint32_t format) {
    if (m_connection)
        return CommandResult::kIgnored;
    // A connection of the user's own ends whatever the last loss left waiting.
    m_reconnect.Reset();
    m_lostAt.reset();
    m_viewRestore.reset();
    m_target = target;
    m_lastEnd = protocol::SessionEnd::kRunning;
    m_views = &views;
    m_format = format;
    m_retry = false;
    m_held = false;
    MakeConnection(format, -1);
    return CommandResult::kDone;
}

void CRecorderLink::Hold(const RecorderTarget& target, video::CChannelViews& views) {
    if (m_connection)
        return;
    m_reconnect.Reset();
    m_target = target;
    m_target->password.clear();
    m_views = &views;
    m_held = true;
}

void CRecorderLink::MakeConnection(std::uint32_t format, int heardChannel) {
    protocol::SessionConfig config = m_ctx.sessionConfig();
    // The session keeps fixed-width fields; longer texts cannot come from the dialog.
    config.address = m_target->address.substr(0, 127);
    config.port = static_cast<std::uint16_t>(m_target->port);
    config.userId = m_target->user.substr(0, 15);
    config.password = m_target->password.substr(0, 15);
    config.description = m_target->description.substr(0, 259);
    ConnectionSettings settings = m_ctx.settings();
    settings.pictureFormat = format;
    settings.heardChannel = heardChannel;
    m_ctx.connecting();
    m_connection =
        std::make_unique<CConnection>(*m_ctx.sink, (*m_ctx.nextGeneration)++, m_ctx.log(), *m_views,
                                      std::move(config), std::move(settings));
    m_ctx.attached(m_connection.get());
    m_connection->Start();
}

void CRecorderLink::Disconnect() {
    // The user's disconnect (or the popup of an ended connection): no attempt follows.
    if (m_reconnect.Active())
        m_reconnect.Cancel();
    if (m_connection)
        m_connection->BeginClose(CloseKind::kDisconnect);
}

bool CRecorderLink::BeginQuit() {
    m_reconnect.Cancel();
    if (!m_connection)
        return false;
    // A disconnect already running still ends the connection; the quit then finishes.
    m_connection->BeginClose(CloseKind::kQuit);
    return true;
}

void CRecorderLink::Quit() {
    m_reconnect.Cancel();
    if (!m_connection)
        return;
    m_connection->Close(CloseKind::kQuit);
    m_ctx.attached(nullptr);
    m_connection.reset();
}

void CRecorderLink::ChangeFormat(std::uint32_t format) {
    m_format = format;
    if (m_connection)
        m_connection->ChangeFormat(format);
}

ConnectionState CRecorderLink::State() const {
    if (!m_connection)
        return ConnectionState::kNone;
    if (m_connection->Closing())
        return ConnectionState::kClosing;
    return m_connection->LoggedIn() ? ConnectionState::kConnected : ConnectionState::kConnecting;
}

bool CRecorderLink::LoggedIn() const {
    return m_connection && !m_connection->Closing() && m_connection->LoggedIn();
}

std::string CRecorderLink::Name() const {
    if (!m_connection)
        return {};
    const auto& config = m_connection->Session().Transport().Config();
    return config.address + ":" + std::to_string(config.port);
}

void CRecorderLink::ConnectionEnded(bool quitting) {
    // How it ended is final now: the session's threads have all been joined.
    const protocol::CRecorderSession& transport = m_connection->Session().Transport();
    const protocol::SessionEnd end = transport.EndCause();
    m_lastEnd = end;
    const bool wasLoggedIn = transport.WasLoggedIn();
    const bool retry = m_retry;
    if (wasLoggedIn && !m_lostAt)
        m_lostAt = CaptureResume();  // lost without a (2, 0) seen (it was dropped)
    const ResumeState lostAt = m_lostAt.value_or(ResumeState{});
    // The worker has finished: destroying the connection only joins an idle thread.
    m_ctx.attached(nullptr);
    m_connection.reset();
    m_retry = false;
    m_lostAt.reset();
    if (quitting) {
        m_reconnect.Cancel();
        return;
    }
    const auto now = CReconnectController::Clock::now();
    const bool enabled = m_ctx.reconnectEnabled() && m_target && m_views != nullptr;
    if (end == protocol::SessionEnd::kLost && wasLoggedIn) {
        // A logged-in connection broke without a goodbye: the first wait starts (again,
        // when a restored connection is lost once more).
        WriteReconnectLog(logs::entry::kConnectionLost);
        if (enabled && m_reconnect.State() != ReconnectState::kCancelled)
            m_reconnect.OnLost(lostAt, now);
        return;
    }
    if (!retry || !m_reconnect.Active())
        return;
    switch (end) {
        case protocol::SessionEnd::kGoodbye:
        case protocol::SessionEnd::kRefused:
            // Wrong password, a refusal, an unsupported product: asking again changes
            // nothing. The recorder's reason was shown as its notification.
            m_reconnect.OnRefused(end == protocol::SessionEnd::kGoodbye
                                      ? "the recorder said goodbye"
                                      : "the recorder is no supported product");
            break;
        case protocol::SessionEnd::kStopped:
            m_reconnect.Cancel();
            break;
        default:
            // Not reached, refused by the network, or lost before the login answer: the
            // recorder is still away.
            m_reconnect.OnAttemptFailed(now);
            break;
    }
}

ResumeState CRecorderLink::CaptureResume() {
    ResumeState state;
    if (m_connection) {
        const protocol::GridMode mode = m_ctx.gridMode();
        state.live = m_connection->LiveRunning() || mode == protocol::kGridLive;
        state.playback = m_connection->Playback().Running() || mode == protocol::kGridPlayback;
        state.backup = m_connection->Backup().Running();
        state.heardChannel = m_connection->Audio().Selection().Selected();
        const protocol::CRecorderSession& transport = m_connection->Session().Transport();
        state.recorderAudio = transport.AudioOn() || transport.AudioOnAtEnd();
    }
    if (m_ctx.viewProbe)
        m_ctx.viewProbe(state);
    return state;
}

void CRecorderLink::WriteReconnectLog(std::uint32_t subType) {
    if (const auto log = m_ctx.log(); log && m_target) {
        log->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kConnection, subType,
                           m_target->user.substr(0, 15), m_target->address.substr(0, 127));
    }
}

void CRecorderLink::Tick(CReconnectController::Clock::time_point now) {
    if (m_connection && m_restoreAudio && !m_connection->Closing() && m_connection->LoggedIn() &&
        m_connection->LiveRunning()) {
        // The recorder's audio was on at the loss: asked for again once live view runs
        // on the restored connection (it is sent only with a stream to carry it).
        m_restoreAudio = false;
        if (!m_connection->Session().Transport().AudioOn())
            m_connection->ToggleRecorderAudio();
    }
    if (m_connection) {
        // Every failed connect asks for its release; should one not, an attempt's
        // connection is closed here all the same, so that the next wait can start.
        if (m_retry && !m_connection->Closing() &&
            m_connection->Session().Transport().EndCause() == protocol::SessionEnd::kConnectFailed)
            m_connection->BeginClose(CloseKind::kDisconnect);
        return;
    }
    if (!m_reconnect.Poll(now) || !m_target || m_views == nullptr)
        return;
    platform::Trace("reconnect: attempt %d to %s\n", m_reconnect.Attempts(),
                    m_target->address.c_str());
    m_retry = true;
    MakeConnection(m_format, m_reconnect.Resume().heardChannel);
}

void CRecorderLink::CancelReconnect() {
    m_reconnect.Cancel();
    if (m_connection && m_retry && !m_connection->Closing())
        m_connection->BeginClose(CloseKind::kDisconnect);
}

bool CRecorderLink::FilterRetryMessage(const platform::PostedMessage& message) {
    if (message.message == protocol::WM_RELEASE_SESSION) {
        m_connection->BeginClose(CloseKind::kDisconnect);
        return false;
    }
    if (message.message != platform::WM_RECORDER_NOTIFY)
        return true;
    const int category = platform::NotifyCategory(message.lParam);
    if (category == 0 || category == 1) {
        return false;  // the recorder is still away; the bar says so
    }
    if (category == 2) {
        // The attempt's connection ended before its login: torn down here, without the
        // window's popup.
        m_connection->BeginClose(CloseKind::kDisconnect);
        return false;
    }
    return true;  // refusals and goodbyes say why, as for any connection
}

bool CRecorderLink::Accept(const platform::PostedMessage& message) {
    if (message.generation == 0)
        return true;  // not a connection's message
    if (!m_connection || message.generation != m_connection->Generation())
        return false;  // a connection that has ended: nothing of it reaches the window
    const protocol::CRecorderSession& transport = m_connection->Session().Transport();
    const bool ended = message.message == platform::WM_RECORDER_NOTIFY &&
                       platform::NotifyCategory(message.lParam) == notify::kCategoryDisconnect;
    if (ended && !m_lostAt && transport.EndCause() == protocol::SessionEnd::kLost &&
        transport.WasLoggedIn())
        m_lostAt = CaptureResume();  // before the teardown clears what ran
    if (m_retry && !FilterRetryMessage(message))
        return false;
    // The user's own disconnect (or quit) ends the session too: that is no news, and "the
    // connection has ended" would read as a failure.
    if (ended && transport.EndCause() == protocol::SessionEnd::kStopped)
        return false;
    // A restored connection lost again at once (a recorder that drops every connection
    // right after its log-in): torn down without a popup, so none pile up while the waits
    // go on.
    if (!m_retry && ended && m_ctx.reconnectEnabled() &&
        m_reconnect.RecentlyRestored(CReconnectController::Clock::now()) &&
        transport.EndCause() == protocol::SessionEnd::kLost) {
        m_connection->BeginClose(CloseKind::kDisconnect);
        return false;
    }
    if (m_retry && message.message == protocol::WM_SESSION_LOGGED_IN &&
        m_reconnect.State() == ReconnectState::kConnecting) {
        const auto resume = m_reconnect.OnLoggedIn(CReconnectController::Clock::now());
        // From here on it is a connection like the user's own: a later loss shows and
        // counts as a new one (unless it comes at once, see above).
        m_retry = false;
        WriteReconnectLog(logs::entry::kConnectionBack);
        if (resume) {
            m_viewRestore = *resume;
            m_restoreAudio = resume->recorderAudio && m_ctx.audioOutput;
            // The login asks for live view by itself; it stays off when it was off.
            if (!resume->live && !resume->playback)
                m_connection->StopLive();
        }
    }
    return true;
}

bool CRecorderLink::Act(const platform::PostedMessage& message, bool quitting) {
    if (!m_connection)
        return false;
    switch (message.message) {
        case WM_CONNECTION_CLOSED:
            ConnectionEnded(quitting);
            return true;
        case protocol::WM_TALK_STARTED:
            m_connection->OnTalkStarted();
            break;
        case protocol::WM_TALK_STOPPED:
            m_connection->OnTalkStopped();
            break;
        case protocol::WM_RELEASE_SESSION:
            // The connect thread failed; its notification follows or came already.
            m_connection->BeginClose(CloseKind::kDisconnect);
            break;
        case protocol::WM_CHANNEL_HIDDEN:
            m_connection->OnHiddenChannels(static_cast<protocol::ChannelMask>(message.wParam));
            break;
        default:
            break;
    }
    return false;
}

}  // namespace taviro::client
