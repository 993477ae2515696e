// The simulated recorder's H.264 stream: slice syntax read back with an independent parser,
// and every picture decoded by libavcodec, sample for sample equal to what was encoded.
// The decoder gets the same parameter sets the client writes in front of key frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

#include "platform/rbsp_bits.h"
#include "sim/h264_stream_writer.h"
#include "sim/h264_test_pattern.h"
#include "support/av_decoder.h"
#ifdef TAVIRO_SIM_H264_CLIENT_PARAM_SETS
#include "video/param_sets.h"
#endif

namespace taviro::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- The client's fixed parameter sets -------------------------------------------------
// Written here field by field as one raw bit string with the start codes inside and no
// emulation prevention (none is needed for these values), apart from the client's writer.
Bytes OwnParameterSets(int width, int height) {
    platform::CRbspWriter w;
    w.PutBits(1, 32);
    w.PutBits(0x67, 8);
    w.PutBits(66, 8);  // Baseline
    w.PutBits(0, 8);   // constraint flags, reserved bits
    w.PutBits(30, 8);  // level 3.0
    w.PutUe(0);        // seq_parameter_set_id
    w.PutUe(5);        // log2_max_frame_num_minus4: 9-bit frame_num
    w.PutUe(0);        // pic_order_cnt_type
    w.PutUe(6);        // log2_max_pic_order_cnt_lsb_minus4: 10-bit lsb
    w.PutUe(1);        // max_num_ref_frames
    w.PutBit(false);   // gaps_in_frame_num_value_allowed_flag
    w.PutUe(static_cast<std::uint32_t>(width / 16 - 1));
    w.PutUe(static_cast<std::uint32_t>(height / 16 - 1));
    w.PutBit(true);   // frame_mbs_only_flag
    w.PutBit(true);   // direct_8x8_inference_flag
    w.PutBit(false);  // frame_cropping_flag
    w.PutBit(false);  // vui_parameters_present_flag
    w.PutTrailingBits();
    w.PutBits(1, 32);
    w.PutBits(0x68, 8);
    w.PutUe(0);       // pic_parameter_set_id
    w.PutUe(0);       // seq_parameter_set_id
    w.PutBit(false);  // CAVLC
    w.PutBit(false);  // bottom_field_pic_order_in_frame_present_flag
    w.PutUe(0);       // num_slice_groups_minus1
    w.PutUe(0);       // num_ref_idx_l0_default_active_minus1
    w.PutUe(0);       // num_ref_idx_l1_default_active_minus1
    w.PutBit(false);  // weighted_pred_flag
    w.PutBits(0, 2);  // weighted_bipred_idc
    w.PutSe(0);       // pic_init_qp_minus26
    w.PutSe(0);       // pic_init_qs_minus26
    w.PutSe(2);       // chroma_qp_index_offset
    w.PutBit(false);  // deblocking_filter_control_present_flag
    w.PutBit(true);   // constrained_intra_pred_flag
    w.PutBit(false);  // redundant_pic_cnt_present_flag
    w.PutTrailingBits();
    return w.Bytes();
}

#ifdef TAVIRO_SIM_H264_CLIENT_PARAM_SETS
// The decoder adapter's own writer, so the stream is checked against the bytes the client
// really sends.
Bytes ClientParameterSets(int width, int height) {
    std::array<std::uint8_t, video::kParamSetBufferSize> buffer{};
    const std::size_t n = video::WriteParameterSets(static_cast<std::uint32_t>(width),
                                                    static_cast<std::uint32_t>(height), buffer);
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n)};
}

TEST(H264ClientParameterSets, AdapterWriterAgreesForEveryAcceptedSize) {
    for (const int w : {352, 704, 720}) {
        for (const int h : {240, 288, 480, 576}) {
            if (IsH264PictureSizeAccepted(w, h)) {
                EXPECT_EQ(ClientParameterSets(w, h), OwnParameterSets(w, h)) << w << "x" << h;
            }
        }
    }
}
#else
Bytes ClientParameterSets(int width, int height) {
    return OwnParameterSets(width, height);
}
#endif

