#include "cli/backup_command.h"

#include <cstdio>
#include <filesystem>

#include "cli/command_session.h"
#include "cli/time_text.h"
#include "platform/storage.h"
#include "recordings/backup_service.h"
#include "recordings/messages.h"

namespace taviro::cli {

namespace {

constexpr auto kAnswerWait = std::chrono::seconds(15);
// A transfer that delivers nothing for this long has stalled.
constexpr auto kStallLimit = std::chrono::seconds(30);

void PrintPairs(CCommandSession& command, const recordings::BackupOutcome& outcome) {
    for (const archive::PairSummary& pair : outcome.pairs) {
        char counts[160];
        if (command.Json()) {
            std::snprintf(counts, sizeof counts,
                          ",\"video_frames\":%llu,\"blocks\":%u,\"events\":%u,\"complete\":%s}",
                          static_cast<unsigned long long>(pair.videoFrames), pair.blocks,
                          pair.events, pair.complete ? "true" : "false");
            command.Sink().PrintLine("{\"event\":\"pair\",\"idx\":\"" +
                                     JsonEscape(pair.idx.string()) + "\",\"vid\":\"" +
                                     JsonEscape(pair.vid.string()) + "\"" + counts);
        } else {
            std::snprintf(counts, sizeof counts, "  frames %llu  blocks %u  events %u%s",
                          static_cast<unsigned long long>(pair.videoFrames), pair.blocks,
                          pair.events, pair.complete ? "" : "  (cut short)");
            command.Sink().PrintLine("pair " + pair.idx.string() + " " + pair.vid.string() +
                                     counts);
        }
    }
}

}  // namespace

int RunTransfer(CCommandSession& command, const recordings::BackupRange& range,
                const std::filesystem::path& out, std::string* reason) {
    client::CConnection& connection = command.Connection();
    recordings::CBackupService& backup = connection.Backup();
    int status = kExitOk;
    const auto fail = [&](int code, std::string why) {
        *reason = std::move(why);
        return code;
    };
    // The size first, checked against the disk as the backup page does.
    if (!backup.RequestCapacity(range)) {
        return fail(kExitFailure, "the request could not be sent");
    }
    const auto capacity = command.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.message == recordings::WM_BACKUP_CAPACITY;
        },
        kAnswerWait, &status);
    if (!capacity) {
        return fail(status == kExitOk ? kExitFailure : status,
                    status == kExitOk ? "no answer to the size request" : "");
    }
    if (capacity->lParam < 0) {
        return fail(kExitFailure, command.EndReason().empty() ? "the recorder refused the backup"
                                                              : command.EndReason());
    }
    const auto kilobytes = static_cast<std::uint32_t>(capacity->wParam);
    if (capacity->lParam == 0) {
        const auto sizes = connection.Session().Transport().TransferSizes();
        std::string why = "not enough free space in " + out.string();
        if (sizes) {
            why += ": " + std::to_string(sizes->first) + " MB needed, " +
                   std::to_string(sizes->second) + " MB available (100 MB kept free)";
        }
        return fail(kExitFailure, why);
    }
    if (command.Json()) {
        command.Sink().PrintLine("{\"event\":\"size\",\"kbytes\":" + std::to_string(kilobytes) +
                                 ",\"text\":\"" + recordings::CapacityText(kilobytes) + "\"}");
    } else {
        command.Sink().PrintLine("size " + recordings::CapacityText(kilobytes));
    }
    if (kilobytes == 0) {
        return fail(kExitFailure, "nothing is recorded in that range");
    }

    if (!backup.Start(range)) {
        return fail(kExitFailure, "the backup could not be started");
    }
    std::string error;
    std::uint64_t lastBytes = 0;
    auto lastChange = std::chrono::steady_clock::now();
    bool finished = false;
    while (status == kExitOk && !finished) {
        const auto message = command.WaitFor(
            [&](const platform::PostedMessage& m) {
                if (m.message == recordings::WM_BACKUP_PROGRESS) {
                    if (command.Json()) {
                        command.Sink().PrintLine(
                            "{\"event\":\"progress\",\"kbytes\":" + std::to_string(m.wParam) + "}");
                    } else {
                        command.Sink().PrintLine("progress " + std::to_string(m.wParam) + " KB");
                    }
                    return false;
                }
                return m.message == recordings::WM_BACKUP_FINISHED;
            },
            std::chrono::seconds(1), &status);
        finished = message.has_value();
        const std::uint64_t bytes = backup.BytesReceived();
        if (bytes != lastBytes) {
            lastBytes = bytes;
            lastChange = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastChange > kStallLimit) {
            status = kExitFailure;
            error = "the recorder stopped sending";
        }
    }
    *reason = error.empty() ? command.EndReason() : error;
    // A refusal, a lost connection or a stall: the connection's end ends the writer.
    connection.Close(client::CloseKind::kDisconnect);
    return status;
}

int RunBackup(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli backup ") + kConnectionUsage +
                              " --from YYYY-MM-DDTHH:MM:SS --to YYYY-MM-DDTHH:MM:SS"
                              " [--channels MASK] [--out DIR] [--split-bytes N] [--json]\n";
    int status = kExitOk;
    auto command = CCommandSession::Create(
        "backup", args, {"from", "to", "channels", "out", "split-bytes"}, {}, usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    const auto from = options.Get("from") ? ParseDateTime(*options.Get("from")) : std::nullopt;
    const auto to = options.Get("to") ? ParseDateTime(*options.Get("to")) : std::nullopt;
    const protocol::RecorderTime start = from.value_or(0);
    const protocol::RecorderTime end = to.value_or(0);
    if (!from || !to || end <= start) {
        error = "--from and --to want YYYY-MM-DDTHH:MM:SS, --to after --from";
    }
    const auto maskValue = options.GetMask("channels", 0, &error);
    const auto split =
        options.GetInt("split-bytes", static_cast<long long>(archive::kDefaultSplitBytes), 4096,
                       0xFFFF0000LL, &error);
    if (!error.empty() || !maskValue || !split) {
        std::fprintf(stderr, "taviro-cli backup: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const std::filesystem::path storage = options.Has("storage")
                                              ? std::filesystem::path(*options.Get("storage"))
                                              : platform::DefaultStorageFolder();
    std::filesystem::path out = storage / "Download";
    if (const auto dir = options.Get("out")) {
        out = *dir;
    }
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    client::CConnection& connection = command->Connection();
    recordings::CBackupService& backup = connection.Backup();
    const int count = connection.Session().Login().ChannelCount();
    const protocol::ChannelMask all = count >= 32 ? protocol::kAllChannels : ((1u << count) - 1u);
    const protocol::ChannelMask mask =
        *maskValue != 0 ? static_cast<protocol::ChannelMask>(*maskValue) & all : all;
    recordings::BackupTarget target;
    target.folder = out;
    target.splitBytes = static_cast<std::uint64_t>(*split);
    backup.SetTarget(target);
    const recordings::BackupRange range{mask, start, end};
    std::string reason;
    status = RunTransfer(*command, range, out, &reason);
    const auto outcome = backup.LastOutcome();
    if (outcome) {
        PrintPairs(*command, *outcome);
        if (outcome->failed) {
            status = kExitFailure;
            reason = outcome->error;
        }
    }
    if (status == kExitOk && (!outcome || outcome->pairs.empty())) {
        status = kExitFailure;
        reason = "no backup pair was written";
    }
    return command->Finish(status, reason);
}

}  // namespace taviro::cli
