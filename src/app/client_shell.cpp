#include "app/client_shell.h"

#include <thread>
#include <utility>

#include "app/storage_folders.h"
#include "audio/audio_onoff.h"
#include "protocol/catalogue.h"
#include "protocol/recorder_time.h"

namespace taviro::app {

using platform::ControlState;
using protocol::Service;

CClientShell::CClientShell(ISettingsStore& settings, platform::IMessageSink& sink,
                           Branding branding, ShellOptions options)
    : m_settings(settings),
      m_sink(sink),
      m_branding(std::move(branding)),
      m_options(options),
      m_setup(DefaultLocalSetup(m_branding)),
      m_talk(sink) {}

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
    m_localLog = std::make_unique<logs::CLocalLog>(
        location, protocol::ProcessZoneOffset().TotalSeconds(), m_options.playerMode);
    m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kProgram, 1);
}

SetupApplyPlan CClientShell::ApplySetup(const LocalSetup& edited) {
    SetupApplyPlan plan = PlanSetupApply(m_setup, edited, m_options.playerMode);
    for (const SetupAction& action : plan.actions) {
        switch (action.step) {
            case SetupStep::kTakeOver:
                m_setup = plan.result;
                break;
            case SetupStep::kDeinterlaceChanged:
                if (m_pipeline)
                    m_pipeline->SetDeinterlace(static_cast<int>(action.index), action.value != 0);
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
                    // The log follows the storage folder to its new place.
                    m_localLog = std::make_unique<logs::CLocalLog>(
                        std::filesystem::path(m_setup.location),
                        protocol::ProcessZoneOffset().TotalSeconds(), m_options.playerMode);
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

CommandResult CClientShell::Connect(const ConnectTarget& target, video::CChannelViews& views,
                                    std::uint32_t pictureFormat) {
    if (m_options.playerMode || m_session)
        return CommandResult::kIgnored;
    protocol::SessionConfig config;
    // The session keeps fixed-width fields; longer texts cannot come from the dialog.
    config.address = target.address.substr(0, 127);
    config.port = static_cast<std::uint16_t>(target.port);
    config.userId = target.user.substr(0, 15);
    config.password = target.password.substr(0, 15);
    config.description = target.description.substr(0, 259);
    config.connectTimeout = m_options.connectTimeout;
    config.keepAliveInterval = m_options.keepAliveInterval;

    m_pipeline = std::make_unique<video::CLivePipeline>(views, pictureFormat, &m_sink);
    for (std::size_t c = 0; c < kDeinterlaceCount; ++c)
        m_pipeline->SetDeinterlace(static_cast<int>(c), m_setup.deinterlace[c] != 0);
    m_pipeline->StartDecoders(protocol::kAllChannels);
    m_session = std::make_unique<protocol::CRecorderSession>(m_sink, m_localLog.get(), config);
    m_pipeline->Attach(*m_session);
    m_session->Connect();
    return CommandResult::kDone;
}

void CClientShell::DropSession() {
    if (m_session) {
        m_session->DestroyWindow();
        // The shutdown sent the talk stop when talk was the running service; the talk
        // object goes before the session it sends through.
        m_talk.OnTalkStopped(m_session.get());
        if (m_pipeline)
            m_pipeline->Detach();
        m_session.reset();
    }
    if (m_pipeline) {
        m_pipeline->StopDecoders(std::chrono::milliseconds(0));
        m_pipeline.reset();
    }
    m_gridMode = platform::kGridNone;
}

void CClientShell::Disconnect() {
    DropSession();
    m_sink.Post(platform::Window::Main, platform::WM_CONTROL_STATE, platform::kCtlLive,
                ControlState::kDisabled);
}

void CClientShell::Pause() const {
    if (m_options.quitPause.count() > 0)
        std::this_thread::sleep_for(m_options.quitPause);
}

void CClientShell::Quit() {
    if (m_quit)
        return;
    m_quit = true;
    if (m_session) {
        // Each running service is stopped with its own request before the goodbye, so a
        // recorder never sees a connection end in the middle of a transfer.
        if (m_session->ServiceOn(Service::Live) || m_session->LivePending()) {
            m_session->StopLive();
            Pause();
        }
        if (m_session->ServiceOn(Service::Playback)) {
            m_session->Send(protocol::msg::RPLAY_STOP);
            m_session->SetServiceOn(Service::Playback, false);
            Pause();
        }
        if (m_session->ServiceOn(Service::Backup)) {
            m_session->Send(protocol::msg::TRANS_OFF_REQ);
            m_session->SetServiceOn(Service::Backup, false);
            Pause();
        }
        if (m_talk.Talking() || m_session->ServiceOn(Service::Talk)) {
            m_talk.StopTalking(m_session.get());  // A_LISTEN_STOP_REQ, talk object destroyed
            m_session->SetServiceOn(Service::Talk, false);
            Pause();
        }
    }
    DropSession();
    if (m_localLog)
        m_localLog->WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kProgram, 2);
}

CommandResult CClientShell::ToggleLive() {
    if (!LoggedIn() || m_gridMode == platform::kGridPlayback || m_gridMode == platform::kGridLocal)
        return CommandResult::kIgnored;
    if (m_session->ServiceOn(Service::Live) || m_session->LivePending()) {
        m_session->StopLive();
    } else {
        m_pipeline->StartDecoders(protocol::kAllChannels);
        m_session->RequestLive();
    }
    return CommandResult::kDone;
}

CommandResult CClientShell::ToggleRecording() {
    if (!LoggedIn())
        return CommandResult::kIgnored;
    if (!m_session->MayUse(protocol::Feature::RecordOnOff)) {
        m_sink.Notify(15, 0);
        return CommandResult::kRefused;
    }
    return m_session->ToggleRecording() ? CommandResult::kDone : CommandResult::kIgnored;
}

CommandResult CClientShell::ToggleFreeze() {
    if (!LoggedIn() || !m_session->ServiceOn(Service::Live))
        return CommandResult::kIgnored;
    m_session->SetFrozen(!m_session->Frozen());
    return CommandResult::kDone;
}

CommandResult CClientShell::CheckRights(protocol::Feature feature) {
    if (!LoggedIn() || !m_session->MayUse(feature)) {
        m_sink.Notify(15, 0);
        return CommandResult::kRefused;
    }
    return CommandResult::kDone;
}

bool CClientShell::SendVisibleSelection(protocol::ChannelMask visible) {
    return LoggedIn() && m_session->SendLiveSelection(visible);
}

void CClientShell::ResendDatabase() {
    if (LoggedIn())
        m_session->SendDatabase();
}

void CClientShell::RebootIfLoggedIn() {
    if (LoggedIn())
        m_session->Reboot();
}

void CClientShell::InitArchiveIfLoggedIn() {
    if (LoggedIn())
        m_session->InitArchive();
}

CommandResult CClientShell::ToggleRecorderAudio() {
    if (!LoggedIn())
        return CommandResult::kIgnored;
    const bool streaming =
        m_session->ServiceOn(Service::Live) || m_session->ServiceOn(Service::Playback);
    const auto result = audio::ToggleRecorderAudio(*m_session, streaming, m_options.audioOutput);
    return result == audio::AudioOnOffResult::kSentOn || result == audio::AudioOnOffResult::kSentOff
               ? CommandResult::kDone
               : CommandResult::kIgnored;
}

audio::MikePress CClientShell::PressMike() {
    return m_talk.Press(m_session.get(), m_options.audioOutput);
}

void CClientShell::OnMessage(const platform::PostedMessage& message) {
    switch (message.message) {
        case platform::WM_TALK_STARTED:
            if (m_session)
                m_talk.OnTalkStarted(*m_session, m_captureFactory ? m_captureFactory() : nullptr);
            break;
        case platform::WM_TALK_STOPPED:
            m_talk.OnTalkStopped(m_session.get());
            break;
        case platform::WM_RELEASE_SESSION:
            // The connect thread failed; its notification follows or came already.
            DropSession();
            break;
        case platform::WM_CHANNEL_GRID_MODE:
            m_gridMode = static_cast<platform::GridMode>(message.wParam);
            if (m_gridMode == platform::kGridLive && m_pipeline) {
                m_pipeline->Views().SetViewMode(video::ViewMode::Live);
                m_pipeline->Views().ClearHasDecoded();
                m_pipeline->StartDecoders(protocol::kAllChannels);
                // Live audio restarts with live view: no channel heard, no mask yet.
                m_pipeline->StartAudio(m_setup.audioBuffer[0],
                                       m_options.audioOutput ? m_soundOut : nullptr);
            }
            break;
        case platform::WM_CHANNEL_HIDDEN:
            if (m_pipeline)
                m_pipeline->State().SetBlockedChannels(
                    static_cast<protocol::ChannelMask>(message.wParam & protocol::kAllChannels));
            break;
        default:
            break;
    }
}

}  // namespace taviro::app