TEST(H264ClientParameterSets, MatchTheBytesTheClientSends) {
    const Bytes pps = {0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};
    auto with = [&](Bytes sps) {
        sps.insert(sps.end(), pps.begin(), pps.end());
        return sps;
    };
    EXPECT_EQ(ClientParameterSets(704, 480), with({0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E,
                                                   0x9A, 0x74, 0x05, 0x81, 0xEC, 0x80}));
    EXPECT_EQ(ClientParameterSets(352, 240),
              with({0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x0B, 0x0F, 0xC8}));
    EXPECT_EQ(ClientParameterSets(720, 576), with({0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E,
                                                   0x9A, 0x74, 0x05, 0xA0, 0x93, 0x20}));
}

// ---- Reading the slices back ---------------------------------------------------------

struct ParsedSlice {
    std::uint8_t nal_header = 0;
    std::uint32_t slice_type = 0;
    std::uint32_t frame_num = 0;
    std::optional<std::uint32_t> idr_pic_id;
    std::uint32_t poc_lsb = 0;
    std::int32_t slice_qp = 0;
    std::size_t pcm = 0;
    std::size_t skipped = 0;
    bool well_formed = false;
};

// Reads one access unit as a decoder would with the client's SPS and PPS: header fields,
// then every macroblock up to the stop bit.
ParsedSlice ParseAccessUnit(const Bytes& unit, std::size_t macroblocks) {
    ParsedSlice s;
    if (unit.size() < 5 || unit[0] != 0 || unit[1] != 0 || unit[2] != 0 || unit[3] != 1) {
        return s;
    }
    s.nal_header = unit[4];
    const bool idr = (s.nal_header & 0x1F) == 5;
    const Bytes rbsp = platform::UnescapeRbsp(std::span<const std::uint8_t>(unit).subspan(5));
    platform::CRbspReader r(rbsp);
    const bool firstMbZero = r.ReadUe() == 0;
    s.slice_type = r.ReadUe();
    const bool ppsZero = r.ReadUe() == 0;
    s.frame_num = r.ReadBits(9);
    if (idr) {
        s.idr_pic_id = r.ReadUe();
    }
    s.poc_lsb = r.ReadBits(10);
    bool headerOk = firstMbZero && ppsZero;
    if (s.slice_type == 5) {
        headerOk =
            headerOk && r.ReadBits(1) == 0 && r.ReadBits(1) == 0;  // no override, no list change
    }
    headerOk = headerOk && r.ReadBits(idr ? 2 : 1) == 0;  // reference marking
    s.slice_qp = 26 + r.ReadSe();
    if (s.slice_type == 7) {
        while (r.MoreRbspData() && !r.Failed()) {
            if (r.ReadUe() != 25 || !r.AlignedZeros()) {
                return s;
            }
            r.Skip(8 * 384);
            ++s.pcm;
        }
    } else if (s.slice_type == 5) {
        while (r.MoreRbspData() && !r.Failed()) {
            s.skipped += r.ReadUe();
            if (!r.MoreRbspData()) {
                break;
            }
            if (r.ReadUe() != 30 || !r.AlignedZeros()) {
                return s;
            }
            r.Skip(8 * 384);
            ++s.pcm;
        }
    }
    s.well_formed =
        headerOk && !r.Failed() && r.AtTrailingBits() && s.pcm + s.skipped == macroblocks;
    return s;
}

// Start code prefixes 00 00 01 in the unit; emulation prevention must leave only the first.
std::size_t StartCodes(const Bytes& unit) {
    std::size_t n = 0;
    for (std::size_t i = 0; i + 2 < unit.size(); ++i) {
        if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) {
            ++n;
        }
    }
    return n;
}

// ---- libavcodec --------------------------------------------------------------------------
using testing::CAvDecoder;
using testing::g_decoderErrors;

struct DecodeResult {
    bool ok = false;
    std::vector<YuvPicture> pictures;
    std::vector<std::size_t> outAfterFeed;  // pictures out after each access unit
    int errors = 0;
};

// Feeds the units as the client does: its parameter sets for the unit's size in front of
// every key frame, nothing in front of dependent frames.
DecodeResult Decode(const std::vector<H264AccessUnit>& units, bool lowDelay = true) {
    DecodeResult result;
    CAvDecoder decoder(lowDelay);
    if (!decoder.IsOpen()) {
        return result;
    }
    g_decoderErrors = 0;
    result.ok = true;
    for (const H264AccessUnit& unit : units) {
        Bytes bytes;
        if (unit.key_frame) {
            bytes = ClientParameterSets(unit.width, unit.height);
        }
        bytes.insert(bytes.end(), unit.bytes.begin(), unit.bytes.end());
        result.ok = decoder.Feed(bytes) && result.ok;
        result.outAfterFeed.push_back(decoder.pictures.size());
    }
    result.ok = decoder.Flush() && result.ok;
    result.pictures = std::move(decoder.pictures);
    result.errors = g_decoderErrors;
    return result;
}

