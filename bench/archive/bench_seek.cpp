// Seeking in a large backup pair with the local player: how long from SeekTo to the first
// frame handed to the output, with the pair's pages dropped from the page cache before each
// seek (cold-ish: a virtual machine's host may still hold them) and with both files cached.
//
// One pair of about 650 MB (under the default split size, so it stays one pair) is written
// with CBackupWriter from synthetic records: 16 channels of 704 x 480 at 25 frames a second,
// a key frame every 25 frames of 10 to 60 KB, dependent frames of 0.5 to 2.5 KB in between
// (about 0.6 Mbit/s a channel, a common recorder setting), the index block key changing every
// 4 seconds as the recorder's does. That is about nine minutes of recording. The player
// runs on it with an output that takes every frame at once; for each seek it is paused,
// sent to a random second and stepped (SeekTo, then NextStep at once, as a user who drags
// the slider and presses the step button), and three times are taken from SeekTo: to the
// seek's end (the player reports the position it found), to the first QueueFrame, and to
// the end of the step (one frame of each channel, the player paused again). Every step must
// start with the first frame of the second sought. The pair is removed at the end.
//
//   bench_seek [--megabytes N] [--seeks N] [--seed N] [--quick]
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "archive/backup_reader.h"
#include "archive/backup_writer.h"
#include "archive/local_player.h"
#include "bench_args.h"
#include "protocol/byte_order.h"
#include "stream/stream_records.h"

