// The channel decoder set: decoders start on their slots, drain before they stop, and keep
// their counts after they are gone.
#include "video/channel_decoders.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <thread>
#include <utility>

#include "platform/null_h264_decoder.h"

namespace taviro::video {
namespace {

using namespace std::chrono_literals;

// Null decoders whose every call takes a short, fixed time: every frame gives a picture.
class CSlowDecoder final : public platform::IH264Decoder {
  public:
    explicit CSlowDecoder(std::unique_ptr<platform::IH264Decoder> inner)
        : m_inner(std::move(inner)) {}
    int Decode(std::span<const std::uint8_t> input, platform::PictureRef& picture) override {
        std::this_thread::sleep_for(2ms);
        return m_inner->Decode(input, picture);
    }
    [[nodiscard]] std::uint32_t Format() const override { return m_inner->Format(); }

  private:
    std::unique_ptr<platform::IH264Decoder> m_inner;
};

platform::H264DecoderFactory SlowDecoders(
    std::shared_ptr<platform::NullH264DecoderCounts> counts = nullptr) {
    return [nulls = platform::NullH264Decoders(std::move(counts))](
               std::uint32_t format) -> std::unique_ptr<platform::IH264Decoder> {
        auto inner = nulls(format);
        return inner ? std::make_unique<CSlowDecoder>(std::move(inner)) : nullptr;
    };
}

class Environment final : public IDecodeEnvironment {
  public:
    bool LiveDropsChannel(int) override { return false; }
    std::string LiveTitle(int) override { return {}; }
    std::int64_t PlaybackTime(ViewMode) override { return 0; }
    bool Deinterlace(int) override { return true; }
};

stream::QueuedFrame KeyFrame() {
    stream::FrameInfo info;
    info.kind = 0;
    info.width = 352;
    info.height = 240;
    info.generation = 1;
    const std::uint8_t payload[] = {0, 0, 0, 1, 0x65, 1, 2, 3};
    info.payloadLength = sizeof payload;
    info.size = sizeof payload;
    return *stream::QueuedFrame::Make(info, protocol::PacketHeader::Make(18, 8, true), payload);
}

TEST(ChannelDecodersTest, DrainThenStopAndKeepTheCounts) {
    stream::CConsumerSlots slots;
    CChannelViews views;
    views.SetViewMode(ViewMode::Live);
    Environment environment;
    auto counts = std::make_shared<platform::NullH264DecoderCounts>();
    CChannelDecoders decoders(slots, views, environment, SlowDecoders(counts),
                              platform::kH264FormatYuv420, nullptr);
    decoders.Start(0x0005);
    EXPECT_EQ(decoders.Running(), 0x0005u);
    EXPECT_EQ(slots.VideoSlotMask(), 0x0005u);
    decoders.Start(0x0004);  // already running: nothing new
    EXPECT_EQ(decoders.Running(), 0x0005u);

    for (int i = 0; i < 40; ++i)
        slots.Video(2)->Put(KeyFrame());
    // A limit far above the 80 ms the frames take, so a starved sanitizer run still drains.
    decoders.DrainAndStop(20s);
    EXPECT_EQ(decoders.Running(), 0u);
    EXPECT_EQ(slots.VideoSlotMask(), 0u) << "stopped decoders leave their slots";
    // Drained to at most two waiting frames before the stop: at least 38 were decoded.
    EXPECT_GE(decoders.Totals(2).decoded, 38u);
    EXPECT_EQ(decoders.Totals(0).taken, 0u);
    // The channel that had frames opened its decoder and closed it when it stopped; the
    // one that had none never made one.
    EXPECT_EQ(counts->opened.load(), 1u);
    EXPECT_EQ(counts->closed.load(), 1u);
    EXPECT_EQ(counts->pictures.load(), decoders.Totals(2).decoded);

    // A queue that does not drain in time is flushed, not waited for.
    decoders.Start(0x0002);
    for (int i = 0; i < 2000; ++i)
        slots.Video(1)->Put(KeyFrame());
    const auto t0 = std::chrono::steady_clock::now();
    decoders.DrainAndStop(100ms);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_LT(decoders.Totals(1).decoded, 2000u);
}

TEST(ChannelDecodersTest, StatisticsCountersOutliveRestartsAndTimeTheDecoder) {
    stream::CConsumerSlots slots;
    CChannelViews views;
    views.SetViewMode(ViewMode::Live);
    Environment environment;
    CChannelDecoders decoders(slots, views, environment, SlowDecoders(),
                              platform::kH264FormatYuv420, nullptr);
    for (std::uint64_t run = 0; run < 2; ++run) {
        decoders.Start(0x0001);
        for (int i = 0; i < 5; ++i)
            slots.Video(0)->Put(KeyFrame());
        // The stop flushes the last waiting frames: let every one be taken first.
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (decoders.Counters(0).taken < 5u * (run + 1) &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(1ms);
        decoders.DrainAndStop(5s);
    }
    const DecoderTotals last = decoders.Totals(0);
    const DecoderTotals all = decoders.Counters(0);
    EXPECT_EQ(last.decoded, 5u) << "the report counts the last decoder only";
    EXPECT_EQ(all.decoded, 10u) << "the statistics count across restarts";
    EXPECT_EQ(all.shown, 10u);
    EXPECT_EQ(all.decodeCalls, 10u);
    // Every decoder call sleeps 2 ms, and the time is taken around the call.
    EXPECT_GE(all.decodeNanos, 10u * 2'000'000u);
}

}  // namespace
}  // namespace taviro::video
