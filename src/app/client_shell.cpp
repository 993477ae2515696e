#include "app/client_shell.h"

#include <future>

#include <utility>

#include "app/storage_folders.h"
#include "client/connection.h"
#include "client/local_playback.h"
#include "notify/notifications.h"
#include "platform/trace.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"

namespace taviro::app {

using platform::ControlState;

CClientShell::CClientShell(platform::ISettingsStore& settings, platform::IMessageSink& sink,
                           Branding branding, ShellOptions options)
    : m_settings(settings),
      m_sink(sink),
      m_branding(std::move(branding)),
      m_options(options),
      m_setup(DefaultLocalSetup(m_branding)),
      m_reconnect(options.reconnectUnit) {}

CClientShell::~CClientShell() {
    Quit();
}

void CClientShell::StartUp() {
    if (m_started)
        return;
    m_started = true;
    m_setup = LoadLocalSetup(m_settings, m_branding);
    const std::filesystem::path location(m_setup.location);
    PrepareStartFolders(location, m_options.playerMode);
    // In player mode the log refuses every entry: nothing is written from a CD.
    m_localLog = std::make_shared<logs::CLocalLog>(location, m_options.playerMode);
    m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kProgram, 1);
}

SetupApplyPlan CClientShell::ApplySetup(const LocalSetup& edited) {
    SetupApplyPlan plan = PlanSetupApply(m_setup, edited, m_options.playerMode);
    for (const SetupAction& action : plan.actions) {
        switch (action.step) {
            case SetupStep::kTakeOver:
                m_setup = plan.result;
                // Switched off while waiting: no further attempt.
                if (m_setup.reconnect == 0)
                    CancelReconnect();
                break;
            case SetupStep::kDeinterlaceChanged:
                if (m_connection)
                    m_connection->SetDeinterlace(static_cast<int>(action.index), action.value != 0);
                break;
            case SetupStep::kSave:
                SaveLocalSetup(m_settings, m_setup);  // a write failure is not reported
                break;
            case SetupStep::kEnsureUpgradeFolder:
                EnsureSubFolder(std::filesystem::path(m_setup.location),
                                StorageSubFolder::kUpgrade);
                break;
            case SetupStep::kWriteLocalLog:
                if (m_localLog) {
                    // The log follows the storage folder to its new place. It is the same
                    // object a running session writes to, so nothing it holds goes stale.
                    m_localLog->MoveTo(std::filesystem::path(m_setup.location));
                    m_localLog->WriteLocalLog(logs::kLocalLogRecordSize,
                                              static_cast<std::uint32_t>(action.index),
                                              action.value);
                }
                break;
            default:
                break;  // window steps (grid, opacity of later windows) are the window's
        }
    }
    return plan;
}

client::CommandResult CClientShell::Connect(const ConnectTarget& target,
                                            video::CChannelViews& views,
                                            std::uint32_t pictureFormat) {
    if (m_options.playerMode || m_connection || m_quitting)
        return client::CommandResult::kIgnored;
    // A connection of the user's own ends whatever the last loss left waiting.
    m_reconnect.Reset();
    m_lostAt.reset();
    m_viewRestore.reset();
    m_lastTarget = target;
    m_lastViews = &views;
    m_lastFormat = pictureFormat;
    m_retry = false;
    MakeConnection(target, views, pictureFormat, -1);
    return client::CommandResult::kDone;
}

