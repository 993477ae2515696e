// The command line of taviro-recorder-sim: every SimConfig field has an option, written
// "--name value" or "--name=value".
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

namespace taviro::sim {

struct CommandLine {
    SimConfig config;
    bool help = false;
    bool version = false;  // --version
    // Empty when the line was understood; otherwise what was wrong, naming the option.
    std::string error;
};

// `args` without the program name.
CommandLine ParseCommandLine(std::span<const std::string_view> args);
CommandLine ParseCommandLine(int argc, const char* const* argv);

std::string UsageText();

}  // namespace taviro::sim
