// The live video pipeline end to end against bare decoding.
//
// One capture of a 16-channel live stream, built by the simulated recorder's stream builder
// and kept in memory as the LIVE_DATA messages the session would hand over, is played
// three ways, for each of the simulator's two streams (camera-like video from libx264,
// and the lossless test pattern):
//   1. through the client's own path (CStreamFrames, the channel queues, one CDecodeThread
//      per channel on the real decoder library, the channel views) as fast as the decoders
//      take it, with the feeder holding back whenever a channel has enough frames waiting,
//      so the decoders' back-pressure rule never fires;
//   2. the same access units straight into libavcodec, one decoder per channel on its own
//      thread, all at once, as the floor the pipeline is compared with (direct_decode.h);
//   3. through the client's path again, paced as a recorder sends it (element k of every
//      channel at k / frame rate), timing each element from its last message to its picture
//      reaching the view.
// Each kind opens its 16 decoders once per stream, off the clock, and keeps them for all its
// runs, as a live view keeps its decoders: the runs time pictures, not the opening of
// decoders and the first filling of their picture pools.
// Plain C++ printing its own figures: the three parts need their own threads and clocks,
// which a per-iteration benchmark loop would only get in the way of.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "bench_measure.h"
#include "direct_decode.h"
#include "platform/h264_decoder_ffmpeg.h"
#include "platform/heap_tuning.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/camera_loop.h"
#include "sim/camera_scene.h"
#include "sim/live_stream.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"
#include "video/channel_views.h"
#include "video/decode_thread.h"
#include "video/param_sets.h"

