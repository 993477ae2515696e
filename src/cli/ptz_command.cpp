#include "cli/ptz_command.h"

#include <cstdio>
#include <optional>
#include <string>

#include "cli/command_session.h"
#include "maintenance/ptz_rules.h"
#include "maintenance/ptz_service.h"

namespace taviro::cli {

namespace {

using maintenance::PtzButton;
using maintenance::PtzMode;
namespace ptz_code = maintenance::ptz_code;

constexpr auto kAnswerWait = std::chrono::seconds(10);
constexpr auto kLiveWait = std::chrono::seconds(5);

// One operation of the command line: the code, its number, and whether it moves until a
// stop (then held for --ms).
struct Operation {
    std::string text;  // as printed
    PtzMode mode = PtzMode::Pan;
    std::uint8_t code = 0;
    int number = 0;
    bool held = false;
};

std::optional<Operation> MoveOperation(const std::string& direction) {
    struct Named {
        const char* name;
        PtzButton button;
        PtzMode mode;
    };
    // Zooming is the Up and Down of the panel's zoom mode.
    constexpr Named kMoves[] = {
        {"up", PtzButton::Up, PtzMode::Pan},       {"down", PtzButton::Down, PtzMode::Pan},
        {"left", PtzButton::Left, PtzMode::Pan},   {"right", PtzButton::Right, PtzMode::Pan},
        {"zoom-in", PtzButton::Up, PtzMode::Zoom}, {"zoom-out", PtzButton::Down, PtzMode::Zoom},
    };
    for (const Named& m : kMoves) {
        if (direction == m.name) {
            return Operation{"move " + direction, m.mode, *maintenance::MoveCode(m.button, m.mode),
                             0, true};
        }
    }
    return std::nullopt;
}

std::optional<Operation> MenuOperation(const std::string& step) {
    if (step == "enter")
        return Operation{"menu enter", PtzMode::Pan, ptz_code::kDomeEnter, 0, false};
    if (step == "select")
        return Operation{"menu select", PtzMode::Pan, ptz_code::kMenuEnter, 0, false};
    if (step == "back")
        return Operation{"menu back", PtzMode::Pan, ptz_code::kMenuEscape, 0, false};
    if (step == "leave")
        return Operation{"menu leave", PtzMode::Pan, ptz_code::kMenuLeave, 0, false};
    return std::nullopt;
}

// The one operation the options name; an error text when they name none or several.
std::optional<Operation> ParseOperation(const COptions& options, std::string* error) {
    int named = 0;
    for (const char* o : {"move", "preset-set", "preset-call", "tour", "menu"}) {
        named += options.Has(o) ? 1 : 0;
    }
    if (named != 1) {
        *error = "name exactly one of --move, --preset-set, --preset-call, --tour, --menu";
        return std::nullopt;
    }
    if (const auto direction = options.Get("move")) {
        auto op = MoveOperation(*direction);
        if (!op)
            *error = "--move wants up, down, left, right, zoom-in or zoom-out";
        return op;
    }
    if (const auto step = options.Get("menu")) {
        auto op = MenuOperation(*step);
        if (!op)
            *error = "--menu wants enter, select, back or leave";
        return op;
    }
    if (options.Has("tour")) {
        const auto number = options.GetInt("number", 1, 1, 4, error);
        if (!number)
            return std::nullopt;
        const int n = static_cast<int>(*number);
        return Operation{"tour " + std::to_string(n), PtzMode::Pan,
                         maintenance::PresetCode(maintenance::PresetAction::Tour), n, false};
    }
    const bool set = options.Has("preset-set");
    const auto number = options.GetInt(set ? "preset-set" : "preset-call", 0, 1,
                                       maintenance::kPresetNumberLimit - 1, error);
    if (!number)
        return std::nullopt;
    const int n = static_cast<int>(*number);
    const auto action = set ? maintenance::PresetAction::Set : maintenance::PresetAction::Call;
    return Operation{std::string(set ? "preset set " : "preset call ") + std::to_string(n),
                     PtzMode::Pan, maintenance::PresetCode(action), n, false};
}

void PrintAnswer(CCommandSession& command, int channel, bool steerable) {
    char line[128];
    if (command.Json()) {
        std::snprintf(line, sizeof line, "{\"event\":\"ptz\",\"channel\":%d,\"steerable\":%s}",
                      channel, steerable ? "true" : "false");
    } else {
        std::snprintf(line, sizeof line, "ch%02d  %s", channel,
                      steerable ? "steerable" : "not steerable");
    }
    command.Sink().PrintLine(line);
}

void PrintSent(CCommandSession& command, int channel, const Operation& op, long long ms) {
    std::string line;
    if (command.Json()) {
        line = "{\"event\":\"ptz-sent\",\"channel\":" + std::to_string(channel) +
               ",\"operation\":\"" + op.text + "\",\"code\":" + std::to_string(op.code);
        if (op.held)
            line += ",\"ms\":" + std::to_string(ms);
        line += "}";
    } else {
        line = "ch" + std::string(channel < 10 ? "0" : "") + std::to_string(channel) + "  sent " +
               op.text + (op.held ? " for " + std::to_string(ms) + " ms, then stop" : "");
    }
    command.Sink().PrintLine(line);
}

}  // namespace

int RunPtz(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli ptz ") + kConnectionUsage +
        "\n       --channel N (--move up|down|left|right|zoom-in|zoom-out [--ms M] |"
        "\n       --preset-set P | --preset-call P | --tour [--number 1..4] |"
        "\n       --menu enter|select|back|leave) [--json]\n";
    int status = kExitUsage;
    auto command = CCommandSession::Create(
        "ptz", args, {"channel", "move", "ms", "preset-set", "preset-call", "number", "menu"},
        {"tour"}, usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    const auto channel = options.GetInt("channel", 0, 1, protocol::kMaxChannels, &error);
    const auto ms = options.GetInt("ms", 500, 0, 60'000, &error);
    std::optional<Operation> op;
    if (channel && ms && error.empty()) {
        if (!options.Has("channel"))
            error = "--channel is needed";
        else
            op = ParseOperation(options, &error);
    }
    if (!op || !error.empty()) {
        std::fprintf(stderr, "taviro-cli ptz: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const int shown = static_cast<int>(*channel);
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    client::CConnection& connection = command->Connection();
    // The recorder takes PTZ only while live view runs; the login started it.
    const auto until = std::chrono::steady_clock::now() + kLiveWait;
    while (status == kExitOk && !connection.LiveRunning() &&
           std::chrono::steady_clock::now() < until) {
        status = command->Stay(std::chrono::milliseconds(20));
    }
    if (status != kExitOk || !connection.LiveRunning()) {
        return command->Finish(status != kExitOk ? status : kExitFailure,
                               status != kExitOk ? "" : "live view did not start");
    }
    status = command->CheckRights(protocol::Feature::Ptz);
    if (status != kExitOk) {
        return command->Finish(status,
                               status == kExitFailure ? "this user may not steer cameras" : "");
    }
    maintenance::CPtzService& ptz = connection.Ptz();
    if (!ptz.SendChannel(shown - 1, op->mode)) {
        return command->Finish(kExitFailure, "the request could not be sent");
    }
    const auto answer = command->WaitFor(
        [](const platform::PostedMessage& m) {
            return m.message == maintenance::WM_PTZ_CHANNEL_ACK;
        },
        kAnswerWait, &status);
    if (!answer) {
        return command->Finish(status != kExitOk ? status : kExitFailure,
                               status != kExitOk ? "" : "no answer from the recorder");
    }
    const bool steerable =
        answer->lParam == static_cast<std::int64_t>(maintenance::PtzAvailability::Steerable);
    PrintAnswer(*command, shown, steerable);
    if (!steerable) {
        return command->Finish(kExitFailure, "the channel cannot be steered");
    }
    if (!ptz.SendMove(op->code, op->number)) {
        return command->Finish(kExitFailure, "the request could not be sent");
    }
    if (op->held) {
        status = command->Stay(std::chrono::milliseconds(*ms));
        // The stop goes out even when the connection is in trouble: if it is still up, the
        // camera must not keep moving.
        ptz.SendStop();
        if (status != kExitOk) {
            return command->Finish(status);
        }
    }
    PrintSent(*command, shown, *op, static_cast<long long>(*ms));
    connection.Session().Transport().FlushRequests(std::chrono::seconds(2));
    return command->Finish(kExitOk);
}

}  // namespace taviro::cli
