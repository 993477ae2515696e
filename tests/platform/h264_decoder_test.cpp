#include "platform/h264_decoder_ffmpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "platform/rbsp_bits.h"
#include "video/param_sets.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

namespace taviro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------------------
// Hand-written streams: the adapter's parameter sets, then I_PCM slices (lossless, so the
// decoded pixels must equal the written ones exactly).
// ---------------------------------------------------------------------------------------

// A picture in the decoder's format 0 layout, packed.
struct Yuv {
    int width = 0;
    int height = 0;
    Bytes planes;  // Y, then U, then V

    std::uint8_t* Y() { return planes.data(); }
    std::uint8_t* U() { return planes.data() + width * height; }
    std::uint8_t* V() { return U() + (width / 2) * (height / 2); }
    std::uint8_t* End() { return planes.data() + planes.size(); }
    const std::uint8_t* Y() const { return planes.data(); }
    const std::uint8_t* U() const { return planes.data() + width * height; }
    const std::uint8_t* V() const { return U() + (width / 2) * (height / 2); }
    const std::uint8_t* End() const { return planes.data() + planes.size(); }
    std::uint8_t At(int plane, int x, int y) const {
        const int w = plane == 0 ? width : width / 2;
        const int offset =
            plane == 0 ? 0 : width * height + (plane - 1) * (width / 2) * (height / 2);
        return planes[static_cast<std::size_t>(offset + y * w + x)];
    }
};

Yuv Pattern(int width, int height, int seed) {
    Yuv p{width, height, Bytes(static_cast<std::size_t>(width * height * 3 / 2))};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            p.Y()[y * width + x] =
                static_cast<std::uint8_t>(16 + (x * 3 + y * 5 + seed * 37) % 220);
        }
    }
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
            p.U()[y * (width / 2) + x] = static_cast<std::uint8_t>(16 + (x * 7 + seed * 11) % 224);
            p.V()[y * (width / 2) + x] = static_cast<std::uint8_t>(16 + (y * 9 + seed * 13) % 224);
        }
    }
    return p;
}

Yuv Flat(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    Yuv p{width, height, Bytes(static_cast<std::size_t>(width * height * 3 / 2))};
    std::fill(p.Y(), p.U(), y);
    std::fill(p.U(), p.V(), u);
    std::fill(p.V(), p.End(), v);
    return p;
}

Bytes ParameterSets(int width, int height) {
    std::array<std::uint8_t, video::kParamSetBufferSize> buffer{};
    const std::size_t n = video::WriteParameterSets(static_cast<std::uint32_t>(width),
                                                    static_cast<std::uint32_t>(height), buffer);
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)};
}

struct SliceInfo {
    bool idr = true;
    std::uint32_t idrPicId = 0;
    std::uint32_t frameNum = 0;  // 9 bits, as the adapter's sequence set says
    std::uint32_t pocLsb = 0;    // 10 bits
};

// One I slice of I_PCM macroblocks covering the whole picture.
Bytes PcmSlice(const Yuv& picture, const SliceInfo& info) {
    CRbspWriter b;
    b.PutUe(0);  // first_mb_in_slice
    b.PutUe(7);  // slice_type: I, all slices of the picture
    b.PutUe(0);  // pic_parameter_set_id
    b.PutBits(info.frameNum, 9);
    if (info.idr) {
        b.PutUe(info.idrPicId);
    }
    b.PutBits(info.pocLsb, 10);
    if (info.idr) {
        b.PutBit(false);  // no_output_of_prior_pics_flag
        b.PutBit(false);  // long_term_reference_flag
    } else {
        b.PutBit(false);  // adaptive_ref_pic_marking_mode_flag: sliding window
    }
    b.PutSe(0);  // slice_qp_delta
    const int mbWidth = picture.width / 16;
    const int mbHeight = picture.height / 16;
    for (int my = 0; my < mbHeight; ++my) {
        for (int mx = 0; mx < mbWidth; ++mx) {
            b.PutUe(25);  // mb_type I_PCM
            b.AlignWithZeros();
            for (int y = 0; y < 16; ++y) {
                for (int x = 0; x < 16; ++x) {
                    b.PutBits(picture.At(0, mx * 16 + x, my * 16 + y), 8);
                }
            }
            for (int plane = 1; plane <= 2; ++plane) {
                for (int y = 0; y < 8; ++y) {
                    for (int x = 0; x < 8; ++x) {
                        b.PutBits(picture.At(plane, mx * 8 + x, my * 8 + y), 8);
                    }
                }
            }
        }
    }
    b.PutTrailingBits();
    Bytes out;
    AppendNalUnit(out, info.idr ? 0x65 : 0x41, b.Bytes());
    return out;
}

