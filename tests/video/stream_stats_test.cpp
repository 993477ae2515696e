// The stream statistics sampler: rates over the interval it is given, counters that start
// again, and channels with nothing.
#include "video/stream_stats.h"

#include <gtest/gtest.h>

namespace taviro::video {
namespace {

using namespace std::chrono_literals;

TEST(StreamStatsTest, RatesDropsAndDecodeTimeOverTheInterval) {
    CStreamStatsSampler sampler;
    StreamCounters totals{};
    ChannelCounters& ch = totals[3];
    ch = {.receivedFrames = 30,
          .receivedBytes = 150'000,
          .decoded = 27,
          .shown = 24,
          .dropped = 3,
          .decodeCalls = 28,
          .decodeNanos = 28 * 4'000'000};
    const StreamStats& first = sampler.Sample(totals, 1500ms);
    const ChannelStats& s = first[3];
    EXPECT_TRUE(s.active);
    EXPECT_DOUBLE_EQ(s.kbps, 800.0);  // 150,000 bytes in 1.5 s
    EXPECT_DOUBLE_EQ(s.receivedFps, 20.0);
    EXPECT_DOUBLE_EQ(s.decodedFps, 18.0);
    EXPECT_DOUBLE_EQ(s.shownFps, 16.0);
    EXPECT_EQ(s.dropped, 3u);
    EXPECT_DOUBLE_EQ(s.decodeMs, 4.0);

    // The next second counts only what it added; the drop total keeps adding.
    ch.receivedFrames += 25;
    ch.receivedBytes += 50'000;
    ch.dropped += 2;
    ch.decodeCalls += 2;
    ch.decodeNanos += 2 * 10'000'000;
    const ChannelStats& next = sampler.Sample(totals, 1000ms)[3];
    EXPECT_DOUBLE_EQ(next.receivedFps, 25.0);
    EXPECT_DOUBLE_EQ(next.kbps, 400.0);
    EXPECT_DOUBLE_EQ(next.shownFps, 0.0);
    EXPECT_EQ(next.dropped, 2u);
    EXPECT_EQ(next.droppedTotal, 5u);
    EXPECT_DOUBLE_EQ(next.decodeMs, 10.0) << "the mean of this interval, not of all time";
}

TEST(StreamStatsTest, CountersThatStartAgainAndChannelsWithNothing) {
    CStreamStatsSampler sampler;
    StreamCounters totals{};
    totals[0] = {.receivedFrames = 1000, .receivedBytes = 1'000'000, .dropped = 7};
    sampler.Sample(totals, 1000ms);
    sampler.Sample(totals, 1000ms);
    EXPECT_FALSE(sampler.Last()[0].active) << "nothing moved in the last second";
    EXPECT_DOUBLE_EQ(sampler.Last()[0].receivedFps, 0.0);

    // A new connection: its counters begin again below the old totals. What they hold now
    // is what came in this interval; no wrapped-around huge rate.
    totals[0] = {.receivedFrames = 12, .receivedBytes = 3'000, .dropped = 1};
    const ChannelStats& restarted = sampler.Sample(totals, 1000ms)[0];
    EXPECT_DOUBLE_EQ(restarted.receivedFps, 12.0);
    EXPECT_DOUBLE_EQ(restarted.kbps, 24.0);
    EXPECT_EQ(restarted.droppedTotal, 8u);

    // Reset: measured from zero again, the drop total starts over.
    sampler.Reset();
    totals[0].dropped = 4;
    const ChannelStats& reset = sampler.Sample(totals, 1000ms)[0];
    EXPECT_EQ(reset.dropped, 4u);
    EXPECT_EQ(reset.droppedTotal, 4u);
    EXPECT_DOUBLE_EQ(reset.receivedFps, 12.0);

    // A channel nobody sends: inactive, every figure zero, no division by zero anywhere.
    const ChannelStats& idle = sampler.Last()[9];
    EXPECT_FALSE(idle.active);
    EXPECT_DOUBLE_EQ(idle.kbps, 0.0);
    EXPECT_DOUBLE_EQ(idle.decodeMs, 0.0);

    // An interval of no length gives no rates but still counts the drops.
    totals[0].dropped += 2;
    const ChannelStats& instant = sampler.Sample(totals, 0ms)[0];
    EXPECT_DOUBLE_EQ(instant.receivedFps, 0.0);
    EXPECT_EQ(instant.dropped, 2u);
}

}  // namespace
}  // namespace taviro::video
