// The channel grid under full load: 16 channels of 704 x 480 pictures handed over at 25 per
// second each, as 16 decoder threads would, for a few seconds per renderer. Prints, per
// renderer, the pictures painted per second per channel and the process CPU time per
// channel (getrusage, all threads). Needs a display; under Xvfb the OpenGL renderer runs
// on the software rasteriser, so its CPU figure is an upper bound.
//
//   bench_grid [--seconds N] [--renderer yuv|rgb|both]
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "platform/h264_decoder.h"
#include "platform/heap_tuning.h"
#include "platform/ui/qt_owned.h"
#include "sim/h264_test_pattern.h"
#include "video/ui/channel_grid.h"

namespace {

using namespace taviro;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 16;
constexpr int kWidth = 704;
constexpr int kHeight = 480;
constexpr int kFps = 25;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The picture of a channel in the decoder's output format.
void FillPicture(video::ChannelView& view, int channel, std::uint32_t format) {
    view.width = kWidth;
    view.height = kHeight;
    auto picture = std::make_shared<platform::CPackedPicture>(kWidth, kHeight, format);
    std::uint8_t* out = picture->Data();
    if (format == platform::kH264FormatYuv420) {
        const auto p = sim::MakeH264TestPattern(channel, 0, kWidth, kHeight);
        std::memcpy(out, p.y.data(), p.y.size());
        std::memcpy(out + p.y.size(), p.u.data(), p.u.size());
        std::memcpy(out + p.y.size() + p.u.size(), p.v.data(), p.v.size());
    } else {
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                std::uint8_t* px = out + (y * kWidth + x) * 3;
                px[0] = static_cast<std::uint8_t>(x);
                px[1] = static_cast<std::uint8_t>(y);
                px[2] = static_cast<std::uint8_t>(channel * 16);
            }
    }
    view.frame = std::move(picture);
}

struct Result {
    const char* name = "";
    bool ran = false;
    double seconds = 0;
    double handed = 0;   // pictures handed over per channel per second
    double painted = 0;  // pictures painted per channel per second
    double minPainted = 0;
    double cpuPerChannel = 0;  // CPU seconds per second per channel
};

Result Run(int drawMode, double seconds) {
    Result r;
    video::CChannelViews views;
    views.SetViewMode(video::ViewMode::Live);
    QWidget main;
    main.resize(928, 712);
    auto* grid = platform::ui::Child<video::ui::CChannelGrid>(&main, views, drawMode);
    r.name = grid->Renderer() == video::ui::RendererKind::Yuv ? "YUV (OpenGL)" : "RGB (QPainter)";
    if (drawMode == 0 && grid->Renderer() != video::ui::RendererKind::Yuv)
        return r;  // no OpenGL here
    grid->SetAvailableChannels(protocol::kAllChannels);
    video::GridStatus status;
    status.session = true;
    grid->SetStatus(status);
    for (int c = 0; c < kChannels; ++c) {
        auto& view = views.Channel(c);
        std::lock_guard lock(view.lock);
        FillPicture(view, c, grid->PictureFormat());
        view.title = "CAMERA " + std::to_string(c + 1);
        view.labelMode = video::ViewMode::Live;
        view.frameRate = 25;
    }
    main.show();
    QApplication::processEvents();

    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> handed{0};
    // One feeder stands in for the 16 decoder threads: every 40 ms each channel hands over
    // a picture under its lock, exactly as a decoder does.
    std::thread feeder([&] {
        auto next = Clock::now();
        while (!stop.load()) {
            for (int c = 0; c < kChannels; ++c) {
                auto& view = views.Channel(c);
                std::lock_guard lock(view.lock);
                ++view.decodedCount;
                views.MarkPicture(c);
                if (auto* listener = views.Listener())
                    listener->OnPicture(c);
            }
            handed += kChannels;
            next += std::chrono::milliseconds(1000 / kFps);
            std::this_thread::sleep_until(next);
        }
    });

    std::array<std::uint64_t, kChannels> before{};
    for (int c = 0; c < kChannels; ++c)
        before[static_cast<std::size_t>(c)] = grid->PicturesDrawn(c);
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    QTimer::singleShot(static_cast<int>(seconds * 1000), &main, [] { QApplication::quit(); });
    QApplication::exec();
    const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    stop = true;
    feeder.join();

    double total = 0;
    double least = 1e9;
    for (int c = 0; c < kChannels; ++c) {
        const auto n =
            static_cast<double>(grid->PicturesDrawn(c) - before[static_cast<std::size_t>(c)]);
        total += n;
        least = std::min(least, n);
    }
    r.ran = true;
    r.seconds = elapsed;
    r.handed = static_cast<double>(handed.load()) / kChannels / elapsed;
    r.painted = total / kChannels / elapsed;
    r.minPainted = least / elapsed;
    r.cpuPerChannel = cpu / elapsed / kChannels;
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    taviro::platform::TuneHeapForVideo();  // as the client does
    double seconds = 5;
    std::string which = "both";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc) {
            seconds = std::max(1.0, std::atof(argv[++i]));
        } else if (a == "--renderer" && i + 1 < argc) {
            which = argv[++i];
        } else {
            std::printf("usage: bench_grid [--seconds N] [--renderer yuv|rgb|both]\n");
            return a == "--help" ? 0 : 2;
        }
    }
    QApplication app(argc, argv);
    std::printf("16 channels, %dx%d, %d pictures/s each, %.0f s per renderer\n", kWidth, kHeight,
                kFps, seconds);
    std::printf("%-16s %12s %12s %12s %16s\n", "renderer", "handed/s/ch", "painted/s/ch",
                "min/s/ch", "CPU ms/s per ch");
    for (const int mode : {0, 1}) {
        if ((mode == 0 && which == "rgb") || (mode == 1 && which == "yuv"))
            continue;
        const Result r = Run(mode, seconds);
        if (!r.ran) {
            std::printf("%-16s %s\n", "YUV (OpenGL)", "no OpenGL context: skipped");
            continue;
        }
        std::printf("%-16s %12.1f %12.1f %12.1f %16.1f\n", r.name, r.handed, r.painted,
                    r.minPainted, r.cpuPerChannel * 1000);
    }
    return 0;
}