void CClientShell::MakeConnection(const ConnectTarget& target, video::CChannelViews& views,
                                  std::uint32_t pictureFormat, int heardChannel) {
    protocol::SessionConfig config;
    // The session keeps fixed-width fields; longer texts cannot come from the dialog.
    config.address = target.address.substr(0, 127);
    config.port = static_cast<std::uint16_t>(target.port);
    config.userId = target.user.substr(0, 15);
    config.password = target.password.substr(0, 15);
    config.description = target.description.substr(0, 259);
    config.connectTimeout = m_options.connectTimeout;
    config.keepAliveInterval = m_options.keepAliveInterval;
    config.shutdownSendLimit = m_options.shutdownSendLimit;
    config.sendBufferBytes = m_options.sendBufferBytes;

    client::ConnectionSettings settings;
    settings.quitPause = m_options.quitPause;
    settings.pictureFormat = pictureFormat;
    for (std::size_t c = 0; c < kDeinterlaceCount && c < settings.deinterlace.size(); ++c)
        settings.deinterlace[c] = m_setup.deinterlace[c] != 0;
    settings.audioBuffer = m_setup.audioBuffer[0];
    settings.soundOut = m_options.audioOutput ? m_soundOut : nullptr;
    settings.soundOutputPresent = m_options.audioOutput;
    settings.capture = m_captureFactory;
    settings.heardChannel = heardChannel;

    // The new connection's live view takes the panes: a local playback ends first.
    m_local.Stop();
    m_gridMode = protocol::kGridNone;
    m_connection = std::make_unique<client::CConnection>(
        m_sink, m_nextGeneration++, m_localLog, views, std::move(config), std::move(settings));
    m_local.Attach(m_connection.get());
    m_connection->Start();
}

void CClientShell::Disconnect() {
    // The user's disconnect (or the popup of an ended connection): no attempt follows.
    if (m_reconnect.Active())
        m_reconnect.Cancel();
    if (m_connection)
        m_connection->BeginClose(client::CloseKind::kDisconnect);
    m_sink.Post(platform::Window::Main, platform::WM_CONTROL_STATE, protocol::kCtlLive,
                ControlState::kDisabled);
}

void CClientShell::BeginQuit() {
    if (m_quitting)
        return;
    m_local.Stop();
    m_quitting = true;
    m_reconnect.Cancel();
    if (m_connection) {
        // A disconnect already running still ends the connection; the quit then finishes.
        m_connection->BeginClose(client::CloseKind::kQuit);
        return;
    }
    WriteProgramEnd();
}

void CClientShell::Quit() {
    m_quitting = true;
    m_local.Stop();
    m_local.Drain();
    if (m_connection) {
        m_connection->Close(client::CloseKind::kQuit);
        m_local.Attach(nullptr);
        m_connection.reset();
    }
    WriteProgramEnd();
}

void CClientShell::WriteProgramEnd() {
    if (m_quitDone)
        return;
    m_quitDone = true;
    m_gridMode = protocol::kGridNone;
    if (m_localLog)
        m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kProgram, 2);
}

void CClientShell::ConnectionEnded() {
    if (!m_connection)
        return;
    // How it ended is final now: the session's threads have all been joined.
    const protocol::CRecorderSession& transport = m_connection->Session().Transport();
    const protocol::SessionEnd end = transport.EndCause();
    const bool wasLoggedIn = transport.WasLoggedIn();
    const bool retry = m_retry;
    if (wasLoggedIn && !m_lostAt)
        m_lostAt = CaptureResume();  // lost without a (2, 0) seen (it was dropped)
    const client::ResumeState lostAt = m_lostAt.value_or(client::ResumeState{});
    // The worker has finished: destroying the connection only joins an idle thread.
    m_local.Attach(nullptr);
    m_connection.reset();
    m_retry = false;
    m_lostAt.reset();
    m_gridMode = protocol::kGridNone;
    if (m_quitting) {
        m_reconnect.Cancel();
        WriteProgramEnd();
        return;
    }
    const auto now = client::CReconnectController::Clock::now();
    const bool enabled = m_setup.reconnect != 0 && m_lastTarget && m_lastViews != nullptr;
    if (end == protocol::SessionEnd::kLost && wasLoggedIn) {
        // A logged-in connection broke without a goodbye: the first wait starts (again,
        // when a restored connection is lost once more).
        WriteReconnectLog(logs::entry::kConnectionLost);
        if (enabled && m_reconnect.State() != client::ReconnectState::kCancelled)
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

client::ResumeState CClientShell::CaptureResume() {
    client::ResumeState state;
    if (m_connection) {
        state.live = m_connection->LiveRunning() || m_gridMode == protocol::kGridLive;
        state.playback =
            m_connection->Playback().Running() || m_gridMode == protocol::kGridPlayback;
        state.backup = m_connection->Backup().Running();
        state.heardChannel = m_connection->Audio().Selection().Selected();
        const protocol::CRecorderSession& transport = m_connection->Session().Transport();
        state.recorderAudio = transport.AudioOn() || transport.AudioOnAtEnd();
    }
    if (m_viewProbe)
        m_viewProbe(state);
    return state;
}

void CClientShell::WriteReconnectLog(std::uint32_t subType) {
    if (m_localLog && m_lastTarget) {
        m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kConnection, subType,
                                  m_lastTarget->user.substr(0, 15),
                                  m_lastTarget->address.substr(0, 127));
    }
}

void CClientShell::ReconnectTick(client::CReconnectController::Clock::time_point now) {
    if (m_quitting)
        return;
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
            m_connection->BeginClose(client::CloseKind::kDisconnect);
        return;
    }
    if (!m_reconnect.Poll(now) || !m_lastTarget || m_lastViews == nullptr)
        return;
    platform::Trace("reconnect: attempt %d to %s\n", m_reconnect.Attempts(),
                    m_lastTarget->address.c_str());
    m_retry = true;
    MakeConnection(*m_lastTarget, *m_lastViews, m_lastFormat, m_reconnect.Resume().heardChannel);
}

