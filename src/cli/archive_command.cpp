#include "cli/archive_command.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "archive/backup_reader.h"
#include "archive/verify.h"
#include "cli/command_session.h"
#include "cli/options.h"
#include "cli/picture_file.h"
#include "cli/printing_sink.h"
#include "cli/time_text.h"
#include "client/local_playback.h"

namespace taviro::cli {

namespace {

// Parses the options of a command that needs no recorder; nullopt (status set) on --help
// or a usage error.
std::optional<COptions> ParseLocal(const std::string& command, const std::vector<std::string>& args,
                                   const std::vector<std::string>& known,
                                   const std::vector<std::string>& flags, const std::string& usage,
                                   int* status) {
    COptions options;
    std::string error;
    std::vector<std::string> all = known;
    all.insert(all.end(), flags.begin(), flags.end());
    if (!options.Parse(args, flags, &error)) {
        std::fprintf(stderr, "taviro-cli %s: %s\n%s", command.c_str(), error.c_str(),
                     usage.c_str());
        *status = kExitUsage;
        return std::nullopt;
    }
    if (options.Has("help")) {
        std::fputs(usage.c_str(), stdout);
        *status = kExitOk;
        return std::nullopt;
    }
    if (const auto unknown = options.Unknown(all); !unknown.empty()) {
        std::fprintf(stderr, "taviro-cli %s: unknown option --%s\n%s", command.c_str(),
                     unknown[0].c_str(), usage.c_str());
        *status = kExitUsage;
        return std::nullopt;
    }
    if (!options.Has("dir")) {
        std::fprintf(stderr, "taviro-cli %s: --dir is needed\n%s", command.c_str(), usage.c_str());
        *status = kExitUsage;
        return std::nullopt;
    }
    return options;
}

std::string KindsText(std::uint8_t kinds, bool json) {
    std::string out;
    if (kinds & 0x01)
        out += json ? "\"continuous\"" : "continuous";
    if (kinds & 0x02)
        out += std::string(out.empty() ? "" : (json ? "," : "+")) + (json ? "\"event\"" : "event");
    return out;
}

void PrintListing(CPrintingSink& out, const std::vector<archive::IndexFile>& files) {
    const bool json = out.Json();
    const auto stretches = archive::Stretches(files);
    // Days with recordings, by year and month.
    std::map<std::pair<int, int>, std::set<int>> days;
    for (const auto& s : stretches) {
        for (std::int64_t day = s.start / 86400; day <= static_cast<std::int64_t>(s.end) / 86400;
             ++day) {
            const auto date = FormatTime(day * 86400);  // YYYY-MM-DDT...
            days[{std::stoi(date.substr(0, 4)), std::stoi(date.substr(5, 2))}].insert(
                std::stoi(date.substr(8, 2)));
        }
    }
    for (const auto& [month, set] : days) {
        std::string list;
        for (const int d : set) {
            list += (list.empty() ? "" : (json ? "," : " ")) + std::to_string(d);
        }
        char line[400];
        if (json) {
            std::snprintf(line, sizeof line,
                          "{\"event\":\"month\",\"year\":%d,\"month\":%d,\"days\":[%s]}",
                          month.first, month.second, list.c_str());
        } else {
            std::snprintf(line, sizeof line, "%04d-%02d  days %s", month.first, month.second,
                          list.c_str());
        }
        out.PrintLine(line);
    }
    // Each channel's stretches joined where they meet (blocks follow each other within a
    // second), then one line per stretch with the channels that share it.
    std::map<std::pair<int, std::uint8_t>, std::vector<std::pair<std::uint32_t, std::uint32_t>>>
        perChannel;
    auto sorted = stretches;
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.start < b.start; });
    for (const auto& s : sorted) {
        auto& list = perChannel[{s.channel, s.kinds}];
        if (!list.empty() && s.start <= list.back().second + 1) {
            list.back().second = std::max(list.back().second, s.end);
        } else {
            list.emplace_back(s.start, s.end);
        }
    }
    std::map<std::tuple<std::uint32_t, std::uint32_t, std::uint8_t>, protocol::ChannelMask> lines;
    for (const auto& [key, list] : perChannel) {
        for (const auto& [start, end] : list) {
            lines[{start, end, key.second}] |= 1u << key.first;
        }
    }
    for (const auto& [key, mask] : lines) {
        const auto& [start, end, kinds] = key;
        const std::string k = KindsText(kinds, json);
        if (json) {
            out.PrintLine("{\"event\":\"stretch\",\"channels\":[" + ChannelList(mask, true) +
                          "],\"kinds\":[" + k + "],\"start\":\"" + FormatTime(start) +
                          "\",\"end\":\"" + FormatTime(end) + "\"}");
        } else {
            out.PrintLine(FormatTime(start) + " .. " + FormatTime(end) + "  " +
                          (k.empty() ? "-" : k) + "  channels " + ChannelList(mask, false));
        }
    }
}

}  // namespace

