// A protocol area of the session (login, live view and device records, talk; later search,
// playback, backup, logs, status, PTZ, firmware) as a module of its own. The transport
// (CRecorderSession) owns the socket, the threads and the dispatch; a service registers the
// receive handlers of its messages, owns its state, sends its requests through the
// transport, and takes part in the shutdown when the transport asks.
//
// Threads: Register runs once on the owner's thread, before the connection starts. The
// receive handlers and OnLoggedIn run on the receive thread; the shutdown hooks on the
// thread that runs the transport's shutdown (never the receive thread). A service must
// outlive the transport's threads: its owner ends them (DestroyWindow) before destroying it.
#pragma once

#include <string_view>

#include "protocol/dispatch_table.h"

namespace taviro::protocol {

// The long-running services, in the order the shutdown looks at them: only the first one
// that runs is stopped with its own request before the goodbye. The other services are
// None.
enum class Service : int { Live = 0, Playback = 1, Backup = 2, Talk = 3, None = 100 };

class ISessionService {
  public:
    virtual ~ISessionService() = default;

    // For traces.
    [[nodiscard]] virtual std::string_view Name() const = 0;
    // Claims the message codes this service handles.
    virtual void Register(CDispatchTable& table) = 0;

    // The socket is connected and the receive thread runs (the login sends HELLO here).
    virtual void OnConnected() {}
    // Receive thread: the recorder accepted the login.
    virtual void OnLoggedIn() {}

    // Which long-running service this is, and whether it runs now (any thread).
    [[nodiscard]] virtual Service Kind() const { return Service::None; }
    [[nodiscard]] virtual bool Running() const { return false; }

    // --- the shutdown, in its order ---
    // Step 2: when this long-running service runs, queue its stop request and return true
    // (the shutdown then stops no other).
    virtual bool StopRunning() { return false; }
    // Step 4: what the windows must release for this service (lamps, panels).
    virtual void OnClosing() {}
    // Step 5: no new request of this service may go out from now on.
    virtual void CloseGates() {}
    // Step 11: the socket is closed and every session thread has ended.
    virtual void OnClosed() {}
};

}  // namespace taviro::protocol
