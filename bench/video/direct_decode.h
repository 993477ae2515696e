// The floor the live pipeline is measured against: each channel's access units decoded on a
// thread of its own, by libavcodec called directly or by the client's decoder library alone.
// CDirectDecoders owns its threads and decoders; each decoder is used by its own thread only.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench_measure.h"
#include "platform/h264_decoder.h"
#include "platform/h264_decoder_ffmpeg.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace taviro::bench {

// What the decoder library is given for one element: the H.264 after the live prefix, with
// the adapter's parameter sets in front of every key frame, padded as libavcodec wants its
// input.
struct AccessUnit {
    std::vector<std::uint8_t> bytes;  // size + libavcodec's input padding, zeros
    int size = 0;
};

struct BareResult {
    bool ok = true;  // every decoder open
    double seconds = 0;
    double cpuSeconds = 0;
    ProcessCounters counters;
    std::uint64_t pictures = 0;
    std::uint64_t late = 0;  // pictures that came out of a later packet than their own
    std::uint64_t errors = 0;
};

// One channel's decoder, opened once and kept across runs as the pipeline's are:
// libavcodec's own context, or the client's FFmpeg decoder (pictures by reference, the
// padded input read in place, as the decoder threads have it).
class DirectDecoder {
  public:
    explicit DirectDecoder(bool library);
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;

    [[nodiscard]] bool Open() const { return m_open; }

    // Decodes one channel's access units, adding to the counters.
    void Decode(const std::vector<AccessUnit>& units, std::uint64_t& pictures, std::uint64_t& late,
                std::uint64_t& errors);

  private:
    struct CodecContextFree {
        void operator()(AVCodecContext* p) const;
    };
    struct FrameFree {
        void operator()(AVFrame* p) const;
    };
    struct PacketFree {
        void operator()(AVPacket* p) const;
    };

    void DecodeBare(const std::vector<AccessUnit>& units, std::uint64_t& pictures,
                    std::uint64_t& late, std::uint64_t& errors);

    const bool m_library;
    bool m_open = false;
    std::unique_ptr<platform::IH264Decoder> m_decoder;
    std::unique_ptr<AVCodecContext, CodecContextFree> m_ctx;
    std::unique_ptr<AVPacket, PacketFree> m_packet;
    std::unique_ptr<AVFrame, FrameFree> m_frame;
};

// One decoder per channel, each on a thread of its own that lives as long as the set: the
// pipeline's decoder threads live across runs too, so neither side pays for new threads
// (their stacks, their heaps) on the clock. Run() is called from one thread at a time.
class CDirectDecoders {
  public:
    CDirectDecoders(std::size_t channels, bool library);
    ~CDirectDecoders();
    CDirectDecoders(const CDirectDecoders&) = delete;
    CDirectDecoders& operator=(const CDirectDecoders&) = delete;

    // Every channel's units on its decoder, all threads started together; the clock runs
    // from the start to the last thread's end. `units` has one list per channel.
    BareResult Run(const std::vector<std::vector<AccessUnit>>& units);

  private:
    void Thread(std::size_t channel, bool library);

    struct ChannelRun {
        std::uint64_t pictures = 0;
        std::uint64_t late = 0;
        std::uint64_t errors = 0;
        Clock::time_point finished;
    };

    std::mutex m_lock;
    // Two conditions, so that a thread ending its run wakes only the one waiting for the
    // run's end, not the threads already done with theirs.
    std::condition_variable m_start;     // the threads wait for the next run
    std::condition_variable m_finished;  // Run() and the constructor wait for the threads
    std::uint64_t m_round = 0;           // raised to start a run
    bool m_stop = false;
    std::size_t m_ready = 0;  // threads with their decoder open (or failed to open)
    std::size_t m_done = 0;   // threads finished with the current run
    std::size_t m_open = 0;
    const std::vector<std::vector<AccessUnit>>* m_units = nullptr;
    std::vector<ChannelRun> m_runs;
    std::vector<std::thread> m_threads;
};

}  // namespace taviro::bench
