// Export rate: a backup of the simulated recorder's archive (16 channels of 704 x 480 H.264
// at 25 frames a second by default) exported to one MP4 and to one Matroska file per channel
// with ExportRange, timed from the call to its return: megabytes of .vid read per second,
// frames written per second and the CPU time per megabyte.
//
// The pair is the one a backup of the range leaves on disk: the simulator's backup records
// for the range (its own stream, real H.264) handed to CBackupWriter in the order they
// arrive, as the backup's writer thread does with what the client receives. The exports are
// written to the same temporary folder; everything is removed at the end.
//
//   bench_export [--seconds N] [--repeat N] [--audio MASK] [--quick]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/backup_writer.h"
#include "archive/export.h"
#include "bench_args.h"
#include "sim/archive.h"
#include "sim/backup_stream.h"
#include "sim/sim_config.h"

namespace {

using namespace taviro;
using Clock = std::chrono::steady_clock;

struct Options {
    int seconds = 60;  // of the archive's 2010-10-12 08:00:00 stretch, every channel
    int repeat = 3;
    std::uint16_t audio = 0;  // channels recorded with sound
};

void Usage() {
    std::printf(
        "usage: bench_export [options]\n"
        "  --seconds N    seconds of 16-channel recording exported, 1..600 (60: about 650 MB)\n"
        "  --repeat N     exports of each format, in turn (3)\n"
        "  --audio MASK   channels recorded with sound, bit n = channel n (0)\n"
        "  --quick        a smoke run: 8 seconds, one export of each format\n");
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto take = [&](long low, long high) {
            return taviro::bench::TakeNumber(argc, argv, i, low, high);
        };
        if (arg == "--seconds") {
            const auto n = take(1, 600);
            if (!n)
                return std::nullopt;
            o.seconds = static_cast<int>(*n);
        } else if (arg == "--repeat") {
            const auto n = take(1, 20);
            if (!n)
                return std::nullopt;
            o.repeat = static_cast<int>(*n);
        } else if (arg == "--audio") {
            const auto n = take(0, 0xFFFF);
            if (!n)
                return std::nullopt;
            o.audio = static_cast<std::uint16_t>(*n);
        } else if (arg == "--quick") {
            o.seconds = 8;
            o.repeat = 1;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

struct Backup {
    std::uint64_t vidBytes = 0;
    std::uint64_t videoFrames = 0;
};

// The backup of [start, end): the simulator's records through the backup writer.
std::optional<Backup> MakeBackup(const std::filesystem::path& folder, const Options& o,
                                 protocol::RecorderTime start) {
    sim::SimConfig config;
    config.live_fps = 25;
    config.live_gop = 25;
    config.audio_channels = o.audio;
    std::string error;
    const auto loaded = sim::LoadArchive(config, &error);
    if (!loaded) {
        std::fprintf(stderr, "bench_export: %s\n", error.c_str());
        return std::nullopt;
    }
    const auto archive = std::make_shared<const sim::SimArchive>(*loaded);
    const sim::BackupRange range{sim::RecorderChannels(config), 63, start, start + o.seconds};
    sim::BackupStreamOptions options;
    options.pocStep = config.live_poc_step;
    sim::CBackupStream stream(archive, range.mask, range, options);
    archive::WriterOptions writerOptions;
    writerOptions.folder = folder;
    archive::CBackupWriter writer(writerOptions);
    if (!writer.Open()) {
        std::fprintf(stderr, "bench_export: %s\n", writer.Error().c_str());
        return std::nullopt;
    }
    while (const auto record = stream.Next()) {
        if (!writer.Write(archive::KindOfRecord(record->bytes, options.productType),
                          record->bytes)) {
            break;
        }
    }
    if (!writer.Close() || stream.Failed() || writer.Pairs().size() != 1) {
        std::fprintf(stderr, "bench_export: the backup was not written as one pair (%s)\n",
                     writer.Error().c_str());
        return std::nullopt;
    }
    Backup b;
    b.vidBytes = std::filesystem::file_size(writer.Pairs().front().vid);
    b.videoFrames = writer.Pairs().front().videoFrames;
    return b;
}

struct ExportRun {
    bool ok = false;
    std::string error;
    double seconds = 0;
    double cpuSeconds = 0;
    std::uint64_t bytesRead = 0;  // what the export reports as read of the range
    std::uint64_t frames = 0;
    std::uint64_t framesLeftOut = 0;
    std::uint64_t outputBytes = 0;
    std::size_t files = 0;
    std::size_t withAudio = 0;
};

ExportRun RunExport(const std::filesystem::path& folder, const std::filesystem::path& output,
                    archive::ExportFormat format, protocol::RecorderTime from,
                    protocol::RecorderTime to) {
    ExportRun run;
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    const archive::ExportResult result = archive::ExportRange(
        folder, static_cast<std::uint32_t>(from), static_cast<std::uint32_t>(to), 0xFFFF, output,
        format, [&](std::uint64_t bytes, std::uint64_t) { run.bytesRead = bytes; });
    run.seconds = Seconds(Clock::now() - start);
    run.cpuSeconds = CpuSeconds() - cpu0;
    run.ok = result.ok;
    run.error = result.error;
    run.framesLeftOut = result.framesLeftOut;
    for (const archive::ExportedFile& f : result.files) {
        run.frames += f.frames;
        run.withAudio += f.audio ? 1u : 0u;
        std::error_code error;
        run.outputBytes += std::filesystem::file_size(f.path, error);
        std::filesystem::remove(f.path, error);
    }
    run.files = result.files.size();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseOptions(argc, argv);
    if (!parsed) {
        Usage();
        return 2;
    }
    const Options o = *parsed;
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                          ("taviro-bench-export-" + std::to_string(getpid()));
    const protocol::RecorderTime from = *sim::DayStart(2010, 10, 12) + 8 * 3600;
    const protocol::RecorderTime to = from + o.seconds;
    std::printf(
        "bench_export: %d s of 16 channels, 704x480, 25 frames/s, from 2010-10-12 08:00:00, "
        "sound on 0x%04x; scratch %s\n",
        o.seconds, static_cast<unsigned>(o.audio), scratch.string().c_str());
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    const auto made = Clock::now();
    const auto backup = MakeBackup(scratch / "Download", o, from);
    if (!backup) {
        std::filesystem::remove_all(scratch);
        return 1;
    }
    std::printf("backup: .vid %.1f MB, %llu video frames, made in %.1f s\n",
                static_cast<double>(backup->vidBytes) / 1e6,
                static_cast<unsigned long long>(backup->videoFrames), Seconds(Clock::now() - made));

    bool allOk = true;
    struct Format {
        archive::ExportFormat format;
        const char* name;
        std::vector<double> rates, frameRates, cpu;
    };
    std::vector<Format> formats = {{archive::ExportFormat::Mp4, "MP4", {}, {}, {}},
                                   {archive::ExportFormat::Mkv, "Matroska", {}, {}, {}}};
    std::printf("\n%d exports of each format, in turn (MB = 10^6 bytes of .vid read)\n", o.repeat);
    for (int run = 1; run <= o.repeat; ++run) {
        for (Format& f : formats) {
            const auto output =
                scratch / (f.format == archive::ExportFormat::Mp4 ? "export.mp4" : "export.mkv");
            const ExportRun r = RunExport(scratch / "Download", output, f.format, from, to);
            if (!r.ok) {
                std::printf("  run %d %-8s FAILED: %s\n", run, f.name, r.error.c_str());
                allOk = false;
                continue;
            }
            const double mb = static_cast<double>(r.bytesRead) / 1e6;
            std::printf(
                "  run %d %-8s %zu files (%zu with sound), %llu frames (%llu left out), %.1f MB "
                "read in %.3f s = %6.1f MB/s, %7.0f frames/s, CPU %.2f ms per MB, output %.1f "
                "MB\n",
                run, f.name, r.files, r.withAudio, static_cast<unsigned long long>(r.frames),
                static_cast<unsigned long long>(r.framesLeftOut), mb, r.seconds, mb / r.seconds,
                static_cast<double>(r.frames) / r.seconds, r.cpuSeconds * 1e3 / mb,
                static_cast<double>(r.outputBytes) / 1e6);
            f.rates.push_back(mb / r.seconds);
            f.frameRates.push_back(static_cast<double>(r.frames) / r.seconds);
            f.cpu.push_back(r.cpuSeconds * 1e3 / mb);
        }
    }
    std::filesystem::remove_all(scratch);
    std::printf("\n");
    for (const Format& f : formats) {
        if (!f.rates.empty()) {
            std::printf("median %-8s %6.1f MB/s of .vid, %7.0f frames/s, CPU %.2f ms per MB\n",
                        f.name, taviro::bench::Median(f.rates), taviro::bench::Median(f.frameRates),
                        taviro::bench::Median(f.cpu));
        }
    }
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    return allOk ? 0 : 1;
}