int RunVerify(const std::vector<std::string>& args) {
    const std::string usage = "usage: taviro-cli verify --dir DIR [--json]\n";
    int status = kExitOk;
    const auto options = ParseLocal("verify", args, {"dir"}, {"json", "help"}, usage, &status);
    if (!options) {
        return status;
    }
    CPrintingSink out(stdout, options->Has("json"));
    const auto verdicts = archive::VerifyFolder(*options->Get("dir"));
    for (const auto& v : verdicts) {
        if (v.verdict != archive::Verdict::Intact) {
            status = kExitFailure;
        }
        if (out.Json()) {
            const char* word = v.verdict == archive::Verdict::Intact    ? "intact"
                               : v.verdict == archive::Verdict::Altered ? "altered"
                                                                        : "damaged";
            out.PrintLine("{\"event\":\"pair\",\"idx\":\"" + JsonEscape(v.idx.string()) +
                          "\",\"vid\":\"" + JsonEscape(v.vid.string()) + "\",\"result\":\"" + word +
                          "\",\"text\":\"" + JsonEscape(v.Text()) +
                          "\",\"video_frames\":" + std::to_string(v.videoFrames) +
                          ",\"checked_frames\":" + std::to_string(v.checkedFrames) +
                          ",\"altered_frames\":" + std::to_string(v.alteredFrames) + "}");
        } else {
            out.PrintLine(v.idx.filename().string() + "  " + v.Text());
        }
    }
    if (verdicts.empty()) {
        std::fprintf(stderr, "taviro-cli verify: no backup pair in %s\n",
                     options->Get("dir")->c_str());
    }
    return status;
}

