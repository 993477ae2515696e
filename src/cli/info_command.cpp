#include "cli/info_command.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "cli/command_session.h"
#include "cli/time_text.h"
#include "logs/info_messages.h"
#include "logs/info_service.h"
#include "logs/status_info.h"
#include "platform/skin_folder.h"
#include "platform/texts.h"
#include "recordings/event_list.h"
#include "recordings/messages.h"
#include "recordings/search_service.h"

namespace taviro::cli {

namespace {

constexpr auto kAnswerWait = std::chrono::seconds(15);
// --all-pages stops here even if the recorder keeps announcing more.
constexpr int kMaxPages = 10'000;

bool IsEventAnswer(const platform::PostedMessage& m) {
    return m.message == recordings::WM_EVENT_PAGE_READY ||
           m.message == recordings::WM_EVENT_LIST_READY;
}

void PrintEvents(CCommandSession& command, recordings::EventKind kind,
                 const recordings::EventReply& reply) {
    const auto entries = recordings::NumberEvents(reply.records);
    for (const recordings::EventEntry& e : entries) {
        if (e.record.kind != static_cast<std::uint8_t>(kind))
            continue;  // the recorder may send other kinds: the list shows one
        std::string line;
        if (command.Json()) {
            line = std::string("{\"event\":\"event\",\"kind\":\"") +
                   recordings::EventKindName(kind) + "\",\"number\":" + std::to_string(e.number) +
                   ",\"channels\":[" + ChannelList(e.record.channels, true) + "],\"start\":\"" +
                   FormatTime(e.record.start) + "\",\"end\":\"" + FormatTime(e.record.end) + "\"}";
        } else {
            char number[16];
            std::snprintf(number, sizeof number, "%4d  ", e.number);
            line = number + FormatTime(e.record.start) + " .. " + FormatTime(e.record.end) +
                   "  channels " + ChannelList(e.record.channels, false);
        }
        command.Sink().PrintLine(line);
    }
}

void PrintPage(CCommandSession& command, std::int32_t current, std::int32_t last) {
    const long long shownCurrent = static_cast<long long>(current) + 1;
    const long long shownLast = static_cast<long long>(last < 0 ? 0 : last) + 1;
    char line[96];
    if (command.Json()) {
        std::snprintf(line, sizeof line, "{\"event\":\"page\",\"current\":%lld,\"last\":%lld}",
                      shownCurrent, shownLast);
    } else {
        std::snprintf(line, sizeof line, "page %lld / %lld", shownCurrent, shownLast);
    }
    command.Sink().PrintLine(line);
}

// One page asked and printed; nullopt when no page came, with *status set and *reason the
// closing reason (empty when the session already knows it: a refusal or the connection's
// end).
std::optional<recordings::EventReply> AskPage(CCommandSession& command, recordings::EventKind kind,
                                              std::int32_t page, int* status, std::string* reason) {
    if (!command.Connection().Search().RequestEvents(recordings::SearchSide::Playback, kind,
                                                     page)) {
        *status = kExitFailure;
        *reason = "the request could not be sent";
        return std::nullopt;
    }
    const auto answer = command.WaitFor(IsEventAnswer, kAnswerWait, status);
    if (!answer) {
        if (*status == kExitOk) {
            *status = kExitFailure;
            *reason = "no answer from the recorder";
        }
        return std::nullopt;
    }
    static const std::vector<std::uint8_t> none;
    const auto& bytes = answer->data ? *answer->data : none;
    auto reply =
        recordings::ParseEventReply(bytes, answer->message == recordings::WM_EVENT_PAGE_READY);
    PrintEvents(command, kind, reply);
    PrintPage(command, reply.currentPage, reply.lastPage);
    return reply;
}

void PrintInfoRows(CCommandSession& command, const char* page,
                   const std::vector<logs::InfoRow>& rows) {
    for (const logs::InfoRow& row : rows) {
        if (row.label.empty() && row.value.empty() && row.extra.empty())
            continue;  // the pages' blank separator rows
        std::string line;
        if (command.Json()) {
            line = std::string("{\"event\":\"status\",\"page\":\"") + page + "\",\"name\":\"" +
                   JsonEscape(row.label) + "\",\"value\":\"" + JsonEscape(row.value) + "\"";
            if (!row.extra.empty())
                line += ",\"detail\":\"" + JsonEscape(row.extra) + "\"";
            line += "}";
        } else {
            line = row.label + ": " + row.value;
            if (!row.extra.empty())
                line += "  " + row.extra;
        }
        command.Sink().PrintLine(line);
    }
}

}  // namespace

int RunEvents(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli events ") + kConnectionUsage +
                              " --kind alarm|motion|audio [--page N | --all-pages] [--json]\n";
    int status = kExitOk;
    auto command =
        CCommandSession::Create("events", args, {"kind", "page"}, {"all-pages"}, usage, &status);
    if (!command) {
        return status;
    }
    const auto kind = recordings::EventKindFromName(command->Options().GetOr("kind", ""));
    std::string error;
    const auto page = command->Options().GetInt("page", 1, 1, 1'000'000'000, &error);
    if (!kind || !page || (command->Options().Has("page") && command->Options().Has("all-pages"))) {
        std::fprintf(stderr, "taviro-cli events: %s\n%s",
                     !kind   ? "--kind wants alarm, motion or audio"
                     : !page ? error.c_str()
                             : "--page and --all-pages exclude each other",
                     usage.c_str());
        return kExitUsage;
    }
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    std::string reason;
    auto reply = AskPage(*command, *kind, static_cast<std::int32_t>(*page - 1), &status, &reason);
    if (!reply) {
        return command->Finish(status, reason);
    }
    if (command->Options().Has("all-pages")) {
        // The recorder's own page count decides; each page is asked in turn after the first.
        const std::int32_t last = reply->lastPage;
        for (std::int32_t p = 1; p <= last && p < kMaxPages; ++p) {
            if (!AskPage(*command, *kind, p, &status, &reason)) {
                return command->Finish(status, reason);
            }
        }
    }
    return command->Finish(kExitOk);
}

int RunStatus(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli status ") + kConnectionUsage + " [--json]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create("status", args, {}, {}, usage, &status);
    if (!command) {
        return status;
    }
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    const platform::TextLookup text = platform::TextsFromFolder(platform::DefaultSkinFolder());
    logs::SystemFacts facts;
    facts.address = command->Address();
    facts.port = command->Port();
    facts.hello = command->Session().Login().Hello();
    PrintInfoRows(*command, "system", logs::SystemRows(facts, text));

    if (!command->Connection().Info().RequestStatus()) {
        return command->Finish(kExitFailure, "the request could not be sent");
    }
    const auto answer = command->WaitFor(
        [](const platform::PostedMessage& m) { return m.message == logs::WM_RECORDER_STATUS_DONE; },
        kAnswerWait, &status);
    // A refusal is reported (and ends the wait) by its notification before the empty
    // done message follows.
    if (!answer || answer->lParam == logs::kInfoRefused) {
        const bool silent = status == kExitOk;
        return command->Finish(silent ? kExitFailure : status,
                               silent ? "no answer from the recorder" : "");
    }
    static const std::vector<std::uint8_t> none;
    const auto& bytes = answer->data ? *answer->data : none;
    PrintInfoRows(*command, "status",
                  logs::StatusRows(logs::ParseStatusInfo(bytes),
                                   command->Session().Login().ChannelCount(), text));
    return command->Finish(kExitOk);
}

}  // namespace taviro::cli
