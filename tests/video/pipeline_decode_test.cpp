// The decoder thread with the real decoder library on the simulator's H.264: every decoded
// pixel is known from (channel, frame number), so the hand-over is checked exactly.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/h264_decoder_ffmpeg.h"
#include "sim/h264_stream_writer.h"
#include "sim/h264_test_pattern.h"
#include "video/decode_thread.h"

namespace taviro::video {
namespace {

using namespace std::chrono_literals;

class PlainEnvironment final : public IDecodeEnvironment {
  public:
    bool LiveDropsChannel(int) override { return false; }
    std::string LiveTitle(int) override { return "CAM"; }
    std::int64_t PlaybackTime(ViewMode) override { return 0; }
    bool Deinterlace(int) override { return deinterlace; }
    bool deinterlace = true;
};

stream::QueuedFrame Frame(const sim::H264AccessUnit& unit, int channel, std::uint32_t generation) {
    stream::FrameInfo info;
    info.channel = static_cast<std::uint8_t>(channel);
    info.kind = unit.key_frame ? 0 : 1;
    info.width = static_cast<std::uint16_t>(unit.width);
    info.height = static_cast<std::uint16_t>(unit.height);
    info.generation = generation;
    info.payloadLength = static_cast<std::uint32_t>(unit.bytes.size());
    info.size = info.payloadLength;
    auto frame =
        stream::QueuedFrame::Make(info, protocol::PacketHeader::Make(18, 0, true), unit.bytes);
    EXPECT_TRUE(frame);
    return std::move(*frame);
}

std::vector<std::uint8_t> Planar(const sim::YuvPicture& p) {
    std::vector<std::uint8_t> out(p.y);
    out.insert(out.end(), p.u.begin(), p.u.end());
    out.insert(out.end(), p.v.begin(), p.v.end());
    return out;
}

struct StreamCase {
    int width, height, pocStep;
    bool deinterlace;
};

class PipelineDecodeTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(PipelineDecodeTest, EveryFrameGivesExactlyThePictureThatWasSent) {
    const StreamCase c = GetParam();
    sim::H264StreamOptions options;
    options.width = c.width;
    options.height = c.height;
    options.gop_length = 5;
    options.poc_step = c.pocStep;
    auto writer = sim::CH264StreamWriter::Create(options);
    ASSERT_TRUE(writer);

    CChannelViews views;
    views.SetViewMode(ViewMode::Live);
    PlainEnvironment environment;
    environment.deinterlace = c.deinterlace;
    auto queue = std::make_shared<stream::CVideoQueue>();
    CDecodeThread thread(3, queue, views, environment, platform::FfmpegH264Decoders(),
                         platform::kH264FormatYuv420);
    thread.Start();
    for (std::uint32_t n = 0; n < 12; ++n) {
        const auto picture = sim::MakeH264TestPattern(3, n, c.width, c.height);
        const auto unit = writer->Write(picture);
        ASSERT_TRUE(unit);
        queue->Put(Frame(*unit, 3, 1));
        // One frame at a time: the picture in the view must be this frame's, at once.
        const auto until = std::chrono::steady_clock::now() + 5s;
        while (thread.Stats().taken < n + 1 && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_EQ(thread.Stats().taken.load(), n + 1);
        ASSERT_EQ(thread.Stats().decoded.load(), n + 1) << "frame " << n;
        const auto expected = Planar(picture);
        const ChannelView& view = views.Channel(3);
        std::lock_guard lock(view.lock);
        ASSERT_EQ(view.width, c.width);
        ASSERT_EQ(view.height, c.height);
        ASSERT_NE(view.frame, nullptr);
        EXPECT_EQ(view.doubleLines, !c.deinterlace && (c.height == 480 || c.height == 576));
        std::vector<std::uint8_t> shown(expected.size());
        ASSERT_EQ(PackPicture(*view.frame, false, shown.data(), shown.size()), expected.size());
        ASSERT_EQ(shown, expected) << "frame " << n;
    }
    thread.Stop();
    EXPECT_EQ(platform::H264OpenInstanceCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PipelineDecodeTest,
                         ::testing::Values(StreamCase{704, 480, 2, true},
                                           StreamCase{704, 480, 2, false},
                                           StreamCase{352, 240, 4, true},
                                           StreamCase{720, 576, 2, false}));

}  // namespace
}  // namespace taviro::video
