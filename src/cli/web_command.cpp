#include "cli/web_command.h"

#include "cli/command_session.h"
#include "maintenance/web_setup.h"

namespace taviro::cli {

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

    status = command->CheckRights(protocol::Feature::WebSetup);
    if (status != kExitOk)
        return command->Finish(
            status, status == kExitFailure ? "this user may not open the web setup" : "");
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
