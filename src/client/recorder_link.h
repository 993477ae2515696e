// CRecorderLink: one recorder as the user added it. It holds the recorder's connection (the
// one owner of its session, stream layer, decoders and sound), makes it again after a loss
// through a reconnect controller of its own, and decides which of the messages its
// connections post reach the windows: those of a connection that has ended are dropped,
// an attempt's failures are the reconnect bar's and not popups, a user's own disconnect is
// no news. Several links share nothing but the message sink, the local log and the counter
// that gives every connection its own generation.
//
// Threads: the owner's (window) thread only; nothing here waits except Quit().
// Ownership: the link owns its connection; the views, the sink, the local log and the
// counter are the owner's and outlive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "client/connection.h"
#include "client/reconnect.h"
#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "video/channel_views.h"

namespace taviro::client {

// A recorder to connect to, as the connect dialog or the command line gives it.
struct RecorderTarget {
    std::string address;  // dotted IPv4, or a host name the connection resolves
    std::int32_t port = 0;
    std::string user;
    std::string password;
    std::string description;
};

// Where the connection is in its life, for the window to show.
enum class ConnectionState { kNone, kConnecting, kConnected, kClosing };

// What the owner decides for every connection a link makes, and hears from it.
struct RecorderLinkContext {
    platform::IMessageSink* sink = nullptr;
    std::function<std::shared_ptr<logs::ILocalLog>()> log;  // the local log (it may move)
    std::uint32_t* nextGeneration = nullptr;                // shared by the owner's links
    // The session's timeouts and the connection's settings (devices, deinterlacing) for a
    // new connection; the link fills in the target, the format and the heard channel.
    std::function<protocol::SessionConfig()> sessionConfig;
    std::function<ConnectionSettings()> settings;
    // Whether a lost connection is made again (the local setup's choice).
    std::function<bool()> reconnectEnabled;
    // Whether there is a sound output (the recorder's audio is asked for again only then).
    bool audioOutput = false;
    // A connection is about to be made (the panes are taken from a local playback), was
    // made, or has gone (null).
    std::function<void()> connecting;
    std::function<void(CConnection*)> attached;
    // What the window shows (layout, page) and the grid's mode, for what a loss remembers.
    std::function<void(ResumeState&)> viewProbe;
    std::function<protocol::GridMode()> gridMode;
};

class CRecorderLink {
  public:
    CRecorderLink(RecorderLinkContext context, std::chrono::milliseconds reconnectUnit);
    // Quits (waiting) when that has not happened.
    ~CRecorderLink();
    CRecorderLink(const CRecorderLink&) = delete;
    CRecorderLink& operator=(const CRecorderLink&) = delete;

    // The user's connect: a new connection to `target` decoding into `views` in `format`;
    // whatever the last loss left waiting ends. Ignored while a connection exists.
    CommandResult Connect(const RecorderTarget& target, video::CChannelViews& views,
                          std::uint32_t format);
    // Kept without a connection (a remembered recorder whose password is not known yet):
    // the target and views are known, so its panes hold its place and name. Connect() ends it.
    void Hold(const RecorderTarget& target, video::CChannelViews& views);
    [[nodiscard]] bool Held() const { return m_held && !m_connection; }
    // The user's disconnect: no attempt follows; the connection goes when it reports its end.
    void Disconnect();
    // Quit: the connection closes in order on its worker (false: there was none).
    bool BeginQuit();
    // Quit and wait for it (the destructor; tests).
    void Quit();
    // A new picture format: the running decoders restart in it.
    void ChangeFormat(std::uint32_t format);

    [[nodiscard]] CConnection* Connection() { return m_connection.get(); }
    [[nodiscard]] const CConnection* Connection() const { return m_connection.get(); }
    [[nodiscard]] ConnectionState State() const;
    [[nodiscard]] bool LoggedIn() const;
    // "host:port" of the recorder connected or being connected ("" without a connection).
    [[nodiscard]] std::string Name() const;
    // How the last connection ended (kRunning before the first end).
    [[nodiscard]] protocol::SessionEnd LastEnd() const { return m_lastEnd; }
    // The recorder the user added (kept while a loss waits to come back).
    [[nodiscard]] const std::optional<RecorderTarget>& Target() const { return m_target; }
    // Where its connections decode to (null before the first connect).
    [[nodiscard]] video::CChannelViews* Views() const { return m_views; }

    // --- posted messages ---
    // Whether the window is to see `message` at all; the link's own bookkeeping (a loss
    // remembered, an attempt that logged in) happens here.
    bool Accept(const platform::PostedMessage& message);
    // After the owner has seen an accepted message: the connection's end (true, the
    // connection is gone then), and what the connection itself acts on (talk, a failed
    // connect, hidden channels).
    bool Act(const platform::PostedMessage& message, bool quitting);

    // --- coming back after a loss ---
    // Starts the attempt whose wait is over; ends an attempt whose connect failed without a
    // notification; asks for the recorder's audio again once live view runs.
    void Tick(CReconnectController::Clock::time_point now);
    // The user's Cancel: no more attempts; one that runs is closed.
    void CancelReconnect();
    [[nodiscard]] const CReconnectController& Reconnect() const { return m_reconnect; }
    [[nodiscard]] bool Retrying() const { return m_connection && m_retry; }
    // Once after an attempt logged in: what to bring back in the grid.
    std::optional<ResumeState> TakeViewRestore() { return std::exchange(m_viewRestore, {}); }

  private:
    void MakeConnection(std::uint32_t format, int heardChannel);
    void ConnectionEnded(bool quitting);
    ResumeState CaptureResume();
    void WriteReconnectLog(std::uint32_t subType);
    bool FilterRetryMessage(const platform::PostedMessage& message);

    RecorderLinkContext m_ctx;
    std::unique_ptr<CConnection> m_connection;
    CReconnectController m_reconnect;
    std::optional<RecorderTarget> m_target;  // the last target the user confirmed
    video::CChannelViews* m_views = nullptr;
    std::uint32_t m_format = 0;
    bool m_retry = false;                 // the current connection is an attempt
    std::optional<ResumeState> m_lostAt;  // captured when the loss was noticed
    std::optional<ResumeState> m_viewRestore;
    bool m_restoreAudio = false;  // ask for the recorder's audio once live view runs again
    bool m_held = false;          // kept without a connection since Hold()
    protocol::SessionEnd m_lastEnd = protocol::SessionEnd::kRunning;
};

}  // namespace taviro::client
