// The main window's logic without the window: local settings at start and after the setup
// dialog, the local log, the recorders (client::CSite: each connection with its lifetime
// and reconnect) and which of them the window's services act on, the local playback
// controller it hands that recorder's connection to, live view's commands, the
// notification follow-ups, and the start-up and quit orders. The Qt main
// window owns one, hands it the posted messages first, and draws what the state getters
// say; the features' own controllers (remote playback, backup, snapshots, PTZ) are the
// window's.
//
// Threads: everything runs on the main window's (GUI) thread and returns at once: what may
// wait (connecting, disconnecting, quitting, stopping live view) runs on the connection's
// worker, which posts when it is done. Only Quit() (tests, the destructor) waits.
// Ownership: the shell owns the recorders' connections and the local log; the channel views are the
// window's and outlive the shell's connections.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/branding.h"
#include "app/local_setup.h"
#include "app/setup_apply.h"
#include "client/connection.h"
#include "client/local_controller.h"
#include "client/reconnect.h"
#include "client/recorder_link.h"
#include "client/site.h"
#include "logs/local_log.h"
#include "notify/notifications.h"
#include "platform/message_sink.h"
#include "platform/secret_store.h"
#include "platform/settings_store.h"
#include "platform/worker.h"
#include "protocol/rights.h"
#include "protocol/session_messages.h"
#include "video/channel_views.h"

