// The camera-like video end to end: each size's loop decoded as the client decodes live
// video (its parameter sets in front of the first key frame, its decoder library) is close
// to the scene it was encoded from, also where the loop runs into itself again; and the
// live stream sends the loop for camera channels.
#include "sim/camera_loop.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/h264_decoder_ffmpeg.h"
#include "platform/rbsp_bits.h"
#include "sim/camera_scene.h"
#include "sim/h264_slice_rewriter.h"
#include "sim/live_stream.h"
#include "video/param_sets.h"

namespace taviro::sim {
namespace {

double PlanePsnr(const std::uint8_t* got, const std::vector<std::uint8_t>& want) {
    double squares = 0;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const double d = static_cast<double>(got[i]) - static_cast<double>(want[i]);
        squares += d * d;
    }
    const double mse = squares / static_cast<double>(want.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The client's FFmpeg decoder, as a decoder thread holds it.
class CClientDecoder {
  public:
    explicit CClientDecoder(int width, int height)
        : m_decoder(platform::OpenFfmpegH264Decoder(platform::kH264FormatYuv420)),
          m_width(width),
          m_height(height) {
        EXPECT_NE(m_decoder, nullptr);
    }
    CClientDecoder(const CClientDecoder&) = delete;
    CClientDecoder& operator=(const CClientDecoder&) = delete;

    // Decodes one access unit; the first carries the client's parameter sets in front.
    // The decoder's result code; the picture, packed, in Picture().
    int Decode(const std::vector<std::uint8_t>& unit) {
        m_bitstream.clear();
        if (!m_paramsSent) {
            std::array<std::uint8_t, video::kParamSetBufferSize> sets{};
            const std::size_t n = video::WriteParameterSets(
                static_cast<std::uint32_t>(m_width), static_cast<std::uint32_t>(m_height), sets);
            m_bitstream.assign(sets.begin(), sets.begin() + static_cast<std::ptrdiff_t>(n));
            m_paramsSent = true;
        }
        m_bitstream.insert(m_bitstream.end(), unit.begin(), unit.end());
        if (!m_decoder) {
            return platform::kH264BadInput;
        }
        platform::PictureRef picture;
        const int result = m_decoder->Decode(m_bitstream, picture);
        if (picture && platform::CopyPacked(*picture, m_picture) == 0) {
            return platform::kH264BadInput;
        }
        return result;
    }
    [[nodiscard]] const std::uint8_t* Picture() const { return m_picture.data(); }

  private:
    std::unique_ptr<platform::IH264Decoder> m_decoder;
    int m_width;
    int m_height;
    bool m_paramsSent = false;
    std::vector<std::uint8_t> m_bitstream;
    std::vector<std::uint8_t> m_picture =
        std::vector<std::uint8_t>(platform::kH264PictureBufferSize);
};

// One and a half passes of each size's loop: every picture decodes undamaged and within
// 35 dB (luma and both chroma planes) of the scene; the second pass starts from the first
// pass's decoder state, so a loop that did not join up (frame numbers, order counts, IDR
// ids) would show here.
TEST(CameraVideo, ClientDecodesTheLoopCloseToTheScene) {
    struct Size {
        int width;
        int height;
        int channel;
    };
    for (const Size size : {Size{352, 240, 5}, Size{704, 480, 0}, Size{720, 576, 11}}) {
        SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height));
        std::string why;
        const auto loop = EncodeCameraLoop(size.channel, size.width, size.height, nullptr, &why);
        ASSERT_TRUE(loop) << why;
        ASSERT_EQ(loop->frames.size(), kCameraSceneFrames);
        const CCameraScene scene(size.channel, size.width, size.height);
        CClientDecoder decoder(size.width, size.height);
        const auto luma =
            static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height);
        double worst = 99;
        double sum = 0;
        const std::size_t passes = kCameraSceneFrames * 3 / 2;
        for (std::size_t i = 0; i < passes; ++i) {
            const std::size_t f = i % kCameraSceneFrames;
            ASSERT_EQ(loop->frames[f].keyFrame, f % kCameraGopLength == 0);
            ASSERT_EQ(decoder.Decode(loop->frames[f].bytes), platform::kH264Picture)
                << "frame " << i;
            const YuvPicture want = scene.Frame(static_cast<std::uint32_t>(f));
            const double y = PlanePsnr(decoder.Picture(), want.y);
            const double u = PlanePsnr(decoder.Picture() + luma, want.u);
            const double v = PlanePsnr(decoder.Picture() + luma + luma / 4, want.v);
            worst = std::min(worst, y);
            sum += y;
            EXPECT_GE(y, 35.0) << "frame " << i;
            EXPECT_GE(std::min(u, v), 35.0) << "frame " << i;
        }
        const double seconds = static_cast<double>(kCameraSceneFrames) / kCameraSceneRate;
        std::printf("%dx%d: luma PSNR worst %.2f dB, mean %.2f dB; %.0f kbit/s\n", size.width,
                    size.height, worst, sum / static_cast<double>(passes),
                    static_cast<double>(loop->TotalBytes()) * 8 / 1000 / seconds);
    }
}

