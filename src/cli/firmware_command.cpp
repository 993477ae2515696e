#include "cli/firmware_command.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "cli/command_session.h"
#include "cli/printing_sink.h"
#include "cli/time_text.h"
#include "maintenance/firmware_scan.h"
#include "maintenance/firmware_service.h"
#include "maintenance/firmware_upgrade.h"

namespace taviro::cli {

namespace {

namespace fw = maintenance;

// A transfer of a large image over a slow link, plus the recorder's flashing.
constexpr auto kStepWait = std::chrono::seconds(120);

// The --image values (repeatable, which the option parser does not keep) taken out of
// `args`.
std::vector<std::string> TakeImages(std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> images;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--image") {
            if (i + 1 >= args.size()) {
                *error = "--image wants a file name";
                return {};
            }
            images.push_back(args[++i]);
        } else if (a.rfind("--image=", 0) == 0) {
            images.push_back(a.substr(8));
        } else {
            rest.push_back(a);
        }
    }
    args = std::move(rest);
    return images;
}

const char* ResultWord(int statusText) {
    switch (statusText) {
        case fw::kFwTextDone:
            return "done";
        case fw::kFwTextFailed:
            return "failed";
        case fw::kFwTextStopped:
            return "stopped";
        case fw::kFwTextRefusedBusy:
            return "refused (1)";
        case fw::kFwTextRefused17:
            return "refused (17)";
        case fw::kFwTextRefused18:
            return "refused (18)";
        default:
            return "refused";
    }
}

void PrintCandidates(CCommandSession& command, const fw::UpgradeScan& scan) {
    for (std::size_t slot = 0; slot < scan.slotCount; ++slot) {
        const fw::UpgradeSlot& s = scan.upgradeSlots[slot];
        if (!s.bCandidate) {
            continue;
        }
        const std::string file = s.path.filename().string();
        const std::string version = FormatTime(static_cast<std::int64_t>(s.version));
        std::string line;
        if (command.Json()) {
            line = "{\"event\":\"image\",\"row\":" + std::to_string(slot) +
                   ",\"component\":" + std::to_string(s.component) + ",\"file\":\"" +
                   JsonEscape(file) + "\",\"version\":\"" + version + "\"}";
        } else {
            line = "row " + std::to_string(slot) + "  component " + std::to_string(s.component) +
                   "  " + version + "  " + file;
        }
        command.Sink().PrintLine(line);
    }
}

void PrintProgress(CCommandSession& command, std::size_t row, int percent) {
    char line[96];
    if (command.Json()) {
        std::snprintf(line, sizeof line, "{\"event\":\"progress\",\"row\":%zu,\"percent\":%d}", row,
                      percent);
    } else {
        std::snprintf(line, sizeof line, "row %zu  %3d%%", row, percent);
    }
    command.Sink().PrintLine(line);
}

void PrintResult(CCommandSession& command, std::size_t row, const std::string& file,
                 int statusText) {
    std::string line;
    if (command.Json()) {
        line = "{\"event\":\"result\",\"row\":" + std::to_string(row) + ",\"file\":\"" +
               JsonEscape(file) + "\",\"result\":\"" + ResultWord(statusText) + "\"}";
    } else {
        line = "row " + std::to_string(row) + "  " + file + "  " + ResultWord(statusText);
    }
    command.Sink().PrintLine(line);
}

}  // namespace

int RunFirmware(const std::vector<std::string>& argsIn) {
    const std::string usage = std::string("usage: taviro-cli firmware ") + kConnectionUsage +
                              " --folder DIR [--list] [--image FILE]... [--json]\n";
    std::vector<std::string> args = argsIn;
    std::string error;
    const std::vector<std::string> images = TakeImages(args, &error);
    if (!error.empty()) {
        std::fprintf(stderr, "taviro-cli firmware: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    int status = kExitOk;
    auto command = CCommandSession::Create("firmware", args, {"folder"}, {"list"}, usage, &status);
    if (!command) {
        return status;
    }
    const auto folder = command->Options().Get("folder");
    if (!folder || folder->empty()) {
        std::fprintf(stderr, "taviro-cli firmware: --folder is needed\n%s", usage.c_str());
        return kExitUsage;
    }
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    status = command->CheckRights(protocol::Feature::FirmwareUpgrade);
    if (status != kExitOk) {
        return command->Finish(
            status, status == kExitFailure ? "this user may not upgrade the firmware" : "");
    }
    fw::UpgradeScan scan = fw::ScanUpgradeFolder(*folder, command->Session().Login().Hello());
    if (images.empty() || command->Options().Has("list")) {
        PrintCandidates(*command, scan);
    }
    if (images.empty()) {
        return command->Finish(kExitOk);
    }

    // The upgrade uses the connection's firmware service: it must be gone before Finish
    // closes the connection, so it lives only inside this block.
    using Outcome = std::pair<int, std::string>;
    const auto run = [&]() -> Outcome {
        // Only the named images are upgraded; each must be the one its row was given.
        const std::set<std::string> wanted(images.begin(), images.end());
        std::set<std::string> found;
        fw::CFirmwareUpgrade upgrade(command->Connection().Firmware(), command->Sink(), scan);
        for (std::size_t row = 0; row < scan.slotCount; ++row) {
            const fw::UpgradeSlot& s = scan.upgradeSlots[row];
            const bool named = s.bCandidate && wanted.count(s.path.filename().string()) != 0;
            if (named) {
                found.insert(s.path.filename().string());
            }
            upgrade.SetChecked(row, named);
        }
        for (const std::string& name : wanted) {
            if (found.count(name) == 0) {
                return Outcome(kExitFailure, name + " is no accepted image in the folder");
            }
        }
        if (!upgrade.Start()) {
            return Outcome(kExitFailure, "the upgrade could not start");
        }
        std::array<int, fw::kFwRows> shown{};
        shown.fill(-1);
        while (upgrade.CurrentState() != fw::CFirmwareUpgrade::State::Idle) {
            const auto message = command->WaitFor(
                [](const platform::PostedMessage& m) {
                    return m.window == platform::Window::Firmware;
                },
                kStepWait, &status);
            if (!message) {
                // The worker is told to stop; the connection's shutdown waits for it.
                return Outcome(status == kExitOk ? kExitFailure : status,
                               status == kExitOk ? "no answer from the recorder" : "");
            }
            upgrade.OnMessage(message->message, message->wParam, message->lParam);
            const std::size_t row = upgrade.CurrentSlot();
            const int percent = upgrade.View().rows[row].percent;
            if (message->message == maintenance::WM_FW_PROGRESS &&
                percent / 10 != shown[row] / 10) {
                shown[row] = percent;
                PrintProgress(*command, row, percent);
            }
        }
        bool allDone = true;
        for (std::size_t row = 0; row < scan.slotCount; ++row) {
            if (!upgrade.View().rows[row].checked || !scan.upgradeSlots[row].bCandidate) {
                continue;
            }
            const int text = upgrade.View().rows[row].statusText;
            allDone = allDone && text == fw::kFwTextDone;
            PrintResult(*command, row, scan.upgradeSlots[row].path.filename().string(), text);
        }
        return Outcome(allDone ? kExitOk : kExitFailure,
                       allDone ? "" : "not every image was upgraded");
    };
    const auto [result, reason] = run();
    return command->Finish(result, reason);
}

}  // namespace taviro::cli
