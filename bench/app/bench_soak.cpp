// The client left running: the recorder simulator in its own process streams 16 channels of
// camera-like 704 x 480 H.264 at 25 pictures per second and drops the connection every few
// minutes, while this process runs the real main window connected to it and keeps an
// operator busy: it changes layouts and pages, switches the heard audio channel, starts and
// stops remote playback, and lets the client reconnect by itself after every drop.
//
// Every sample interval (10 s by default) it reads the process's resident memory, its open
// descriptors and its threads, at a moment when live view runs (never half way through a
// reconnect or a playback start, where threads come and go by design). At the end it fits a
// straight line through each series after the warm-up and fails when one grows: a fitted
// slope, so one high reading does not fail the run and a slow leak does.
//
//   bench_soak [--seconds N] [--sample-seconds N] [--drop-every N] [--csv FILE]
//
// Needs a display (xvfb-run). Exit status 0 when nothing grew, 1 when something did, the
// client was not back within 90 s of a loss, or no drop was survived; 2 for bad arguments.
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/ui/client_dlg.h"
#include "platform/heap_tuning.h"
#include "platform/settings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/skin_library.h"
#include "protocol/session_messages.h"
#include "recordings/play_control.h"
#include "resident_memory.h"
#include "sim_process.h"
#include "video/ui/channel_grid.h"

namespace {

using namespace taviro;
using Clock = std::chrono::steady_clock;

struct Sample {
    double seconds = 0;  // since the start of the run
    double residentMb = 0;
    double descriptors = 0;
    double threads = 0;
};

using bench::ResidentMb;

double CountEntries(const char* folder) {
    std::error_code error;
    double count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++count;
    return count;
}

// Least-squares slope of y over x, per second.
double Slope(const std::vector<Sample>& samples, double Sample::*field) {
    const double n = static_cast<double>(samples.size());
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const Sample& s : samples) {
        sx += s.seconds;
        sy += s.*field;
        sxx += s.seconds * s.seconds;
        sxy += s.seconds * (s.*field);
    }
    const double denominator = n * sxx - sx * sx;
    return denominator > 0 ? (n * sxy - sx * sy) / denominator : 0;
}

double Median(std::vector<Sample> samples, double Sample::*field) {
    std::sort(samples.begin(), samples.end(),
              [field](const Sample& a, const Sample& b) { return a.*field < b.*field; });
    return samples.empty() ? 0 : samples[samples.size() / 2].*field;
}

// A connection the client has not made again this long after a loss counts as never back
// (the waits are 1, 2, 4 ... s; a recorder that is there is reached within the first).
constexpr double kMaxAway = 90;