// The loop's slice headers as the client reads them: frame numbers and order counts count
// from each IDR picture, and neighbouring IDR pictures (also across the loop's end) have
// different idr_pic_id.
TEST(CameraVideo, LoopNumbersPicturesFromEachIdr) {
    const auto loop = EncodeCameraLoop(2, 352, 240);
    ASSERT_TRUE(loop);
    const H264SeqParams sps = RecorderSeqParams(352, 240);
    const H264PicParams pps = RecorderPicParams();
    std::vector<std::uint32_t> idrIds;
    for (std::size_t i = 0; i < loop->frames.size(); ++i) {
        const auto nals = platform::SplitAnnexB(loop->frames[i].bytes);
        ASSERT_EQ(nals.size(), 1u);
        std::string why;
        const auto h = ParseH264SliceHeader(nals[0][0], platform::UnescapeRbsp(nals[0].subspan(1)),
                                            sps, pps, nullptr, &why);
        ASSERT_TRUE(h) << why;
        const auto sinceIdr = static_cast<std::uint32_t>(i % kCameraGopLength);
        EXPECT_EQ(h->idr, sinceIdr == 0);
        EXPECT_EQ(h->frameNum, sinceIdr);
        EXPECT_EQ(h->pocLsb, 2 * sinceIdr);
        if (h->idr) {
            idrIds.push_back(h->idrPicId);
        }
    }
    ASSERT_EQ(idrIds.size(), 2u);
    EXPECT_NE(idrIds[0], idrIds[1]);
}

// Camera channels send their loop once it is ready (from its IDR picture, then in order,
// wrapping), the other channels the test pattern; a channel that joins again starts with a
// key frame.
TEST(CameraVideo, LiveStreamSendsTheLoopOnCameraChannels) {
    {
        // Stopped while its workers encode: the destructor ends them between pictures.
        const CCameraLoops stopped(352, 240, 0xFFFF);
    }
    // Two channels, so both workers encode at once.
    auto loops = std::make_shared<CCameraLoops>(352, 240, 0x0006);
    ASSERT_TRUE(loops->WaitUntilDone(std::chrono::seconds(60)));
    ASSERT_EQ(loops->Error(), "");
    EXPECT_GT(loops->EncodeTime().count(), 0);
    const auto loop = loops->Loop(1);
    ASSERT_TRUE(loop);
    EXPECT_FALSE(loops->Loop(0));

    LiveStreamOptions options;
    options.width = 352;
    options.height = 240;
    options.cameraChannels = 0x0002;  // channel 2's loop is there but not used
    options.camera = loops;
    auto builder = CLiveStreamBuilder::Create(options);
    ASSERT_TRUE(builder);
    const auto payload = [](const LiveElement& e) {
        return std::vector<std::uint8_t>(e.bytes.begin() + kLiveVideoPayloadOffset, e.bytes.end());
    };
    for (std::uint32_t f = 0; f < kCameraSceneFrames + 3; ++f) {
        const auto camera = builder->VideoElement(1, f);
        ASSERT_TRUE(camera);
        const auto& want = loop->frames[f % kCameraSceneFrames];
        ASSERT_EQ(payload(*camera), want.bytes) << f;
        EXPECT_EQ(camera->keyFrame, want.keyFrame);
        const auto pattern = builder->VideoElement(0, f);
        ASSERT_TRUE(pattern);
        EXPECT_NE(payload(*pattern), want.bytes);
    }
    builder->RestartChannel(1);
    const auto again = builder->VideoElement(1, kCameraSceneFrames + 3);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->keyFrame);
    // A skipped frame goes on from the next key frame too.
    const auto skipped = builder->VideoElement(1, kCameraSceneFrames + 10);
    ASSERT_TRUE(skipped);
    EXPECT_TRUE(skipped->keyFrame);

    options.width = 704;
    options.height = 480;
    EXPECT_FALSE(CLiveStreamBuilder::Create(options)) << "loops of another size";
}

}  // namespace
}  // namespace taviro::sim
