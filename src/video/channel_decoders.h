// The decoder threads of one stream (live view or playback), one per channel, each on its
// consumer slot. Whoever starts the stream starts them; stopping follows the live-stop
// order: each queue is let drain to at most 2 waiting frames, then its thread is stopped
// and destroyed and the slot emptied.
//
// Threads: Start, DrainAndStop, SetFormat and Totals on one thread at a time (the
// connection's worker, or the owner once the worker is idle); Running and Counters from any
// thread. What each decoder counted is kept after it is destroyed, for reports.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <memory>

#include "stream/consumer_slots.h"
#include "video/channel_views.h"
#include "video/decode_thread.h"

namespace taviro::video {

struct DecoderTotals {
    std::uint64_t taken = 0;
    std::uint64_t decoded = 0;
    std::uint64_t dropped = 0;
    std::uint64_t shown = 0;  // pictures handed to the view
    std::uint64_t decodeCalls = 0;
    std::uint64_t decodeNanos = 0;
};

class CChannelDecoders {
  public:
    CChannelDecoders(stream::CConsumerSlots& slots, CChannelViews& views,
                     IDecodeEnvironment& environment, platform::H264DecoderFactory decoders,
                     std::uint32_t format, platform::IMessageSink* sink);
    ~CChannelDecoders();
    CChannelDecoders(const CChannelDecoders&) = delete;
    CChannelDecoders& operator=(const CChannelDecoders&) = delete;

    // Starts a decoder on every channel of `channels` that has none.
    void Start(protocol::ChannelMask channels);
    // Drains, stops and destroys every decoder. Queues that have not drained when
    // `drainLimit` (for all of them together) has passed are flushed instead of waited for.
    void DrainAndStop(std::chrono::milliseconds drainLimit = std::chrono::seconds(2));

    [[nodiscard]] protocol::ChannelMask Running() const { return m_running.load(); }
    // The picture format of decoders started from now on (the renderer changed). Running
    // decoders keep theirs, so the owner stops them first.
    void SetFormat(std::uint32_t format) { m_format.store(format); }
    [[nodiscard]] std::uint32_t Format() const { return m_format.load(); }
    // What the channel's decoder counted: live while it runs, final once it is destroyed.
    [[nodiscard]] DecoderTotals Totals(int channel) const;
    // Everything the channel's decoders counted since this object was made, across
    // restarts; only atomics are read, so any thread may sample it while decoders come
    // and go.
    [[nodiscard]] DecoderTotals Counters(int channel) const;

  private:
    stream::CConsumerSlots& m_slots;
    CChannelViews& m_views;
    IDecodeEnvironment& m_environment;
    const platform::H264DecoderFactory m_decoderFactory;  // shared by every channel's thread
    std::atomic<std::uint32_t> m_format;
    platform::IMessageSink* m_sink;
    // Declared before the decoders, which count into them, so they outlive every decoder.
    std::array<DecodeStats, protocol::kMaxChannels> m_counters;
    // The counters when each channel's current decoder started (Totals counts from there).
    std::array<DecoderTotals, protocol::kMaxChannels> m_base{};
    std::array<std::unique_ptr<CDecodeThread>, protocol::kMaxChannels> m_decoders;
    std::array<std::shared_ptr<stream::CVideoQueue>, protocol::kMaxChannels> m_queues;
    std::atomic<protocol::ChannelMask> m_running{0};
};

}  // namespace taviro::video