Bytes KeyFrame(const Yuv& picture, const SliceInfo& info) {
    Bytes out = ParameterSets(picture.width, picture.height);
    const Bytes slice = PcmSlice(picture, info);
    out.insert(out.end(), slice.begin(), slice.end());
    return out;
}

// ---------------------------------------------------------------------------------------

// A decoder whose pictures are copied out packed after each call, into a buffer that is
// larger than any picture (what lies past the picture shows whether anything wrote there).
class CDecoder {
  public:
    explicit CDecoder(std::uint32_t format)
        : m_decoder(OpenFfmpegH264Decoder(format, &m_open)), m_format(format) {}
    CDecoder(const CDecoder&) = delete;
    CDecoder& operator=(const CDecoder&) = delete;

    // The decoder's result; the picture, if one came out, packed in Picture().
    int Decode(const Bytes& input) {
        PictureRef picture;
        const int result = m_decoder ? m_decoder->Decode(input, picture) : kH264BadInput;
        if (picture && CopyPacked(*picture, m_picture) == 0) {
            ADD_FAILURE() << "the picture does not pack";
        }
        return result;
    }
    [[nodiscard]] int InitResult() const { return m_open; }
    [[nodiscard]] std::uint32_t Format() const { return m_format; }
    IH264Decoder& Decoder() { return *m_decoder; }
    Bytes& Picture() { return m_picture; }

  private:
    int m_open = -100;
    std::unique_ptr<IH264Decoder> m_decoder;
    std::uint32_t m_format;
    Bytes m_picture = Bytes(kH264PictureBufferSize, 0xEE);
};

bool SamePlanes(const Bytes& picture, const Yuv& expected) {
    return std::equal(expected.planes.begin(), expected.planes.end(), picture.begin());
}

// BT.601 studio range, as libswscale converts by default.
std::array<int, 3> ToBgr(int y, int u, int v) {
    const double c = 1.164 * (y - 16);
    const auto clamp = [](double x) {
        return std::clamp(static_cast<int>(std::lround(x)), 0, 255);
    };
    return {clamp(c + 2.018 * (u - 128)), clamp(c - 0.391 * (u - 128) - 0.813 * (v - 128)),
            clamp(c + 1.596 * (v - 128))};
}

// ---------------------------------------------------------------------------------------

TEST(H264Decoder, PcmPicturesComeOutExactlyInYuv) {
    CDecoder decoder(kH264FormatYuv420);
    ASSERT_EQ(decoder.InitResult(), kH264InitOk);
    EXPECT_EQ(decoder.Decoder().Format(), kH264FormatYuv420);

    const Yuv first = Pattern(352, 240, 1);
    ASSERT_EQ(decoder.Decode(KeyFrame(first, {})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), first));
    // Nothing past the picture is touched.
    EXPECT_EQ(decoder.Picture()[first.planes.size()], 0xEE);

    // A dependent picture without parameter sets in front.
    const Yuv second = Pattern(352, 240, 2);
    ASSERT_EQ(decoder.Decode(PcmSlice(second, {false, 0, 1, 2})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), second));

    // A new size within the same instance, announced by new parameter sets.
    const Yuv large = Pattern(704, 480, 3);
    ASSERT_EQ(decoder.Decode(KeyFrame(large, {true, 1, 0, 0})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), large));
}

TEST(H264Decoder, ParameterSetsAloneGiveNoPictureAndAreKept) {
    CDecoder decoder(kH264FormatYuv420);
    ASSERT_EQ(decoder.InitResult(), kH264InitOk);
    EXPECT_EQ(decoder.Decode(ParameterSets(64, 48)), kH264NoPicture);
    const Yuv picture = Pattern(64, 48, 4);
    ASSERT_EQ(decoder.Decode(PcmSlice(picture, {})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), picture));
}

