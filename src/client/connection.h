// CConnection: the one owner of a connection to a recorder. It owns the session (transport
// and services), the stream layer between the receive thread and the consumers, the live
// video pipeline, the live audio path and the talk object, and tears them down in one
// ordered sequence with bounded waits:
//
//   (quit: the running services stopped in order, a pause after each)
//   talk object stopped -> audio output and decoders stopped and joined
//   -> the session's shutdown (stop request, goodbye, its threads, the socket, log-out)
//   -> WM_CONNECTION_CLOSED
//
// Everything it posts carries its generation (CGenerationSink), so a window can tell the
// messages of an ended connection from those of the current one.
//
// Threads: the owner's thread (the window's, or the command-line loop) calls everything
// below; nothing here waits on the network or on a thread except Close() and Drain(),
// which the window never calls. What may wait runs on the connection's worker thread, in
// the order it was asked for. The state getters are safe from any thread.
// Ownership: the channel views, the local log and the sound devices of the settings belong
// to the owner and outlive the connection.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/live_audio.h"
#include "audio/talk.h"
#include "logs/info_service.h"
#include "logs/local_log.h"
#include "logs/status_info.h"
#include "maintenance/firmware_service.h"
#include "maintenance/ptz_service.h"
#include "platform/h264_decoder.h"
#include "platform/message_sink.h"
#include "platform/sound_device.h"
#include "platform/worker.h"
#include "protocol/client_session.h"
#include "protocol/live_consumers.h"
#include "protocol/rights.h"
#include "protocol/stream_receiver.h"
#include "recordings/backup_service.h"
#include "recordings/play_control.h"
#include "recordings/playback_service.h"
#include "recordings/search_model.h"
#include "recordings/search_service.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"
#include "video/channel_views.h"
#include "video/live_pipeline.h"

