#include "cli/web_command.h"

#include <chrono>

#include "cli/command_session.h"
#include "maintenance/web_setup.h"

namespace taviro::cli {

namespace {

// The permission tables follow the login answer; a newer recorder's rights are known once a
// user list named this user.
constexpr std::chrono::milliseconds kRightsWait{3'000};
constexpr std::chrono::milliseconds kRightsStep{50};

}  // namespace

int RunWebUrl(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli web-url ") + kConnectionUsage + " [--json]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create("web-url", args, {}, {}, usage, &status);
    if (!command)
        return status;
    status = command->LogIn();
    if (status != kExitOk)
        return command->Finish(status);

    auto& live = command->Session().Live();
    const auto deadline = std::chrono::steady_clock::now() + kRightsWait;
    while (live.Rights().productMajor != 0 && !live.Rights().userSlot &&
           std::chrono::steady_clock::now() < deadline) {
        status = command->Stay(kRightsStep);
        if (status != kExitOk)
            return command->Finish(status);
    }
    if (command->Connection().CheckRights(protocol::Feature::WebSetup) !=
        app::CommandResult::kDone) {
        return command->Finish(kExitFailure, "this user may not open the web setup");
    }
    const protocol::HelloAck hello = command->Session().Login().Hello();
    const auto url = maintenance::WebSetupUrl(command->Session().Transport().AddressText(),
                                              hello.webPort, hello.Key);
    if (!url)
        return command->Finish(kExitFailure, "the recorder's address is no IPv4 address");
    command->Sink().PrintLine(command->Json() ? "{\"event\":\"web-url\",\"url\":\"" + *url + "\"}"
                                              : *url);
    return command->Finish(kExitOk);
}

}  // namespace taviro::cli