// Picture order counts that step by 4 make libavcodec guess at reordering and hold pictures
// back; the library must still give every picture out in the call that brought it.
std::vector<Bytes> PocStepStream(int count, bool allIdr, std::vector<Yuv>& pictures) {
    std::vector<Bytes> stream;
    for (int i = 0; i < count; ++i) {
        pictures.push_back(Pattern(64, 48, 10 + i));
        const auto n = static_cast<std::uint32_t>(i);
        const std::uint32_t poc = (4U * n) % 1024U;
        if (i == 0) {
            stream.push_back(KeyFrame(pictures.back(), {true, 0, 0, poc}));
        } else if (allIdr) {
            stream.push_back(KeyFrame(pictures.back(), {true, n % 2U, 0, poc}));
        } else {
            stream.push_back(PcmSlice(pictures.back(), {false, 0, n % 512U, poc}));
        }
    }
    return stream;
}

TEST(H264Decoder, EveryPictureComesOutAtOnceWhateverTheOrderCounts) {
    for (const bool allIdr : {false, true}) {
        for (const std::uint32_t format : {kH264FormatYuv420, kH264FormatRgb24}) {
            SCOPED_TRACE(testing::Message() << "all IDR " << allIdr << ", format " << format);
            CDecoder decoder(format);
            ASSERT_EQ(decoder.InitResult(), kH264InitOk);
            std::vector<Yuv> pictures;
            const std::vector<Bytes> stream = PocStepStream(300, allIdr, pictures);
            for (std::size_t i = 0; i < stream.size(); ++i) {
                ASSERT_EQ(decoder.Decode(stream[i]), kH264Picture) << "frame " << i;
                if (format == kH264FormatYuv420) {
                    ASSERT_TRUE(SamePlanes(decoder.Picture(), pictures[i])) << "frame " << i;
                } else {
                    // Check one pixel that differs between consecutive patterns.
                    const auto bgr = ToBgr(pictures[i].At(0, 10, 10), pictures[i].At(1, 5, 5),
                                           pictures[i].At(2, 5, 5));
                    const std::size_t at = (10U * 64U + 10U) * 3U;
                    for (std::size_t c = 0; c < 3; ++c) {
                        ASSERT_NEAR(decoder.Picture()[at + c], bgr[c], 4) << "frame " << i;
                    }
                }
            }
        }
    }
}

// The same stream through a plain libavcodec decoder holds pictures back, even single-threaded
// and with the low-delay flag, so the test above really exercises the reordering guess.
TEST(H264Decoder, PlainLibavcodecWouldDelayThatStream) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    ASSERT_NE(codec, nullptr);
    AVCodecContext* context = avcodec_alloc_context3(codec);
    ASSERT_NE(context, nullptr);
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;  // not enough on its own
    ASSERT_EQ(avcodec_open2(context, codec, nullptr), 0);
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    std::vector<Yuv> pictures;
    int late = 0;
    for (const Bytes& input : PocStepStream(20, false, pictures)) {
        ASSERT_EQ(av_new_packet(packet, static_cast<int>(input.size())), 0);
        std::copy(input.begin(), input.end(), packet->data);
        ASSERT_EQ(avcodec_send_packet(context, packet), 0);
        av_packet_unref(packet);
        if (avcodec_receive_frame(context, frame) != 0) {
            ++late;
        }
        av_frame_unref(frame);
    }
    EXPECT_GT(late, 0);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
}

TEST(H264Decoder, RgbIsBlueGreenRedAndTopDown) {
    // Top two macroblock rows red, bottom two blue.
    Yuv picture = Flat(64, 64, 81, 90, 240);
    const Yuv blue = Flat(64, 64, 41, 240, 110);
    std::copy(blue.Y() + 32 * 64, blue.U(), picture.Y() + 32 * 64);
    std::copy(blue.U() + 16 * 32, blue.V(), picture.U() + 16 * 32);
    std::copy(blue.V() + 16 * 32, blue.End(), picture.V() + 16 * 32);

    CDecoder decoder(kH264FormatRgb24);
    ASSERT_EQ(decoder.InitResult(), kH264InitOk);
    ASSERT_EQ(decoder.Decode(KeyFrame(picture, {})), kH264Picture);
    const Bytes& rgb = decoder.Picture();
    const auto red = ToBgr(81, 90, 240);
    const auto blueBgr = ToBgr(41, 240, 110);
    for (const int row : {0, 1, 20, 29}) {
        for (const int x : {0, 33, 63}) {
            for (std::size_t c = 0; c < 3; ++c) {
                EXPECT_NEAR(rgb[static_cast<std::size_t>((row * 64 + x) * 3) + c], red[c], 3);
                EXPECT_NEAR(rgb[static_cast<std::size_t>(((63 - row) * 64 + x) * 3) + c],
                            blueBgr[c], 3);
            }
        }
    }
    EXPECT_GT(rgb[2], 200);  // red in the third byte of the top-left pixel
    EXPECT_LT(rgb[0], 40);
    EXPECT_EQ(rgb[64 * 64 * 3], 0xEE);
}