namespace taviro::client {

// A connection's teardown has ended; wParam = its CloseKind.
inline constexpr std::uint32_t WM_CONNECTION_CLOSED = 0x540D;

// What a command did.
enum class CommandResult {
    kDone,
    kIgnored,  // nothing to act on (no session, wrong mode, player mode, closing)
    kRefused,  // the rights forbid it; notification (15, 0) was posted
};

enum class CloseKind : std::uint64_t {
    kDisconnect = 0,  // the session's shutdown stops the one running service
    kQuit = 1,        // every running service is stopped in order first, with pauses
};

// What a connection is given besides the recorder's address and the user.
struct ConnectionSettings {
    std::chrono::milliseconds quitPause{100};
    std::uint32_t pictureFormat = platform::kH264FormatYuv420;  // the renderer's
    std::array<bool, 16> deinterlace{};
    int audioBuffer = 2;
    // Live audio plays into this device (null: no audio thread). Owned by the caller.
    platform::ISoundOut* soundOut = nullptr;
    // A sound output exists: talk and the recorder's audio are only asked for then.
    bool soundOutputPresent = false;
    // The microphone talk captures from once the recorder accepts (null: no capture).
    std::function<std::unique_ptr<platform::ISoundIn>()> capture;
    // A channel (0..15) heard from the start of every live view instead of the first one
    // with audio (the command-line client's --audio-channel).
    int heardChannel = -1;
    // How long the live stop lets the decoders drain, in all.
    std::chrono::milliseconds decoderDrain{2'000};
};

class CConnection final : private protocol::IStreamReceiver,
                          private protocol::ILiveConsumers,
                          private recordings::IPlaybackConsumers {
  public:
    CConnection(platform::IMessageSink& windowSink, std::uint32_t generation,
                std::shared_ptr<logs::ILocalLog> localLog, video::CChannelViews& views,
                protocol::SessionConfig config, ConnectionSettings settings);
    // Closes (as Close(kDisconnect)) when that has not happened, then joins the worker.
    ~CConnection() override;
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    // --- lifecycle ---
    // Starts the session's connect thread (which resolves a host name); returns at once.
    void Start();
    // Runs on an already connected socket (tests).
    void StartOver(platform::CSocket connected);
    // The teardown in its order on the worker; WM_CONNECTION_CLOSED (wParam: the kind)
    // follows. Only the first request counts.
    void BeginClose(CloseKind kind);
    // BeginClose, then waits until the teardown has ended (bounded). Not for the window.
    void Close(CloseKind kind);
    // Waits until the worker has run everything asked of it so far. Not for the window.
    void Drain();
    // Runs `job` on the worker after what was asked of it so far (never waits). A job that
    // cannot run any more (the connection has closed) is dropped.
    void RunAfterQueued(std::function<void()> job) { m_worker.Post(std::move(job)); }
    [[nodiscard]] bool Closing() const { return m_bClosing.load(); }
    [[nodiscard]] bool Closed() const { return m_bClosed.load(); }
    [[nodiscard]] std::uint32_t Generation() const { return m_sink.Generation(); }

    // --- commands (never wait) ---
    // The Live button: LIVE_STOP while live is on, else the live request.
    CommandResult ToggleLive();
    // Live view off (LIVE_STOP, the consumers drained and stopped), on the worker.
    void StopLive();
    // Live view again after local playback let go of the panes: the live request, unless
    // live view runs or is on its way.
    CommandResult ResumeLive();
    // Button 344: recording on or off, subject to rights.
    CommandResult ToggleRecording();
    // Button 343 in live view: freezes or resumes the displayed pictures.
    CommandResult ToggleFreeze();
    // The rights check of the buttons that need rights: (15, 0) when refused.
    CommandResult CheckRights(protocol::Feature feature);
    // The visible channels changed: LIVE_REQ while live runs, PLAY_VIEW_CH while playback
    // runs on a recorder that accepts it.
    bool SendVisibleSelection(protocol::ChannelMask visible);
    // Notification follow-ups.
    void ResendDatabase();
    void RebootIfLoggedIn();
    void InitArchiveIfLoggedIn();
    // Button 378: AUDIO_ONOFF_REQ with the audioOn bit the recorder's flag asks for.
    CommandResult ToggleRecorderAudio();
    // Button 376 ("Mike"), after its rights check: talk requested, or stopped when it runs.
    CommandResult PressMike();
    // WM_TALK_STARTED / WM_TALK_STOPPED.
    void OnTalkStarted();
    void OnTalkStopped();
    // WM_CHANNEL_HIDDEN: these channels' frames are dropped.
    void OnHiddenChannels(protocol::ChannelMask hidden);
    // The renderer changed: the decoders restart in its format.
    void ChangeFormat(std::uint32_t format);
    void SetDeinterlace(int channel, bool on) { m_pipeline.SetDeinterlace(channel, on); }

    // --- remote playback (never wait; the work runs on the worker) ---
    // PLAY_ON_REQ; a playback that runs is stopped first. Live view stops when the recorder
    // accepts.
    CommandResult StartPlayback(const recordings::PlayRequest& request);
    // A playback button with the channels shown.
    CommandResult PlayCommand(recordings::PlayCommand command, protocol::ChannelMask view);
    // The slider: play forward from `seconds`.
    CommandResult SeekPlayback(protocol::RecorderTime seconds, protocol::ChannelMask view);
    // The stop button: the stop order, then live view again when `liveAgain`.
    CommandResult StopPlayback(bool liveAgain = true);
    // The backup's stop button: TRANS_OFF_REQ, what has arrived written, the pair closed (on
    // the worker; WM_BACKUP_FINISHED follows).
    CommandResult StopBackup();

    // --- state (any thread) ---
    protocol::CClientSession& Session() { return *m_session; }
    const protocol::CClientSession& Session() const { return *m_session; }
    [[nodiscard]] bool LoggedIn() const { return m_session->Login().LoggedIn(); }
    [[nodiscard]] bool LiveRunning() const { return m_session->Live().Running(); }
    [[nodiscard]] bool Talking() const { return m_session->Talk().Running(); }
    recordings::CPlaybackService& Playback() { return m_playback; }
    recordings::CBackupService& Backup() { return m_backup; }
    recordings::CSearchService& Search() { return m_search; }
    logs::CInfoService& Info() { return m_info; }
    maintenance::CPtzService& Ptz() { return m_ptz; }
    maintenance::CFirmwareService& Firmware() { return m_firmware; }
    // The owner's thread: the heard channel's selection; the worker's otherwise.
    audio::CLiveAudio& Audio() { return m_audio; }
    video::CLivePipeline& Pipeline() { return m_pipeline; }
    stream::CStreamState& State() { return m_state; }
    stream::CConsumerSlots& Slots() { return m_slots; }
    const stream::CStreamFrames& Frames() const { return m_frames; }
    // Who this connection is to, as the windows name it: "host:port" as the user gave it,
    // "user @ address:port" with the address resolved, the facts of the system page, the
    // rights of the search window, and the sizes of a refused transfer.
    [[nodiscard]] std::string RecorderName() const;
    [[nodiscard]] std::string LoginLine() const;
    // The recorder's address as the socket resolved it (dotted IPv4).
    [[nodiscard]] std::string ResolvedAddress() const {
        return m_session->Transport().AddressText();
    }
    [[nodiscard]] logs::SystemFacts SystemFacts() const;
    [[nodiscard]] recordings::SearchRights SearchRights() const;
    [[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> TransferSizes() const {
        return m_session->Transport().TransferSizes();
    }
    // After Drain() (the command-line client): the talk button's state.
    const audio::CTalkButton& Talk() const { return m_talk; }

  private:
    // IStreamReceiver (receive thread).
    void OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                       std::span<const std::uint8_t> piece) override;
    void OnChannelInfo(std::span<const std::uint8_t> payload) override;
    // ILiveConsumers.
    void LiveStarting() override;
    void SetFrozen(bool frozen) override { m_state.SetLiveFrozen(frozen); }
    void DrainAndStopAudio() override { m_audio.DrainAndStop(); }
    void DrainAndStopDecoders() override { m_pipeline.StopDecoders(m_settings.decoderDrain); }

    // IPlaybackConsumers.
    void PlaybackAccepted(protocol::ChannelMask channels) override;
    void PlaybackEnded(bool liveAgain) override;
    void PlaybackChannels(protocol::ChannelMask channels) override;
    void FlushPlaybackAudio() override;
    void DrainAndStopPlayback() override;

    // Worker jobs.
    void StartLiveConsumers();
    void StartPlaybackConsumers();
    void RunClose(CloseKind kind);
    void Pause() const;
    bool Usable() const { return !m_bClosing.load() && LoggedIn(); }

    platform::CGenerationSink m_sink;
    video::CChannelViews& m_views;
    ConnectionSettings m_settings;
    stream::CStreamState m_state;
    stream::CConsumerSlots m_slots;
    stream::CStreamFrames m_frames;
    std::unique_ptr<protocol::CClientSession> m_session;
    recordings::CPlaybackService m_playback;
    recordings::CBackupService m_backup;
    recordings::CSearchService m_search;
    logs::CInfoService m_info;
    maintenance::CPtzService m_ptz;
    // Its shutdown hook stops and joins the transfer worker before the goodbye.
    maintenance::CFirmwareService m_firmware;
    // The decoders read titles from the session: the pipeline goes before the session.
    video::CLivePipeline m_pipeline;
    audio::CLiveAudio m_audio;
    // The talk object sends through the session: it goes before the session.
    audio::CTalkButton m_talk;
    std::atomic<bool> m_bClosing{false};
    std::atomic<bool> m_bClosed{false};
    // Last member: joined first, so no job runs on a member that is gone.
    platform::CWorker m_worker;
};

}  // namespace taviro::client
