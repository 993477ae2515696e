#include "cli/live_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "audio/audio_onoff.h"
#include "audio/audio_thread.h"
#include "cli/command_session.h"
#include "cli/live_stats.h"
#include "cli/picture_file.h"
#include "cli/reconnect_loop.h"
#include "platform/h264_decoder.h"
#include "platform/wav_file.h"
#include "video/channel_views.h"
#include "video/live_pipeline.h"

namespace taviro::cli {

namespace {

using protocol::ChannelMask;
using video::CLivePipeline;

void PrintChannels(CCommandSession& command, CLivePipeline& pipeline, double seconds) {
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto totals = pipeline.Decoders().Totals(c);
        if (totals.taken == 0 && !protocol::HasChannel(pipeline.Views().HasDecodedMask(), c)) {
            continue;  // nothing arrived for this channel
        }
        const video::ChannelView& view = pipeline.Views().Channel(c);
        int width = 0, height = 0;
        {
            std::lock_guard lock(view.lock);
            width = view.width;
            height = view.height;
        }
        if (!protocol::HasChannel(pipeline.Views().HasDecodedMask(), c)) {
            width = height = 0;
        }
        const std::string title = pipeline.LiveTitle(c);
        const double rate = seconds > 0 ? static_cast<double>(totals.decoded) / seconds : 0;
        const auto taken = static_cast<unsigned long long>(totals.taken);
        const auto decoded = static_cast<unsigned long long>(totals.decoded);
        const auto dropped = static_cast<unsigned long long>(totals.dropped);
        char line[400];
        if (command.Json()) {
            std::snprintf(line, sizeof line,
                          "{\"event\":\"channel\",\"channel\":%d,\"received\":%llu,"
                          "\"decoded\":%llu,\"dropped\":%llu,\"width\":%d,\"height\":%d,"
                          "\"fps\":%.1f,\"title\":\"%s\"}",
                          c + 1, taken, decoded, dropped, width, height, rate,
                          JsonEscape(title).c_str());
        } else {
            std::snprintf(
                line, sizeof line,
                "ch%02d  received %6llu  decoded %6llu  dropped %5llu  %4dx%-4d  %5.1f fps  %s",
                c + 1, taken, decoded, dropped, width, height, rate, title.c_str());
        }
        command.Sink().PrintLine(line);
    }
}

// What one recorder's live run is given: the same for every recorder of the command.
struct LiveRun {
    std::chrono::seconds seconds{5};
    std::optional<ChannelMask> channels;  // --channels: the selection sent after the start
    std::uint32_t format = platform::kH264FormatYuv420;
    client::ConnectionSettings settings;
    platform::CWavSoundOut* wav = nullptr;
    int audioChannel = 0;
    std::filesystem::path saveDir;  // empty: no pictures saved
    bool reconnect = false;
    std::chrono::milliseconds reconnectUnit{1'000};
    bool stats = false;
};

// One recorder's live run from the login to the summary line; its exit status.
int LiveOn(CCommandSession& command, const LiveRun& run) {
    int status = command.LogIn(run.settings);
    client::CConnection* connection = status == kExitOk ? &command.Connection() : nullptr;
    // What the command asks of the live view once logged in (and again after a loss).
    // When the last connection's live view was asked for: after a reconnect the channel
    // rates are that connection's counts over its own time, not over the whole run.
    auto liveSince = std::chrono::steady_clock::now();
    const auto prepareLive = [&] {
        liveSince = std::chrono::steady_clock::now();
        int prepared = kExitOk;
        if (run.wav && !command.Session().Transport().AudioOn()) {
            audio::ToggleRecorderAudio(command.Session().Transport(), true, true);
        }
        if (run.channels) {
            // The selection narrows a running live view: wait for the recorder's answer to
            // the live request of the login first.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (prepared == kExitOk && !command.Connection().LiveRunning() &&
                   std::chrono::steady_clock::now() < until) {
                prepared = command.Stay(std::chrono::milliseconds(20));
            }
            command.Session().Live().SendSelection(*run.channels);
        }
        return prepared;
    };
    if (connection) {
        status = prepareLive();
    }
    if (connection && status == kExitOk && run.reconnect) {
        // A lost connection is made again for the rest of the time, live view as before.
        std::optional<CStatsPrinter> stats;
        if (run.stats) {
            stats.emplace(command);
        }
        status = StayReconnecting(command, run.seconds, run.settings, run.reconnectUnit,
                                  prepareLive, [&](std::chrono::milliseconds left) {
                                      return stats ? stats->Stay(left) : command.Stay(left);
                                  });
        connection = command.HasConnection() ? &command.Connection() : nullptr;
    } else if (connection && status == kExitOk) {
        status = run.stats ? StayPrintingStats(command, run.seconds) : command.Stay(run.seconds);
    }
    if (connection && status == kExitOk) {
        connection->StopLive();  // drains and stops the audio output and the decoders
        connection->Drain();
        command.Stay(std::chrono::milliseconds(200));  // the recorder's live stop answer
    }
    if (connection) {
        connection->Close(client::CloseKind::kDisconnect);  // every decoder stopped and counted
        const double measured =
            run.reconnect
                ? std::chrono::duration<double>(std::chrono::steady_clock::now() - liveSince)
                      .count()
                : static_cast<double>(run.seconds.count());
        PrintChannels(command, connection->Pipeline(), measured);
    }
    if (run.wav) {
        run.wav->Stop();
        char line[200];
        if (command.Json()) {
            std::snprintf(line, sizeof line,
                          "{\"event\":\"audio\",\"channel\":%d,\"bytes\":%zu,\"writes\":%zu}",
                          run.audioChannel, run.wav->BytesWritten(), run.wav->Writes());
        } else {
            std::snprintf(line, sizeof line, "audio ch%02d  chunks %zu  bytes %zu",
                          run.audioChannel, run.wav->Writes(), run.wav->BytesWritten());
        }
        command.Sink().PrintLine(line);
    }
    if (!run.saveDir.empty()) {
        for (int c = 0; c < protocol::kMaxChannels; ++c) {
            if (protocol::HasChannel(command.Views().HasDecodedMask(), c) &&
                !SaveChannelPicture(command.Views(), c, run.format, run.saveDir)) {
                std::fprintf(stderr, "taviro-cli live: cannot write the picture of channel %d\n",
                             c + 1);
            }
        }
    }
    return command.Finish(status);
}

}  // namespace