namespace {

using namespace taviro;
using bench::AccessUnit;
using bench::BareResult;
using bench::CDirectDecoders;
using bench::Clock;
using bench::Millis;
using bench::ProcessCounters;
using bench::ProcessCpuSeconds;
using bench::Seconds;
using namespace std::chrono_literals;

struct Options {
    int channels = 16;
    int frames = 300;
    int gop = 30;
    int frameRate = 30;
    int width = 704;
    int height = 480;
    std::size_t fragmentSize = 8000;
    // The receive thread never waits for the decoders; the feeder holds back only so that
    // the decoders' back-pressure rule (dependent frames dropped from 99 waiting) never
    // fires. About half of that keeps every channel supplied between the feeder's turns: at
    // 16 the feeder went in step with the slowest channel, the others ran dry, and waking
    // them took cores from decoders in mid-picture.
    std::size_t queueLimit = 48;
    int repeat = 5;
    int warmup = 1;
    bool deinterlace = false;
    bool latency = true;
    bool throughput = true;
    bool bare = true;
    // The streams measured: the camera-like one (x264 loops) and the test pattern one
    // (lossless I_PCM key frames, skipped macroblocks).
    bool camera = true;
    bool pattern = true;
};

void Usage() {
    std::printf(
        "usage: bench_pipeline [options]\n"
        "  --channels N      channels, 1..16 (16)\n"
        "  --frames N        frames per channel, 1..3000 (300)\n"
        "  --gop N           key frame every N frames (30)\n"
        "  --size WxH        picture size the recorder encodes (704x480)\n"
        "  --queue-limit N   throughput: most frames waiting per channel (48)\n"
        "  --repeat N        throughput runs of each kind (5)\n"
        "  --warmup N        untimed runs of each kind first (1)\n"
        "  --deinterlace     channels set to deinterlace (no line doubling)\n"
        "  --no-latency      skip the paced hand-over latency run\n"
        "  --no-throughput   skip the throughput runs\n"
        "  --no-bare         throughput: the pipeline alone (for profiling)\n"
        "  --stream KIND     camera, pattern or both (both)\n");
}

std::optional<long> Number(const char* text, long low, long high) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto take = [&](long low, long high) -> std::optional<long> {
            if (value == nullptr) {
                return std::nullopt;
            }
            ++i;
            return Number(value, low, high);
        };
        if (arg == "--channels") {
            const auto n = take(1, protocol::kMaxChannels);
            if (!n)
                return std::nullopt;
            o.channels = static_cast<int>(*n);
        } else if (arg == "--frames") {
            const auto n = take(1, 3000);
            if (!n)
                return std::nullopt;
            o.frames = static_cast<int>(*n);
        } else if (arg == "--gop") {
            const auto n = take(1, 3000);
            if (!n)
                return std::nullopt;
            o.gop = static_cast<int>(*n);
        } else if (arg == "--queue-limit") {
            const auto n = take(1, 90);
            if (!n)
                return std::nullopt;
            o.queueLimit = static_cast<std::size_t>(*n);
        } else if (arg == "--repeat") {
            const auto n = take(1, 20);
            if (!n)
                return std::nullopt;
            o.repeat = static_cast<int>(*n);
        } else if (arg == "--warmup") {
            const auto n = take(0, 5);
            if (!n)
                return std::nullopt;
            o.warmup = static_cast<int>(*n);
        } else if (arg == "--size") {
            if (value == nullptr)
                return std::nullopt;
            ++i;
            int w = 0;
            int h = 0;
            if (std::sscanf(value, "%dx%d", &w, &h) != 2)
                return std::nullopt;
            o.width = w;
            o.height = h;
        } else if (arg == "--deinterlace") {
            o.deinterlace = true;
        } else if (arg == "--no-latency") {
            o.latency = false;
        } else if (arg == "--no-throughput") {
            o.throughput = false;
        } else if (arg == "--no-bare") {
            o.bare = false;
        } else if (arg == "--stream") {
            if (value == nullptr)
                return std::nullopt;
            ++i;
            const std::string_view kind = value;
            o.camera = kind == "camera" || kind == "both";
            o.pattern = kind == "pattern" || kind == "both";
            if (!o.camera && !o.pattern)
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

// ---- Capture ----------------------------------------------------------------------------

struct CapturedElement {
    std::vector<sim::LiveFragment> fragments;
    bool keyFrame = false;
};

struct Capture {
    int channels = 0;
    int frames = 0;
    int width = 0;
    int height = 0;
    // [frame][channel], the order the recorder interleaves them in.
    std::vector<std::vector<CapturedElement>> elements;
    std::size_t bytes = 0;
    std::size_t messages = 0;
};

// `camera`: every channel sends the simulator's camera-like video (its x264 loops, encoded
// here first) instead of the test pattern.
std::optional<Capture> MakeCapture(const Options& o, bool camera) {
    sim::LiveStreamOptions lo;
    if (camera) {
        const auto channels = static_cast<std::uint16_t>((1u << o.channels) - 1u);
        auto loops = std::make_shared<sim::CCameraLoops>(o.width, o.height, channels);
        if (!loops->WaitUntilDone(std::chrono::minutes(5)) || !loops->Error().empty()) {
            std::fprintf(stderr, "camera loops: %s\n", loops->Error().c_str());
            return std::nullopt;
        }
        std::size_t loopBytes = 0;
        for (int ch = 0; ch < o.channels; ++ch) {
            loopBytes += loops->Loop(ch)->TotalBytes();
        }
        const double loopSeconds =
            static_cast<double>(sim::kCameraSceneFrames) / sim::kCameraSceneRate;
        std::printf(
            "camera loops: %d channels encoded in %.2f s, %.0f kbit/s a channel at %d "
            "pictures/s, GOP %d\n",
            o.channels, static_cast<double>(loops->EncodeTime().count()) / 1e3,
            static_cast<double>(loopBytes) * 8 / 1e3 / loopSeconds / o.channels,
            sim::kCameraSceneRate, sim::kCameraGopLength);
        lo.cameraChannels = channels;
        lo.camera = std::move(loops);
    }
    lo.productType = 3;
    lo.width = o.width;
    lo.height = o.height;
    lo.frameRate = o.frameRate;
    lo.gopLength = o.gop;
    lo.fragmentSize = o.fragmentSize;
    lo.startTime = 1'300'000'000;
    std::string error;
    auto builder = sim::CLiveStreamBuilder::Create(lo, &error);
    if (!builder) {
        std::fprintf(stderr, "stream builder: %s\n", error.c_str());
        return std::nullopt;
    }
    Capture c;
    c.channels = o.channels;
    c.frames = o.frames;
    c.width = o.width;
    c.height = o.height;
    c.elements.resize(static_cast<std::size_t>(o.frames));
    for (int k = 0; k < o.frames; ++k) {
        auto& row = c.elements[static_cast<std::size_t>(k)];
        for (int ch = 0; ch < o.channels; ++ch) {
            auto element = builder->VideoElement(ch, static_cast<std::uint32_t>(k));
            if (!element) {
                std::fprintf(stderr, "no element for channel %d frame %d\n", ch, k);
                return std::nullopt;
            }
            CapturedElement ce;
            ce.keyFrame = element->keyFrame;
            ce.fragments = builder->Fragments(*element);
            c.bytes += element->bytes.size();
            c.messages += ce.fragments.size();
            row.push_back(std::move(ce));
        }
    }
    return c;
}

// ---- The client's pipeline ----------------------------------------------------------------

class BenchEnvironment final : public video::IDecodeEnvironment {
  public:
    BenchEnvironment(const stream::CStreamState& state, bool deinterlace)
        : m_state(state), m_deinterlace(deinterlace) {}
    bool LiveDropsChannel(int channel) override { return m_state.DropLiveFrame(channel); }
    std::string LiveTitle(int channel) override { return "CH" + std::to_string(channel + 1); }
    std::int64_t PlaybackTime(video::ViewMode) override { return 0; }
    bool Deinterlace(int) override { return m_deinterlace; }

  private:
    const stream::CStreamState& m_state;
    const bool m_deinterlace;
};

// Stamps every picture as the decoder thread hands it over. Called under the view's lock,
// so it only writes the stamp: channel n's slots are written by channel n's thread alone
// and read once the threads have been joined.
class PictureClock final : public video::IPictureListener {
  public:
    PictureClock(int channels, int frames)
        : m_stamps(static_cast<std::size_t>(channels),
                   std::vector<Clock::time_point>(static_cast<std::size_t>(frames))),
          m_counts(static_cast<std::size_t>(channels)) {}

    void OnPicture(int channel) override {
        const Clock::time_point now = Clock::now();
        const auto c = static_cast<std::size_t>(channel);
        if (c >= m_stamps.size()) {
            return;
        }
        const std::size_t n = m_counts[c].load(std::memory_order_relaxed);
        if (n < m_stamps[c].size()) {
            m_stamps[c][n] = now;
        }
        m_counts[c].store(n + 1, std::memory_order_release);
        const std::int64_t ns = now.time_since_epoch().count();
        std::int64_t last = m_lastNs.load(std::memory_order_relaxed);
        while (ns > last && !m_lastNs.compare_exchange_weak(last, ns)) {
        }
    }

    [[nodiscard]] std::size_t Count(int channel) const {
        return m_counts[static_cast<std::size_t>(channel)].load(std::memory_order_acquire);
    }
    [[nodiscard]] const std::vector<Clock::time_point>& Stamps(int channel) const {
        return m_stamps[static_cast<std::size_t>(channel)];
    }
    [[nodiscard]] Clock::time_point Last() const {
        return Clock::time_point(Clock::duration(m_lastNs.load()));
    }

  private:
    std::vector<std::vector<Clock::time_point>> m_stamps;
    std::vector<std::atomic<std::size_t>> m_counts;
    std::atomic<std::int64_t> m_lastNs{0};
};

struct PipelineResult {
    bool complete = false;  // every element was handled before the time-out
    double seconds = 0;
    double cpuSeconds = 0;
    ProcessCounters counters;
    std::uint64_t pictures = 0;
    std::uint64_t decoded = 0;
    std::uint64_t dropped = 0;
    stream::StreamStats stream;
    std::size_t maxWaiting = 0;  // most entries seen waiting in one queue (paced run)
    // Paced run only: element-to-picture times, and how late the feeder itself was.
    std::vector<double> latencyMs;
    double feederLateMaxMs = 0;
};

stream::StreamStats StatsSince(const stream::StreamStats& now, const stream::StreamStats& before) {
    stream::StreamStats d;
    d.videoQueued = now.videoQueued - before.videoQueued;
    d.tooShort = now.tooShort - before.tooShort;
    d.overflowed = now.overflowed - before.overflowed;
    d.notStreaming = now.notStreaming - before.notStreaming;
    d.noConsumer = now.noConsumer - before.noConsumer;
    d.frozen = now.frozen - before.frozen;
    d.allocationFailed = now.allocationFailed - before.allocationFailed;
    return d;
}

// The client's path for one capture, set up once and fed the capture run after run: a live
// view decodes for hours on the decoders it opened, so what is timed is the pictures, not
// the opening of decoders and the first filling of their picture pools. Every capture
// starts with a key frame, so each run starts its channels' streams afresh.
class PipelineRig {
  public:
    PipelineRig(int channels, bool deinterlace)
        : m_frames(m_state, m_slots), m_environment(m_state, deinterlace) {
        m_state.SetProductType(3);
        for (int ch = 0; ch < channels; ++ch) {
            m_queues.push_back(std::make_shared<stream::CVideoQueue>());
            m_slots.AttachVideo(ch, m_queues.back());
        }
        m_views.SetViewMode(video::ViewMode::Live);
        m_views.ClearHasDecoded();
        // The live channel info that opens the stream: every channel present, none lost.
        std::array<std::uint8_t, 4> info{};
        protocol::StoreBE32(info.data(), protocol::kAllChannels);
        const stream::LiveChannelInfo opened = m_frames.OnLiveChannelInfo(info);
        m_views.SetAvailableMask(opened.available);

        const std::size_t instancesBefore = platform::H264OpenInstanceCount();
        for (int ch = 0; ch < channels; ++ch) {
            m_decoders.push_back(std::make_unique<video::CDecodeThread>(
                ch, m_queues[static_cast<std::size_t>(ch)], m_views, m_environment,
                platform::FfmpegH264Decoders(), platform::kH264FormatYuv420));
            m_decoders.back()->Start();
        }
        // Every decoder open before any run starts: opening is not part of the hand-over.
        // The threads allocate and clear their buffers right after opening; the pause lets
        // that finish too.
        const auto openBy = Clock::now() + 5s;
        while (platform::H264OpenInstanceCount() < instancesBefore + m_queues.size() &&
               Clock::now() < openBy) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(100ms);
    }

    ~PipelineRig() {
        for (auto& d : m_decoders) {
            d->Stop();
        }
    }

    PipelineRig(const PipelineRig&) = delete;
    PipelineRig& operator=(const PipelineRig&) = delete;

    PipelineResult Run(const Capture& cap, const Options& o, bool paced);

  private:
    [[nodiscard]] std::uint64_t Handled() const {
        std::uint64_t n = 0;
        for (const auto& d : m_decoders) {
            n += d->Stats().taken.load();
        }
        return n;
    }

    stream::CStreamState m_state;
    stream::CConsumerSlots m_slots;
    std::vector<std::shared_ptr<stream::CVideoQueue>> m_queues;
    stream::CStreamFrames m_frames;
    video::CChannelViews m_views;
    BenchEnvironment m_environment;
    std::vector<std::unique_ptr<video::CDecodeThread>> m_decoders;
};

PipelineResult PipelineRig::Run(const Capture& cap, const Options& o, bool paced) {
    PipelineResult r;
    const int channels = cap.channels;
    const auto nChannels = static_cast<std::size_t>(channels);
    PictureClock clock(channels, cap.frames);
    m_views.SetListener(&clock);

    const auto total = static_cast<std::uint64_t>(cap.frames) * nChannels;
    std::vector<std::vector<Clock::time_point>> sent(
        nChannels, std::vector<Clock::time_point>(static_cast<std::size_t>(cap.frames)));
    double feederLateMax = 0;
    std::size_t maxWaiting = 0;
    const Clock::duration frameInterval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / o.frameRate));
    const std::uint64_t handledBefore = Handled();
    std::uint64_t decodedBefore = 0;
    std::uint64_t droppedBefore = 0;
    for (const auto& d : m_decoders) {
        decodedBefore += d->Stats().decoded.load();
        droppedBefore += d->Stats().dropped.load();
    }
    const stream::StreamStats streamBefore = m_frames.Stats();

