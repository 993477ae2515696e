// Stream statistics per channel: what arrived (kbit/s and pictures per second handed to the
// channel's queue), what was decoded and shown, what was dropped and what decoding cost.
// The counters are cumulative totals that the hot paths bump with relaxed atomics; once a
// second the owner collects them and the sampler turns the differences into rates.
//
// "Shown" means a new picture reached the screen: the window counts a channel's picture
// when its pane is painted with a picture it had not painted before (pictures that arrive
// between two paints are never seen and do not count). Without a window (taviro-cli) it is
// the pictures the decoders handed to the views for display.
//
// Threads: CollectCounters reads atomics only and may run on any thread while the stream
// runs. A CStreamStatsSampler belongs to one thread (the window's timer, or the command-line
// loop).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/channel_mask.h"

namespace taviro::stream {
class CStreamFrames;
}

namespace taviro::video {

class CChannelDecoders;

// Cumulative totals of one channel. A source that starts again (a new connection, decoders
// restarted in another format) may go back to zero; the sampler copes.
struct ChannelCounters {
    std::uint64_t receivedFrames = 0;
    std::uint64_t receivedBytes = 0;  // video payload bytes
    std::uint64_t decoded = 0;
    std::uint64_t shown = 0;
    std::uint64_t dropped = 0;
    std::uint64_t decodeCalls = 0;
    std::uint64_t decodeNanos = 0;
};
using StreamCounters = std::array<ChannelCounters, protocol::kMaxChannels>;

// One channel over one sample interval.
struct ChannelStats {
    bool active = false;  // something arrived, was decoded, shown or dropped
    double kbps = 0;      // kbit/s of video received (1 kbit = 1000 bits)
    double receivedFps = 0;
    double decodedFps = 0;
    double shownFps = 0;
    std::uint64_t dropped = 0;       // in this interval
    std::uint64_t droppedTotal = 0;  // since the sampler started or was reset
    double decodeMs = 0;             // mean library time per frame decoded in this interval
};
using StreamStats = std::array<ChannelStats, protocol::kMaxChannels>;

// Either source may be null (nothing received / no decoders): its counters stay zero.
StreamCounters CollectCounters(const stream::CStreamFrames* frames,
                               const CChannelDecoders* decoders);

// The statistics lines a pane shows under its title, short enough for the smallest pane.
std::vector<std::string> StatsOsdLines(const ChannelStats& stats);

class CStreamStatsSampler {
  public:
    // The counters' totals now, and the time since the previous call. The first call after
    // construction or Reset() measures from zero totals. A counter that went back (its
    // source started again) counts what it holds now. An interval of zero or less gives
    // zero rates but still counts drops.
    const StreamStats& Sample(const StreamCounters& totals, std::chrono::milliseconds elapsed);
    // The source changed (another connection): the next sample measures from zero and the
    // drop totals start again.
    void Reset();
    // The counters' source was replaced (a connection made again): the next sample measures
    // from zero, and the drop totals go on.
    void NewSource() { m_previous = {}; }

    [[nodiscard]] const StreamStats& Last() const { return m_stats; }

  private:
    StreamCounters m_previous{};
    StreamStats m_stats{};
};

}  // namespace taviro::video
