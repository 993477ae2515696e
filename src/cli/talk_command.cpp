#include "cli/talk_command.h"

#include <cstdio>
#include <memory>
#include <optional>

#include "audio/talk.h"
#include "cli/command_session.h"
#include "platform/wav_file.h"
#include "protocol/session_messages.h"

namespace taviro::cli {

namespace {

using namespace std::chrono_literals;

// How long the recorder may take to answer the talk request.
constexpr std::chrono::milliseconds kAnswerLimit{10'000};
constexpr std::chrono::milliseconds kSlice{50};
// The pause after the stop request before the goodbye, as between the services at quit.
constexpr std::chrono::milliseconds kAfterStop{100};

enum class Answer { Started, Stopped, Refused };

// The command plays the main window: it looks at every message the session posted since
// the last look (the loop in CCommandSession takes them but keeps the history).
class CTalkWatcher {
  public:
    explicit CTalkWatcher(CPrintingSink& sink) : m_sink(sink) {}

    std::optional<Answer> Next(std::pair<int, int>* refusal) {
        const auto history = m_sink.History();
        for (; m_seen < history.size(); ++m_seen) {
            const auto& m = history[m_seen];
            if (m.messageBox) {
                continue;
            }
            if (m.message == protocol::WM_TALK_STARTED) {
                ++m_seen;
                return Answer::Started;
            }
            if (m.message == protocol::WM_TALK_STOPPED) {
                ++m_seen;
                return Answer::Stopped;
            }
            if (m.message == platform::WM_RECORDER_NOTIFY) {
                const int category = platform::NotifyCategory(m.lParam);
                if (category == 6 || category == 12) {
                    *refusal = {category, platform::NotifyCode(m.lParam)};
                    ++m_seen;
                    return Answer::Refused;
                }
            }
        }
        return std::nullopt;
    }

    // A refusal that stops talking posts protocol::WM_TALK_STOPPED first and its notification right
    // after; this waits a moment for the notification.
    void RefusalAfterStop(CCommandSession& command, std::pair<int, int>* refusal) {
        for (int i = 0; i < 20; ++i) {
            if (Next(refusal) == Answer::Refused) {
                return;
            }
            command.Stay(kSlice);
        }
    }

  private:
    CPrintingSink& m_sink;
    std::size_t m_seen = 0;
};

std::string RefusalText(const std::pair<int, int>& r) {
    return "the recorder refused talking (" + std::to_string(r.first) + ", " +
           std::to_string(r.second) + "): " + DescribeNotification(r.first, r.second);
}

void PrintState(CCommandSession& command, const std::string& state, const std::string& text) {
    if (command.Json()) {
        command.Sink().PrintLine("{\"event\":\"talk\",\"state\":\"" + state + "\"}");
    } else {
        command.Sink().PrintLine(text);
    }
}

void PrintSummary(CCommandSession& command, const audio::TalkStats& s, double seconds) {
    const auto bytes = s.sent * audio::kTalkPayloadBytes;
    if (command.Json()) {
        command.Sink().PrintLine(
            "{\"event\":\"talk_summary\",\"seconds\":" + std::to_string(seconds) +
            ",\"captured\":" + std::to_string(s.captured) + ",\"sent\":" + std::to_string(s.sent) +
            ",\"bytes\":" + std::to_string(bytes) + ",\"dropped\":" + std::to_string(s.dropped) +
            ",\"send_failed\":" + std::to_string(s.sendFailed) + "}");
        return;
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "talk: %llu buffers captured, %llu A_LISTEN_DATA messages sent (%llu bytes), "
                  "%llu dropped, %llu failed",
                  static_cast<unsigned long long>(s.captured),
                  static_cast<unsigned long long>(s.sent), static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long long>(s.dropped),
                  static_cast<unsigned long long>(s.sendFailed));
    command.Sink().PrintLine(line);
}

}  // namespace

int RunTalk(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli talk ") + kConnectionUsage +
                              "\n       --input FILE.wav [--seconds N]\n";
    int status = kExitUsage;
    auto command = CCommandSession::Create("talk", args, {"input", "seconds"}, {}, usage, &status);
    if (!command) {
        return status;
    }
    std::string error;
    const auto seconds = command->Options().GetInt("seconds", 5, 1, 86400, &error);
    const auto input = command->Options().Get("input");
    if (!seconds || !input) {
        std::fprintf(stderr, "taviro-cli talk: %s\n%s",
                     seconds ? "--input is needed" : error.c_str(), usage.c_str());
        return kExitUsage;
    }
    // The file is checked before connecting, so a wrong file never opens a talk session.
    {
        const platform::WavData wav = platform::ReadWavFile(*input);
        const platform::SoundFormat want = audio::TalkCaptureFormat();
        if (!wav.Ok()) {
            std::fprintf(stderr, "taviro-cli talk: %s: %s\n", input->c_str(), wav.error.c_str());
            return kExitFailure;
        }
        if (wav.format.channels != want.channels ||
            wav.format.framesPerSecond != want.framesPerSecond) {
            std::fprintf(stderr,
                         "taviro-cli talk: %s: %d channels at %d frames/s; the microphone is "
                         "2 channels at 8000 frames/s\n",
                         input->c_str(), wav.format.channels, wav.format.framesPerSecond);
            return kExitFailure;
        }
    }

    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    protocol::CClientSession& session = command->Session();
    audio::CTalkButton talk(command->Sink());
    CTalkWatcher watcher(command->Sink());

    switch (talk.Press(&session, true)) {
        case audio::MikePress::Requested:
            break;
        case audio::MikePress::NotAllowed:
            return command->Finish(kExitFailure, "this account may not talk (15, 0)");
        default:
            return command->Finish(kExitFailure, "the talk request could not be sent");
    }
    PrintState(*command, "requested", "talk requested");

    // The answer: A_LISTEN_ACK (talk starts) or A_LISTEN_NACK (a refusal).
    std::pair<int, int> refusal{};
    std::optional<Answer> answer;
    const auto answerBy = std::chrono::steady_clock::now() + kAnswerLimit;
    while (!answer) {
        if (std::chrono::steady_clock::now() >= answerBy) {
            return command->Finish(kExitFailure, "no answer to the talk request");
        }
        status = command->Stay(kSlice);
        answer = watcher.Next(&refusal);
        if (status != kExitOk) {
            return command->Finish(status);
        }
    }
    if (*answer != Answer::Started) {
        if (*answer == Answer::Stopped) {
            watcher.RefusalAfterStop(*command, &refusal);
        }
        talk.OnTalkStopped(&session);
        return command->Finish(kExitFailure, RefusalText(refusal));
    }

    talk.OnTalkStarted(session, std::make_unique<platform::CWavSoundIn>(*input));
    if (talk.Talk() == nullptr || !talk.Talk()->Capturing()) {
        talk.StopTalking(&session);
        return command->Finish(kExitFailure, "the file microphone did not start");
    }
    PrintState(*command, "started",
               "talking: " + *input + " as the microphone for " + std::to_string(*seconds) + " s");

    const auto started = std::chrono::steady_clock::now();
    const auto until = started + std::chrono::seconds(*seconds);
    std::optional<std::string> stoppedBy;
    while (std::chrono::steady_clock::now() < until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        status = command->Stay(std::min(left, kSlice));
        if (status != kExitOk) {
            break;
        }
        if (const auto next = watcher.Next(&refusal); next && *next != Answer::Started) {
            if (*next == Answer::Stopped) {
                watcher.RefusalAfterStop(*command, &refusal);
            }
            stoppedBy = RefusalText(refusal);
            break;
        }
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (stoppedBy || status != kExitOk) {
        // The recorder ended talk, or the connection: nothing to ask it any more.
        talk.OnTalkStopped(&session);
    } else {
        talk.StopTalking(&session);
        PrintState(*command, "stopped", "talk stopped");
    }
    PrintSummary(*command, talk.LastStats(), took);
    if (stoppedBy) {
        return command->Finish(kExitFailure, *stoppedBy);
    }
    if (status != kExitOk) {
        return command->Finish(status);
    }
    command->Stay(kAfterStop);
    return command->Finish(kExitOk);
}

}  // namespace taviro::cli