    const double cpuStart = ProcessCpuSeconds();
    const ProcessCounters countersStart = ProcessCounters::Now();
    const Clock::time_point start = Clock::now();
    // The receive thread's part: every message in the order the recorder sent it.
    std::thread feeder([&] {
        for (int k = 0; k < cap.frames; ++k) {
            const auto& row = cap.elements[static_cast<std::size_t>(k)];
            if (paced) {
                const Clock::time_point due = start + frameInterval * k;
                std::this_thread::sleep_until(due);
                feederLateMax = std::max(feederLateMax, Millis(Clock::now() - due));
            }
            for (int ch = 0; ch < channels; ++ch) {
                const auto c = static_cast<std::size_t>(ch);
                if (paced) {
                    maxWaiting = std::max(maxWaiting, m_queues[c]->Count());
                } else {
                    while (m_queues[c]->Count() >= o.queueLimit) {
                        std::this_thread::sleep_for(1ms);
                    }
                }
                const auto& fragments = row[c].fragments;
                for (std::size_t i = 0; i < fragments.size(); ++i) {
                    const sim::LiveFragment& f = fragments[i];
                    if (i + 1 == fragments.size()) {
                        sent[c][static_cast<std::size_t>(k)] = Clock::now();
                    }
                    m_frames.OnStreamPiece(f.header.Command(), f.header,
                                           f.Payload().first(f.header.Length()));
                }
            }
        }
    });
    feeder.join();