int RunLive(const std::vector<std::string>& args) {
    const std::string usage =
        std::string("usage: taviro-cli live ") + kConnectionUsage +
        "\n       [--seconds N] [--channels MASK] [--save-dir DIR] [--rgb]"
        " [--deinterlace] [--stats]\n"
        "       [--audio-channel N --audio-out FILE.wav [--audio-buf 0..8]]\n"
        "       [--reconnect [--reconnect-unit-ms N]]\n"
        "  Several recorders: --recorder HOST:PORT, up to 16 times, in place of --host and\n"
        "  --port (one user and password for all); every line names its recorder, pictures go\n"
        "  to DIR/rN/, and the exit status is the highest of the recorders'.\n";
    int status = kExitUsage;
    auto command =
        CCommandSession::Create("live", args,
                                {"recorder", "seconds", "channels", "save-dir", "audio-channel",
                                 "audio-out", "audio-buf", "reconnect-unit-ms"},
                                {"rgb", "deinterlace", "stats", "reconnect"}, usage, &status);
    if (!command) {
        return status;
    }
    const COptions& options = command->Options();
    std::string error;
    const auto seconds = options.GetInt("seconds", 5, 0, 86400, &error);
    const auto mask = options.GetMask("channels", protocol::kAllChannels, &error);
    // The heard channel (1..16) and the file its samples go to: the audio thread writes to
    // the file exactly what it would hand to a sound device.
    const auto audioChannel = options.GetInt("audio-channel", 0, 1, protocol::kMaxChannels, &error);
    const auto audioBuf = options.GetInt("audio-buf", 2, 0, 8, &error);
    const auto audioOut = options.Get("audio-out");
    // One second of the reconnect waits; tests shorten it.
    const auto reconnectUnit = options.GetInt("reconnect-unit-ms", 1'000, 1, 60'000, &error);
    if (audioChannel && audioBuf && (options.Has("audio-channel") != audioOut.has_value()))
        error = "--audio-channel and --audio-out go together";
    if (audioOut && !command->Recorders().empty())
        error = "--audio-out takes the sound of one recorder (--host and --port)";
    if (!seconds || !mask || !audioChannel || !audioBuf || !reconnectUnit || !error.empty()) {
        std::fprintf(stderr, "taviro-cli live: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    LiveRun run;
    run.seconds = std::chrono::seconds(*seconds);
    if (options.Has("channels"))
        run.channels = static_cast<ChannelMask>(*mask);
    run.reconnect = options.Has("reconnect");
    run.reconnectUnit = std::chrono::milliseconds(*reconnectUnit);
    run.stats = options.Has("stats");
    run.audioChannel = static_cast<int>(*audioChannel);
    if (const auto dir = options.Get("save-dir")) {
        const auto made = MakeFolder(*dir);
        if (!made) {
            std::fprintf(stderr, "taviro-cli live: cannot create %s\n", dir->c_str());
            return kExitUsage;
        }
        run.saveDir = *made;
    }
    run.format = options.Has("rgb") ? platform::kH264FormatRgb24 : platform::kH264FormatYuv420;

    // Decoders for every channel: a narrowed selection only changes what the recorder sends.
    run.settings.pictureFormat = run.format;
    run.settings.deinterlace.fill(options.Has("deinterlace"));
    std::unique_ptr<platform::CWavSoundOut> wav;
    if (audioOut) {
        wav = std::make_unique<platform::CWavSoundOut>(*audioOut);
        // The file is opened once here, so a path that cannot be written fails before
        // connecting; the audio thread opens it again when live view starts.
        if (!wav->Open(audio::RecorderSoundFormat(), 0)) {
            std::fprintf(stderr, "taviro-cli live: %s\n", wav->Error().c_str());
            return kExitUsage;
        }
        run.wav = wav.get();
        run.settings.soundOut = wav.get();
        run.settings.soundOutputPresent = true;
        run.settings.audioBuffer = static_cast<int>(*audioBuf);
        run.settings.heardChannel = run.audioChannel - 1;
    }
    if (command->Recorders().empty())
        return LiveOn(*command, run);

    // Several recorders: each its own connection, decoders and loop on a thread of its own,
    // so that one that stalls, drops or refuses holds up none of the others.
    const std::size_t count = command->Recorders().size();
    std::vector<std::unique_ptr<CCommandSession>> sessions;
    std::vector<LiveRun> runs(count, run);
    for (std::size_t r = 0; r < count; ++r) {
        sessions.push_back(command->ForRecorder(r));
        if (!run.saveDir.empty()) {
            const auto made = MakeFolder((run.saveDir / ("r" + std::to_string(r + 1))).string());
            if (!made) {
                std::fprintf(stderr, "taviro-cli live: cannot create the folder of recorder %zu\n",
                             r + 1);
                return kExitUsage;
            }
            runs[r].saveDir = *made;
        }
    }
    std::vector<int> statuses(count, kExitOk);
    std::vector<std::thread> threads;
    for (std::size_t r = 0; r < count; ++r)
        threads.emplace_back([&, r] { statuses[r] = LiveOn(*sessions[r], runs[r]); });
    for (std::thread& thread : threads)
        thread.join();
    return *std::max_element(statuses.begin(), statuses.end());
}

}  // namespace taviro::cli
