#include "cli/archive_command.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "archive/backup_reader.h"
#include "archive/verify.h"
#include "cli/command_session.h"
#include "cli/options.h"
#include "cli/printing_sink.h"
#include "cli/time_text.h"

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
    const std::string usage = "usage: taviro-cli archive --dir DIR --list [--json]\n";
    int status = kExitOk;
    const auto options =
        ParseLocal("archive", args, {"dir"}, {"json", "help", "list"}, usage, &status);
    if (!options) {
        return status;
    }
    CPrintingSink out(stdout, options->Has("json"));
    const auto files = archive::ChainFiles(archive::ScanFolder(*options->Get("dir")));
    if (options->Has("list")) {
        PrintListing(out, files);
        return kExitOk;
    }
    std::fprintf(stderr, "taviro-cli archive: --list is needed\n%s", usage.c_str());
    return kExitUsage;
}

}  // namespace taviro::cli