::testing::AssertionResult SamePicture(const YuvPicture& got, const YuvPicture& want) {
    if (got.width != want.width || got.height != want.height) {
        return ::testing::AssertionFailure() << "size " << got.width << "x" << got.height
                                             << ", expected " << want.width << "x" << want.height;
    }
    const std::pair<const char*, std::pair<const Bytes*, const Bytes*>> planes[] = {
        {"Y", {&got.y, &want.y}}, {"U", {&got.u, &want.u}}, {"V", {&got.v, &want.v}}};
    for (const auto& [name, pair] : planes) {
        const Bytes& g = *pair.first;
        const Bytes& w = *pair.second;
        const int stride = name[0] == 'Y' ? want.width : want.width / 2;
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (g.size() != w.size() || g[i] != w[i]) {
                return ::testing::AssertionFailure()
                       << name << " differs at x " << i % static_cast<std::size_t>(stride) << " y "
                       << i / static_cast<std::size_t>(stride);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

void ExpectDecodesTo(const DecodeResult& result, const std::vector<YuvPicture>& want) {
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.errors, 0);
    ASSERT_EQ(result.pictures.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_TRUE(SamePicture(result.pictures[i], want[i])) << "picture " << i;
    }
}

CH264StreamWriter MakeWriter(const H264StreamOptions& options) {
    std::string error;
    auto writer = CH264StreamWriter::Create(options, &error);
    EXPECT_TRUE(writer.has_value()) << error;
    return writer ? std::move(*writer) : *CH264StreamWriter::Create({});
}

H264AccessUnit WriteOrFail(CH264StreamWriter& writer, const YuvPicture& picture) {
    auto unit = writer.Write(picture);
    EXPECT_TRUE(unit.has_value());
    return unit ? std::move(*unit) : H264AccessUnit{};
}

std::size_t Macroblocks(int w, int h) {
    return static_cast<std::size_t>(w / 16 * (h / 16));
}

// ---- Tests ----------------------------------------------------------------------------------
TEST(H264Stream, KeyFrameAndDependentFramesDecodeExactly) {
    CH264StreamWriter writer = MakeWriter({});
    EXPECT_EQ(writer.Width(), 704);
    EXPECT_EQ(writer.Height(), 480);
    std::vector<YuvPicture> pictures;
    pictures.push_back(MakeH264TestPattern(2, 0, 704, 480));
    pictures.push_back(pictures.back());  // nothing changed
    for (std::uint32_t f = 1; f <= 5; ++f) {
        pictures.push_back(MakeH264TestPattern(2, f, 704, 480));
    }
    pictures.push_back(MakeH264TestPattern(9, 6, 704, 480));  // nearly everything changed
    pictures.push_back(pictures.back());

    std::vector<H264AccessUnit> units;
    for (const YuvPicture& p : pictures) {
        units.push_back(WriteOrFail(writer, p));
    }
    ASSERT_EQ(units.size(), pictures.size());
    const std::size_t all = Macroblocks(704, 480);
    EXPECT_TRUE(units[0].key_frame);
    EXPECT_EQ(units[0].intra_macroblocks, all);
    EXPECT_EQ(units[1].intra_macroblocks, 0u);
    EXPECT_EQ(units[1].skipped_macroblocks, all);
    EXPECT_LT(units[1].bytes.size(), 32u);
    for (std::size_t i = 2; i <= 6; ++i) {
        EXPECT_GT(units[i].intra_macroblocks, 0u) << i;
        EXPECT_LT(units[i].intra_macroblocks, all / 10) << i;
    }
    EXPECT_GT(units[7].intra_macroblocks, all / 2);
    EXPECT_EQ(units[8].intra_macroblocks, 0u);

    for (std::size_t i = 0; i < units.size(); ++i) {
        const H264AccessUnit& u = units[i];
        EXPECT_EQ(u.key_frame, i == 0);
        EXPECT_EQ(StartCodes(u.bytes), 1u) << i;
        const ParsedSlice s = ParseAccessUnit(u.bytes, all);
        EXPECT_TRUE(s.well_formed) << i;
        EXPECT_EQ(s.nal_header, i == 0 ? 0x65 : 0x41) << i;
        EXPECT_EQ(s.slice_type, i == 0 ? 7u : 5u) << i;
        EXPECT_EQ(s.frame_num, i) << i;
        EXPECT_EQ(s.poc_lsb, 2 * i) << i;
        EXPECT_EQ(s.slice_qp, 0) << i;
        EXPECT_EQ(s.pcm, u.intra_macroblocks) << i;
        EXPECT_EQ(s.skipped, u.skipped_macroblocks) << i;
        EXPECT_EQ(u.frame_num, s.frame_num);
        EXPECT_EQ(u.poc_lsb, s.poc_lsb);
    }

    const DecodeResult result = Decode(units);
    ExpectDecodesTo(result, pictures);
    // With the low-delay flag every access unit comes out as soon as it goes in.
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(result.outAfterFeed[i], i + 1) << i;
    }
}

TEST(H264Stream, GroupsOfPicturesAtOtherSizes) {
    for (const auto& [w, h] : {std::pair{352, 240}, std::pair{720, 576}, std::pair{704, 288}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        CH264StreamWriter writer = MakeWriter({.width = w, .height = h, .gop_length = 3});
        std::vector<YuvPicture> pictures;
        std::vector<H264AccessUnit> units;
        std::optional<std::uint32_t> lastIdrPicId;
        for (std::uint32_t f = 0; f < 8; ++f) {
            EXPECT_EQ(writer.NextIsKeyFrame(), f % 3 == 0);
            pictures.push_back(MakeH264TestPattern(14, 100 + f, w, h));
            units.push_back(WriteOrFail(writer, pictures.back()));
            EXPECT_EQ(units.back().key_frame, f % 3 == 0) << f;
            const ParsedSlice s = ParseAccessUnit(units.back().bytes, Macroblocks(w, h));
            EXPECT_TRUE(s.well_formed) << f;
            EXPECT_EQ(s.frame_num, f % 3) << f;
            if (s.idr_pic_id) {
                // Back-to-back IDR pictures must be told apart.
                EXPECT_NE(s.idr_pic_id, lastIdrPicId);
                lastIdrPicId = s.idr_pic_id;
            }
        }
        EXPECT_EQ(writer.FramesWritten(), 8u);
        ExpectDecodesTo(Decode(units), pictures);
    }
}

TEST(H264Stream, EveryFrameAKeyFrame) {
    CH264StreamWriter writer = MakeWriter({.width = 352, .height = 288, .gop_length = 1});
    std::vector<YuvPicture> pictures;
    std::vector<H264AccessUnit> units;
    for (std::uint32_t f = 0; f < 4; ++f) {
        pictures.push_back(MakeH264TestPattern(0, f, 352, 288));
        units.push_back(WriteOrFail(writer, pictures.back()));
        EXPECT_TRUE(units.back().key_frame);
    }
    ExpectDecodesTo(Decode(units), pictures);
}

TEST(H264Stream, SizeChangeStartsAKeyFrameAtTheNewSize) {
    CH264StreamWriter writer = MakeWriter({.gop_length = 50});
    std::vector<YuvPicture> pictures;
    std::vector<H264AccessUnit> units;
    auto add = [&](std::uint32_t f) {
        pictures.push_back(MakeH264TestPattern(4, f, writer.Width(), writer.Height()));
        units.push_back(WriteOrFail(writer, pictures.back()));
    };
    for (std::uint32_t f = 0; f < 4; ++f) {
        add(f);
    }
    // A picture of the old size after the switch is refused and changes nothing.
    ASSERT_TRUE(writer.SetSize(352, 288));
    EXPECT_TRUE(writer.NextIsKeyFrame());
    EXPECT_FALSE(writer.Write(pictures.back()).has_value());
    for (std::uint32_t f = 4; f < 7; ++f) {
        add(f);
    }
    ASSERT_TRUE(writer.SetSize(720, 576));
    for (std::uint32_t f = 7; f < 10; ++f) {
        add(f);
    }
    // Setting the current size again is no change and no key frame.
    ASSERT_TRUE(writer.SetSize(720, 576));
    EXPECT_FALSE(writer.NextIsKeyFrame());
    add(10);

    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].key_frame, i == 0 || i == 4 || i == 7) << i;
        EXPECT_EQ(units[i].width, pictures[i].width);
        EXPECT_TRUE(ParseAccessUnit(units[i].bytes, Macroblocks(units[i].width, units[i].height))
                        .well_formed)
            << i;
    }
    ExpectDecodesTo(Decode(units), pictures);
}

