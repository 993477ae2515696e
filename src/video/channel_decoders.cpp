#include "video/channel_decoders.h"

#include <thread>
#include <utility>

namespace taviro::video {

namespace {

constexpr std::size_t kDrainedBacklog = 2;
constexpr std::chrono::milliseconds kDrainStep{10};

DecoderTotals Snapshot(const DecodeStats& stats) {
    constexpr auto relaxed = std::memory_order_relaxed;
    return {stats.taken.load(),
            stats.decoded.load(),
            stats.dropped.load(),
            stats.shown.load(relaxed),
            stats.decodeCalls.load(relaxed),
            stats.decodeNanos.load(relaxed)};
}

DecoderTotals Minus(const DecoderTotals& a, const DecoderTotals& b) {
    return {a.taken - b.taken, a.decoded - b.decoded,         a.dropped - b.dropped,
            a.shown - b.shown, a.decodeCalls - b.decodeCalls, a.decodeNanos - b.decodeNanos};
}

}  // namespace

CChannelDecoders::CChannelDecoders(stream::CConsumerSlots& slots, CChannelViews& views,
                                   IDecodeEnvironment& environment,
                                   platform::H264DecoderFactory decoders, std::uint32_t format,
                                   platform::IMessageSink* sink)
    : m_slots(slots),
      m_views(views),
      m_environment(environment),
      m_decoderFactory(std::move(decoders)),
      m_format(format),
      m_sink(sink) {}

CChannelDecoders::~CChannelDecoders() {
    DrainAndStop(std::chrono::milliseconds(0));
}

void CChannelDecoders::Start(protocol::ChannelMask channels) {
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!protocol::HasChannel(channels, c) || m_decoders[i]) {
            continue;
        }
        m_queues[i] = std::make_shared<stream::CVideoQueue>();
        m_base[i] = Snapshot(m_counters[i]);
        m_decoders[i] =
            std::make_unique<CDecodeThread>(c, m_queues[i], m_views, m_environment,
                                            m_decoderFactory, m_format, m_sink, &m_counters[i]);
        m_decoders[i]->Start();
        m_slots.AttachVideo(c, m_queues[i]);
        m_running.fetch_or(protocol::ChannelBit(c));
    }
}

void CChannelDecoders::DrainAndStop(std::chrono::milliseconds drainLimit) {
    // One deadline for the whole drain: sixteen stalled decoders must not add up to half a
    // minute of waiting.
    const auto until = std::chrono::steady_clock::now() + drainLimit;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto i = static_cast<std::size_t>(c);
        if (!m_decoders[i]) {
            continue;
        }
        while (m_queues[i]->Count() > kDrainedBacklog && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(kDrainStep);
        }
        // No new frames for this channel from here on; what still waits is dropped.
        m_slots.DetachVideo(c);
        m_running.fetch_and(~protocol::ChannelBit(c));
        m_queues[i]->SetFlush(true);
        m_decoders[i]->Stop();
        m_decoders[i].reset();
        m_queues[i]->Clear();
        m_queues[i].reset();
    }
}

DecoderTotals CChannelDecoders::Totals(int channel) const {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return {};
    }
    const auto i = static_cast<std::size_t>(channel);
    return Minus(Snapshot(m_counters[i]), m_base[i]);
}

DecoderTotals CChannelDecoders::Counters(int channel) const {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return {};
    }
    return Snapshot(m_counters[static_cast<std::size_t>(channel)]);
}

}  // namespace taviro::video
