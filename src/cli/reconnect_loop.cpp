#include "cli/reconnect_loop.h"

#include <algorithm>
#include <string>
#include <thread>

#include "client/reconnect.h"

namespace taviro::cli {

namespace {

using Clock = client::CReconnectController::Clock;

void Print(CCommandSession& command, const std::string& json, const std::string& text) {
    command.Sink().PrintLine(command.Json() ? json : text);
}

std::chrono::milliseconds Until(Clock::time_point then) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(then - Clock::now());
}

}  // namespace

int StayReconnecting(CCommandSession& command, std::chrono::milliseconds duration,
                     const client::ConnectionSettings& settings, std::chrono::milliseconds unit,
                     const std::function<int()>& restore,
                     const std::function<int(std::chrono::milliseconds)>& stay) {
    const auto deadline = Clock::now() + duration;
    client::CReconnectController reconnect(unit);
    for (;;) {
        const auto left = Until(deadline);
        if (left.count() <= 0) {
            return kExitOk;
        }
        // A connection lost while `restore` waited on it has had its end handled already.
        int status = kExitDropped;
        if (command.EndCause() == protocol::SessionEnd::kRunning) {
            status = stay ? stay(left) : command.Stay(left);
            if (status == kExitOk) {
                return kExitOk;
            }
        }
        // Only a loss comes back: a goodbye, a refusal or a failed first connect is the
        // answer the command reports.
        if (command.EndCause() != protocol::SessionEnd::kLost || !command.WasLoggedIn()) {
            return status;
        }
        Print(command,
              "{\"event\":\"connection-lost\",\"reason\":\"" + JsonEscape(command.EndReason()) +
                  "\"}",
              "connection lost: " + command.EndReason());
        reconnect.OnLost(client::ResumeState{}, Clock::now());
        while (reconnect.State() == client::ReconnectState::kWaiting) {
            const auto wait = reconnect.WaitBefore(reconnect.Attempts());
            const long long units = wait / unit;
            Print(command,
                  "{\"event\":\"reconnecting\",\"attempt\":" +
                      std::to_string(reconnect.Attempts() + 1) +
                      ",\"wait_s\":" + std::to_string(units) + "}",
                  "reconnecting in " + std::to_string(units) + " s");
            while (!reconnect.Poll(Clock::now())) {
                if (Until(deadline).count() <= 0) {
                    return kExitDropped;  // the time is up while the recorder is away
                }
                std::this_thread::sleep_for(
                    std::min(Until(deadline), unit / 4 + std::chrono::milliseconds(1)));
            }
            status = command.Reconnect(settings);
            if (status == kExitOk) {
                reconnect.OnLoggedIn(Clock::now());
                break;
            }
            if (status == kExitGoodbye || status == kExitUnsupported) {
                reconnect.OnRefused(command.EndReason());
                Print(command,
                      "{\"event\":\"reconnect-refused\",\"reason\":\"" +
                          JsonEscape(command.EndReason()) + "\"}",
                      "reconnect refused: " + command.EndReason());
                return status;
            }
            reconnect.OnAttemptFailed(Clock::now());
        }
        if (const int restored = restore ? restore() : kExitOk; restored != kExitOk) {
            if (command.EndCause() == protocol::SessionEnd::kLost) {
                continue;  // lost again at once: the waits start over
            }
            return restored;
        }
        // The channel the new connection is set to hear from its live start (0: the first
        // with audio). The selection itself is only made when live view has started,
        // which may come after this line.
        const int selected = settings.heardChannel;
        const std::string heard = std::to_string(selected + 1);
        Print(command,
              "{\"event\":\"reconnected\",\"attempts\":" + std::to_string(reconnect.Attempts()) +
                  ",\"audio_channel\":" + heard + "}",
              "reconnected after " + std::to_string(reconnect.Attempts()) + " attempt(s)" +
                  (selected >= 0 ? ", hearing channel " + heard : std::string()));
    }
}

}  // namespace taviro::cli
