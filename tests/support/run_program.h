// Runs a program of the build with arguments, collects what it prints and its exit
// status, and kills it if it runs past a time limit. No shell is involved.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace taviro::testing {

struct ProgramResult {
    int exitStatus = -1;  // -1 when killed or not started
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         std::chrono::milliseconds limit);

// A taviro-cli command logged in to the simulated recorder on loopback as admin:1234, with
// its storage folder (empty: none given), followed by `extra`.
std::vector<std::string> CliArgs(const std::string& command, unsigned port,
                                 const std::string& storage,
                                 const std::vector<std::string>& extra = {});

// The path of a program built in this build tree, e.g. BuiltProgram("src/cli/taviro-cli").
std::string BuiltProgram(const std::string& relative);

}  // namespace taviro::testing