int RunArchive(const std::vector<std::string>& args) {
    const std::string usage =
        "usage: taviro-cli archive --dir DIR (--list | --from YYYY-MM-DDTHH:MM:SS [--seconds N]\n"
        "         [--speed 1..6|-2..-6] [--save-dir DIR] [--no-watermark]) [--json]\n";
    int status = kExitOk;
    const auto options =
        ParseLocal("archive", args, {"dir", "from", "seconds", "speed", "save-dir"},
                   {"json", "help", "list", "no-watermark"}, usage, &status);
    if (!options) {
        return status;
    }
    CPrintingSink out(stdout, options->Has("json"));
    const std::filesystem::path dir = *options->Get("dir");
    if (options->Has("list")) {
        PrintListing(out, archive::ChainFiles(archive::ScanFolder(dir)));
        return kExitOk;
    }
    std::string error;
    const auto from = options->Get("from") ? ParseDateTime(*options->Get("from")) : std::nullopt;
    if (!from) {
        error = "--list or --from YYYY-MM-DDTHH:MM:SS is needed";
    }
    const auto seconds = options->GetInt("seconds", 5, 0, 86400, &error);
    const auto speed = options->GetInt("speed", 1, -6, 6, &error);
    if (speed && (*speed == 0 || *speed == -1)) {
        error = "--speed wants 1..6 or -2..-6";
    }
    std::filesystem::path saveDir;
    if (const auto save = options->Get("save-dir")) {
        const auto made = MakeFolder(*save);
        if (!made) {
            error = "cannot create " + *save;
        } else {
            saveDir = *made;
        }
    }
    if (!error.empty() || !seconds || !speed) {
        std::fprintf(stderr, "taviro-cli archive: %s\n%s", error.c_str(), usage.c_str());
        return kExitUsage;
    }
    video::CChannelViews views;
    client::LocalPlaybackSettings settings;
    settings.folder = dir;
    settings.watermark = !options->Has("no-watermark");
    settings.deinterlace.fill(true);  // pictures as decoded, as `play` saves them
    client::CLocalPlayback playback(views, out, settings);
    if (playback.Start(static_cast<std::uint32_t>(from.value_or(0))) !=
        client::LocalStart::kStarted) {
        std::fprintf(stderr, "taviro-cli archive: no backup in %s holds that time\n", dir.c_str());
        return kExitFailure;
    }
    // The speed is reached as the buttons reach it: forward presses from 1, backward from -2.
    if (*speed >= 2) {
        for (long long k = 1; k < *speed; ++k)
            playback.SetMode(archive::PlayerMode::Forward);
    } else if (*speed <= -2) {
        for (long long k = -2; k >= *speed; --k)
            playback.SetMode(archive::PlayerMode::Backward);
    }
    // Of the player's messages only the segments' channels matter here: each of them gets its
    // line, shown or not.
    protocol::ChannelMask played = 0;
    const auto take = [&](std::chrono::milliseconds wait) {
        const auto message = out.Take(wait);
        if (message && message->message == client::WM_LOCAL_SEGMENT) {
            played |= static_cast<protocol::ChannelMask>(message->lParam) & protocol::kAllChannels;
        }
        return message.has_value();
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(*seconds);
    while (std::chrono::steady_clock::now() < until) {
        take(std::chrono::milliseconds(50));
    }
    const std::uint64_t queued = playback.FramesQueued();
    playback.Stop();
    while (take(std::chrono::milliseconds(0))) {
    }
    static constexpr const char* kIntegrity[] = {"unchecked", "none", "verified", "tampered"};
    std::uint64_t shownAll = 0;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        std::uint64_t shown = 0;
        std::int64_t firstMs = 0;
        std::int64_t lastMs = 0;
        int integrity = -1;
        {
            const video::ChannelView& view = views.Channel(c);
            std::lock_guard lock(view.lock);
            shown = view.shown;
            firstMs = view.firstMillis;
            lastMs = view.shownMillis;
            integrity = view.integrity;
        }
        if (shown == 0 && !protocol::HasChannel(played, c)) {
            continue;
        }
        shownAll += shown;
        // A channel that showed nothing has no first or last picture: "-" (null in JSON).
        const auto timeOf = [shown](std::int64_t ms) {
            return shown == 0 ? std::string() : FormatTime(ms / 1000, static_cast<int>(ms % 1000));
        };
        const std::string first = timeOf(firstMs);
        const std::string last = timeOf(lastMs);
        const char* state =
            shown == 0 ? kIntegrity[0] : kIntegrity[std::clamp(integrity, -1, 2) + 1];
        char line[280];
        if (out.Json()) {
            const auto json = [](const std::string& t) {
                return t.empty() ? std::string("null") : "\"" + t + "\"";
            };
            std::snprintf(line, sizeof line,
                          "{\"event\":\"channel\",\"channel\":%d,\"shown\":%llu,\"first\":%s,"
                          "\"last\":%s,\"integrity\":\"%s\"}",
                          c + 1, static_cast<unsigned long long>(shown), json(first).c_str(),
                          json(last).c_str(), state);
        } else {
            std::snprintf(line, sizeof line, "ch%02d  shown %llu  first %s  last %s  %s", c + 1,
                          static_cast<unsigned long long>(shown),
                          first.empty() ? "-" : first.c_str(), last.empty() ? "-" : last.c_str(),
                          state);
        }
        out.PrintLine(line);
        if (shown > 0 && !saveDir.empty() &&
            !SaveChannelPicture(views, c, platform::kH264FormatYuv420, saveDir)) {
            std::fprintf(stderr, "taviro-cli archive: cannot write the picture of channel %d\n",
                         c + 1);
            status = kExitFailure;
        }
    }
    if (shownAll == 0) {
        if (queued == 0) {
            std::fprintf(stderr,
                         "taviro-cli archive: no picture could be shown: no frame from that time "
                         "could be played (a picture size the player does not take, or damaged "
                         "records)\n");
        } else {
            std::fprintf(stderr,
                         "taviro-cli archive: no picture could be shown: the decoders showed none "
                         "of the %llu frames played\n",
                         static_cast<unsigned long long>(queued));
        }
        return kExitFailure;
    }
    return status;
}

}  // namespace taviro::cli
