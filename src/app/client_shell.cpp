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
      m_setup(DefaultLocalSetup(m_branding)) {
    m_site = std::make_unique<client::CSite>([this](int id) { return LinkContext(id); },
                                             options.reconnectUnit);
}

client::RecorderLinkContext CClientShell::LinkContext(int id) {
    client::RecorderLinkContext ctx;
    ctx.sink = &m_sink;
    ctx.log = [this] { return std::shared_ptr<logs::ILocalLog>(m_localLog); };
    ctx.nextGeneration = &m_nextGeneration;
    ctx.sessionConfig = [this] {
        protocol::SessionConfig config;
        config.connectTimeout = m_options.connectTimeout;
        config.keepAliveInterval = m_options.keepAliveInterval;
        config.shutdownSendLimit = m_options.shutdownSendLimit;
        config.sendBufferBytes = m_options.sendBufferBytes;
        return config;
    };
    ctx.settings = [this] {
        client::ConnectionSettings made;
        made.quitPause = m_options.quitPause;
        for (std::size_t c = 0; c < kDeinterlaceCount && c < made.deinterlace.size(); ++c)
            made.deinterlace[c] = m_setup.deinterlace[c] != 0;
        made.audioBuffer = m_setup.audioBuffer[0];
        made.soundOut = m_options.audioOutput ? m_soundOut : nullptr;
        made.soundOutputPresent = m_options.audioOutput;
        made.capture = m_captureFactory;
        return made;
    };
    ctx.reconnectEnabled = [this] { return m_setup.reconnect != 0; };
    ctx.audioOutput = m_options.audioOutput;
    // The new connection's live view takes the panes: a local playback ends first.
    ctx.connecting = [this] {
        m_local.Stop();
        m_gridMode = protocol::kGridNone;
    };
    // Local playback follows the selected recorder's connection.
    ctx.attached = [this, id](client::CConnection* connection) {
        if (m_selected < 0)
            m_selected = id;  // the first recorder added
        if (id != m_selected)
            return;
        m_local.Attach(connection);
        if (connection == nullptr)
            m_gridMode = protocol::kGridNone;
    };
    ctx.viewProbe = [this](client::ResumeState& state) {
        if (m_viewProbe)
            m_viewProbe(state);
    };
    ctx.gridMode = [this] { return m_gridMode; };
    return ctx;
}

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
                if (client::CConnection* connection = Connection())
                    connection->SetDeinterlace(static_cast<int>(action.index), action.value != 0);
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
    if (m_options.playerMode || m_quitting)
        return client::CommandResult::kIgnored;
    // One recorder in the window: a second waits until the first has gone. The user's own
    // connect ends whatever a loss or a refusal left waiting.
    if (m_site->AnyConnection())
        return client::CommandResult::kIgnored;
    m_site->RemoveAll();
    KeepSelection();
    return AddRecorder(target, views, pictureFormat).id >= 0 ? client::CommandResult::kDone
                                                             : client::CommandResult::kIgnored;
}

client::CSite::AddResult CClientShell::AddRecorder(const ConnectTarget& target,
                                                   video::CChannelViews& views,
                                                   std::uint32_t pictureFormat) {
    if (m_options.playerMode || m_quitting)
        return {-1, "No recorder can be connected now."};
    // The same recorder left idle is connected afresh in its place.
    auto added = m_site->Add(target, views, pictureFormat);
    KeepSelection();
    return added;
}

client::CSite::AddResult CClientShell::HoldRecorder(const ConnectTarget& target,
                                                    video::CChannelViews& views) {
    if (m_options.playerMode || m_quitting)
        return {-1, "No recorder can be connected now."};
    auto held = m_site->Hold(target, views);
    KeepSelection();
    return held;
}

void CClientShell::DisconnectRecorder(int id) {
    m_site->Remove(id);
    KeepSelection();
}

void CClientShell::KeepSelection() {
    if (m_site->Find(m_selected) == nullptr || m_site->Leaving(m_selected))
        SelectRecorder(m_site->FirstStaying());
}

void CClientShell::SelectRecorder(int id) {
    if (id == m_selected || (id >= 0 && m_site->Find(id) == nullptr))
        return;  // no such recorder, or chosen already
    m_selected = id;
    m_local.Attach(Connection());
    // The grid mode is the selected recorder's (a playback shown keeps its own).
    const client::CConnection* connection = Connection();
    if (m_gridMode == protocol::kGridLive || m_gridMode == protocol::kGridNone)
        m_gridMode = connection != nullptr && connection->LiveRunning() ? protocol::kGridLive
                                                                        : protocol::kGridNone;
}

std::string CClientShell::RecorderName() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr ? link->Name() : std::string();
}

ConnectionState CClientShell::State() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr ? link->State() : ConnectionState::kNone;
}

bool CClientShell::LoggedIn() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr && link->LoggedIn();
}

void CClientShell::CancelReconnect() {
    if (client::CRecorderLink* link = Selected())
        link->CancelReconnect();
}

const client::CReconnectController& CClientShell::Reconnect() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr ? link->Reconnect() : m_noReconnect;
}

bool CClientShell::RetryConnection() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr && link->Retrying();
}

