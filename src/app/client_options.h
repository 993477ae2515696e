// The desktop client's command line:
//   taviro [--connect HOST:PORT ...] [--user U] [--password W] [--player]
//          [--settings FILE] [--screenshot FILE] [--screenshot-after SECONDS]
//          [--quit-after SECONDS]
//   taviro --skin-path
// --connect pre-fills the connect dialog and confirms it; given again (up to 16 times in
// all) it adds those recorders too, in that order, with the same user and password;
// --player forces player mode;
// --settings keeps the settings in that INI file instead of the user's; --screenshot writes
// a picture of the main window after the given time (default 5 s), for headless machines.
// --skin-path prints the skin pack folder the program loads and opens no window (it answers
// on a machine without a display, so an installation can be checked anywhere).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::app {

struct ClientOptions {
    std::optional<std::string> connectHost;
    std::int32_t connectPort = 0;
    // The second and further --connect, in order.
    struct Address {
        std::string host;
        std::int32_t port = 0;
    };
    std::vector<Address> moreConnects;
    std::string user;
    std::string password;
    bool player = false;
    std::optional<std::string> settingsFile;
    std::optional<std::string> screenshot;
    double screenshotAfter = 5.0;
    std::optional<double> quitAfter;
};

struct ParsedOptions {
    std::optional<ClientOptions> options;  // nullopt: `error` says why
    std::string error;
    bool help = false;
    bool skinPath = false;  // --skin-path: print the skin pack's folder instead of running
    bool version = false;   // --version: print the program's name and version
};

inline constexpr std::string_view kClientUsage =
    "usage: taviro [--connect HOST:PORT ...] [--user USER] [--password PASSWORD] [--player]\n"
    "              [--settings FILE] [--screenshot FILE] [--screenshot-after SECONDS]\n"
    "              [--quit-after SECONDS]\n"
    "       taviro --skin-path\n"
    "       taviro --version\n";

// Arguments after the program name. Options Qt itself takes (-platform ...) must have been
// removed by QApplication first.
ParsedOptions ParseClientOptions(std::span<const std::string> args);

// "HOST:PORT" with a port of 1..65534, or HOST alone (port 2000).
bool SplitHostPort(std::string_view text, std::string& host, std::int32_t& port);

}  // namespace taviro::app