// The planes of a picture handed out by reference, packed without their row padding.
Bytes Packed(const DecodedPicture& p) {
    Bytes out;
    const int planes = p.format == kH264FormatRgb24 ? 1 : 3;
    for (int i = 0; i < planes; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const int rowBytes = p.format == kH264FormatRgb24 ? p.width * 3
                             : i == 0                     ? p.width
                                                          : (p.width + 1) / 2;
        const int rows = i == 0 ? p.height : (p.height + 1) / 2;
        for (int r = 0; r < rows; ++r) {
            const std::uint8_t* row = p.planes[k] + static_cast<std::ptrdiff_t>(r) * p.strides[k];
            out.insert(out.end(), row, row + rowBytes);
        }
    }
    return out;
}

// Pictures by reference: each stays exactly as decoded while the decoder goes on and after
// it is closed, in both formats, whether the input was read in place or not, and packs to
// the same bytes it did when it came out.
TEST(H264Decoder, PicturesByReferenceStayAsTheyWereWhileTheDecoderGoesOn) {
    for (const std::uint32_t format : {kH264FormatYuv420, kH264FormatRgb24}) {
        SCOPED_TRACE(format);
        std::vector<Yuv> sources;
        std::vector<PictureRef> held;
        std::vector<Bytes> copies;
        {
            const auto decoder = OpenFfmpegH264Decoder(format);
            ASSERT_NE(decoder, nullptr);
            PictureRef none = std::make_shared<CPackedPicture>(2, 2, format);
            EXPECT_EQ(decoder->Decode({}, none), kH264BadInput);
            EXPECT_EQ(none, nullptr);
            for (std::uint32_t n = 0; n < 6; ++n) {
                sources.push_back(Pattern(352, 240, static_cast<int>(n) + 1));
                const Bytes input = n == 0
                                        ? KeyFrame(sources.back(), {})
                                        : PcmSlice(sources.back(), {false, 0, n, (2 * n) % 1024});
                PictureRef picture;
                if (n % 2 == 0) {
                    // Read in place (the key frame's parameter sets are still rewritten): the
                    // bytes are spoilt and freed at once, and nothing of them may be kept.
                    auto padded =
                        std::make_unique<std::uint8_t[]>(input.size() + kH264InputPadding);
                    std::copy(input.begin(), input.end(), padded.get());
                    ASSERT_EQ(decoder->DecodePadded({padded.get(), input.size()}, picture),
                              kH264Picture);
                    std::fill_n(padded.get(), input.size(), std::uint8_t{0xFF});
                } else {
                    ASSERT_EQ(decoder->Decode(input, picture), kH264Picture);
                }
                ASSERT_NE(picture, nullptr);
                EXPECT_EQ(picture->width, 352);
                EXPECT_EQ(picture->height, 240);
                EXPECT_EQ(picture->format, format);
                Bytes copy(PackedPictureBytes(352, 240, format));
                ASSERT_EQ(CopyPacked(*picture, copy), copy.size());
                copies.push_back(std::move(copy));
                held.push_back(std::move(picture));
            }
        }
        EXPECT_EQ(H264OpenInstanceCount(), 0u);
        for (std::size_t n = 0; n < held.size(); ++n) {
            const Bytes packed = Packed(*held[n]);
            EXPECT_EQ(packed, copies[n]) << "picture " << n;
            if (format == kH264FormatYuv420) {
                EXPECT_TRUE(SamePlanes(packed, sources[n])) << "picture " << n;
            }
        }
    }
}