std::optional<client::ResumeState> CClientShell::TakeViewRestore() {
    client::CRecorderLink* link = Selected();
    return link != nullptr ? link->TakeViewRestore() : std::nullopt;
}

void CClientShell::DisconnectMessageRecorder() {
    client::CRecorderLink* link = m_site->Find(m_messageRecorder);
    if (link == nullptr || m_messageRecorder == m_selected) {
        Disconnect();
        return;
    }
    link->Disconnect();  // another recorder's connection ended: the others play on
}

void CClientShell::Disconnect() {
    m_site->DisconnectAll();
    m_sink.Post(platform::Window::Main, platform::WM_CONTROL_STATE, protocol::kCtlLive,
                ControlState::kDisabled);
}

void CClientShell::BeginQuit() {
    if (m_quitting)
        return;
    m_local.Stop();
    m_quitting = true;
    if (!m_site->BeginQuit())
        WriteProgramEnd();
}

void CClientShell::Quit() {
    m_quitting = true;
    m_local.Stop();
    m_local.Drain();
    m_site->Quit();
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

void CClientShell::ReconnectTick(client::CReconnectController::Clock::time_point now) {
    if (!m_quitting)
        m_site->Tick(now);
}

bool CClientShell::LiveRunning() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr && link->Connection() != nullptr && link->Connection()->LiveRunning();
}

bool CClientShell::Talking() const {
    const client::CRecorderLink* link = Selected();
    return link != nullptr && link->Connection() != nullptr && link->Connection()->Talking();
}

client::CommandResult CClientShell::ToggleLive() {
    if (!Connection() || m_gridMode == protocol::kGridPlayback ||
        m_gridMode == protocol::kGridLocal)
        return client::CommandResult::kIgnored;
    return Connection()->ToggleLive();
}

client::CommandResult CClientShell::ToggleRecording() {
    return Connection() ? Connection()->ToggleRecording() : client::CommandResult::kIgnored;
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
    return Connection() ? Connection()->ToggleFreeze() : client::CommandResult::kIgnored;
}

client::CommandResult CClientShell::CheckRights(protocol::Feature feature) {
    if (!LoggedIn()) {
        // Not a question of rights: there is no recorder to ask.
        m_sink.Notify(notify::kCategoryClient, notify::kNoteNotConnected);
        return client::CommandResult::kRefused;
    }
    return Connection()->CheckRights(feature);
}

bool CClientShell::SendVisibleSelection(protocol::ChannelMask visible) {
    return Connection() && Connection()->SendVisibleSelection(visible);
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
            line = Connection()->LoginLine();
            break;
        case ConnectionState::kClosing:
            line = "Disconnecting\u2026";
            break;
    }
    // With several recorders the line says which one the window's services are about: its
    // place, and its description when it has one (the login line names its address).
    if (const client::CRecorderLink* link = Selected(); link != nullptr && m_site->Count() > 1) {
        const auto& target = link->Target();
        std::string prefix = "[" + std::to_string(m_site->IndexOf(m_selected) + 1) + "/" +
                             std::to_string(m_site->Count()) + "]  ";
        if (target && !target->description.empty())
            prefix += target->description + ":  ";
        line = prefix + line;
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
    // The recorder the message being shown came from (the selected one for the window's own).
    const client::CRecorderLink* about = m_site->Find(m_messageRecorder);
    if (about == nullptr)
        about = Selected();
    ctx.recorder = about != nullptr ? about->Name() : std::string();
    if (const client::CConnection* connection = about != nullptr ? about->Connection() : nullptr)
        ctx.transferSizes = connection->TransferSizes();
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
    if (client::CConnection* connection = Connection())
        connection->ResendDatabase();
}

void CClientShell::RebootIfLoggedIn() {
    if (client::CConnection* connection = Connection())
        connection->RebootIfLoggedIn();
}

void CClientShell::InitArchiveIfLoggedIn() {
    if (client::CConnection* connection = Connection())
        connection->InitArchiveIfLoggedIn();
}

client::CommandResult CClientShell::ToggleRecorderAudio() {
    if (!m_options.audioOutput) {
        // Live audio has nowhere to play: said, and the recorder is not asked.
        m_sink.Notify(notify::kCategoryClient, notify::kNoteNoSoundDevice);
        return client::CommandResult::kRefused;
    }
    return Connection() ? Connection()->ToggleRecorderAudio() : client::CommandResult::kIgnored;
}

client::CommandResult CClientShell::PressMike() {
    return Connection() ? Connection()->PressMike() : client::CommandResult::kIgnored;
}

void CClientShell::ChangeFormat(std::uint32_t format) {
    m_site->ChangeFormat(format);
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
    int id = -1;
    if (!m_site->Accept(message, id))
        return false;  // a connection that has ended, or an attempt's failure
    m_messageRecorder = id;
    // The grid's mode and local playback follow the selected recorder (and messages of
    // no connection: the local player's).
    const bool selected = id < 0 || id == m_selected;
    switch (selected ? message.message : 0u) {
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
    // The connection's end: it is gone now, and a quit is over with it.
    if (m_site->Act(message, id, m_quitting)) {
        if (m_quitting && !m_site->AnyConnection())
            WriteProgramEnd();
        else
            KeepSelection();  // the selected recorder may have left
    }
    return true;
}

}  // namespace taviro::app