    // Every element taken, shown or dropped, or the time runs out.
    const auto until = Clock::now() + 60s;
    while (Handled() - handledBefore < total && Clock::now() < until) {
        std::this_thread::sleep_for(1ms);
    }
    r.complete = Handled() - handledBefore >= total;
    const Clock::time_point end = clock.Last();
    r.cpuSeconds = ProcessCpuSeconds() - cpuStart;
    r.counters = ProcessCounters::Now() - countersStart;
    m_views.SetListener(nullptr);
    for (const auto& d : m_decoders) {
        r.decoded += d->Stats().decoded.load();
        r.dropped += d->Stats().dropped.load();
    }
    r.decoded -= decodedBefore;
    r.dropped -= droppedBefore;
    r.seconds = Seconds(end - start);
    r.stream = StatsSince(m_frames.Stats(), streamBefore);
    r.feederLateMaxMs = feederLateMax;
    r.maxWaiting = maxWaiting;
    for (int ch = 0; ch < channels; ++ch) {
        r.pictures += clock.Count(ch);
    }
    if (paced) {
        // Pictures come out of a channel in the order its elements went in; with nothing
        // dropped the n-th picture is the n-th element's.
        for (int ch = 0; ch < channels; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            const std::size_t n = std::min(clock.Count(ch), static_cast<std::size_t>(cap.frames));
            for (std::size_t k = 0; k < n; ++k) {
                r.latencyMs.push_back(Millis(clock.Stamps(ch)[k] - sent[c][k]));
            }
        }
    }
    return r;
}