void CClientShell::CancelReconnect() {
    m_reconnect.Cancel();
    if (m_connection && m_retry && !m_connection->Closing())
        m_connection->BeginClose(client::CloseKind::kDisconnect);
}

bool CClientShell::FilterRetryMessage(const platform::PostedMessage& message) {
    if (message.message == protocol::WM_RELEASE_SESSION) {
        m_connection->BeginClose(client::CloseKind::kDisconnect);
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
        m_connection->BeginClose(client::CloseKind::kDisconnect);
        return false;
    }
    return true;  // refusals and goodbyes say why, as for any connection
}

ConnectionState CClientShell::State() const {
    if (!m_connection)
        return ConnectionState::kNone;
    if (m_connection->Closing())
        return ConnectionState::kClosing;
    return m_connection->LoggedIn() ? ConnectionState::kConnected : ConnectionState::kConnecting;
}

bool CClientShell::LoggedIn() const {
    return m_connection && !m_connection->Closing() && m_connection->LoggedIn();
}

bool CClientShell::LiveRunning() const {
    return m_connection && m_connection->LiveRunning();
}

bool CClientShell::Talking() const {
    return m_connection && m_connection->Talking();
}

client::CommandResult CClientShell::ToggleLive() {
    if (!m_connection || m_gridMode == protocol::kGridPlayback ||
        m_gridMode == protocol::kGridLocal)
        return client::CommandResult::kIgnored;
    return m_connection->ToggleLive();
}

client::CommandResult CClientShell::ToggleRecording() {
    return m_connection ? m_connection->ToggleRecording() : client::CommandResult::kIgnored;
}

bool CClientShell::Command(std::uint32_t id) {
    const bool transport = id >= 340 && id <= 346 && id != 344;
    if (id == 343 && m_gridMode == protocol::kGridLive)
        ToggleFreeze();
    else if (transport && m_gridMode == protocol::kGridLocal)
        m_local.Button(id);
    else if (id == 344)
        ToggleRecording();
    else if (id == 369)
        ToggleLive();
    else if (id == 378)
        ToggleRecorderAudio();
    else if (id == 375)
        m_sink.Notify(19, 0);
    else if (id == 376 && CheckRights(protocol::Feature::Talk) == client::CommandResult::kDone)
        PressMike();
    else
        return id == 376;
    return true;
}

client::CommandResult CClientShell::ToggleFreeze() {
    return m_connection ? m_connection->ToggleFreeze() : client::CommandResult::kIgnored;
}

client::CommandResult CClientShell::CheckRights(protocol::Feature feature) {
    if (!LoggedIn()) {
        // Not a question of rights: there is no recorder to ask.
        m_sink.Notify(notify::kCategoryClient, notify::kNoteNotConnected);
        return client::CommandResult::kRefused;
    }
    return m_connection->CheckRights(feature);
}

