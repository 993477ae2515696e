// `taviro-cli connect`: log in to a recorder, print who it is, stay connected for a while
// and disconnect in order. The command's own thread plays the main window's part: it
// takes the session's posted messages and reacts as the window would.
#pragma once

#include <string>
#include <vector>

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

int RunConnect(const std::vector<std::string>& args);

}  // namespace taviro::cli
