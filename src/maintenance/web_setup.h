// The recorder's web setup: its pages are opened in the user's browser, logged in with the
// session key the login answer handed out. Nothing goes over the recorder connection.
//
// Threads: pure functions; OpenWebSetup runs on the window's thread (starting a program
// does not wait for it).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process_launcher.h"

namespace taviro::maintenance {

// The settings path of the browser the operator chose (a program name or path); empty or
// absent means none was chosen.
inline constexpr std::string_view kBrowserSettingPath = "WebSetup/Browser";
inline constexpr std::string_view kWebSetupError = "Remote Setup Error!!!";

// "http://ADDR:PORT/webdb/webdb.cgi?key=" and the key as 16 lower-case hex digits. The host
// is rebuilt from the four numbers of a dotted IPv4 address, so nothing but digits and dots
// reaches the browser from it; nullopt when `address` is not one.
std::optional<std::string> WebSetupUrl(std::string_view address, std::uint16_t webPort,
                                       const std::array<std::uint8_t, 8>& key);

// One way to start a browser: the program and its arguments, the page address among them.
struct BrowserCommand {
    std::string program;
    std::vector<std::string> arguments;
};

// The browsers to try, in order: the chosen one, then each entry of $BROWSER (a list
// separated by ':'; an entry may hold "%s" where the address goes, otherwise the address is
// its one argument; words are split on blanks, no shell ever sees them), then xdg-open.
std::vector<BrowserCommand> BrowserCommands(std::string_view url, std::string_view chosen,
                                            const char* browserVariable);

// Starts the first browser that starts. False when none did (the caller shows
// kWebSetupError).
bool OpenWebSetup(const std::vector<BrowserCommand>& commands,
                  platform::IProcessLauncher& launcher);

}  // namespace taviro::maintenance
