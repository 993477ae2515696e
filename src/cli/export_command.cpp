#include "cli/export_command.h"

#include <chrono>
#include <cstdio>

#include "archive/export.h"
#include "cli/command_session.h"
#include "cli/options.h"
#include "cli/printing_sink.h"
#include "cli/time_text.h"

namespace taviro::cli {

namespace {

constexpr auto kProgressEvery = std::chrono::milliseconds(200);

const char* const kUsage =
    "usage: taviro-cli export --dir DIR --from YYYY-MM-DDTHH:MM:SS --to YYYY-MM-DDTHH:MM:SS\n"
    "         [--channels MASK] --out FILE.mp4|FILE.mkv [--json]\n"
    "  one file per channel (FILE_chNN.EXT with several channels); the end is not included\n";

int UsageError(const std::string& error) {
    std::fprintf(stderr, "taviro-cli export: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
}

}  // namespace

int RunExport(const std::vector<std::string>& args) {
    COptions options;
    std::string error;
    const std::vector<std::string> flags = {"json", "help"};
    if (!options.Parse(args, flags, &error)) {
        return UsageError(error);
    }
    if (options.Has("help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (const auto unknown =
            options.Unknown({"dir", "from", "to", "channels", "out", "json", "help"});
        !unknown.empty()) {
        return UsageError("unknown option --" + unknown[0]);
    }
    for (const char* needed : {"dir", "from", "to", "out"}) {
        if (!options.Has(needed)) {
            return UsageError(std::string("--") + needed + " is needed");
        }
    }
    const auto from = ParseDateTime(*options.Get("from"));
    const auto to = ParseDateTime(*options.Get("to"));
    if (!from || !to) {
        return UsageError("--from and --to want YYYY-MM-DDTHH:MM:SS");
    }
    if (*to <= *from) {
        return UsageError("--to must come after --from");
    }
    const auto channels = options.GetMask("channels", 0xFFFFu, &error);
    if (!channels) {
        return UsageError(error);
    }
    const std::filesystem::path out = *options.Get("out");
    const auto format = archive::ExportFormatOf(out);
    if (!format) {
        return UsageError("--out must name a .mp4 or .mkv file");
    }

    CPrintingSink sink(stdout, options.Has("json"));
    const bool json = sink.Json();
    auto last = std::chrono::steady_clock::time_point{};
    bool printed = false;
    const archive::ExportProgressFn progress = [&](std::uint64_t bytes, std::uint64_t total) {
        const auto now = std::chrono::steady_clock::now();
        if (!json || (printed && now - last < kProgressEvery)) {
            return;
        }
        printed = true;
        last = now;
        sink.PrintLine("{\"event\":\"progress\",\"bytes\":" + std::to_string(bytes) +
                       ",\"total\":" + std::to_string(total) + "}");
    };
    const auto result =
        archive::ExportRange(*options.Get("dir"), static_cast<std::uint32_t>(*from),
                             static_cast<std::uint32_t>(*to), *channels, out, *format, progress);
    for (const auto& file : result.files) {
        char line[160];
        if (json) {
            std::snprintf(line, sizeof line,
                          "\",\"channel\":%d,\"frames\":%llu,\"duration\":%.3f,"
                          "\"audio_samples\":%llu}",
                          file.channel + 1, static_cast<unsigned long long>(file.frames),
                          file.duration, static_cast<unsigned long long>(file.audioSamples));
            sink.PrintLine("{\"event\":\"file\",\"path\":\"" + JsonEscape(file.path.string()) +
                           line);
        } else {
            std::snprintf(line, sizeof line, "  frames %llu  duration %.3f s",
                          static_cast<unsigned long long>(file.frames), file.duration);
            sink.PrintLine(file.path.string() + line);
        }
    }
    for (const auto& note : result.notes) {
        std::fprintf(stderr, "taviro-cli export: %s\n", note.c_str());
    }
    if (!result.ok) {
        std::fprintf(stderr, "taviro-cli export: %s\n", result.error.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace taviro::cli
