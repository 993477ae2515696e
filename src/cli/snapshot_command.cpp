#include "cli/snapshot_command.h"

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "cli/command_session.h"
#include "logs/local_log.h"
#include "platform/h264_decoder.h"
#include "platform/storage.h"
#include "snapshot/snapshot_job.h"
#include "snapshot/snapshot_writers.h"
#include "video/channel_views.h"
#include "video/live_pipeline.h"

namespace taviro::cli {

namespace {

std::optional<snapshot::SaveFormat> ParseFormat(const std::string& text) {
    if (text == "jpg") {
        return snapshot::SaveFormat::kJpeg;
    }
    if (text == "bmp") {
        return snapshot::SaveFormat::kBmp;
    }
    if (text == "tif") {
        return snapshot::SaveFormat::kTiff;
    }
    return std::nullopt;
}

}  // namespace

int RunSnapshot(const std::vector<std::string>& args) {
    const std::string usage = std::string("usage: taviro-cli snapshot ") + kConnectionUsage +
                              "\n       [--channels MASK] [--format jpg|bmp|tif] [--out DIR]"
                              " [--seconds N]\n";
    int status = kExitUsage;
    auto command = CCommandSession::Create(
        "snapshot", args, {"seconds", "channels", "format", "out"}, {}, usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    const auto seconds = options.GetInt("seconds", 2, 0, 86400, &error);
    const auto mask = options.GetMask("channels", protocol::kAllChannels, &error);
    const auto format = ParseFormat(options.Get("format").value_or("jpg"));
    if (!format && error.empty()) {
        error = "--format takes jpg, bmp or tif";
    }
    if (!seconds || !mask || !format || !error.empty()) {
        std::fprintf(stderr, "taviro-cli snapshot: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const std::filesystem::path storage = options.Has("storage")
                                              ? std::filesystem::path(*options.Get("storage"))
                                              : platform::DefaultStorageFolder();
    // The workers create the folder, as they do for the Save button.
    const std::filesystem::path out =
        options.Has("out") ? std::filesystem::path(*options.Get("out")) : storage / "Saved";
    auto requested = static_cast<protocol::ChannelMask>(*mask) & protocol::kAllChannels;

    client::ConnectionSettings settings;
    settings.pictureFormat = platform::kH264FormatYuv420;
    status = command->LogIn(settings);
    client::CConnection* connection = status == kExitOk ? &command->Connection() : nullptr;
    if (connection && !options.Has("channels")) {
        // Every channel the recorder has, not sixteen.
        const int count = command->Session().Login().ChannelCount();
        requested &= count >= protocol::kMaxChannels
                         ? protocol::kAllChannels
                         : static_cast<protocol::ChannelMask>((1u << count) - 1u);
    }
    if (connection && options.Has("channels")) {
        // Narrowing waits for the answer to the login's live request first.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (status == kExitOk && !connection->LiveRunning() &&
               std::chrono::steady_clock::now() < until) {
            status = command->Stay(std::chrono::milliseconds(20));
        }
        command->Session().Live().SendSelection(requested);
    }
    if (connection && status == kExitOk) {
        status = command->Stay(std::chrono::seconds(*seconds));
    }

    std::vector<snapshot::SnapshotResult> results;
    protocol::ChannelMask withPicture = 0;
    if (connection && status == kExitOk) {
        // Taken while live view runs, as the Save button takes them.
        withPicture = requested & command->Views().HasDecodedMask();
        snapshot::JobSettings job;
        job.pictureFormat = settings.pictureFormat;
        job.format = *format;
        job.savedFolder = out;
        job.localTime = snapshot::LocalTimeNow();
        auto jobs = snapshot::MakeSnapshotJobs(command->Views(), withPicture, job);
        const auto painter = MakeCaptionPainter();
        {
            platform::CNullSink sink;
            snapshot::CSnapshotWriters writers(
                &sink, *painter, snapshot::DisplayFormat{32, snapshot::Pixel16Layout::kNone});
            writers.Start(std::move(jobs));
            writers.Stop();
            results = writers.TakeResults();
        }
        logs::CLocalLog log(storage);
        snapshot::WriteSnapshotLogEntry(log);
    }
    if (connection && status == kExitOk) {
        connection->StopLive();
        connection->Drain();
        command->Stay(std::chrono::milliseconds(200));  // the recorder's live stop answer
    }
    if (connection) {
        connection->Close(client::CloseKind::kDisconnect);
    }
    int saved = 0;
    for (const auto& result : results) {
        if (result.code == snapshot::kSnapshotSaved) {
            ++saved;
            command->Sink().PrintLine(result.file.string());
        } else {
            std::fprintf(stderr, "taviro-cli snapshot: channel %d: %s\n", result.channel + 1,
                         result.error.c_str());
        }
    }
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (status == kExitOk && protocol::HasChannel(requested, c) &&
            !protocol::HasChannel(withPicture, c)) {
            std::fprintf(stderr, "taviro-cli snapshot: channel %d: no picture\n", c + 1);
        }
    }
    if (status == kExitOk && saved != protocol::ChannelCount(requested)) {
        status = kExitFailure;
    }
    return command->Finish(status);
}

}  // namespace taviro::cli