TEST(H264Decoder, LargestPictureFitsAndLargerOnesAreRefused) {
    const auto decoder = OpenFfmpegH264Decoder(kH264FormatRgb24);
    ASSERT_NE(decoder, nullptr);
    PictureRef picture;
    const Bytes pal = KeyFrame(Flat(720, 576, 126, 128, 128), {});
    ASSERT_EQ(decoder->Decode(pal, picture), kH264Picture);
    // Packed, it fills a buffer of the largest size exactly (ASan watches the end).
    std::vector<std::uint8_t> exact(kH264PictureBufferSize);
    EXPECT_EQ(CopyPacked(*picture, exact), kH264PictureBufferSize);
    EXPECT_NEAR(exact.back(), 128, 3);
    std::vector<std::uint8_t> shorter(kH264PictureBufferSize - 1, 0x55);
    EXPECT_EQ(CopyPacked(*picture, shorter), 0u);
    EXPECT_TRUE(
        std::all_of(shorter.begin(), shorter.end(), [](std::uint8_t b) { return b == 0x55; }));

    const Bytes wide = KeyFrame(Flat(736, 576, 126, 128, 128), {true, 1, 0, 0});
    EXPECT_EQ(decoder->Decode(wide, picture), kH264BadInput);
    EXPECT_EQ(picture, nullptr);
}

TEST(H264Decoder, UnknownFormatsAndEmptyInputAreRefused) {
    for (const std::uint32_t format : {1U, 2U, 4U, 0xFFFFFFFFU}) {
        int error = 0;
        EXPECT_EQ(OpenFfmpegH264Decoder(format, &error), nullptr);
        EXPECT_EQ(error, kH264InitBadFormat);
        EXPECT_EQ(FfmpegH264Decoders()(format), nullptr);
    }
    EXPECT_EQ(H264OpenInstanceCount(), 0u);
    const auto decoder = FfmpegH264Decoders()(kH264FormatYuv420);
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(decoder->Format(), kH264FormatYuv420);
    PictureRef picture;
    EXPECT_EQ(decoder->Decode({}, picture), kH264BadInput);
    EXPECT_EQ(decoder->DecodePadded({}, picture), kH264BadInput);
    // The decoder is still fine afterwards.
    EXPECT_EQ(decoder->Decode(KeyFrame(Pattern(32, 32, 5), {}), picture), kH264Picture);
}

TEST(H264Decoder, GarbageGivesErrorsAndTheInstanceRecovers) {
    CDecoder decoder(kH264FormatYuv420);
    ASSERT_EQ(decoder.InitResult(), kH264InitOk);
    std::mt19937 random(1234);
    const auto byte = [&random] { return static_cast<std::uint8_t>(random() & 0xFFU); };

    // Bytes without a single start code are not H.264 at all.
    Bytes noise(4000);
    std::generate(noise.begin(), noise.end(),
                  [&] { return static_cast<std::uint8_t>(byte() | 0x80U); });
    EXPECT_EQ(decoder.Decode(noise), kH264InvalidData);

    // Random NAL units of every kind, alone and behind valid parameter sets.
    for (int round = 0; round < 400; ++round) {
        Bytes input = (round % 2 == 0) ? ParameterSets(64, 48) : Bytes{};
        const int nals = 1 + static_cast<int>(random() % 4U);
        for (int n = 0; n < nals; ++n) {
            static constexpr std::array<std::uint8_t, 6> kHeaders = {0x67, 0x68, 0x65,
                                                                     0x41, 0x06, 0x09};
            Bytes body(1 + random() % 600U);
            std::generate(body.begin(), body.end(), byte);
            AppendNalUnit(input, kHeaders[random() % kHeaders.size()], body);
        }
        int result = 0;
        if (round % 4 < 2) {
            // Read in place (with parameter sets in front every other time, which go first
            // on their own), then freed: a failing call must not keep any of it either.
            auto padded = std::make_unique<std::uint8_t[]>(input.size() + kH264InputPadding);
            std::copy(input.begin(), input.end(), padded.get());
            PictureRef shared;
            result = decoder.Decoder().DecodePadded({padded.get(), input.size()}, shared);
        } else {
            result = decoder.Decode(input);
        }
        EXPECT_TRUE(result == kH264NoPicture || result == kH264InvalidData ||
                    result == kH264Picture || result == kH264PictureDamaged)
            << "round " << round << " gave " << result;
    }

    const Yuv picture = Pattern(64, 48, 6);
    ASSERT_EQ(decoder.Decode(KeyFrame(picture, {true, 1, 0, 0})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), picture));
}