// ---- Direct decoding -----------------------------------------------------------------------

// What the decoder library is given for each element: the bytes after the live prefix, with
// the adapter's parameter sets in front of every key frame.
std::vector<std::vector<AccessUnit>> MakeAccessUnits(const Capture& cap) {
    std::vector<std::vector<AccessUnit>> out(static_cast<std::size_t>(cap.channels));
    std::array<std::uint8_t, video::kParamSetBufferSize> params{};
    const std::size_t paramBytes = video::WriteParameterSets(
        static_cast<std::uint32_t>(cap.width), static_cast<std::uint32_t>(cap.height), params);
    std::vector<std::uint8_t> element;
    for (const auto& row : cap.elements) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            element.clear();
            for (const sim::LiveFragment& f : row[c].fragments) {
                const auto p = f.Payload();
                element.insert(element.end(), p.begin(), p.end());
            }
            AccessUnit au;
            if (row[c].keyFrame) {
                au.bytes.assign(params.begin(),
                                params.begin() + static_cast<std::ptrdiff_t>(paramBytes));
            }
            au.bytes.insert(
                au.bytes.end(),
                element.begin() + static_cast<std::ptrdiff_t>(sim::kLiveVideoPayloadOffset),
                element.end());
            au.size = static_cast<int>(au.bytes.size());
            au.bytes.resize(au.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            out[c].push_back(std::move(au));
        }
    }
    return out;
}

