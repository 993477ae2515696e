// What every taviro-cli command that talks to a recorder shares: the connection options,
// the connection (client::CConnection, the same owner the desktop client uses) with its local
// log, the "main window" loop that takes the connection's posted messages and decides how
// the connection ended, and the closing summary line.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/options.h"
#include "cli/printing_sink.h"
#include "client/connection.h"
#include "client/site.h"
#include "logs/local_log.h"
#include "protocol/client_session.h"
#include "video/channel_views.h"

namespace taviro::cli {

// Exit statuses, one per way a connection can end.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // anything not listed (no answer to the login, other errors)
    kExitUsage = 2,
    kExitRefused = 3,      // connection refused
    kExitTimedOut = 4,     // connect timed out
    kExitUnsupported = 5,  // the recorder is no supported product
    kExitGoodbye = 6,      // the recorder said goodbye (wrong password, permission, ...)
    kExitDropped = 7,      // the recorder closed the connection
    kExitResolve = 8,      // the host name could not be resolved
};

// The most recorders one command talks to at once: as many as the window's site holds.
inline constexpr std::size_t kMaxRecorders = static_cast<std::size_t>(client::kMaxRecorders);

// "HOST:PORT" split at its last colon; nullopt when the port is not 1..65535 or the host
// is empty.
std::optional<std::pair<std::string, std::uint16_t>> ParseRecorder(const std::string& text);

// The password of the connection options: --password, else the first line of
// --password-file, else the variable TAVIRO_PASSWORD. nullopt (with `error` set) when none
// is given, both options are, or the file cannot be read.
std::optional<std::string> ResolvePassword(const COptions& options, const char* environment,
                                           std::string* error);

// The options every connecting command takes, and the usage text for them.
extern const std::vector<std::string> kConnectionOptions;
extern const std::vector<std::string> kConnectionFlags;
extern const char* const kConnectionUsage;

class CCommandSession {
  public:
    // Parses the connection options; on a usage error prints it and returns nullopt with
    // `exitStatus` set. `extraOptions`/`extraFlags` are the command's own.
    static std::unique_ptr<CCommandSession> Create(const std::string& command,
                                                   const std::vector<std::string>& args,
                                                   const std::vector<std::string>& extraOptions,
                                                   const std::vector<std::string>& extraFlags,
                                                   const std::string& usage, int* exitStatus);
    ~CCommandSession();

    [[nodiscard]] const COptions& Options() const { return m_options; }
    [[nodiscard]] CPrintingSink& Sink() { return m_sink; }
    [[nodiscard]] bool Json() const { return m_sink.Json(); }
    // The recorders of --recorder (for a command that takes it among its own options), in
    // their order; empty: one recorder by --host and --port.
    [[nodiscard]] const std::vector<std::pair<std::string, std::uint16_t>>& Recorders() const {
        return m_recorders;
    }
    // A session for the `index`th (from 0) recorder of Recorders(), with the same options:
    // its lines carry the recorder's place and address, and it writes the same local log.
    std::unique_ptr<CCommandSession> ForRecorder(std::size_t index);

    // Valid once LogIn() has been called, until Finish().
    [[nodiscard]] client::CConnection& Connection() { return *m_connection; }
    [[nodiscard]] protocol::CClientSession& Session() { return m_connection->Session(); }
    // The channel views the connection's decoders fill.
    [[nodiscard]] video::CChannelViews& Views() { return m_views; }

    // Resolves the host, creates the connection with `settings`, connects and waits for
    // the login answer. kExitOk when logged in; otherwise the exit status of what happened
    // (the connection is closed then).
    int LogIn(client::ConnectionSettings settings = {});
    // After a lost connection: the old connection closed and a new one logged in with the
    // same options and `settings` (as LogIn, whose status it returns). A failed attempt
    // leaves its closed connection in place; none when the host no longer resolves.
    int Reconnect(client::ConnectionSettings settings);
    [[nodiscard]] bool HasConnection() const { return m_connection != nullptr; }
    // How the current connection's session ended (kRunning while it has not).
    [[nodiscard]] protocol::SessionEnd EndCause() const;
    [[nodiscard]] bool WasLoggedIn() const;
    // Handles the session's messages for `duration` (or until the connection ends).
    // kExitOk when the time ran out with the connection up.
    int Stay(std::chrono::milliseconds duration);
    // The rights rule for `feature`, once this user's rights are known: a newer recorder
    // pushes its permission tables after the login answer, so this handles messages for up
    // to 3 s until a user list named the user. kExitOk when allowed; kExitFailure (the
    // notification (15, 0) posted) when refused; the exit status when the connection ended.
    int CheckRights(protocol::Feature feature);
    // Handles the session's messages until one that `match` accepts arrives (returned), the
    // time runs out (nullopt, *status kExitOk) or the connection ends or the recorder
    // refuses the request (nullopt, *status the exit status, the reason kept for Finish).
    std::optional<platform::PostedMessage> WaitFor(
        const std::function<bool(const platform::PostedMessage&)>& match,
        std::chrono::milliseconds timeout, int* status);
    // Disconnects in order (if still connected) and prints the summary; returns `status`.
    int Finish(int status, std::string reason = {});
    [[nodiscard]] const std::string& EndReason() const { return m_reason; }
    [[nodiscard]] std::uint16_t Port() const { return m_port; }
    [[nodiscard]] const std::string& Address() const { return m_address; }

  private:
    CCommandSession(std::string command, COptions options, bool json);
    // The run's local log, made on first use.
    std::shared_ptr<logs::CLocalLog> LocalLog();
    // Takes one posted message; returns an exit status when the connection has ended.
    std::optional<int> Handle(const platform::PostedMessage& message);

    std::string m_command;
    COptions m_options;
    std::string m_host;
    std::string m_password;
    std::vector<std::pair<std::string, std::uint16_t>> m_recorders;
    CPrintingSink m_sink;
    std::shared_ptr<logs::CLocalLog> m_localLog;
    video::CChannelViews m_views;
    std::unique_ptr<client::CConnection> m_connection;
    std::string m_address;
    std::uint16_t m_port = 0;
    std::chrono::milliseconds m_connectTimeout{10'000};
    std::chrono::milliseconds m_keepAlive{10'000};
    std::uint32_t m_generation = 1;  // of the current connection; older ones are dropped
    bool m_loggedIn = false;
    bool m_unsupported = false;
    std::optional<std::pair<int, int>> m_goodbye;
    std::string m_reason;
};

// One line about the recorder that answered the login: product, channels, account, MAC
// address and the firmware list (plain text lines, or one JSON object).
void PrintIdentity(CPrintingSink& out, const std::string& address, std::uint16_t port,
                   const protocol::CLoginService& login);

}  // namespace taviro::cli