TEST(H264Stream, ChannelJoinedMidGroupStartsWithDependentFrames) {
    CH264StreamWriter writer =
        MakeWriter({.width = 352, .height = 240, .gop_length = 4, .leading_dependent_frames = 2});
    std::vector<YuvPicture> pictures;
    std::vector<H264AccessUnit> units;
    for (std::uint32_t f = 0; f < 7; ++f) {
        pictures.push_back(MakeH264TestPattern(1, f, 352, 240));
        units.push_back(WriteOrFail(writer, pictures.back()));
    }
    const std::vector<bool> keys = {false, false, true, false, false, false, true};
    const std::vector<std::uint32_t> frameNums = {1, 2, 0, 1, 2, 3, 0};
    for (std::size_t i = 0; i < units.size(); ++i) {
        EXPECT_EQ(units[i].key_frame, keys[i]) << i;
        const ParsedSlice s = ParseAccessUnit(units[i].bytes, Macroblocks(352, 240));
        EXPECT_TRUE(s.well_formed) << i;
        EXPECT_EQ(s.frame_num, frameNums[i]) << i;
    }
    // Without a reference the leading frames carry every macroblock.
    EXPECT_EQ(units[0].intra_macroblocks, Macroblocks(352, 240));
    // The client drops the leading dependent frames and starts at the key frame.
    ExpectDecodesTo(Decode({units.begin() + 2, units.end()}),
                    {pictures.begin() + 2, pictures.end()});
}