// A slice cut off half-way still gives a picture, marked damaged (libavcodec conceals the
// slice); the next whole key frame is clean again.
TEST(H264Decoder, CutSliceGivesADamagedPicture) {
    CDecoder decoder(kH264FormatYuv420);
    ASSERT_EQ(decoder.InitResult(), kH264InitOk);
    const Yuv full = Pattern(64, 64, 8);
    Bytes cut = KeyFrame(full, {});
    cut.resize(cut.size() / 2);
    EXPECT_EQ(decoder.Decode(cut), kH264PictureDamaged);
    EXPECT_NE(decoder.Picture()[0], 0xEE);
    ASSERT_EQ(decoder.Decode(KeyFrame(full, {true, 1, 0, 0})), kH264Picture);
    EXPECT_TRUE(SamePlanes(decoder.Picture(), full));
}

TEST(H264Decoder, OpeningAndClosingRepeatedLeavesNothingOpen) {
    const std::size_t before = H264OpenInstanceCount();
    const Bytes input = KeyFrame(Pattern(32, 32, 7), {});
    for (int i = 0; i < 100; ++i) {
        CDecoder decoder(i % 2 == 0 ? kH264FormatYuv420 : kH264FormatRgb24);
        ASSERT_EQ(decoder.InitResult(), kH264InitOk);
        EXPECT_EQ(H264OpenInstanceCount(), before + 1);
        if (i % 10 == 0) {
            EXPECT_EQ(decoder.Decode(input), kH264Picture);
        }
    }
    EXPECT_EQ(H264OpenInstanceCount(), before);
}

