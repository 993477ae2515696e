#include "cli/connect_command.h"

#include <cstdio>

#include "cli/command_session.h"

namespace taviro::cli {

int RunConnect(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli connect ") + kConnectionUsage + "\n       [--seconds N]\n";
    int status = kExitUsage;
    auto command = CCommandSession::Create("connect", args, {"seconds"}, {}, usage, &status);
    if (!command) {
        return status;
    }
    std::string error;
    const auto seconds = command->Options().GetInt("seconds", 0, 0, 86400 * 7, &error);
    if (!seconds) {
        std::fprintf(stderr, "taviro-cli connect: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    status = command->LogIn();
    if (status == kExitOk) {
        status = command->Stay(std::chrono::seconds(*seconds));
    }
    return command->Finish(status);
}

}  // namespace taviro::cli