TEST(H264Stream, FrameNumberAndPictureOrderWrapAround) {
    // 600 frames in one group: frame_num wraps at 512, pic_order_cnt_lsb (step 2) at 1024.
    CH264StreamWriter writer = MakeWriter({.width = 352, .height = 240, .gop_length = 1000});
    std::vector<YuvPicture> pictures;
    std::vector<H264AccessUnit> units;
    for (std::uint32_t f = 0; f < 600; ++f) {
        pictures.push_back(MakeH264TestPattern(7, f, 352, 240));
        units.push_back(WriteOrFail(writer, pictures.back()));
        const ParsedSlice s = ParseAccessUnit(units.back().bytes, Macroblocks(352, 240));
        ASSERT_TRUE(s.well_formed) << f;
        ASSERT_EQ(s.frame_num, f % 512) << f;
        ASSERT_EQ(s.poc_lsb, (2 * f) % 1024) << f;
    }
    const DecodeResult result = Decode(units);
    ExpectDecodesTo(result, pictures);
    EXPECT_EQ(result.outAfterFeed.back(), 600u);
}

// The most pictures the decoder held back at any point of the stream.
std::size_t MaxOutputDelay(const DecodeResult& result) {
    std::size_t delay = 0;
    for (std::size_t i = 0; i < result.outAfterFeed.size(); ++i) {
        delay = std::max(delay, i + 1 - std::min(i + 1, result.outAfterFeed[i]));
    }
    return delay;
}

TEST(H264Stream, PictureOrderStepFourDecodes) {
    // A step of 4 wraps pic_order_cnt_lsb every 256 frames.
    for (const int step : {2, 4}) {
        SCOPED_TRACE("poc step " + std::to_string(step));
        std::vector<YuvPicture> pictures;
        std::vector<H264AccessUnit> units;
        CH264StreamWriter writer =
            MakeWriter({.width = 352, .height = 240, .gop_length = 300, .poc_step = step});
        for (std::uint32_t f = 0; f < 300; ++f) {
            pictures.push_back(MakeH264TestPattern(11, f, 352, 240));
            units.push_back(WriteOrFail(writer, pictures.back()));
            EXPECT_EQ(units.back().poc_lsb, (static_cast<std::uint32_t>(step) * f) % 1024);
        }
        // libavcodec takes a picture order step above 2 as a hint of reordering and holds
        // one picture back, low-delay flag or not (the SPS has no VUI to tell it there is
        // no reordering); the last picture then only comes out when the decoder is drained.
        for (const bool lowDelay : {true, false}) {
            const DecodeResult result = Decode(units, lowDelay);
            ExpectDecodesTo(result, pictures);
            const std::size_t delay = MaxOutputDelay(result);
            EXPECT_EQ(delay, step == 2 ? 0u : 1u) << "low delay " << lowDelay;
            RecordProperty(
                "output_delay_step" + std::to_string(step) + (lowDelay ? "_low_delay" : "_plain"),
                static_cast<int>(delay));
        }
    }
}

