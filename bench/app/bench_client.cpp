// The whole desktop client under the load it is built for: the recorder simulator in its
// own process streams 16 channels of 704 x 480 H.264 at 25 pictures per second, and this
// process runs the real main window (session, reassembly, queues, 16 decoder threads, the
// channel grid and its renderer) connected to it. After a warm-up it measures, per channel,
// the pictures received, decoded and painted per second, the deepest decoder queue seen,
// and the client's CPU time (all its threads) per channel. Needs a display (xvfb-run).
//
// With --playback it then plays the simulator's recordings back (remote playback, paced in
// real time by the client) and measures the same again.
//
// --camera sends the simulator's camera-like video instead of its test pattern; --channels
// makes it a 4- or 8-channel recorder. The client's resident memory is printed after each
// measurement, so runs with 4, 8 and 16 channels give the memory per channel.
//
//   bench_client [--seconds N] [--rgb] [--fps N] [--size WxH] [--playback] [--camera]
//                [--channels 4|8|16]
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    taviro::platform::TuneHeapForVideo();  // as the client does
    QApplication application(argc, argv);
    int seconds = 20;
    int fps = 25;
    std::string size = "704x480";
    bool rgb = false;
    bool playback = false;
    bool camera = false;
    int channels = 16;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--fps" && i + 1 < argc)
            fps = std::max(1, std::atoi(argv[++i]));
        else if (a == "--size" && i + 1 < argc)
            size = argv[++i];
        else if (a == "--rgb")
            rgb = true;
        else if (a == "--playback")
            playback = true;
        else if (a == "--camera")
            camera = true;
        else if (a == "--channels" && i + 1 < argc &&
                 (std::atoi(argv[i + 1]) == 4 || std::atoi(argv[i + 1]) == 8 ||
                  std::atoi(argv[i + 1]) == 16))
            channels = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: bench_client [--seconds N] [--rgb] [--fps N] [--size WxH] "
                         "[--playback] [--camera] [--channels 4|8|16]\n");
            return 2;
        }
    }
    const std::filesystem::path build = TAVIRO_BUILD_DIR;
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                          ("taviro-bench-client-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    bench::CSimProcess sim;
    std::vector<std::string> simOptions = {"--user",        "admin:1234",
                                           "--live-size",   size,
                                           "--live-fps",    std::to_string(fps),
                                           "--live-gop",    "25",
                                           "--channels",    std::to_string(channels),
                                           "--push-records"};
    if (camera)
        simOptions.insert(simOptions.end(), {"--camera", "0xffff"});
    // The camera loops are encoded before the simulator serves them: give it the time.
    const int port = sim.Start(build, scratch, simOptions, std::chrono::seconds(camera ? 60 : 5));
    if (port == 0)
        return 1;

    platform::ui::Skin().Load(platform::ui::CSkinLibrary::DefaultFolder());
    platform::CMemorySettingsStore settings;
    settings.SetString("LocalSetup/Location", (scratch / "store").string());
    settings.SetInt("LocalSetup/DrawMode", rgb ? 1u : 0u);
    // The renderer asked for, also where OpenGL renders in software.
    settings.SetInt("Renderer/Chosen", 1u);
    platform::ui::CQtMessageSink sink;
    app::ShellOptions options;
    app::ui::CClientDlg window(sink, settings, app::Branding{}, options);
    window.show();
    window.Initialise(app::ui::ConnectRequest{"127.0.0.1", port, "admin", "1234"});
    if (!QTest::qWaitFor([&] { return window.Shell().LiveRunning(); }, 10000)) {
        std::fprintf(stderr, "bench_client: no live view\n");
        return 1;
    }
    auto* grid = window.Grid();
    auto* connection = window.Shell().Connection();
    auto* pipeline = &connection->Pipeline();

    // One measurement of whatever the grid shows now: per channel the pictures received,
    // decoded and painted per second, what was dropped, the deepest decoder queue, and the
    // client's CPU time.
    const auto measure = [&](const char* what) {
        // Warm-up: every decoder has its first key frame (and the camera loops are ready).
        QTest::qWait(camera ? 8000 : 3000);
        std::array<std::uint64_t, 16> painted0{}, decoded0{}, taken0{}, dropped0{};
        for (int c = 0; c < channels; ++c) {
            const auto t = pipeline->Decoders().Totals(c);
            painted0[static_cast<std::size_t>(c)] = grid->PicturesDrawn(c);
            decoded0[static_cast<std::size_t>(c)] = t.decoded;
            taken0[static_cast<std::size_t>(c)] = t.taken;
            dropped0[static_cast<std::size_t>(c)] = t.dropped;
        }
        const auto stream0 = connection->Frames().Stats();
        std::array<std::size_t, 16> deepest{};
        const double cpu0 = CpuSeconds();
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            QTest::qWait(100);
            for (int c = 0; c < channels; ++c) {
                if (auto queue = connection->Slots().Video(c))
                    deepest[static_cast<std::size_t>(c)] =
                        std::max(deepest[static_cast<std::size_t>(c)], queue->Count());
            }
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = CpuSeconds() - cpu0;
        const auto stream = connection->Frames().Stats();

        std::printf(
            "client, %s: %s renderer, %d channels of %s %s at %d pictures/s, %.1f s measured\n",
            what,
            grid->Renderer() == video::ui::RendererKind::Yuv ? "YUV (OpenGL)" : "RGB (QPainter)",
            channels, size.c_str(), camera ? "camera-like video" : "test pattern", fps, wall);
        std::printf("  ch  received/s  decoded/s  painted/s  dropped  deepest queue\n");
        double paintedSum = 0;
        std::size_t deepestAll = 0;
        for (int c = 0; c < channels; ++c) {
            const auto i = static_cast<std::size_t>(c);
            const auto t = pipeline->Decoders().Totals(c);
            const double received = static_cast<double>(t.taken - taken0[i]) / wall;
            const double decoded = static_cast<double>(t.decoded - decoded0[i]) / wall;
            const double painted = static_cast<double>(grid->PicturesDrawn(c) - painted0[i]) / wall;
            paintedSum += painted;
            deepestAll = std::max(deepestAll, deepest[i]);
            std::printf("  %2d  %10.1f  %9.1f  %9.1f  %7llu  %13zu\n", c + 1, received, decoded,
                        painted, static_cast<unsigned long long>(t.dropped - dropped0[i]),
                        deepest[i]);
        }
        std::printf(
            "painted per channel: %.1f/s on average; deepest decoder queue: %zu; "
            "elements dropped before the queues: %llu\n",
            paintedSum / channels, deepestAll,
            static_cast<unsigned long long>((stream.noConsumer - stream0.noConsumer) +
                                            (stream.overflowed - stream0.overflowed) +
                                            (stream.allocationFailed - stream0.allocationFailed)));
        std::printf("client CPU: %.1f%% of one core in all, %.2f%% per channel\n", 100 * cpu / wall,
                    100 * cpu / wall / channels);
        std::printf("client resident memory: %.1f MB\n", bench::ResidentMb());
    };
    measure("live view");
    if (playback) {
        // Remote playback of the simulator's archive (an hour and a half on every channel)
        // through the same queues, decoders and grid, paced by the client at normal speed.
        recordings::PlayRequest request;
        request.channels = 0xFFFF;
        request.start = 1286870400;  // 2010-10-12 08:00:00
        window.Recordings().Playback().Start(request);
        if (!QTest::qWaitFor([&] { return window.Shell().GridMode() == protocol::kGridPlayback; },
                             10000)) {
            std::fprintf(stderr, "bench_client: no remote playback\n");
            return 1;
        }
        measure("remote playback");
    }
    window.Quit();
    std::filesystem::remove_all(scratch);
    return 0;
}
