#include "client/connection.h"

#include <thread>
#include <utility>

#include "audio/audio_onoff.h"
#include "platform/h264_decoder.h"
#include "platform/trace.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"

namespace taviro::client {

using protocol::Service;

CConnection::CConnection(platform::IMessageSink& windowSink, std::uint32_t generation,
                         std::shared_ptr<logs::ILocalLog> localLog, video::CChannelViews& views,
                         protocol::SessionConfig config, ConnectionSettings settings)
    : m_sink(windowSink, generation),
      m_views(views),
      m_settings(std::move(settings)),
      m_frames(m_state, m_slots),
      m_session(std::make_unique<protocol::CClientSession>(m_sink, std::move(localLog),
                                                           std::move(config))),
      m_playback(m_session->Transport(), m_session->Login(), m_state),
      m_backup(m_session->Transport(), m_session->Login()),
      m_search(m_session->Transport()),
      m_info(m_session->Transport()),
      m_ptz(m_session->Transport()),
      m_firmware(m_session->Transport()),
      m_pipeline(views, m_state, m_slots, m_settings.pictureFormat, &m_sink,
                 [this](int channel) { return m_session->Live().Title(channel); }),
      m_audio(m_state, m_slots),
      m_talk(m_sink) {
    m_session->Transport().AddService(m_playback);
    m_session->Transport().AddService(m_backup);
    m_session->Transport().AddService(m_search);
    m_session->Transport().AddService(m_info);
    m_session->Transport().AddService(m_ptz);
    m_session->Transport().AddService(m_firmware);
    m_session->Live().SetStreamReceiver(this);
    m_session->Live().SetLiveConsumers(this);
    m_playback.SetStreamReceiver(this);
    m_playback.SetConsumers(this);
    m_frames.SetPlayGate(&m_playback);
    for (std::size_t c = 0; c < m_settings.deinterlace.size(); ++c)
        m_pipeline.SetDeinterlace(static_cast<int>(c), m_settings.deinterlace[c]);
    // Decoders and the audio output wait from the start, so the first key frame and the
    // first audio after the login's live request are not lost to a late start. Opening the
    // sound device may wait for the sound server: the worker does it.
    m_worker.Post([this] {
        m_pipeline.StartDecoders(protocol::kAllChannels);
        m_audio.Start(m_settings.audioBuffer, m_settings.soundOut, m_settings.heardChannel);
    });
}

CConnection::~CConnection() {
    Close(CloseKind::kDisconnect);
    m_worker.Stop();
}

void CConnection::Start() {
    m_session->Connect();
}

void CConnection::StartOver(platform::CSocket connected) {
    m_session->ConnectOver(std::move(connected));
}

void CConnection::BeginClose(CloseKind kind) {
    if (m_bClosing.exchange(true))
        return;
    m_worker.Post([this, kind] { RunClose(kind); });
}

void CConnection::Close(CloseKind kind) {
    BeginClose(kind);
    m_worker.Drain();
}

void CConnection::Drain() {
    m_worker.Drain();
}

void CConnection::Pause() const {
    if (m_settings.quitPause.count() > 0)
        std::this_thread::sleep_for(m_settings.quitPause);
}

void CConnection::RunClose(CloseKind kind) {
    protocol::CClientSession& session = *m_session;
    if (kind == CloseKind::kQuit) {
        // Each running service is stopped with its own request before the goodbye, so a
        // recorder never sees a connection end in the middle of a transfer.
        if (session.Live().Running() || session.Live().LivePending()) {
            session.Live().StopLive();
            Pause();
        }
        if (m_playback.Stop())
            Pause();
        if (m_backup.Stop())
            Pause();
        if (m_talk.Talking() || session.Talk().Running()) {
            m_talk.StopTalking(&session);  // A_LISTEN_STOP_REQ, talk object destroyed
            Pause();
        }
    }
    // No more microphone audio; the talk flag stays for the shutdown's stop request.
    m_talk.ReleaseTalkObject();
    // The consumers go before the session: nothing reads from it afterwards.
    m_audio.Stop();
    m_pipeline.StopDecoders(std::chrono::milliseconds(0));
    session.DestroyWindow();
    m_talk.OnTalkStopped(&session);
    m_bClosed = true;
    platform::Trace("connection %u closed\n", static_cast<unsigned>(m_sink.Generation()));
    m_sink.Post(platform::Window::Main, client::WM_CONNECTION_CLOSED,
                static_cast<std::uint64_t>(kind), 0);
}

// --- the stream ----------------------------------------------------------------------------

void CConnection::OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                                std::span<const std::uint8_t> piece) {
    m_state.SetProductType(m_session->Login().ProductType());
    m_frames.OnStreamPiece(command, header, piece);
}

void CConnection::OnChannelInfo(std::span<const std::uint8_t> payload) {
    m_state.SetProductType(m_session->Login().ProductType());
    const auto info = m_frames.OnLiveChannelInfo(payload);
    if (info.accepted)
        m_views.SetAvailableMask(info.available);
}