namespace {

using namespace taviro;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kChannels = 16;
constexpr int kFrameRate = 25;
constexpr int kGop = 25;
constexpr std::uint32_t kStart = 1286870400;  // 2010-10-12 08:00:00
constexpr std::size_t kHeader = 192;

struct Options {
    std::uint64_t megabytes = 650;
    int seeks = 200;
    unsigned seed = 1;
};

void Usage() {
    std::printf(
        "usage: bench_seek [options]\n"
        "  --megabytes N  size of the pair's .vid in 10^6 bytes, 16..680 (650)\n"
        "  --seeks N      seeks of each kind, cold and warm, 10..5000 (200)\n"
        "  --seed N       seed of the frame sizes and the seek targets (1)\n"
        "  --quick        a smoke run: 64 MB, 40 seeks of each kind\n");
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto take = [&](long low, long high) {
            return taviro::bench::TakeNumber(argc, argv, i, low, high);
        };
        if (arg == "--megabytes") {
            const auto n = take(16, 680);
            if (!n)
                return std::nullopt;
            o.megabytes = static_cast<std::uint64_t>(*n);
        } else if (arg == "--seeks") {
            const auto n = take(10, 5000);
            if (!n)
                return std::nullopt;
            o.seeks = static_cast<int>(*n);
        } else if (arg == "--seed") {
            const auto n = take(0, 1'000'000);
            if (!n)
                return std::nullopt;
            o.seed = static_cast<unsigned>(*n);
        } else if (arg == "--quick") {
            o.megabytes = 64;
            o.seeks = 40;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// ---- The pair ----------------------------------------------------------------------------

// A video frame as the recorder's backup transfer carries it (product type 3: the stream
// part big-endian, the encoder header little-endian); the payload is taken from `noise`.
void BuildFrame(std::vector<std::uint8_t>& r, int channel, std::uint32_t seconds, int slot,
                bool key, std::uint32_t payload, const std::vector<std::uint8_t>& noise) {
    r.assign(kHeader + payload, 0);
    const auto order = archive::HeaderOrderFor(3);
    archive::Store32(r.data() + 16, stream::ENC_HEADER_TYPE_VIDEO, order);
    archive::Store32(r.data() + 24, seconds, order);
    archive::Store32(r.data() + 28, payload, order);
    archive::Store32(r.data() + 40, 1 + (seconds - kStart) / 4, order);  // the block key
    r[48] = 0x01;
    r[50] = 0x01;  // continuous recording
    std::uint8_t* enc = r.data() + 128;
    protocol::StoreLE16(enc, static_cast<std::uint16_t>(payload));
    enc[2] = static_cast<std::uint8_t>((key ? stream::kKeyFrame : stream::kDependentFrame) << 6);
    enc[4] = 480 / 16;
    enc[5] = 704 / 16;
    protocol::StoreLE32(enc + 20, seconds);
    protocol::StoreLE32(enc + 24, static_cast<std::uint32_t>(slot * (1'000'000 / kFrameRate)));
    enc[36] = static_cast<std::uint8_t>(channel);
    const std::size_t from =
        (static_cast<std::size_t>(seconds) * 7919u + static_cast<std::size_t>(slot) * 104729u +
         static_cast<std::size_t>(channel) * 31u) %
        (noise.size() - payload);
    std::copy_n(noise.begin() + static_cast<std::ptrdiff_t>(from), payload, r.begin() + kHeader);
}

struct Pair {
    std::filesystem::path idx;
    std::filesystem::path vid;
    std::uint32_t seconds = 0;  // recorded seconds from kStart
    std::uint64_t frames = 0;
    std::uint64_t vidBytes = 0;
    double writeSeconds = 0;
};

std::optional<Pair> WritePair(const std::filesystem::path& folder, const Options& o) {
    archive::WriterOptions options;
    options.folder = folder;
    archive::CBackupWriter writer(options);
    if (!writer.Open()) {
        std::fprintf(stderr, "bench_seek: %s\n", writer.Error().c_str());
        return std::nullopt;
    }
    std::mt19937 random(o.seed);
    std::uniform_int_distribution<std::uint32_t> keySize(10'000, 60'000);
    std::uniform_int_distribution<std::uint32_t> dependentSize(500, 2'500);
    std::vector<std::uint8_t> noise(1u << 20);
    for (auto& b : noise) {
        b = static_cast<std::uint8_t>(random());
    }
    const std::uint64_t target = o.megabytes * 1'000'000;
    Pair pair;
    std::vector<std::uint8_t> record;
    const auto start = Clock::now();
    while (writer.BytesWritten() < target) {
        const std::uint32_t seconds = kStart + pair.seconds;
        for (int slot = 0; slot < kFrameRate; ++slot) {
            for (int channel = 0; channel < kChannels; ++channel) {
                const bool key = slot % kGop == 0;
                BuildFrame(record, channel, seconds, slot, key,
                           key ? keySize(random) : dependentSize(random), noise);
                if (!writer.Write(archive::RecordKind::Video, record)) {
                    std::fprintf(stderr, "bench_seek: %s\n", writer.Error().c_str());
                    return std::nullopt;
                }
                ++pair.frames;
            }
        }
        ++pair.seconds;
    }
    if (!writer.Close() || writer.Pairs().size() != 1) {
        std::fprintf(stderr, "bench_seek: the pair was not closed as one (%s)\n",
                     writer.Error().c_str());
        return std::nullopt;
    }
    pair.writeSeconds = Seconds(Clock::now() - start);
    pair.idx = writer.Pairs().front().idx;
    pair.vid = writer.Pairs().front().vid;
    pair.vidBytes = std::filesystem::file_size(pair.vid);
    return pair;
}

// ---- The player's output -----------------------------------------------------------------

// Takes every frame at once and notes when the first one after Arm() arrived, which frame it
// was, and when the step ended (the player paused again).
class CTimingOutput final : public archive::IPlayerOutput {
  public:
    void SegmentChanged(const archive::SliderSpan&, int, std::uint32_t) override {}
    bool Accepts(int) override { return true; }
    std::size_t Queued(int) override { return 0; }
    void QueueFrame(int, stream::QueuedFrame frame) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_lock);
        if (m_armed && !m_first) {
            m_first = now;
            const stream::FrameInfo info = frame.Info();
            m_firstSeconds = static_cast<std::uint32_t>(info.seconds);
            m_firstMicros = info.microseconds;
        }
        ++m_frames;
    }
    void QueueAudio(const stream::AudioBlock&) override {}
    // The seek's end (it names the position it found) and then every frame shown.
    void Position(std::uint32_t) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_lock);
        if (m_armed && !m_positioned) {
            m_positioned = now;
        }
    }
    void Integrity(int, int) override {}
    void StateChanged(const archive::PlayerState& state) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_lock);
        if (state.mode == archive::PlayerMode::Pause) {
            ++m_pauses;
            m_lastPause = now;
        }
        m_changed.notify_all();
    }

    void Arm() {
        std::lock_guard lock(m_lock);
        m_armed = true;
        m_positioned.reset();
        m_first.reset();
        m_frames = 0;
    }
    [[nodiscard]] std::uint64_t Pauses() {
        std::lock_guard lock(m_lock);
        return m_pauses;
    }
    bool WaitForPause(std::uint64_t after, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, limit, [&] { return m_pauses > after; });
    }
    struct Step {
        std::optional<Clock::time_point> positioned;
        std::optional<Clock::time_point> first;
        Clock::time_point done;
        std::uint32_t seconds = 0;
        std::int32_t micros = 0;
        std::uint64_t frames = 0;
    };
    Step Taken() {
        std::lock_guard lock(m_lock);
        m_armed = false;
        return Step{m_positioned, m_first, m_lastPause, m_firstSeconds, m_firstMicros, m_frames};
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_armed = false;
    std::optional<Clock::time_point> m_positioned;
    std::optional<Clock::time_point> m_first;
    std::uint32_t m_firstSeconds = 0;
    std::int32_t m_firstMicros = 0;
    std::uint64_t m_frames = 0;
    std::uint64_t m_pauses = 0;
    Clock::time_point m_lastPause{};
};

