// The command-line client coming back by itself after a network loss (--reconnect): the
// same stay as CCommandSession::Stay, but a lost connection (no goodbye, no refusal) is
// made again with the desktop client's waits (1, 2, 4, 8, 16, 30 ... units) until the time
// is up, and `restore` brings back what the command had asked for. It prints one line per
// step: {"event":"connection-lost"}, {"event":"reconnecting","wait_s":N},
// {"event":"reconnected"} or {"event":"reconnect-refused"} (readable lines without --json).
//
// Thread: the command's own (the "main window" loop).
#pragma once

#include <chrono>
#include <functional>

#include "cli/command_session.h"
#include "client/connection.h"

namespace taviro::cli {

// `restore` runs once each new connection has logged in; its non-zero status ends the stay.
// `stay` stays in a running connection (CCommandSession::Stay when empty; --stats prints
// on the way).
// Returns kExitOk when the time ran out with a connection up, else how it ended.
int StayReconnecting(CCommandSession& command, std::chrono::milliseconds duration,
                     const client::ConnectionSettings& settings, std::chrono::milliseconds unit,
                     const std::function<int()>& restore,
                     const std::function<int(std::chrono::milliseconds)>& stay = {});

}  // namespace taviro::cli
