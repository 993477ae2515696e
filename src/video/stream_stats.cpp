#include "video/stream_stats.h"

#include <cstdio>

#include "stream/stream_frames.h"
#include "video/channel_decoders.h"

namespace taviro::video {

namespace {

// What a counter gained since the previous sample; a counter below its previous value has
// started again from zero, so everything it holds is new.
std::uint64_t Gain(std::uint64_t now, std::uint64_t before) {
    return now >= before ? now - before : now;
}

}  // namespace

StreamCounters CollectCounters(const stream::CStreamFrames* frames,
                               const CChannelDecoders* decoders) {
    StreamCounters counters{};
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        ChannelCounters& out = counters[static_cast<std::size_t>(c)];
        if (frames) {
            const stream::ChannelReceived received = frames->Received(c);
            out.receivedFrames = received.frames;
            out.receivedBytes = received.bytes;
        }
        if (decoders) {
            const DecoderTotals totals = decoders->Counters(c);
            out.decoded = totals.decoded;
            out.shown = totals.shown;
            out.dropped = totals.dropped;
            out.decodeCalls = totals.decodeCalls;
            out.decodeNanos = totals.decodeNanos;
        }
    }
    return counters;
}

std::vector<std::string> StatsOsdLines(const ChannelStats& stats) {
    if (!stats.active)
        return {"no stream data"};
    char line[4][64];
    std::snprintf(line[0], sizeof line[0], "%.0f kbit/s  in %.1f fps", stats.kbps,
                  stats.receivedFps);
    std::snprintf(line[1], sizeof line[1], "shown %.1f fps", stats.shownFps);
    std::snprintf(line[2], sizeof line[2], "dropped %llu (total %llu)",
                  static_cast<unsigned long long>(stats.dropped),
                  static_cast<unsigned long long>(stats.droppedTotal));
    std::snprintf(line[3], sizeof line[3], "decode %.2f ms", stats.decodeMs);
    return {line[0], line[1], line[2], line[3]};
}

const StreamStats& CStreamStatsSampler::Sample(const StreamCounters& totals,
                                               std::chrono::milliseconds elapsed) {
    const double seconds = static_cast<double>(elapsed.count()) / 1000.0;
    const auto perSecond = [seconds](std::uint64_t count) {
        return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
    };
    for (std::size_t c = 0; c < totals.size(); ++c) {
        const ChannelCounters& now = totals[c];
        const ChannelCounters& before = m_previous[c];
        const std::uint64_t frames = Gain(now.receivedFrames, before.receivedFrames);
        const std::uint64_t bytes = Gain(now.receivedBytes, before.receivedBytes);
        const std::uint64_t decoded = Gain(now.decoded, before.decoded);
        const std::uint64_t shown = Gain(now.shown, before.shown);
        const std::uint64_t dropped = Gain(now.dropped, before.dropped);
        const std::uint64_t calls = Gain(now.decodeCalls, before.decodeCalls);
        const std::uint64_t nanos = Gain(now.decodeNanos, before.decodeNanos);

        ChannelStats& s = m_stats[c];
        s.active = frames + decoded + shown + dropped + calls > 0;
        s.kbps = perSecond(bytes) * 8.0 / 1000.0;
        s.receivedFps = perSecond(frames);
        s.decodedFps = perSecond(decoded);
        s.shownFps = perSecond(shown);
        s.dropped = dropped;
        s.droppedTotal += dropped;
        s.decodeMs = calls > 0 ? static_cast<double>(nanos) / static_cast<double>(calls) / 1e6 : 0;
    }
    m_previous = totals;
    return m_stats;
}

void CStreamStatsSampler::Reset() {
    m_previous = {};
    m_stats = {};
}

}  // namespace taviro::video