// ---- Reporting ----------------------------------------------------------------------------

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Nearest-rank percentile, p in (0, 100].
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const auto rank = static_cast<std::size_t>(
        std::max(1.0, std::ceil(p / 100.0 * static_cast<double>(v.size()))));
    return v[std::min(rank, v.size()) - 1];
}

// Anything the stream path or the decoders did not pass on; true when nothing was lost.
bool ReportLosses(const PipelineResult& r, std::uint64_t total) {
    const stream::StreamStats& s = r.stream;
    const bool clean = r.complete && r.pictures == total && r.decoded == total && r.dropped == 0 &&
                       s.videoQueued == total && s.tooShort == 0 && s.overflowed == 0 &&
                       s.notStreaming == 0 && s.noConsumer == 0 && s.frozen == 0 &&
                       s.allocationFailed == 0;
    if (!clean) {
        std::printf(
            "    LOSS: %s; pictures %llu of %llu, decoded %llu, dropped by decoders %llu; "
            "stream: queued %llu, too short %llu, overflowed %llu, not streaming %llu, "
            "no consumer %llu, frozen %llu, allocation failed %llu\n",
            r.complete ? "all handled" : "TIMED OUT", static_cast<unsigned long long>(r.pictures),
            static_cast<unsigned long long>(total), static_cast<unsigned long long>(r.decoded),
            static_cast<unsigned long long>(r.dropped),
            static_cast<unsigned long long>(s.videoQueued),
            static_cast<unsigned long long>(s.tooShort),
            static_cast<unsigned long long>(s.overflowed),
            static_cast<unsigned long long>(s.notStreaming),
            static_cast<unsigned long long>(s.noConsumer),
            static_cast<unsigned long long>(s.frozen),
            static_cast<unsigned long long>(s.allocationFailed));
    }
    return clean;
}

}  // namespace

struct StreamFigures {
    double ratio = 0;  // median of the runs' pipeline / bare throughput; 0 when not measured
    bool clean = true;
};