int Usage() {
    std::fprintf(stderr,
                 "usage: bench_soak [--seconds N] [--sample-seconds N] [--drop-every N] "
                 "[--csv FILE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    taviro::platform::TuneHeapForVideo();  // as the client does
    QApplication application(argc, argv);
    int seconds = 3600;
    int sampleSeconds = 10;
    int dropEvery = 240;
    std::string csvPath;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc)
            return Usage();
        if (a == "--seconds")
            seconds = std::max(60, std::atoi(argv[++i]));
        else if (a == "--sample-seconds")
            sampleSeconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--drop-every")
            dropEvery = std::max(10, std::atoi(argv[++i]));
        else if (a == "--csv")
            csvPath = argv[++i];
        else
            return Usage();
    }

    // At least five samples after the warm-up (see below), or the fit says nothing.
    if (seconds < std::max(60.0, seconds / 5.0) + 5 * sampleSeconds) {
        std::fprintf(stderr,
                     "bench_soak: --seconds leaves fewer than five samples after the "
                     "warm-up\n");
        return Usage();
    }
    const std::filesystem::path build = TAVIRO_BUILD_DIR;
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / ("taviro-bench-soak-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    bench::CSimProcess sim;
    // The camera-like loops are encoded at start: that takes seconds on a busy machine.
    const int port =
        sim.Start(build, scratch,
                  {"--user", "admin:1234", "--live-size", "704x480", "--live-fps", "25", "--camera",
                   "0xffff", "--drop-every", std::to_string(dropEvery), "--push-records"},
                  std::chrono::seconds(30));
    if (port == 0)
        return 1;

    platform::ui::Skin().Load(platform::ui::CSkinLibrary::DefaultFolder());
    platform::CMemorySettingsStore settings;
    settings.SetString("LocalSetup/Location", (scratch / "store").string());
    platform::ui::CQtMessageSink sink;
    app::ui::CClientDlg window(sink, settings, app::Branding{}, app::ShellOptions{});
    window.show();
    window.Initialise(app::ui::ConnectRequest{"127.0.0.1", port, "admin", "1234"});
    if (!QTest::qWaitFor([&] { return window.Shell().LiveRunning(); }, 20000)) {
        std::fprintf(stderr, "bench_soak: no live view\n");
        return 1;
    }

    std::ofstream csv;
    if (!csvPath.empty()) {
        csv.open(csvPath);
        if (!csv) {
            std::fprintf(stderr, "bench_soak: cannot write %s\n", csvPath.c_str());
            return 1;
        }
        csv << "seconds,resident_mb,descriptors,threads\n";
    }
    std::printf("soak: %d s, a sample every %d s, the connection dropped every %d s\n", seconds,
                sampleSeconds, dropEvery);
    std::printf("%8s %12s %12s %8s\n", "seconds", "resident MB", "descriptors", "threads");

    // The operator's script, one step every 5 s: the nine layouts in turn with a page or
    // channel button between them, the next heard channel, and a minute's cycle of remote
    // playback (started at 20 s, stopped at 40 s).
    static constexpr std::uint32_t kLayoutButtons[] = {320, 321, 322, 323, 324, 325, 326, 327, 328};
    const auto start = Clock::now();
    const auto elapsed = [&] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::vector<Sample> samples;
    int step = 0;
    double nextStep = 5;
    double nextSample = sampleSeconds;
    // Every loss of the connection (the simulator's drops) must be followed by a log-in
    // of the connection the client makes again by itself.
    int losses = 0;
    int returns = 0;
    bool wasLoggedIn = true;
    double lostSince = -1;
    double longestAway = 0;
    double liveSince = 0;           // when live view last started (negative while it does not run)
    std::optional<Sample> pending;  // a reading waiting to be confirmed as steady
    int lossesAtPending = 0;
    while (elapsed() < seconds) {
        QTest::qWait(200);
        const double now = elapsed();
        const bool live = window.Shell().LiveRunning();
        const bool loggedIn = window.Shell().LoggedIn();
        if (!loggedIn && wasLoggedIn) {
            ++losses;
            lostSince = now;
        } else if (loggedIn && !wasLoggedIn) {
            ++returns;
            longestAway = std::max(longestAway, now - lostSince);
            lostSince = -1;
        }
        wasLoggedIn = loggedIn;
        if (lostSince >= 0 && now - lostSince > kMaxAway) {
            std::fprintf(stderr, "bench_soak: not back %.0f s after the loss at %.0f s\n",
                         now - lostSince, lostSince);
            window.Quit();
            return 1;
        }
        if (!live)
            liveSince = -1;
        else if (liveSince < 0)
            liveSince = now;
        // Live view counts as steady once it has run for 3 s: its answer comes before the
        // decoder threads have all started.
        const bool steady = live && now - liveSince >= 3;
        if (now >= nextStep) {
            nextStep += 5;
            ++step;
            const int inMinute = static_cast<int>(now) % 60;
            if (window.Shell().LoggedIn()) {
                if (inMinute >= 20 && inMinute < 25 &&
                    window.Shell().GridMode() == protocol::kGridLive) {
                    recordings::PlayRequest request;
                    request.channels = 0xFFFF;
                    request.start =
                        static_cast<protocol::RecorderTime>(1286870400 + step * 60 % 3600);
                    window.Recordings().Playback().Start(request);
                } else if (inMinute >= 40 && inMinute < 45 &&
                           window.Shell().GridMode() == protocol::kGridPlayback) {
                    window.OnCommand(345);  // stop: live view again
                } else if (window.Shell().GridMode() == protocol::kGridLive) {
                    window.OnCommand(kLayoutButtons[static_cast<std::size_t>(step % 9)]);
                    if (step % 2 == 0)
                        window.OnCommand(300 + static_cast<std::uint32_t>(step % 16));
                    window.OnCommand(368);  // the next heard channel
                }
            }
        }
        // A sample is taken in steady live view only; until then it waits (up to one
        // interval), so samples never land in the middle of a reconnect. The window learns
        // of a loss a moment after the connection's threads have begun to go, so a reading
        // counts only if live view still runs a second later with no loss in between.
        if (pending && now - pending->seconds >= 1.0) {
            const bool kept =
                steady && losses == lossesAtPending && liveSince <= pending->seconds - 3;
            if (kept) {
                const Sample& k = *pending;
                samples.push_back(k);
                std::printf("%8.0f %12.1f %12.0f %8.0f\n", k.seconds, k.residentMb, k.descriptors,
                            k.threads);
                std::fflush(stdout);
                if (csv)
                    csv << k.seconds << ',' << k.residentMb << ',' << k.descriptors << ','
                        << k.threads << '\n';
            } else {
                nextSample = now;  // taken again once live view is steady
            }
            pending.reset();
        }
        if (!pending && now >= nextSample && (steady || now >= nextSample + sampleSeconds)) {
            nextSample += sampleSeconds;
            if (!steady)
                continue;
            pending = Sample{now, ResidentMb(), CountEntries("/proc/self/fd"),
                             CountEntries("/proc/self/task")};
            lossesAtPending = losses;
        }
    }
    window.Quit();
    std::filesystem::remove_all(scratch);
    if (csv && !csv.flush()) {
        std::fprintf(stderr, "bench_soak: writing %s failed\n", csvPath.c_str());
        return 1;
    }

    // The warm-up: a fifth of the run, and at least one whole minute of the operator's script
    // (which starts a playback every minute), so buffers, pools and the allocator's arenas
    // have reached the size the script needs before anything counts.
    const double warmUp = std::max(60.0, seconds / 5.0);
    std::vector<Sample> steady;
    std::copy_if(samples.begin(), samples.end(), std::back_inserter(steady),
                 [&](const Sample& s) { return s.seconds >= warmUp; });
    if (steady.size() < 5) {
        std::fprintf(stderr, "bench_soak: only %zu steady samples (live view did not run?)\n",
                     steady.size());
        return 1;
    }
    const double span = steady.back().seconds - steady.front().seconds;
    struct Check {
        const char* name;
        double Sample::*field;
        double allowed;  // growth over the measured span that still counts as flat
    };
    const double medianMb = Median(steady, &Sample::residentMb);
    const Check checks[] = {
        // Memory moves in steps of several megabytes as playback starts and stops and the
        // allocator's per-thread arenas grow and shrink (seen: 299 to 316 MB and back within
        // two minutes), so a short run only catches a gross leak; an hour's run fails on
        // about 10 kB a second.
        {"resident memory (MB)", &Sample::residentMb, std::max(32.0, medianMb * 0.1)},
        {"open descriptors", &Sample::descriptors, 1.5},
        {"threads", &Sample::threads, 1.5},
    };
    bool grew = false;
    std::printf(
        "after the %.0f s warm-up: %zu samples over %.0f s; %d losses of the "
        "connection, %d returns (the longest away %.1f s)\n",
        warmUp, steady.size(), span, losses, returns, longestAway);
    // The run must have shown the client coming back: at least one drop it survived.
    if (seconds > dropEvery + kMaxAway && returns == 0) {
        std::fprintf(stderr, "bench_soak: the connection was never dropped and made again\n");
        return 1;
    }
    for (const Check& c : checks) {
        const double slope = Slope(steady, c.field);
        const double growth = slope * span;
        const bool bad = growth > c.allowed;
        grew = grew || bad;
        std::printf(
            "  %-22s median %8.1f  slope %+9.4f/min  fitted growth %+8.2f (allowed %.1f)%s\n",
            c.name, Median(steady, c.field), slope * 60, growth, c.allowed, bad ? "  GROWS" : "");
    }
    std::printf(grew ? "soak: FAILED, something grows\n" : "soak: nothing grows\n");
    return grew ? 1 : 0;
}