namespace taviro::app {

// Who the new session connects to (the confirmed connect dialog).
using ConnectTarget = client::RecorderTarget;

struct ShellOptions {
    bool playerMode = false;
    bool audioOutput = false;
    // Pause between the services stopped at quit (and around a local player's stop).
    std::chrono::milliseconds quitPause{100};
    // Timeouts of new sessions (tests shorten them).
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds keepAliveInterval{10'000};
    // How long a shutdown waits for a recorder that does not take the goodbye.
    std::chrono::milliseconds shutdownSendLimit{2'000};
    // The sockets' send buffer (0: the system's); tests make it small.
    int sendBufferBytes = 0;
    // One second of the reconnect waits (1, 2, 4 ... 30 of them); tests shorten it.
    std::chrono::milliseconds reconnectUnit{1'000};
    // Free megabytes of a folder's disk for the backup's size check; the system's figure
    // when empty (tests give one, so a large backup's size question needs no large disk).
    std::function<std::int64_t(const std::filesystem::path&)> freeSpace;
    // Where remembered passwords are kept (the desktop's secret store); none: the connect
    // dialog's "Remember password" stays disabled.
    std::function<std::unique_ptr<platform::ISecretStore>()> secretStore;
};

using client::ConnectionState;

class CClientShell {
  public:
    CClientShell(platform::ISettingsStore& settings, platform::IMessageSink& sink,
                 Branding branding, ShellOptions options);
    // Quits (waiting) when that has not happened.
    ~CClientShell();
    CClientShell(const CClientShell&) = delete;
    CClientShell& operator=(const CClientShell&) = delete;

    // The non-window steps of the window's initialisation: read the local settings, make
    // "Upgrade" unless in player mode, open the local log and write the program-start entry.
    void StartUp();
    [[nodiscard]] const LocalSetup& Setup() const { return m_setup; }
    [[nodiscard]] const Branding& BrandingTexts() const { return m_branding; }
    [[nodiscard]] bool PlayerMode() const { return m_options.playerMode; }
    [[nodiscard]] bool AudioOutput() const { return m_options.audioOutput; }
    [[nodiscard]] const ShellOptions& Options() const { return m_options; }
    // The local log, shared with every connection; it follows the storage folder.
    [[nodiscard]] std::shared_ptr<logs::CLocalLog> LocalLog() const { return m_localLog; }

    // A confirmed local setup dialog: runs the plan's non-window steps in order and returns
    // the plan, so the window can recreate the grid when the draw mode changed.
    SetupApplyPlan ApplySetup(const LocalSetup& edited);

    // --- the recorders ---
    // A confirmed connect dialog: a new connection (decoding into `views` in
    // `pictureFormat`) whose session connects. Ignored in player mode or while a
    // connection exists (also one that is still closing).
    client::CommandResult Connect(const ConnectTarget& target, video::CChannelViews& views,
                                  std::uint32_t pictureFormat);
    // A recorder added to those connected (up to 16), decoding into `views`: refused with a
    // reason when it is there already, when 16 are, in player mode or while quitting. The
    // first one added becomes the selected recorder.
    client::CSite::AddResult AddRecorder(const ConnectTarget& target, video::CChannelViews& views,
                                         std::uint32_t pictureFormat);
    // A remembered recorder kept in the site unconnected until its password is known (its
    // panes name it meanwhile); AddRecorder() with the password connects it in its place.
    client::CSite::AddResult HoldRecorder(const ConnectTarget& target, video::CChannelViews& views);
    // The Connect button with a connection, or notification category 2: every recorder's
    // teardown starts on its connection's worker; each connection goes when it reports its
    // end (a lost one comes back as after any loss).
    void Disconnect();
    // A popup of an ended connection: that recorder's connection is taken down (every one,
    // as Disconnect(), when it is the selected recorder's or the window's own note).
    void DisconnectMessageRecorder();
    // The recorder whose message the window handles now (-1: the window's own message).
    [[nodiscard]] int MessageRecorder() const { return m_messageRecorder; }
    // One recorder taken out (its id); the next one becomes the selected recorder.
    void DisconnectRecorder(int id);
    [[nodiscard]] const client::CSite& Site() const { return *m_site; }
    // A recorder by its id (-1: the selected one); null when there is none.
    [[nodiscard]] client::CRecorderLink* Link(int id) {
        return id >= 0 ? m_site->Find(id) : Selected();
    }
    // The recorder the window's services act on (the selected pane's), -1 for none.
    [[nodiscard]] int SelectedRecorder() const { return m_selected; }
    void SelectRecorder(int id);
    // Quit from the window: the running services stopped in order, then the shutdown, all
    // on the worker. QuitDone() turns true once it has ended (at once without a
    // connection); the program-end entry is then written.
    void BeginQuit();
    [[nodiscard]] bool QuitDone() const { return m_quitDone; }
    // Quit and wait for it (tests; the destructor). Idempotent.
    void Quit();

    // The selected recorder's connection, or null.
    [[nodiscard]] client::CConnection* Connection() {
        client::CRecorderLink* link = Selected();
        return link != nullptr ? link->Connection() : nullptr;
    }
    [[nodiscard]] bool HasSession() const { return m_site->AnyConnection(); }
    [[nodiscard]] protocol::CClientSession* Session() {
        client::CConnection* connection = Connection();
        return connection != nullptr ? &connection->Session() : nullptr;
    }
    // "host:port" of the recorder connected or being connected ("" without a connection):
    // how notes and reasons name it.
    [[nodiscard]] std::string RecorderName() const;
    [[nodiscard]] ConnectionState State() const;
    // The title strip's line: the playback shown (`remoteTitle` "R-PLAY ...", or local
    // playback's line) before where the connection is ("Connecting...", the login line,
    // "Disconnecting...").
    [[nodiscard]] std::string StatusLine(const std::string& remoteTitle);
    [[nodiscard]] bool LoggedIn() const;
    [[nodiscard]] bool LiveRunning() const;
    [[nodiscard]] bool Talking() const;

    // --- commands (each returns at once) ---
    // The main window's buttons that are the session's or local playback's: record (344),
    // live (369), the recorder's audio (378), talk (376, after its rights check), the
    // version note (375), the freeze (343 in live view) and the transport buttons while local
    // playback is shown. False: the button is not the shell's.
    bool Command(std::uint32_t id);
    client::CommandResult ToggleLive();
    client::CommandResult ToggleRecording();
    client::CommandResult ToggleFreeze();
    // The rights check of buttons 344, 355, 356, 361, 362, 374 and 376: a logged-in session
    // whose rights allow the feature; otherwise (15, 0) is posted.
    client::CommandResult CheckRights(protocol::Feature feature);
    bool SendVisibleSelection(protocol::ChannelMask visible);
    // --- notifications ---
    // What a popup names and counts (the recorder the message came from, the transfer's
    // sizes, the version).
    [[nodiscard]] notify::NotificationContext NotificationContext(
        const std::array<std::uint16_t, 4>& version, notify::TextLookup text);
    // What a popup's follow-up depends on: logged in, recording, the right to initialise.
    [[nodiscard]] notify::SessionFacts NotificationFacts();
    // A confirmed popup's follow-up: the recorder's commands and the further notes run here;
    // true when the window has to act itself (open the search or the upgrade window).
    bool RunFollowUp(notify::FollowUpAction action);
    void ResendDatabase();         // category 7
    void RebootIfLoggedIn();       // category 8 code 5
    void InitArchiveIfLoggedIn();  // category 14
    client::CommandResult ToggleRecorderAudio();
    client::CommandResult PressMike();
    // The renderer changed: the running decoders restart in its format.
    void ChangeFormat(std::uint32_t format);

    // --- local playback (backup pairs without a recorder) ---
    // Its controller follows the shell's connection and sets the grid mode as it starts
    // and stops; the window drives it.
    client::CLocalPlaybackController& Local() { return m_local; }
    // What the player needs of the settings, for pictures in `pictureFormat`.
    [[nodiscard]] client::LocalPlaybackSettings LocalSettings(std::uint32_t pictureFormat) const;

    // --- devices the window provides for the next connections ---
    using CaptureFactory = std::function<std::unique_ptr<platform::ISoundIn>()>;
    void SetCaptureFactory(CaptureFactory factory) { m_captureFactory = std::move(factory); }
    // The device live audio plays into (the window's sound ring); null: no audio thread.
    void SetSoundOut(platform::ISoundOut* device) { m_soundOut = device; }

    // --- posted messages ---
    // Whether the window is to act on a posted message at all: false for the messages of
    // a connection that has ended (or of one that is not the current one). The shell
    // itself acts on the connection's messages here (its end, talk, hidden channels).
    bool OnMessage(const platform::PostedMessage& message);

    // The grid mode the recorder put the grid in (live, playback, local, none).
    [[nodiscard]] protocol::GridMode GridMode() const { return m_gridMode; }

    // --- coming back after a network loss ---
    // The window's part of what a loss remembers (the grid's layout and page); called on
    // the window thread when the loss is noticed.
    using ViewProbe = std::function<void(client::ResumeState&)>;
    void SetViewProbe(ViewProbe probe) { m_viewProbe = std::move(probe); }
    // Every second or more often: starts the attempt whose wait is over, and ends an
    // attempt whose connect failed without a notification.
    void ReconnectTick(client::CReconnectController::Clock::time_point now);
    void ReconnectTick() { ReconnectTick(client::CReconnectController::Clock::now()); }
    // The user's Cancel: no more attempts; one that runs is closed.
    void CancelReconnect();
    // The selected recorder's reconnect (an idle one when there is no recorder).
    [[nodiscard]] const client::CReconnectController& Reconnect() const;
    // The current connection is an attempt of the reconnect (its popups are not shown).
    [[nodiscard]] bool RetryConnection() const;
    // Once after an attempt logged in (its live start was posted before the login
    // message): what to bring back in the grid (layout, page).
    std::optional<client::ResumeState> TakeViewRestore();

  private:
    void WriteProgramEnd();
    client::RecorderLinkContext LinkContext(int id);
    // The selected recorder has left or is leaving: the first one staying is selected
    // (none: -1).
    void KeepSelection();
    [[nodiscard]] client::CRecorderLink* Selected() { return m_site->Find(m_selected); }
    [[nodiscard]] const client::CRecorderLink* Selected() const { return m_site->Find(m_selected); }

    platform::ISettingsStore& m_settings;
    platform::IMessageSink& m_sink;
    Branding m_branding;
    ShellOptions m_options;
    LocalSetup m_setup;
    std::shared_ptr<logs::CLocalLog> m_localLog;
    CaptureFactory m_captureFactory;
    platform::ISoundOut* m_soundOut = nullptr;
    std::uint32_t m_nextGeneration = 1;
    protocol::GridMode m_gridMode = protocol::kGridNone;
    client::CLocalPlaybackController m_local{m_sink, m_gridMode};
    bool m_started = false;
    bool m_quitting = false;
    bool m_quitDone = false;
    ViewProbe m_viewProbe;
    client::CReconnectController m_noReconnect{std::chrono::milliseconds(1'000)};
    int m_selected = -1;
    int m_messageRecorder = -1;  // the last accepted message's recorder
    // The recorders with their connections and reconnects; made last, destroyed first.
    std::unique_ptr<client::CSite> m_site;
};

}  // namespace taviro::app