void CConnection::LiveStarting() {
    if (m_worker.OnWorkerThread())
        StartLiveConsumers();
    else
        m_worker.Post([this] { StartLiveConsumers(); });
}

void CConnection::StartLiveConsumers() {
    if (m_bClosing.load())
        return;
    m_views.SetViewMode(video::ViewMode::Live);
    m_views.ClearHasDecoded();
    m_pipeline.StartDecoders(protocol::kAllChannels);
    if (m_settings.soundOut)
        m_settings.soundOut->SetRemotePlayback(false);
    // Live audio starts again after a live stop (which stopped it): no channel heard yet
    // (or the one the settings name), no mask yet. One that runs is left running.
    if (!m_audio.Running())
        m_audio.Start(m_settings.audioBuffer, m_settings.soundOut, m_settings.heardChannel);
}

// --- remote playback -----------------------------------------------------------------------

void CConnection::PlaybackAccepted(protocol::ChannelMask) {
    m_worker.Post([this] { StartPlaybackConsumers(); });
}

void CConnection::StartPlaybackConsumers() {
    if (m_bClosing.load())
        return;
    // Live view stops first (its decoders drained and gone), then the playback decoders
    // and sound wait before the first credit lets the recorder send.
    protocol::CLiveService& live = m_session->Live();
    if (live.Running() || live.LivePending())
        live.StopLive();
    m_views.SetViewMode(video::ViewMode::RemotePlayback);
    m_views.ClearHasDecoded();
    m_pipeline.StartDecoders(protocol::kAllChannels);
    if (m_settings.soundOut)
        m_settings.soundOut->SetRemotePlayback(true);
    if (!m_audio.Running())
        m_audio.Start(m_settings.audioBuffer, m_settings.soundOut, m_settings.heardChannel);
    m_playback.Begin();
}

void CConnection::PlaybackEnded(bool liveAgain) {
    m_worker.Post([this, liveAgain] {
        if (m_bClosing.load())
            return;
        m_playback.Stop();
        if (liveAgain) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            if (!m_bClosing.load())
                m_session->Live().RequestLive();
        }
    });
}

void CConnection::PlaybackChannels(protocol::ChannelMask channels) {
    m_frames.ResetReassembly();  // receive thread, like the frames' own state
    // The played channels are the ones the panes have pictures of, as live view's
    // available channels are; the others show the idle picture.
    m_views.SetAvailableMask(channels);
    m_sink.Post(platform::Window::Main, protocol::WM_CHANNEL_AVAILABLE, channels, 0);
}

void CConnection::FlushPlaybackAudio() {
    if (const auto queue = m_slots.Audio())
        queue->Clear();
    if (m_settings.soundOut)
        m_settings.soundOut->Drop();
}

void CConnection::DrainAndStopPlayback() {
    m_audio.DrainAndStop();
    m_pipeline.StopDecoders(m_settings.decoderDrain);
    m_views.SetViewMode(video::ViewMode::Idle);
    m_sink.Post(platform::Window::Main, recordings::WM_PLAY_STOPPED, 0, 0);
}

CommandResult CConnection::StartPlayback(const recordings::PlayRequest& request) {
    if (!Usable())
        return CommandResult::kIgnored;
    m_worker.Post([this, request] {
        if (m_bClosing.load())
            return;
        m_playback.Stop();
        m_playback.StartPlayback(request);
    });
    return CommandResult::kDone;
}

CommandResult CConnection::PlayCommand(recordings::PlayCommand command,
                                       protocol::ChannelMask view) {
    if (!Usable() || !m_playback.Running())
        return CommandResult::kIgnored;
    m_worker.Post([this, command, view] {
        if (!m_bClosing.load())
            m_playback.Command(command, view);
    });
    return CommandResult::kDone;
}

CommandResult CConnection::SeekPlayback(protocol::RecorderTime seconds,
                                        protocol::ChannelMask view) {
    if (!Usable() || !m_playback.Running())
        return CommandResult::kIgnored;
    m_worker.Post([this, seconds, view] {
        if (!m_bClosing.load())
            m_playback.Seek(seconds, view);
    });
    return CommandResult::kDone;
}

CommandResult CConnection::StopBackup() {
    // A transfer that has stopped running may still be writing what is queued: Stop then
    // waits for its end on the worker.
    if (!m_backup.Finishing())
        return CommandResult::kIgnored;
    m_worker.Post([this] { m_backup.Stop(); });
    return CommandResult::kDone;
}

CommandResult CConnection::StopPlayback(bool liveAgain) {
    if (!Usable())
        return CommandResult::kIgnored;
    m_worker.Post([this, liveAgain] {
        if (m_bClosing.load())
            return;
        if (m_playback.Stop() && liveAgain)
            m_session->Live().RequestLive();
    });
    return CommandResult::kDone;
}

// --- commands ------------------------------------------------------------------------------

CommandResult CConnection::ToggleLive() {
    if (!Usable())
        return CommandResult::kIgnored;
    m_worker.Post([this] {
        if (m_bClosing.load())
            return;
        protocol::CLiveService& live = m_session->Live();
        if (live.Running() || live.LivePending())
            live.StopLive();
        else
            live.RequestLive();
    });
    return CommandResult::kDone;
}