// Captures one stream and runs the throughput and latency parts on it.
StreamFigures RunStream(const Options& o, bool camera) {
    StreamFigures figures;
    std::printf("\n==== %s stream ====\n",
                camera ? "camera-like (x264)" : "test pattern (I_PCM and P_Skip)");
    const Clock::time_point captureStart = Clock::now();
    const auto capture = MakeCapture(o, camera);
    if (!capture) {
        figures.clean = false;
        return figures;
    }
    const auto total =
        static_cast<std::uint64_t>(o.frames) * static_cast<std::uint64_t>(o.channels);
    std::printf("capture: %llu elements, %zu messages, %.1f MB, built in %.2f s\n",
                static_cast<unsigned long long>(total), capture->messages,
                static_cast<double>(capture->bytes) / 1e6, Seconds(Clock::now() - captureStart));

    // One set of decoders of each kind for all runs of this stream, opened off the clock.
    PipelineRig rig(o.channels, o.deinterlace);
    if (o.throughput) {
        const auto units =
            o.bare ? MakeAccessUnits(*capture) : std::vector<std::vector<AccessUnit>>{};
        std::optional<CDirectDecoders> bareDecoders;
        std::optional<CDirectDecoders> libraryDecoders;
        if (o.bare) {
            bareDecoders.emplace(units.size(), false);
            libraryDecoders.emplace(units.size(), true);
        }
        std::vector<double> pipeRates, bareRates, libRates, pipeCpu, bareCpu, libCpu;
        // The first runs grow the process's heaps and fill the decoders' picture pools,
        // whichever kind comes first; a client that has decoded for a while has done that long
        // ago.
        for (int run = 0; run < o.warmup; ++run) {
            const PipelineResult p = rig.Run(*capture, o, false);
            figures.clean = ReportLosses(p, total) && figures.clean;
            if (o.bare) {
                static_cast<void>(bareDecoders->Run(units));
                static_cast<void>(libraryDecoders->Run(units));
            }
        }
        std::printf(
            "\nthroughput (%d runs of each, in turn, after %d untimed; the feeder holds at %zu "
            "waiting per channel)\n",
            o.repeat, o.warmup, o.queueLimit);
        for (int run = 0; run < o.repeat; ++run) {
            const PipelineResult p = rig.Run(*capture, o, false);
            const double pRate = static_cast<double>(p.pictures) / p.seconds;
            std::printf(
                "  run %d pipeline: %llu pictures in %.3f s = %7.1f frames/s, CPU %.3f ms "
                "per frame, %ld page faults, %ld waits, %ld preemptions\n",
                run + 1, static_cast<unsigned long long>(p.pictures), p.seconds, pRate,
                p.cpuSeconds * 1e3 / static_cast<double>(total), p.counters.faults,
                p.counters.waits, p.counters.preemptions);
            figures.clean = ReportLosses(p, total) && figures.clean;
            pipeRates.push_back(pRate);
            pipeCpu.push_back(p.cpuSeconds * 1e3 / static_cast<double>(total));

            if (!o.bare) {
                continue;
            }
            for (const bool library : {false, true}) {
                const BareResult b = (library ? libraryDecoders : bareDecoders)->Run(units);
                const double bRate = static_cast<double>(b.pictures) / b.seconds;
                std::printf(
                    "  run %d %s %llu pictures in %.3f s = %7.1f frames/s, CPU %.3f ms per "
                    "frame, %ld page faults, %ld waits, %ld preemptions\n",
                    run + 1, library ? "library: " : "bare:    ",
                    static_cast<unsigned long long>(b.pictures), b.seconds, bRate,
                    b.cpuSeconds * 1e3 / static_cast<double>(total), b.counters.faults,
                    b.counters.waits, b.counters.preemptions);
                if (!b.ok || b.pictures != total || b.errors != 0 || b.late != 0) {
                    std::printf(
                        "    DIRECT DECODING: %s, %llu pictures of %llu, %llu errors, "
                        "%llu pictures delayed or missing\n",
                        b.ok ? "decoders open" : "A DECODER FAILED TO OPEN",
                        static_cast<unsigned long long>(b.pictures),
                        static_cast<unsigned long long>(total),
                        static_cast<unsigned long long>(b.errors),
                        static_cast<unsigned long long>(b.late));
                    figures.clean = false;
                }
                (library ? libRates : bareRates).push_back(bRate);
                (library ? libCpu : bareCpu)
                    .push_back(b.cpuSeconds * 1e3 / static_cast<double>(total));
            }
        }
        const double pipe = Median(pipeRates);
        const double pipeBest = *std::max_element(pipeRates.begin(), pipeRates.end());
        if (bareRates.empty()) {
            std::printf("  median: pipeline %.1f frames/s (best run %.1f), CPU %.3f ms per frame\n",
                        pipe, pipeBest, Median(pipeCpu));
        } else {
            const double bare = Median(bareRates);
            const double bareBest = *std::max_element(bareRates.begin(), bareRates.end());
            // Each pipeline run against the bare run right after it: the machine's speed
            // drifts over the minute this takes, and the two medians alone can come from
            // stretches of different speed.
            std::vector<double> pairs;
            for (std::size_t i = 0; i < pipeRates.size() && i < bareRates.size(); ++i) {
                pairs.push_back(pipeRates[i] / bareRates[i]);
            }
            const double ratio = Median(pairs);
            std::printf(
                "  median: pipeline %.1f frames/s, bare %.1f frames/s (ratio of the medians "
                "%.3f; best runs: %.1f / %.1f = %.3f)\n",
                pipe, bare, pipe / bare, pipeBest, bareBest, pipeBest / bareBest);
            std::printf("  pipeline / bare, run by run: median %.3f (lowest %.3f, highest %.3f)\n",
                        ratio, *std::min_element(pairs.begin(), pairs.end()),
                        *std::max_element(pairs.begin(), pairs.end()));
            std::printf("  median: decoder library alone %.1f frames/s, library / bare = %.3f\n",
                        Median(libRates), Median(libRates) / bare);
            std::printf(
                "  median CPU per frame: pipeline %.3f ms, library %.3f ms, bare %.3f ms; "
                "bare / pipeline = %.3f\n",
                Median(pipeCpu), Median(libCpu), Median(bareCpu),
                Median(bareCpu) / Median(pipeCpu));
            figures.ratio = ratio;
            // On camera-like video the decoding itself dominates. The test pattern costs
            // bare libavcodec next to nothing a picture, so the pipeline's fixed cost per
            // picture weighs more there.
            const int target = camera ? 90 : 80;
            std::printf("  target (pipeline at least %d %% of bare): %s\n", target,
                        ratio * 100 >= target ? "met" : "NOT met");
        }
    }

    if (o.latency) {
        std::printf(
            "\nhand-over latency (paced at %d fps, last message to picture handed "
            "over)\n",
            o.frameRate);
        const PipelineResult p = rig.Run(*capture, o, true);
        figures.clean = ReportLosses(p, total) && figures.clean;
        const double interval = 1000.0 / o.frameRate;
        const auto over = std::count_if(p.latencyMs.begin(), p.latencyMs.end(),
                                        [&](double ms) { return ms > interval; });
        const double p99 = Percentile(p.latencyMs, 99);
        std::printf(
            "  %zu pictures: median %.2f ms, 99th percentile %.2f ms, max %.2f ms, "
            "%lld over %.1f ms\n",
            p.latencyMs.size(), Median(p.latencyMs), p99,
            p.latencyMs.empty() ? 0.0 : *std::max_element(p.latencyMs.begin(), p.latencyMs.end()),
            static_cast<long long>(over), interval);
        std::printf(
            "  feeder late at most %.2f ms; most frames waiting in one queue %zu; CPU "
            "%.1f %% of one core\n",
            p.feederLateMaxMs, p.maxWaiting, p.cpuSeconds / p.seconds * 100.0);
        std::printf("  target (99th percentile under %.1f ms): %s\n", interval,
                    p99 < interval ? "met" : "NOT met");
    }
    return figures;
}