TEST(H264Decoder, SixteenInstancesDecodeSideBySide) {
    const std::size_t before = H264OpenInstanceCount();
    constexpr int kChannels = 16;
    std::array<std::unique_ptr<CDecoder>, kChannels> decoders;
    for (int ch = 0; ch < kChannels; ++ch) {
        decoders[static_cast<std::size_t>(ch)] =
            std::make_unique<CDecoder>(ch % 2 == 0 ? kH264FormatYuv420 : kH264FormatRgb24);
        ASSERT_EQ(decoders[static_cast<std::size_t>(ch)]->InitResult(), kH264InitOk);
    }
    EXPECT_EQ(H264OpenInstanceCount(), before + kChannels);
    std::array<int, kChannels> failures{};
    std::vector<std::thread> threads;
    for (int ch = 0; ch < kChannels; ++ch) {
        threads.emplace_back([ch, &decoders, &failures] {
            CDecoder& decoder = *decoders[static_cast<std::size_t>(ch)];
            const bool yuv = decoder.Format() == kH264FormatYuv420;
            for (int frame = 0; frame < 20; ++frame) {
                const Yuv picture = Pattern(48, 32, ch * 100 + frame);
                const auto n = static_cast<std::uint32_t>(frame);
                const Bytes input = frame == 0 ? KeyFrame(picture, {})
                                               : PcmSlice(picture, {false, 0, n, (n * 4U) % 1024U});
                const bool ok = decoder.Decode(input) == kH264Picture &&
                                (!yuv || SamePlanes(decoder.Picture(), picture));
                failures[static_cast<std::size_t>(ch)] += ok ? 0 : 1;
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    for (int ch = 0; ch < kChannels; ++ch) {
        EXPECT_EQ(failures[static_cast<std::size_t>(ch)], 0) << "channel " << ch;
    }
    for (auto& d : decoders) {
        d.reset();
    }
    EXPECT_EQ(H264OpenInstanceCount(), before);
}

// ---------------------------------------------------------------------------------------
// Encoded pictures (lossy), where libavcodec has an H.264 encoder.
// ---------------------------------------------------------------------------------------

struct EncoderDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

// Encodes `pictures` as Baseline profile with no B-frames; one access unit per picture.
std::vector<Bytes> Encode(const std::vector<Yuv>& pictures) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (codec == nullptr) {
        return {};
    }
    std::unique_ptr<AVCodecContext, EncoderDeleter> c(avcodec_alloc_context3(codec));
    c->width = pictures.front().width;
    c->height = pictures.front().height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = {1, 25};
    c->framerate = {25, 1};
    c->gop_size = 5;
    c->max_b_frames = 0;
    c->thread_count = 1;
    c->profile = FF_PROFILE_H264_BASELINE;
    av_opt_set(c->priv_data, "profile", "baseline", 0);
    av_opt_set(c->priv_data, "preset", "fast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "qp", "8", 0);
    if (avcodec_open2(c.get(), codec, nullptr) < 0) {
        return {};
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::vector<Bytes> units;
    const auto drain = [&] {
        while (avcodec_receive_packet(c.get(), packet) == 0) {
            units.emplace_back(packet->data, packet->data + packet->size);
            av_packet_unref(packet);
        }
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        Yuv p = pictures[i];
        frame->format = AV_PIX_FMT_YUV420P;
        frame->width = p.width;
        frame->height = p.height;
        frame->data[0] = p.Y();
        frame->data[1] = p.U();
        frame->data[2] = p.V();
        frame->linesize[0] = p.width;
        frame->linesize[1] = p.width / 2;
        frame->linesize[2] = p.width / 2;
        frame->pts = static_cast<std::int64_t>(i);
        if (avcodec_send_frame(c.get(), frame) < 0) {
            break;
        }
        drain();
    }
    avcodec_send_frame(c.get(), nullptr);
    drain();
    av_packet_free(&packet);
    av_frame_free(&frame);
    return units;
}

// A moving, smooth scene that a lossy encoder keeps close to the source.
std::vector<Yuv> Scene(int width, int height, int count) {
    std::vector<Yuv> scene;
    for (int i = 0; i < count; ++i) {
        Yuv p{width, height, Bytes(static_cast<std::size_t>(width * height * 3 / 2))};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double value = 128 + 90 * std::sin((x + 4 * i) / 23.0) * std::cos(y / 31.0);
                p.Y()[y * width + x] = static_cast<std::uint8_t>(value);
            }
        }
        for (int y = 0; y < height / 2; ++y) {
            for (int x = 0; x < width / 2; ++x) {
                p.U()[y * (width / 2) + x] = static_cast<std::uint8_t>(100 + (x + i) % 60);
                p.V()[y * (width / 2) + x] = static_cast<std::uint8_t>(90 + y % 70);
            }
        }
        scene.push_back(std::move(p));
    }
    return scene;
}

TEST(H264Decoder, EncodedPicturesDecodeCloseToTheSourceWithoutDelay) {
    const std::vector<Yuv> scene = Scene(352, 240, 12);
    const std::vector<Bytes> units = Encode(scene);
    if (units.empty()) {
        GTEST_SKIP() << "libavcodec has no usable H.264 encoder here";
    }
    ASSERT_EQ(units.size(), scene.size());
    for (const std::uint32_t format : {kH264FormatYuv420, kH264FormatRgb24}) {
        SCOPED_TRACE(testing::Message() << "format " << format);
        CDecoder decoder(format);
        ASSERT_EQ(decoder.InitResult(), kH264InitOk);
        for (std::size_t i = 0; i < units.size(); ++i) {
            ASSERT_EQ(decoder.Decode(units[i]), kH264Picture) << "frame " << i;
            const Yuv& source = scene[i];
            double sum = 0;
            int worst = 0;
            std::size_t count = 0;
            for (int y = 0; y < source.height; ++y) {
                for (int x = 0; x < source.width; ++x) {
                    const std::size_t at = static_cast<std::size_t>(y * source.width + x);
                    if (format == kH264FormatYuv420) {
                        const int d = std::abs(decoder.Picture()[at] - source.Y()[at]);
                        sum += d;
                        worst = std::max(worst, d);
                        ++count;
                    } else {
                        const auto bgr = ToBgr(source.At(0, x, y), source.At(1, x / 2, y / 2),
                                               source.At(2, x / 2, y / 2));
                        for (std::size_t ch = 0; ch < 3; ++ch) {
                            const int d = std::abs(decoder.Picture()[at * 3 + ch] - bgr[ch]);
                            sum += d;
                            worst = std::max(worst, d);
                            ++count;
                        }
                    }
                }
            }
            EXPECT_LT(sum / static_cast<double>(count), format == kH264FormatYuv420 ? 1.5 : 3.0)
                << "frame " << i;
            EXPECT_LT(worst, 40) << "frame " << i;
        }
    }
}

}  // namespace
}  // namespace taviro::platform
