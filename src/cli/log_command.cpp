#include "cli/log_command.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/command_session.h"
#include "cli/options.h"
#include "cli/pdf_output.h"
#include "lists/csv.h"
#include "lists/print_layout.h"
#include "logs/info_messages.h"
#include "logs/info_service.h"
#include "logs/local_log.h"
#include "logs/local_log_view.h"
#include "logs/remote_log.h"
#include "platform/skin_folder.h"
#include "platform/storage.h"
#include "platform/texts.h"

namespace taviro::cli {

namespace {

constexpr auto kAnswerWait = std::chrono::seconds(30);
// Titles of the printed pages (skin texts).
constexpr int kTextRemoteLogTitle = 5520;
constexpr int kTextLocalLogTitle = 5527;

const std::vector<std::string> kLogHeader = {"No.", "Time", "Type", "Name", "Detail"};
const std::vector<std::string> kLocalLogHeader = {"No.", "Time", "Event", "User", "Address"};

const char* const kViewNames[] = {"all",    "power", "record", "operation",
                                  "client", "event", "archive"};
const char* const kKindNames[] = {"Power", "Record", "Operation", "Client", "Event"};

platform::TextLookup Texts() {
    return platform::TextsFromFolder(platform::DefaultSkinFolder());
}

// The plain form of a row: its cells, two blanks apart, empty cells kept as "-".
std::string PlainLine(const std::vector<std::string>& cells) {
    std::string line;
    for (const std::string& cell : cells) {
        if (!line.empty())
            line += "  ";
        line += cell.empty() ? "-" : cell;
    }
    return line;
}

// Saves and prints what the options ask for; the first failure's message, or empty.
std::string SaveOutputs(const COptions& options, const std::vector<std::string>& header,
                        const lists::PrintDocument& document) {
    std::string error;
    if (const auto csv = options.Get("csv")) {
        if (!lists::WriteCsvFile(*csv, header, document.rows, &error))
            return "CSV " + *csv + ": " + error;
    }
    if (const auto pdf = options.Get("pdf")) {
        if (!WritePdf(document, *pdf, &error))
            return "PDF " + *pdf + ": " + error;
    }
    return {};
}

}  // namespace

int RunLogs(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli logs ") + kConnectionUsage +
        " [--view all|power|record|operation|client|event|archive] [--csv FILE] [--pdf FILE]"
        " [--date-order 0|1|2]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create("logs", args, {"view", "csv", "pdf", "date-order"}, {},
                                           usage, &status);
    if (!command) {
        return status;
    }
    const std::string viewName = command->Options().GetOr("view", "all");
    int viewIndex = -1;
    for (int i = 0; i < 7; ++i)
        if (viewName == kViewNames[i])
            viewIndex = i;
    std::string error;
    const auto order = command->Options().GetInt("date-order", 0, 0, 2, &error);
    if (viewIndex < 0 || !order) {
        std::fprintf(stderr, "taviro-cli logs: %s\n%s",
                     viewIndex < 0 ? "--view wants all, power, record, operation, client, "
                                     "event or archive"
                                   : error.c_str(),
                     usage.c_str());
        return kExitUsage;
    }
    const logs::LogView view = logs::kLogViews[static_cast<std::size_t>(viewIndex)];
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    if (!command->Connection().Info().RequestLog()) {
        return command->Finish(kExitFailure, "the request could not be sent");
    }
    const auto answer = command->WaitFor(
        [](const platform::PostedMessage& m) { return m.message == logs::WM_RECORDER_LOG_DONE; },
        kAnswerWait, &status);
    if (!answer || answer->lParam == logs::kInfoRefused) {
        const bool silent = status == kExitOk;
        return command->Finish(silent ? kExitFailure : status,
                               silent ? "no answer from the recorder" : "");
    }
    static const std::vector<std::uint8_t> none;
    const auto& bytes = answer->data ? *answer->data : none;
    const logs::RemoteLogParse parse = logs::ParseRemoteLog(bytes);
    if (!parse.error.empty() && !bytes.empty()) {
        return command->Finish(kExitFailure, "the recorder's log is unreadable: " + parse.error);
    }
    const platform::TextLookup text = Texts();
    const bool loggedIn = command->Session().Login().HelloAccepted();
    const logs::LogListContext listContext{text, static_cast<int>(*order), loggedIn, false};
    const logs::LogListContext printContext{text, static_cast<int>(*order), loggedIn, true};
    lists::PrintDocument document{
        logs::InfoOf(view).documentName, text(kTextRemoteLogTitle), lists::RemoteLogGeometry(), {}};
    for (const logs::LogRow& row : logs::BuildLogRows(parse.records, view, listContext)) {
        const logs::RemoteLogRecord& record = parse.records[row.record];
        const logs::LogCells printed = logs::RecordCells(record, printContext);
        document.rows.emplace_back(printed.begin(), printed.end());
        if (command->Json()) {
            const auto kind = logs::KindOf(record);
            command->Sink().PrintLine(
                "{\"event\":\"log\",\"number\":" + std::to_string(record.number) + ",\"time\":\"" +
                platform::IsoDateTimeText(record.time) + "\",\"kind\":\"" +
                (kind ? kKindNames[static_cast<int>(*kind)] : "") + "\",\"subtype\":\"" +
                JsonEscape(row.cells[2]) + "\",\"short\":\"" + JsonEscape(row.cells[3]) +
                "\",\"detail\":\"" + JsonEscape(row.cells[4]) + "\"}");
        } else {
            command->Sink().PrintLine(PlainLine({row.cells.begin(), row.cells.end()}));
        }
    }
    if (parse.droppedRecords > 0) {
        std::fprintf(stderr, "taviro-cli logs: %zu records beyond the first %zu were dropped\n",
                     parse.droppedRecords, logs::kRemoteLogMaxRecords);
    }
    const std::string failed = SaveOutputs(command->Options(), kLogHeader, document);
    if (!failed.empty()) {
        return command->Finish(kExitFailure, failed);
    }
    return command->Finish(kExitOk);
}