TEST(H264Stream, ZeroSamplesAreEscapedAndSurvive) {
    // Raw samples of 0 make long zero runs; only emulation prevention keeps start codes out.
    CH264StreamWriter writer = MakeWriter({});
    std::vector<YuvPicture> pictures;
    pictures.push_back(YuvPicture::Filled(704, 480, 0, 0, 0));
    pictures.push_back(pictures.back());
    pictures.back().y[100 * 704 + 300] = 1;  // one macroblock changes
    pictures.back().u[1] = 3;                // and another
    pictures.push_back(YuvPicture::Filled(704, 480, 0, 0, 0));

    std::vector<H264AccessUnit> units;
    for (const YuvPicture& p : pictures) {
        units.push_back(WriteOrFail(writer, p));
        EXPECT_EQ(StartCodes(units.back().bytes), 1u);
        EXPECT_TRUE(ParseAccessUnit(units.back().bytes, Macroblocks(704, 480)).well_formed);
    }
    EXPECT_GT(units[0].bytes.size(), Macroblocks(704, 480) * 384 * 3 / 2);
    EXPECT_EQ(units[1].intra_macroblocks, 2u);
    EXPECT_EQ(units[2].intra_macroblocks, 2u);
    ExpectDecodesTo(Decode(units), pictures);

    // The worst case, a black-to-the-bone key frame at the largest size, still fits the
    // encoder header's 20-bit frame size.
    CH264StreamWriter large = MakeWriter({.width = 720, .height = 576});
    const H264AccessUnit worst = WriteOrFail(large, YuvPicture::Filled(720, 576, 0, 0, 0));
    EXPECT_GT(worst.bytes.size(), Macroblocks(720, 576) * 384 * 3 / 2);
    EXPECT_LE(worst.bytes.size(), 0xFFFFFu);
}

TEST(H264Stream, RefusesWhatTheRecorderDoesNotSend) {
    std::string error;
    for (const auto& [w, h] : {std::pair{360, 240}, std::pair{352, 480}, std::pair{704, 500},
                               std::pair{0, 0}, std::pair{1408, 1152}, std::pair{-704, 480}}) {
        EXPECT_FALSE(CH264StreamWriter::Create({.width = w, .height = h}, &error).has_value())
            << w << "x" << h;
        EXPECT_FALSE(error.empty());
        error.clear();
    }
    EXPECT_FALSE(CH264StreamWriter::Create({.gop_length = 0}).has_value());
    EXPECT_FALSE(CH264StreamWriter::Create({.leading_dependent_frames = -1}).has_value());
    EXPECT_FALSE(CH264StreamWriter::Create({.poc_step = 0}).has_value());
    EXPECT_FALSE(CH264StreamWriter::Create({.poc_step = 512}).has_value());
    EXPECT_TRUE(CH264StreamWriter::Create({.poc_step = 511}).has_value());

    CH264StreamWriter writer = MakeWriter({});
    EXPECT_FALSE(writer.SetSize(360, 288));
    EXPECT_EQ(writer.Width(), 704);
    EXPECT_FALSE(writer.Write(MakeH264TestPattern(0, 0, 352, 240)).has_value());
    YuvPicture broken = MakeH264TestPattern(0, 0, 704, 480);
    broken.v.pop_back();
    EXPECT_FALSE(writer.Write(broken).has_value());
    EXPECT_EQ(writer.FramesWritten(), 0u);
    EXPECT_TRUE(writer.NextIsKeyFrame());

    // A forced key frame restarts the group.
    ASSERT_TRUE(writer.Write(MakeH264TestPattern(0, 0, 704, 480)).has_value());
    EXPECT_FALSE(writer.NextIsKeyFrame());
    writer.ForceKeyFrame();
    const auto unit = writer.Write(MakeH264TestPattern(0, 1, 704, 480));
    ASSERT_TRUE(unit.has_value());
    EXPECT_TRUE(unit->key_frame);
}

}  // namespace
}  // namespace taviro::sim
