// Live audio latency: from an audio element's arrival on the receive side (the live stream
// path that queues the heard channel's block) to its samples reaching the device (the audio
// thread's write), for every AudioBuf setting. Elements arrive in real time, 125 a second
// as a recorder sends them for the client's 16,000 samples a second, so the figures include
// the wait for a chunk to fill: a chunk's first block waits N - 1 blocks (8 ms each), its last
// one only for the decode. Prints a table (median and 99th percentile per setting).
//
// Usage: bench_audio_latency [--chunks N]  (chunks per setting, default 6)
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_thread.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace audio = taviro::audio;
namespace platform = taviro::platform;
namespace protocol = taviro::protocol;
namespace stream = taviro::stream;

// Notes when each chunk reaches the device.
class CTimingOut final : public platform::ISoundOut {
  public:
    bool Open(const platform::SoundFormat&, std::size_t) override { return true; }
    bool Write(std::span<const std::uint8_t>) override {
        const auto now = Clock::now();
        std::lock_guard lock(m_lock);
        m_writes.push_back(now);
        return true;
    }
    void SetVolume(double) override {}
    void SetMuted(bool) override {}
    void Stop() override {}
    std::vector<Clock::time_point> Writes() {
        std::lock_guard lock(m_lock);
        return m_writes;
    }

  private:
    std::mutex m_lock;
    std::vector<Clock::time_point> m_writes;
};

std::vector<std::uint8_t> Element(std::uint32_t index) {
    std::vector<std::uint8_t> e(64 + 48, 0);
    protocol::StoreBE32(e.data() + 16, 0x2518F049u);
    protocol::StoreBE32(e.data() + 28, 48);
    protocol::StoreBE32(e.data() + 40, 0x1);  // channel 0
    for (std::size_t i = 64; i < e.size(); ++i)
        e[i] = static_cast<std::uint8_t>(index * 7 + i);
    return e;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(at, v.size() - 1)];
}

struct Row {
    int audioBuf = 0;
    std::size_t blocks = 0;
    double chunkMs = 0;
    double medianMs = 0;
    double p99Ms = 0;
    double minMs = 0;
};

Row Measure(int audioBuf, int chunks) {
    stream::CStreamState state;
    stream::CConsumerSlots slots;
    stream::CStreamFrames frames(state, slots);
    state.SetLiveOn(true);
    state.SetSelectedAudioChannel(0);
    auto queue = std::make_shared<stream::CAudioQueue>();
    CTimingOut out;
    audio::CAudioThread thread(queue, out, audioBuf);
    slots.AttachAudio(queue);
    const std::size_t n = thread.ChunkBlockCount();
    const std::size_t total = n * static_cast<std::size_t>(chunks);
    std::vector<Clock::time_point> arrivals(total);
    const auto header = protocol::PacketHeader::Make(protocol::msg::LIVE_DATA, 112, true);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < total; ++i) {
        // Block i is due at start + i x 8 ms.
        std::this_thread::sleep_until(start + std::chrono::microseconds(8000 * i));
        const auto element = Element(static_cast<std::uint32_t>(i));
        arrivals[i] = Clock::now();
        frames.OnStreamPiece(protocol::msg::LIVE_DATA, header, element);
    }
    for (int i = 0; i < 200 && out.Writes().size() < static_cast<std::size_t>(chunks); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    thread.Stop();
    const auto writes = out.Writes();
    std::vector<double> latencies;
    for (std::size_t i = 0; i < total && i / n < writes.size(); ++i)
        latencies.push_back(
            std::chrono::duration<double, std::milli>(writes[i / n] - arrivals[i]).count());
    Row row;
    row.audioBuf = audioBuf;
    row.blocks = n;
    row.chunkMs = static_cast<double>(n) * 8.0;
    if (!latencies.empty()) {
        row.medianMs = Percentile(latencies, 0.5);
        row.p99Ms = Percentile(latencies, 0.99);
        row.minMs = *std::min_element(latencies.begin(), latencies.end());
    }
    return row;
}

}  // namespace

int main(int argc, char** argv) {
    int chunks = 6;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--chunks") == 0 && i + 1 < argc) {
            chunks = std::max(1, std::min(100, std::atoi(argv[++i])));
        } else {
            std::fprintf(stderr, "usage: %s [--chunks N]\n", argv[0]);
            return 2;
        }
    }
    std::printf(
        "| AudioBuf | chunk N (blocks) | chunk (ms) | median (ms) | p99 (ms) | min (ms) |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|\n");
    for (int audioBuf = 0; audioBuf <= audio::kMaxAudioBuf; ++audioBuf) {
        const Row r = Measure(audioBuf, chunks);
        std::printf("| %d | %zu | %.0f | %.1f | %.1f | %.2f |\n", r.audioBuf, r.blocks, r.chunkMs,
                    r.medianMs, r.p99Ms, r.minMs);
        std::fflush(stdout);
    }
    return 0;
}
