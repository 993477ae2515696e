// The main window's logic without the window: local settings at start and after the setup
// dialog, the one recorder session and its live pipeline, the commands that act on the
// session (live, record, freeze, rights checks), the notification follow-ups, and the
// start-up and quit orders. The Qt main window owns one, forwards its buttons and the
// posted messages here, and draws what Status() says.
//
// Threads: everything runs on the main window's (GUI) thread. Worker threads reach the
// window only through the message sink; the shell is told of their messages by the window.
// Ownership: the shell owns the session, the live pipeline and the local log; the channel
// views are the window's and outlive the shell's pipeline.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/branding.h"
#include "app/local_setup.h"
#include "app/settings_store.h"
#include "app/setup_apply.h"
#include "audio/talk.h"
#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "protocol/rights.h"
#include "protocol/session.h"
#include "video/channel_views.h"
#include "video/live_pipeline.h"

namespace taviro::app {

// Who the new session connects to (the confirmed connect dialog).
struct ConnectTarget {
    std::string address;  // dotted IPv4, or empty when the name did not resolve
    std::int32_t port = 0;
    std::string user;
    std::string password;
    std::string description;
};

struct ShellOptions {
    bool playerMode = false;
    bool audioOutput = false;
    // Pause between the services stopped at quit (and around a local player's stop).
    std::chrono::milliseconds quitPause{100};
    // Timeouts of new sessions (tests shorten them).
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds keepAliveInterval{10'000};
};

// What a command did.
enum class CommandResult {
    kDone,
    kIgnored,  // nothing to act on (no session, wrong mode, player mode)
    kRefused,  // the rights forbid it; notification (15, 0) was posted
};

class CClientShell {
  public:
    CClientShell(ISettingsStore& settings, platform::IMessageSink& sink, Branding branding,
                 ShellOptions options);
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
    [[nodiscard]] logs::ILocalLog* LocalLog() { return m_localLog.get(); }

    // A confirmed local setup dialog: runs the plan's non-window steps in order and returns
    // the plan, so the window can recreate the grid when the draw mode changed.
    SetupApplyPlan ApplySetup(const LocalSetup& edited);

    // --- the session ---
    [[nodiscard]] protocol::CRecorderSession* Session() { return m_session.get(); }
    [[nodiscard]] bool HasSession() const { return m_session != nullptr; }
    [[nodiscard]] bool LoggedIn() const { return m_session && m_session->LoggedIn(); }
    [[nodiscard]] video::CLivePipeline* Pipeline() { return m_pipeline.get(); }
    // A confirmed connect dialog: a new session with the five values and its live pipeline
    // (decoding into `views` in `pictureFormat`), then its connect thread. Ignored in player
    // mode or while a session exists.
    CommandResult Connect(const ConnectTarget& target, video::CChannelViews& views,
                          std::uint32_t pictureFormat);
    // Connect button with a session, or notification category 2.
    void Disconnect();
    // Quit: the running services stopped in order with a pause after each, then the
    // session's shutdown. Idempotent. Writes the program-end entry.
    void Quit();

    // --- commands ---
    // The Live button: LIVE_STOP while live is on, else the live request.
    CommandResult ToggleLive();
    // Button 344: recording on or off, subject to rights.
    CommandResult ToggleRecording();
    // Button 343 in live view: freezes or resumes the displayed pictures.
    CommandResult ToggleFreeze();
    // The rights check of buttons 344, 355, 356, 361, 362, 374 and 376: a logged-in session
    // whose rights allow the feature; otherwise (15, 0) is posted.
    CommandResult CheckRights(protocol::Feature feature);
    // The visible channels changed (layout, page, single channel): re-sends the selection
    // while live view or remote playback runs.
    bool SendVisibleSelection(protocol::ChannelMask visible);

    // --- notification follow-ups (a confirmed popup) ---
    void ResendDatabase();         // category 7
    void RebootIfLoggedIn();       // category 8 code 5
    void InitArchiveIfLoggedIn();  // category 14

    // --- talk (button 376, WM_TALK_STARTED / WM_TALK_STOPPED) ---
    // Makes the capture device when the recorder accepts talk (the window's Qt device; tests
    // give a file or a silent one). Without a factory, talk starts without capture.
    using CaptureFactory = std::function<std::unique_ptr<platform::ISoundIn>()>;
    void SetCaptureFactory(CaptureFactory factory) { m_captureFactory = std::move(factory); }
    audio::MikePress PressMike();

    // --- live audio (buttons 366, 368, 378, slider 421) ---
    // The device live audio plays into (the window's sound ring); null: no audio thread.
    void SetSoundOut(platform::ISoundOut* device) { m_soundOut = device; }
    // Button 378: AUDIO_ONOFF_REQ with the audioOn bit the recorder's flag asks for.
    CommandResult ToggleRecorderAudio();
    [[nodiscard]] bool Talking() const { return m_talk.Talking(); }

    // --- messages the window received that the shell must act on ---
    // WM_RELEASE_SESSION drops the session; WM_CHANNEL_GRID_MODE (live) restarts the
    // decoders; WM_CHANNEL_HIDDEN blocks channels in the stream state.
    void OnMessage(const platform::PostedMessage& message);

    // The grid mode the recorder put the grid in (live, playback, local, none).
    [[nodiscard]] platform::GridMode GridMode() const { return m_gridMode; }
    [[nodiscard]] bool LiveRunning() const {
        return m_session && m_session->ServiceOn(protocol::Service::Live);
    }

  private:
    void DropSession();
    void Pause() const;

    ISettingsStore& m_settings;
    platform::IMessageSink& m_sink;
    Branding m_branding;
    ShellOptions m_options;
    LocalSetup m_setup;
    std::unique_ptr<logs::CLocalLog> m_localLog;
    // The pipeline outlives the session it is attached to: declared first, destroyed last.
    std::unique_ptr<video::CLivePipeline> m_pipeline;
    std::unique_ptr<protocol::CRecorderSession> m_session;
    // The talk object sends through the session: it is destroyed before the session.
    audio::CTalkButton m_talk;
    CaptureFactory m_captureFactory;
    platform::ISoundOut* m_soundOut = nullptr;
    platform::GridMode m_gridMode = platform::kGridNone;
    bool m_started = false;
    bool m_quit = false;
};

}  // namespace taviro::app