// The writer syncs the pair when it closes it, so every page is clean and can be dropped.
void DropFromCache(const Pair& pair) {
    for (const auto& path : {pair.idx, pair.vid}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

// Reads both files whole, so that every page is cached.
void ReadWhole(const Pair& pair) {
    std::vector<char> buffer(1u << 20);
    for (const auto& path : {pair.idx, pair.vid}) {
        std::ifstream in(path, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()))) {
        }
    }
}

// A step that was asked for while the player thread was still busy with the seek waits for
// the thread's next look at its requests: the pause's 50 ms poll.
constexpr double kLateStepMs = 40;

struct Figures {
    std::vector<double> seek;   // ms from SeekTo to the seek's end (the position found)
    std::vector<double> first;  // ms from SeekTo to the first frame queued
    std::vector<double> step;   // ms from SeekTo to the step's end
    int late = 0;               // first frame more than kLateStepMs after the seek's end
    int wrong = 0;              // seeks whose first frame was not the target's first
    int missing = 0;            // seeks that queued nothing in time
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

Figures RunSeeks(archive::CLocalPlayer& player, CTimingOutput& output, const Pair& pair,
                 const std::vector<std::uint32_t>& targets, bool cold) {
    Figures f;
    for (const std::uint32_t target : targets) {
        if (cold) {
            DropFromCache(pair);
        }
        const std::uint64_t pauses = output.Pauses();
        output.Arm();
        const auto start = Clock::now();
        player.SeekTo(target);
        player.SetMode(archive::PlayerMode::NextStep);
        const bool paused = output.WaitForPause(pauses, 5s);
        const CTimingOutput::Step s = output.Taken();
        if (!paused || !s.first || !s.positioned) {
            ++f.missing;
            continue;
        }
        f.seek.push_back(Millis(*s.positioned - start));
        f.first.push_back(Millis(*s.first - start));
        f.late += Millis(*s.first - *s.positioned) > kLateStepMs ? 1 : 0;
        f.step.push_back(Millis(s.done - start));
        if (s.seconds != target || s.micros != 0 || s.frames != kChannels) {
            ++f.wrong;
        }
    }
    return f;
}

void Print(const char* what, const Figures& f) {
    const auto line = [](const char* name, const std::vector<double>& v) {
        std::printf("    %-34s median %6.2f ms, 99th percentile %6.2f ms, largest %6.2f ms\n", name,
                    Percentile(v, 0.5), Percentile(v, 0.99), Percentile(v, 1.0));
    };
    std::printf("  %s: %zu seeks\n", what, f.first.size());
    line("SeekTo -> position found:", f.seek);
    line("SeekTo -> first frame queued:", f.first);
    line("SeekTo -> step done (16 frames):", f.step);
    if (f.late > 0) {
        std::printf("    first frame over %.0f ms after the position was found: %d seeks\n",
                    kLateStepMs, f.late);
    }
    if (f.wrong > 0 || f.missing > 0) {
        std::printf("    LANDED ELSEWHERE: %d seeks; SHOWED NOTHING: %d seeks\n", f.wrong,
                    f.missing);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const auto parsed = ParseOptions(argc, argv);
    if (!parsed) {
        Usage();
        return 2;
    }
    const Options o = *parsed;
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("taviro-bench-seek-" + std::to_string(getpid()));
    std::printf("bench_seek: a pair of %llu MB, %d seeks cold and %d warm; scratch %s\n",
                static_cast<unsigned long long>(o.megabytes), o.seeks, o.seeks,
                scratch.string().c_str());
    std::printf("load average at start: %s\n", LoadAverage().c_str());

    const auto pair = WritePair(scratch / "Download", o);
    if (!pair) {
        std::filesystem::remove_all(scratch);
        return 1;
    }
    std::printf(
        "pair: %llu frames, %u s of recording (%.1f min), .vid %.1f MB, .idx %.1f MB; written "
        "and synced in %.2f s (%.0f MB/s)\n",
        static_cast<unsigned long long>(pair->frames), pair->seconds, pair->seconds / 60.0,
        static_cast<double>(pair->vidBytes) / 1e6,
        static_cast<double>(std::filesystem::file_size(pair->idx)) / 1e6, pair->writeSeconds,
        static_cast<double>(pair->vidBytes) / 1e6 / pair->writeSeconds);

    const auto chained = archive::ChainFiles(archive::ScanFolder(scratch / "Download"));
    const auto segments = archive::BuildSegments(chained, kStart);
    if (chained.size() != 1 || segments.empty()) {
        std::fprintf(stderr, "bench_seek: the pair does not read back (%zu pairs, %zu segments)\n",
                     chained.size(), segments.size());
        std::filesystem::remove_all(scratch);
        return 1;
    }
    std::printf("read back: 1 pair, %zu segments (index blocks)\n", segments.size());

    CTimingOutput output;
    archive::PlayerOptions options;
    options.startPause = 0ms;
    options.audio = false;
    archive::CLocalPlayer player(segments, 0, output, options);
    const std::uint64_t pauses = output.Pauses();
    player.Start();
    player.SetMode(archive::PlayerMode::Pause);
    if (!output.WaitForPause(pauses, 5s)) {
        std::fprintf(stderr, "bench_seek: the player did not pause\n");
        player.Stop();
        std::filesystem::remove_all(scratch);
        return 1;
    }

    std::mt19937 random(o.seed + 1);
    std::uniform_int_distribution<std::uint32_t> second(0, pair->seconds - 1);
    std::vector<std::uint32_t> targets(static_cast<std::size_t>(o.seeks));
    for (auto& t : targets) {
        t = kStart + second(random);
    }
    std::printf("\nSeekTo, NextStep: time to the first frame queued and to the step's end\n");
    const Figures cold = RunSeeks(player, output, *pair, targets, true);
    Print("cold (pages dropped before each seek)", cold);
    ReadWhole(*pair);
    for (auto& t : targets) {
        t = kStart + second(random);
    }
    const Figures warm = RunSeeks(player, output, *pair, targets, false);
    Print("warm (both files cached)", warm);
    player.Stop();
    std::filesystem::remove_all(scratch);

    const double worst = std::max(Percentile(cold.first, 0.99), Percentile(warm.first, 0.99));
    std::printf(
        "99th percentile to the first frame, worse of the two: %.2f ms (target: under 50)\n",
        worst);
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    const bool clean = cold.wrong + cold.missing + warm.wrong + warm.missing == 0;
    return clean ? 0 : 1;
}
