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
// --recorders N starts N simulators (each in its own process) and connects the window to all
// of them, as taviro --connect given N times does; the grid shows their channels in one row
// and the measurement covers the panes shown. Recorders whose channels are on no pane shown
// are reported apart: they must cost next to nothing. --spread arranges the first 16 panes
// over every recorder in turn (recorder 1's first channel, recorder 2's first, ...), as a
// saved view does, so all of them stream. --settle N waits N seconds more before measuring:
// each recorder streams all its channels from its live start until it is told which are
// shown, and the decoders of the channels no pane shows close after 10 s without frames, so
// a measurement of the site at rest starts after that.
//
//   bench_client [--seconds N] [--rgb] [--fps N] [--size WxH] [--playback] [--camera]
//                [--channels 4|8|16] [--recorders 1..16] [--spread] [--settle N]
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
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ui/client_dlg.h"
#include "client/site_views.h"
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

// The threads of this process.
int Threads() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Threads:", 0) == 0)
            return std::atoi(line.c_str() + 8);
    return 0;
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
    int recorders = 1;
    bool spread = false;
    int settle = 0;
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
        else if (a == "--spread")
            spread = true;
        else if (a == "--settle" && i + 1 < argc)
            settle = std::clamp(std::atoi(argv[++i]), 0, 600);
        else if (a == "--channels" && i + 1 < argc &&
                 (std::atoi(argv[i + 1]) == 4 || std::atoi(argv[i + 1]) == 8 ||
                  std::atoi(argv[i + 1]) == 16))
            channels = std::atoi(argv[++i]);
        else if (a == "--recorders" && i + 1 < argc && std::atoi(argv[i + 1]) >= 1 &&
                 std::atoi(argv[i + 1]) <= 16)
            recorders = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr,
                         "usage: bench_client [--seconds N] [--rgb] [--fps N] [--size WxH] "
                         "[--playback] [--camera] [--channels 4|8|16] [--recorders 1..16] "
                         "[--spread] [--settle N]\n");
            return 2;
        }
    }
    const std::filesystem::path build = TAVIRO_BUILD_DIR;
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                          ("taviro-bench-client-" + std::to_string(getpid()));
    std::filesystem::create_directories(scratch);
    std::vector<std::unique_ptr<bench::CSimProcess>> sims;
    std::vector<std::string> simOptions = {"--user",        "admin:1234",
                                           "--live-size",   size,
                                           "--live-fps",    std::to_string(fps),
                                           "--live-gop",    "25",
                                           "--channels",    std::to_string(channels),
                                           "--push-records"};
    if (camera)
        simOptions.insert(simOptions.end(), {"--camera", "0xffff"});
    // The camera loops are encoded before the simulator serves them: give it the time.
    std::vector<int> ports;
    for (int r = 0; r < recorders; ++r) {
        const std::filesystem::path own = scratch / ("sim" + std::to_string(r + 1));
        std::filesystem::create_directories(own);
        sims.push_back(std::make_unique<bench::CSimProcess>());
        ports.push_back(
            sims.back()->Start(build, own, simOptions, std::chrono::seconds(camera ? 120 : 10)));
        if (ports.back() == 0)
            return 1;
    }

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
    std::vector<app::ui::ConnectRequest> more;
    for (std::size_t r = 1; r < ports.size(); ++r)
        more.push_back(app::ui::ConnectRequest{"127.0.0.1", ports[r], "admin", "1234"});
    window.Initialise(app::ui::ConnectRequest{"127.0.0.1", ports[0], "admin", "1234"}, more);
    const client::CSite& site = window.Shell().Site();
    auto* grid = window.Grid();
    const auto allLive = [&] {
        if (site.Count() != recorders)
            return false;
        for (int r = 0; r < recorders; ++r)
            if (!site.At(r)->LoggedIn() || !site.At(r)->Connection()->LiveRunning())
                return false;
        return recorders == 1 || grid->Site().Count() == recorders * channels;
    };
    if (!QTest::qWaitFor(allLive, 10000 + 2000 * recorders)) {
        std::fprintf(stderr, "bench_client: no live view of every recorder\n");
        return 1;
    }
    if (spread && recorders > 1) {
        // Slot i shows recorder (i mod N)'s channel (i div N), as a saved view would.
        const auto keyOf = [&](int id) {
            const client::CRecorderLink* link = site.Find(id);
            return link != nullptr && link->Target() ? client::RecorderKey(*link->Target())
                                                     : std::string();
        };
        client::SiteView view;
        for (int slot = 0; slot < video::kSlotCount; ++slot)
            view.panes.push_back({keyOf(site.IdAt(slot % recorders)), slot / recorders});
        grid->ArrangeAs(client::ArrangementFor(view, grid->Site(), keyOf));
    }

    // The panes shown now: each one's channel of the grid, its recorder's connection and
    // its own number of the channel.
    struct Pane {
        int gridChannel = 0;
        client::CConnection* connection = nullptr;
        int channel = 0;
    };
    const auto shownPanes = [&] {
        std::vector<Pane> panes;
        const video::PaneMask visible = grid->Layout().VisibleChannels();
        for (int g = 0; g < video::kMaxPanes; ++g) {
            const auto at = grid->Site().At(g);
            if (!video::HasPane(visible, g) || !at)
                continue;
            client::CRecorderLink* link =
                window.Shell().Link(recorders == 1 ? site.IdAt(0) : at->recorderId);
            if (link != nullptr && link->Connection() != nullptr && at->channel < channels)
                panes.push_back(Pane{g, link->Connection(), at->channel});
        }
        return panes;
    };
    // What the recorders whose channels are on no pane shown still send, as frames taken.
    const auto unshownTaken = [&](const std::vector<Pane>& panes) {
        std::uint64_t taken = 0;
        for (int r = 0; r < site.Count(); ++r) {
            client::CRecorderLink* link = window.Shell().Link(site.IdAt(r));
            client::CConnection* connection = link != nullptr ? link->Connection() : nullptr;
            const bool shown = std::any_of(panes.begin(), panes.end(), [&](const Pane& p) {
                return p.connection == connection;
            });
            if (connection != nullptr && !shown)
                for (int c = 0; c < channels; ++c)
                    taken += connection->Pipeline().Decoders().Totals(c).taken;
        }
        return taken;
    };

    // One measurement of whatever the grid shows now: per pane the pictures received,
    // decoded and painted per second, what was dropped, the deepest decoder queue, and the
    // client's CPU time.
    const auto measure = [&](const char* what) {
        // Warm-up: every decoder has its first key frame (and the camera loops are ready).
        QTest::qWait((camera ? 8000 : 3000) + 1000 * std::exchange(settle, 0));
        const std::vector<Pane> panes = shownPanes();
        const std::size_t n = panes.size();
        std::vector<std::uint64_t> painted0(n), decoded0(n), taken0(n), dropped0(n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto t = panes[i].connection->Pipeline().Decoders().Totals(panes[i].channel);
            painted0[i] = grid->PicturesDrawn(panes[i].gridChannel);
            decoded0[i] = t.decoded;
            taken0[i] = t.taken;
            dropped0[i] = t.dropped;
        }
        std::uint64_t lost0 = 0;
        for (int r = 0; r < site.Count(); ++r) {
            const auto st = site.At(r)->Connection()->Frames().Stats();
            lost0 += st.noConsumer + st.overflowed + st.allocationFailed;
        }
        const std::uint64_t unshown0 = unshownTaken(panes);
        std::vector<std::size_t> deepest(n);
        const double cpu0 = CpuSeconds();
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            QTest::qWait(100);
            for (std::size_t i = 0; i < n; ++i) {
                if (auto queue = panes[i].connection->Slots().Video(panes[i].channel))
                    deepest[i] = std::max(deepest[i], queue->Count());
            }
        }
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpu = CpuSeconds() - cpu0;
        std::uint64_t lost = 0;
        for (int r = 0; r < site.Count(); ++r) {
            const auto st = site.At(r)->Connection()->Frames().Stats();
            lost += st.noConsumer + st.overflowed + st.allocationFailed;
        }

        std::printf(
            "client, %s: %s renderer, %d recorder(s) of %d channels of %s %s at %d "
            "pictures/s, %zu panes shown, %.1f s measured\n",
            what,
            grid->Renderer() == video::ui::RendererKind::Yuv ? "YUV (OpenGL)" : "RGB (QPainter)",
            recorders, channels, size.c_str(), camera ? "camera-like video" : "test pattern", fps,
            n, wall);
        std::printf("  pane  rec  ch  received/s  decoded/s  painted/s  dropped  deepest queue\n");
        double paintedSum = 0;
        double slowest = 1e9;
        std::uint64_t droppedAll = 0;
        std::size_t deepestAll = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto t = panes[i].connection->Pipeline().Decoders().Totals(panes[i].channel);
            const double received = static_cast<double>(t.taken - taken0[i]) / wall;
            const double decoded = static_cast<double>(t.decoded - decoded0[i]) / wall;
            const double painted =
                static_cast<double>(grid->PicturesDrawn(panes[i].gridChannel) - painted0[i]) / wall;
            paintedSum += painted;
            slowest = std::min(slowest, painted);
            droppedAll += t.dropped - dropped0[i];
            deepestAll = std::max(deepestAll, deepest[i]);
            const auto at = grid->Site().At(panes[i].gridChannel);
            std::printf("  %4d  %3d  %2d  %10.1f  %9.1f  %9.1f  %7llu  %13zu\n",
                        panes[i].gridChannel + 1, at ? at->place + 1 : 0, panes[i].channel + 1,
                        received, decoded, painted,
                        static_cast<unsigned long long>(t.dropped - dropped0[i]), deepest[i]);
        }
        const double unshown = static_cast<double>(unshownTaken(panes) - unshown0) / wall;
        std::printf(
            "painted per pane: %.1f/s on average; deepest decoder queue: %zu; "
            "elements dropped before the queues: %llu\n",
            n > 0 ? paintedSum / static_cast<double>(n) : 0.0, deepestAll,
            static_cast<unsigned long long>(lost - lost0));
        std::printf("client CPU: %.1f%% of one core in all, %.2f%% per pane shown\n",
                    100 * cpu / wall, n > 0 ? 100 * cpu / wall / static_cast<double>(n) : 0.0);
        std::printf("client resident memory: %.1f MB, threads: %d\n", bench::ResidentMb(),
                    Threads());
        std::printf(
            "site: %d recorders, %zu panes, slowest pane %.1f pictures/s, dropped %llu, "
            "frames/s of recorders not shown %.1f, client CPU %.1f %%, threads %d, "
            "resident %.1f MB\n",
            recorders, n, n > 0 ? slowest : 0.0,
            static_cast<unsigned long long>(droppedAll + (lost - lost0)), unshown, 100 * cpu / wall,
            Threads(), bench::ResidentMb());
    };
    measure("live view");
    if (playback) {
        // Remote playback of the simulator's archive (an hour and a half on every channel)
        // through the same queues, decoders and grid, paced by the client at normal speed.
        recordings::PlayRequest request;
        request.channels = 0xFFFF;
        request.start = 1286870400;  // 2010-10-12 08:00:00
        if (recorders > 1) {
            std::fprintf(stderr, "bench_client: --playback with one recorder\n");
            return 2;
        }
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