bool CClientShell::SendVisibleSelection(protocol::ChannelMask visible) {
    return m_connection && m_connection->SendVisibleSelection(visible);
}

std::string CClientShell::StatusLine(const std::string& remoteTitle) {
    std::string line;
    switch (State()) {
        case ConnectionState::kNone:
            break;
        case ConnectionState::kConnecting:
            line = "Connecting\u2026";
            break;
        case ConnectionState::kConnected:
            line = m_connection->LoginLine();
            break;
        case ConnectionState::kClosing:
            line = "Disconnecting\u2026";
            break;
    }
    if (!remoteTitle.empty())
        return remoteTitle + "   " + line;
    if (m_local.Shown() && !m_local.Title().empty())
        return m_local.Title() + "   " + line;
    return line;
}

notify::NotificationContext CClientShell::NotificationContext(
    const std::array<std::uint16_t, 4>& version, notify::TextLookup text) {
    notify::NotificationContext ctx;
    ctx.version = version;
    ctx.text = std::move(text);
    ctx.recorder = RecorderName();
    if (m_connection)
        ctx.transferSizes = m_connection->TransferSizes();
    return ctx;
}

notify::SessionFacts CClientShell::NotificationFacts() {
    notify::SessionFacts facts;
    facts.loggedIn = LoggedIn();
    if (protocol::CClientSession* session = Session()) {
        facts.recording = session->Live().Recording();
        facts.mayInitArchive = session->Live().MayUse(protocol::Feature::RecordOnOff);
    }
    return facts;
}

bool CClientShell::RunFollowUp(notify::FollowUpAction action) {
    switch (action) {
        case notify::FollowUpAction::kSendDatabase:
            ResendDatabase();
            return false;
        case notify::FollowUpAction::kSendReboot:
            RebootIfLoggedIn();
            return false;
        case notify::FollowUpAction::kSendArchiveInit:
            InitArchiveIfLoggedIn();
            return false;
        case notify::FollowUpAction::kNotifyInitArchive:
            m_sink.Notify(14, 0);
            return false;
        case notify::FollowUpAction::kNotifyRefused:
            m_sink.Notify(15, 0);
            return false;
        case notify::FollowUpAction::kOpenSearch:
        case notify::FollowUpAction::kStartFirmware:
            return true;
        case notify::FollowUpAction::kNothing:
            break;
    }
    return false;
}

void CClientShell::ResendDatabase() {
    if (m_connection)
        m_connection->ResendDatabase();
}

void CClientShell::RebootIfLoggedIn() {
    if (m_connection)
        m_connection->RebootIfLoggedIn();
}

void CClientShell::InitArchiveIfLoggedIn() {
    if (m_connection)
        m_connection->InitArchiveIfLoggedIn();
}

client::CommandResult CClientShell::ToggleRecorderAudio() {
    if (!m_options.audioOutput) {
        // Live audio has nowhere to play: said, and the recorder is not asked.
        m_sink.Notify(notify::kCategoryClient, notify::kNoteNoSoundDevice);
        return client::CommandResult::kRefused;
    }
    return m_connection ? m_connection->ToggleRecorderAudio() : client::CommandResult::kIgnored;
}

client::CommandResult CClientShell::PressMike() {
    return m_connection ? m_connection->PressMike() : client::CommandResult::kIgnored;
}

void CClientShell::ChangeFormat(std::uint32_t format) {
    if (m_connection)
        m_connection->ChangeFormat(format);
}

client::LocalPlaybackSettings CClientShell::LocalSettings(std::uint32_t pictureFormat) const {
    client::LocalPlaybackSettings settings;
    settings.folder = SubFolderPath(m_setup.LocationPath(), StorageSubFolder::kDownload);
    settings.pictureFormat = pictureFormat;
    settings.watermark = m_setup.watermark != 0;
    settings.soundOut = m_soundOut;
    settings.audioBuffer = m_setup.audioBuffer[2];
    for (std::size_t c = 0; c < settings.deinterlace.size(); ++c)
        settings.deinterlace[c] = m_setup.deinterlace[c] != 0;
    settings.log = m_localLog;
    return settings;
}