int RunLocalLog(const std::vector<std::string>& args) {
    const char* const usage =
        "usage: taviro-cli local-log [--storage DIR] [--json] [--csv FILE] [--pdf FILE]"
        " [--date-order 0|1|2]\n";
    COptions options;
    std::string error;
    if (!options.Parse(args, {"json", "help"}, &error)) {
        std::fprintf(stderr, "taviro-cli local-log: %s\n%s", error.c_str(), usage);
        return kExitUsage;
    }
    if (options.Has("help")) {
        std::fputs(usage, stdout);
        return kExitOk;
    }
    const auto unknown = options.Unknown({"storage", "json", "csv", "pdf", "date-order", "help"});
    const auto order = options.GetInt("date-order", 0, 0, 2, &error);
    if (!unknown.empty() || !order) {
        std::fprintf(
            stderr, "taviro-cli local-log: %s\n%s",
            !unknown.empty() ? ("unknown option --" + unknown.front()).c_str() : error.c_str(),
            usage);
        return kExitUsage;
    }
    const std::filesystem::path storage = options.Has("storage")
                                              ? std::filesystem::path(*options.Get("storage"))
                                              : platform::DefaultStorageFolder();
    // A missing file is an empty log, not an error.
    const logs::LocalLogContents contents =
        logs::ReadLocalLog(storage / "Log" / logs::kLocalLogFileName);
    const platform::TextLookup text = Texts();
    lists::PrintDocument document{
        "Local Log", text(kTextLocalLogTitle), lists::LocalLogGeometry(), {}};
    const bool json = options.Has("json");
    for (const logs::LocalLogRow& row :
         logs::BuildLocalLogRows(contents, {text, static_cast<int>(*order)})) {
        document.rows.emplace_back(row.cells.begin(), row.cells.end());
        const logs::LocalLogRecord& record = contents.records[row.record];
        if (json) {
            std::printf(
                "{\"event\":\"local-log\",\"number\":%s,\"slot\":%u,\"time\":\"%s\","
                "\"text\":\"%s\",\"user\":\"%s\",\"address\":\"%s\"}\n",
                std::to_string(std::atoi(row.cells[0].c_str())).c_str(), record.number,
                platform::IsoDateTimeText(record.time).c_str(), JsonEscape(row.cells[2]).c_str(),
                JsonEscape(row.cells[3]).c_str(), JsonEscape(row.cells[4]).c_str());
        } else {
            std::printf("%s\n", PlainLine({row.cells.begin(), row.cells.end()}).c_str());
        }
    }
    const std::string failed = SaveOutputs(options, kLocalLogHeader, document);
    if (!failed.empty()) {
        std::fprintf(stderr, "taviro-cli local-log: %s\n", failed.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace taviro::cli