CommandResult CConnection::ResumeLive() {
    if (!Usable())
        return CommandResult::kIgnored;
    m_worker.Post([this] {
        if (m_bClosing.load())
            return;
        protocol::CLiveService& live = m_session->Live();
        if (!live.Running() && !live.LivePending())
            live.RequestLive();
    });
    return CommandResult::kDone;
}

void CConnection::StopLive() {
    m_worker.Post([this] {
        if (LiveRunning() || m_session->Live().LivePending())
            m_session->Live().StopLive();
    });
}

CommandResult CConnection::ToggleRecording() {
    if (!Usable())
        return CommandResult::kIgnored;
    if (!m_session->Live().MayUse(protocol::Feature::RecordOnOff)) {
        m_sink.Notify(15, 0);
        return CommandResult::kRefused;
    }
    return m_session->Live().ToggleRecording() ? CommandResult::kDone : CommandResult::kIgnored;
}

CommandResult CConnection::ToggleFreeze() {
    if (!Usable() || !LiveRunning())
        return CommandResult::kIgnored;
    m_session->Live().SetFrozen(!m_session->Live().Frozen());
    return CommandResult::kDone;
}

CommandResult CConnection::CheckRights(protocol::Feature feature) {
    if (!Usable() || !m_session->Live().MayUse(feature)) {
        m_sink.Notify(15, 0);
        return CommandResult::kRefused;
    }
    return CommandResult::kDone;
}

bool CConnection::SendVisibleSelection(protocol::ChannelMask visible) {
    if (!Usable())
        return false;
    return m_session->Live().SendSelection(visible) || m_playback.SendViewChannels(visible);
}

void CConnection::ResendDatabase() {
    if (Usable())
        m_session->Live().SendDatabase();
}

void CConnection::RebootIfLoggedIn() {
    if (Usable())
        m_session->Live().Reboot();
}

void CConnection::InitArchiveIfLoggedIn() {
    if (Usable())
        m_worker.Post([this] { m_session->Live().InitArchive(); });
}

CommandResult CConnection::ToggleRecorderAudio() {
    if (!Usable())
        return CommandResult::kIgnored;
    const bool streaming = LiveRunning() || m_playback.Running();
    const auto result = audio::ToggleRecorderAudio(m_session->Transport(), streaming,
                                                   m_settings.soundOutputPresent);
    return result == audio::AudioOnOffResult::kSentOn || result == audio::AudioOnOffResult::kSentOff
               ? CommandResult::kDone
               : CommandResult::kIgnored;
}

CommandResult CConnection::PressMike() {
    if (m_bClosing.load())
        return CommandResult::kIgnored;
    // Stopping a talk object joins its threads: the worker does it, in order with the rest.
    m_worker.Post([this] {
        if (!m_bClosing.load())
            m_talk.Press(m_session.get(), m_settings.soundOutputPresent);
    });
    return CommandResult::kDone;
}

void CConnection::OnTalkStarted() {
    if (m_bClosing.load())
        return;
    m_worker.Post([this] {
        if (!m_bClosing.load())
            m_talk.OnTalkStarted(*m_session, m_settings.capture ? m_settings.capture() : nullptr);
    });
}

void CConnection::OnTalkStopped() {
    m_worker.Post([this] { m_talk.OnTalkStopped(m_session.get()); });
}

void CConnection::OnHiddenChannels(protocol::ChannelMask hidden) {
    m_state.SetBlockedChannels(hidden & protocol::kAllChannels);
}

void CConnection::ChangeFormat(std::uint32_t format) {
    m_worker.Post([this, format] {
        // The frames the decoders held are gone, the credit they were to earn with them.
        if (m_pipeline.ChangeFormat(format))
            m_playback.ConsumersRestarted();
    });
}

std::string CConnection::RecorderName() const {
    const auto& config = m_session->Transport().Config();
    return config.address + ":" + std::to_string(config.port);
}

std::string CConnection::LoginLine() const {
    const auto& transport = m_session->Transport();
    return transport.Config().userId + " @ " + transport.AddressText() + ":" +
           std::to_string(transport.Config().port);
}

logs::SystemFacts CConnection::SystemFacts() const {
    const auto& config = m_session->Transport().Config();
    return logs::SystemFacts{config.address, config.port, config.description,
                             m_session->Login().Hello()};
}

recordings::SearchRights CConnection::SearchRights() const {
    const protocol::HelloAck hello = m_session->Login().Hello();
    const protocol::RightsContext rights = m_session->Live().Rights();
    recordings::SearchRights out;
    out.permissionTables = hello.product_major_ver > 1 ||
                           (hello.product_major_ver == 1 && hello.product_minor_ver != 0);
    out.searchRow = protocol::RowAllows(rights, protocol::right_row::kSearch);
    out.backupRow = protocol::RowAllows(rights, protocol::right_row::kBackup);
    out.backupRunning = m_backup.Running();
    return out;
}

}  // namespace taviro::client