bool CClientShell::OnMessage(const platform::PostedMessage& message) {
    if (message.generation != 0 &&
        (!m_connection || message.generation != m_connection->Generation()))
        return false;  // a connection that has ended: nothing of it reaches the window
    if (m_connection && message.generation != 0) {
        if (message.message == platform::WM_RECORDER_NOTIFY &&
            platform::NotifyCategory(message.lParam) == 2 && !m_lostAt &&
            m_connection->Session().Transport().EndCause() == protocol::SessionEnd::kLost &&
            m_connection->Session().Transport().WasLoggedIn())
            m_lostAt = CaptureResume();  // before the teardown clears what ran
        if (m_retry && !FilterRetryMessage(message))
            return false;
        // The user's own disconnect (or quit) ends the session too: that is no news, and
        // "the connection has ended" would read as a failure.
        if (message.message == platform::WM_RECORDER_NOTIFY &&
            platform::NotifyCategory(message.lParam) == notify::kCategoryDisconnect &&
            m_connection->Session().Transport().EndCause() == protocol::SessionEnd::kStopped)
            return false;
        // A restored connection lost again at once (a recorder that drops every connection
        // right after its log-in): torn down without a popup, so none pile up while the
        // waits go on.
        if (!m_retry && message.message == platform::WM_RECORDER_NOTIFY &&
            platform::NotifyCategory(message.lParam) == 2 && m_setup.reconnect != 0 &&
            m_reconnect.RecentlyRestored(client::CReconnectController::Clock::now()) &&
            m_connection->Session().Transport().EndCause() == protocol::SessionEnd::kLost) {
            m_connection->BeginClose(client::CloseKind::kDisconnect);
            return false;
        }
        if (m_retry && message.message == protocol::WM_SESSION_LOGGED_IN &&
            m_reconnect.State() == client::ReconnectState::kConnecting) {
            const auto resume = m_reconnect.OnLoggedIn(client::CReconnectController::Clock::now());
            // From here on it is a connection like the user's own: a later loss shows and
            // counts as a new one (unless it comes at once, see above).
            m_retry = false;
            WriteReconnectLog(logs::entry::kConnectionBack);
            if (resume) {
                m_viewRestore = *resume;
                m_restoreAudio = resume->recorderAudio && m_options.audioOutput;
                // The login asks for live view by itself; it stays off when it was off.
                if (!resume->live && !resume->playback)
                    m_connection->StopLive();
            }
        }
    }
    switch (message.message) {
        case client::WM_CONNECTION_CLOSED:
            ConnectionEnded();
            break;
        case protocol::WM_CHANNEL_GRID_MODE:
            m_gridMode = static_cast<protocol::GridMode>(message.wParam);
            m_local.OnMessage(message);
            break;
        case client::WM_LOCAL_STOPPED:
        case client::WM_LOCAL_STATE:
        case client::WM_LOCAL_SEGMENT:
        case client::WM_LOCAL_POSITION:
            m_local.OnMessage(message);
            break;
        case recordings::WM_PLAY_STARTED:
            m_gridMode = protocol::kGridPlayback;
            break;
        case recordings::WM_PLAY_STOPPED:
            if (m_gridMode == protocol::kGridPlayback)
                m_gridMode = protocol::kGridNone;
            break;
        default:
            break;
    }
    if (!m_connection)
        return true;
    switch (message.message) {
        case protocol::WM_TALK_STARTED:
            m_connection->OnTalkStarted();
            break;
        case protocol::WM_TALK_STOPPED:
            m_connection->OnTalkStopped();
            break;
        case protocol::WM_RELEASE_SESSION:
            // The connect thread failed; its notification follows or came already.
            m_connection->BeginClose(client::CloseKind::kDisconnect);
            break;
        case protocol::WM_CHANNEL_HIDDEN:
            m_connection->OnHiddenChannels(static_cast<protocol::ChannelMask>(message.wParam));
            break;
        default:
            break;
    }
    return true;
}

}  // namespace taviro::app
