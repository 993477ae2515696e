#include "cli/clip_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "archive/clip_transfer.h"
#include "cli/backup_command.h"
#include "cli/command_session.h"
#include "cli/time_text.h"

namespace taviro::cli {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;

std::string TimeOf(std::int64_t micros) {
    return FormatTime(micros / kMicrosPerSecond,
                      static_cast<int>(micros % kMicrosPerSecond / 1000));
}

void PrintFiles(CCommandSession& command, const archive::ExportResult& result) {
    for (const archive::ExportedFile& file : result.files) {
        if (command.Json()) {
            char counts[200];
            std::snprintf(counts, sizeof counts,
                          ",\"frames\":%llu,\"first\":\"%s\",\"last\":\"%s\",\"lead_frames\":%llu,"
                          "\"duration\":%.3f,\"audio_samples\":%llu}",
                          static_cast<unsigned long long>(file.frames),
                          TimeOf(file.firstMicros).c_str(), TimeOf(file.lastMicros).c_str(),
                          static_cast<unsigned long long>(file.leadFrames), file.duration,
                          static_cast<unsigned long long>(file.audioSamples));
            command.Sink().PrintLine(
                "{\"event\":\"file\",\"channel\":" + std::to_string(file.channel + 1) +
                ",\"path\":\"" + JsonEscape(file.path.string()) + "\"" + counts);
        } else {
            command.Sink().PrintLine("file " + file.path.string() + "  channel " +
                                     std::to_string(file.channel + 1) + "  frames " +
                                     std::to_string(file.frames) + "  " + TimeOf(file.firstMicros) +
                                     " to " + TimeOf(file.lastMicros));
        }
    }
    for (const std::string& note : result.notes) {
        command.Sink().PrintLine(command.Json()
                                     ? "{\"event\":\"note\",\"text\":\"" + JsonEscape(note) + "\"}"
                                     : "note " + note);
    }
}

bool ReadTime(const COptions& options, const std::string& name, protocol::RecorderTime* time) {
    const auto text = options.Get(name);
    const auto parsed = text ? ParseDateTime(*text) : std::nullopt;
    if (parsed) {
        *time = *parsed;
    }
    return parsed.has_value();
}

}  // namespace

int RunClip(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli clip ") + kConnectionUsage +
                              " --from YYYY-MM-DDTHH:MM:SS --to YYYY-MM-DDTHH:MM:SS"
                              " [--channels MASK] --out-dir DIR [--format mp4|mkv] [--json]\n"
                              "  DIR/chNN.mp4 (or .mkv) per channel; the end is not included\n";
    int status = kExitOk;
    auto command = CCommandSession::Create(
        "clip", args, {"from", "to", "channels", "out-dir", "format"}, {}, usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
    const bool times = ReadTime(options, "from", &start) && ReadTime(options, "to", &end);
    if (!times || end <= start) {
        error = "--from and --to want YYYY-MM-DDTHH:MM:SS, --to after --from";
    }
    const auto maskValue = options.GetMask("channels", 0, &error);
    const std::string format = options.Get("format").value_or("mp4");
    if (format != "mp4" && format != "mkv") {
        error = "--format is mp4 or mkv";
    }
    if (!options.Has("out-dir")) {
        error = "--out-dir is needed";
    }
    if (!error.empty() || !maskValue) {
        std::fprintf(stderr, "taviro-cli clip: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const std::filesystem::path out = *options.Get("out-dir");
    status = command->LogIn();
    if (status != kExitOk) {
        return command->Finish(status);
    }
    client::CConnection& connection = command->Connection();
    const int count = std::clamp(connection.Session().Login().ChannelCount(), 1, 16);
    const protocol::ChannelMask all = (1u << count) - 1u;
    const protocol::ChannelMask mask =
        *maskValue != 0 ? static_cast<protocol::ChannelMask>(*maskValue) & all : all;

    archive::ClipSetup setup;
    setup.from = static_cast<std::uint32_t>(start);
    setup.to = static_cast<std::uint32_t>(end);
    setup.channels = mask;
    setup.format = format == "mkv" ? archive::ExportFormat::Mkv : archive::ExportFormat::Mp4;
    setup.folder = out;
    setup.name = [container = setup.format](int channel, int part) {
        return archive::ClipFileName(channel, part, container);
    };
    // Held here as well as by the transfer: read once the transfer's writer has ended.
    std::shared_ptr<archive::CClipTransferWriter> clip;
    recordings::BackupTarget target;
    target.folder = out;
    target.makeWriter = [&clip, setup] {
        clip = std::make_shared<archive::CClipTransferWriter>(setup);
        return clip;
    };
    connection.Backup().SetTarget(target);

    std::string reason;
    status = RunTransfer(*command, recordings::BackupRange{mask, start, end}, out, &reason);
    const auto outcome = connection.Backup().LastOutcome();
    if (!clip || !outcome) {
        return command->Finish(status == kExitOk ? kExitFailure : status,
                               reason.empty() ? "the clip was not started" : reason);
    }
    const archive::ExportResult& result = clip->Result();
    if (status == kExitOk && result.ok) {
        PrintFiles(*command, result);
        return command->Finish(kExitOk);
    }
    if (status == kExitOk && outcome->end == recordings::BackupEnd::kDone) {
        // All of it came, and none of it could be made into a file.
        return command->Finish(kExitFailure, result.error + "; no file was written");
    }
    // Cut short: no file is left, and the user learns how far it got.
    if (reason.empty() || outcome->end == recordings::BackupEnd::kWriteFailed) {
        reason = outcome->error.empty() ? result.error : outcome->error;
    }
    if (reason.empty()) {
        reason = "the clip could not be finished";
    }
    const std::int64_t latest = clip->LatestMicros();
    reason += latest < 0 ? "; nothing of the range had arrived"
                         : "; it had got to " + TimeOf(latest) + " of " + FormatTime(start) +
                               " to " + FormatTime(end);
    reason += "; no file was written";
    return command->Finish(status == kExitOk ? kExitFailure : status, reason);
}

}  // namespace taviro::cli