int main(int argc, char** argv) {
    // As the client does; the bare decoders run in the same process, under the same heap.
    taviro::platform::TuneHeapForVideo();
    const auto parsed = ParseOptions(argc, argv);
    if (!parsed) {
        Usage();
        return 2;
    }
    const Options o = *parsed;
    std::printf(
        "bench_pipeline: %d channels x %d frames, %dx%d, %d fps, GOP %d, %zu-byte "
        "messages, %s\n",
        o.channels, o.frames, o.width, o.height, o.frameRate, o.gop, o.fragmentSize,
        o.deinterlace ? "deinterlaced (no line doubling)" : "line doubling");
    std::printf("load average at start: %s\n", LoadAverage().c_str());

    bool allClean = true;
    StreamFigures cameraFigures;
    StreamFigures patternFigures;
    if (o.camera) {
        cameraFigures = RunStream(o, true);
        allClean = cameraFigures.clean && allClean;
    }
    if (o.pattern) {
        patternFigures = RunStream(o, false);
        allClean = patternFigures.clean && allClean;
    }
    if (cameraFigures.ratio > 0 || patternFigures.ratio > 0) {
        std::printf("\npipeline / bare: camera stream %.3f, test pattern stream %.3f\n",
                    cameraFigures.ratio, patternFigures.ratio);
    }
    std::printf("\nload average at end: %s\n", LoadAverage().c_str());
    if (!allClean) {
        std::printf("frames were lost or not decoded: see LOSS lines above\n");
        return 1;
    }
    return 0;
}
