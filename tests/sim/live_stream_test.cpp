// The simulated recorder's live stream: element bytes at the offsets the client reads,
// LIVE_DATA messages, pacing, the H.264 inside decoded back by libavcodec to the camera
// pattern, and (when the client's receive side is in the tree) the client's own stream
// path fed with the simulator's messages.
#include "sim/live_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
}

#include "platform/rbsp_bits.h"
#include "protocol/byte_order.h"
#include "sim/h264_test_pattern.h"
#include "support/av_decoder.h"
#ifdef TAVIRO_SIM_LIVE_CLIENT_RECEIVER
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_state.h"
#endif

namespace taviro::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using protocol::LoadBE32;
using protocol::LoadLE16;
using protocol::LoadLE32;

constexpr protocol::RecorderTime kStart = 1'300'000'000;  // 0x4D7C6D00

CLiveStreamBuilder MakeBuilder(LiveStreamOptions options) {
    std::string error;
    auto builder = CLiveStreamBuilder::Create(options, &error);
    EXPECT_TRUE(builder.has_value()) << error;
    return builder ? std::move(*builder) : *CLiveStreamBuilder::Create({});
}

LiveElement VideoOrFail(CLiveStreamBuilder& builder, int channel, std::uint32_t frame) {
    auto e = builder.VideoElement(channel, frame);
    EXPECT_TRUE(e.has_value()) << "channel " << channel << " frame " << frame;
    return e ? std::move(*e) : LiveElement{};
}

Bytes Reassemble(const std::vector<LiveFragment>& fragments) {
    Bytes out;
    for (const LiveFragment& f : fragments) {
        const auto p = f.Payload();
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes H264Of(const LiveElement& e) {
    return {e.bytes.begin() + static_cast<std::ptrdiff_t>(kLiveVideoPayloadOffset), e.bytes.end()};
}

// ---- Element layout --------------------------------------------------------------------

struct LayoutCase {
    int productType;
    // The kind word at 16 as the bytes stand.
    std::array<std::uint8_t, 4> magic;
    bool bigEndian;
};

class LiveVideoLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LiveVideoLayout, KeyAndDependentFrameAtTheirOffsets) {
    const LayoutCase c = GetParam();
    LiveStreamOptions o;
    o.productType = c.productType;
    o.startTime = kStart;
    o.gopLength = 60;
    CLiveStreamBuilder builder = MakeBuilder(o);
    auto word = [&](const Bytes& b, std::size_t at) {
        return c.bigEndian ? LoadBE32(b.data() + at) : LoadLE32(b.data() + at);
    };

    // Frame 0 of channel 5: a key frame at the start time; frames 1 and 31: dependent
    // frames 1/30 s and one second and 1/30 s later (frames are built in order).
    std::vector<LiveElement> elements;
    for (std::uint32_t f = 0; f < 32; ++f) {
        elements.push_back(VideoOrFail(builder, 5, f));
    }
    for (const std::uint32_t frame : {0u, 1u, 31u}) {
        SCOPED_TRACE("frame " + std::to_string(frame));
        const bool key = frame == 0;
        const LiveElement& e = elements[frame];
        const Bytes& b = e.bytes;
        ASSERT_GT(b.size(), kLiveVideoPayloadOffset);
        const std::size_t h264 = b.size() - 324;
        EXPECT_EQ(e.keyFrame, key);
        EXPECT_EQ(e.encodedSize, h264);
        const std::int32_t micros = frame == 31 ? 33333 : frame == 1 ? 33333 : 0;
        const protocol::RecorderTime seconds = kStart + (frame == 31 ? 1 : 0);
        EXPECT_EQ(e.seconds, seconds);
        EXPECT_EQ(e.microseconds, micros);

        // Stream part.
        EXPECT_TRUE(std::equal(c.magic.begin(), c.magic.end(), b.begin() + 16));
        EXPECT_EQ(word(b, 20), 5u);
        EXPECT_EQ(word(b, 24), static_cast<std::uint32_t>(seconds));
        EXPECT_EQ(word(b, 28), h264);
        EXPECT_EQ(word(b, 36), static_cast<std::uint32_t>(micros));
        EXPECT_EQ(word(b, 44), key ? 1u : 0u);
        EXPECT_EQ(LoadBE32(b.data() + 92), 0xC52196CAu);  // CRC-32 of "CH6" padded to 32
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.data() + 96), 4),
                  std::string("CH6\0", 4));
        EXPECT_TRUE(std::all_of(b.begin() + 100, b.begin() + 128, [](auto x) { return x == 0; }));
        EXPECT_TRUE(std::all_of(b.begin() + 128, b.begin() + 260, [](auto x) { return x == 0; }));
        EXPECT_TRUE(std::all_of(b.begin(), b.begin() + 16, [](auto x) { return x == 0; }));
        // Whatever the product type, the live kind test does not take it for audio.
        EXPECT_NE(LoadBE32(b.data() + 16), kLiveAudioMagic);

        // Encoder header, little-endian in both product types.
        const std::uint8_t* enc = b.data() + 260;
        const std::uint32_t size =
            LoadLE16(enc) | (static_cast<std::uint32_t>(enc[2] & 0x0F) << 16);
        EXPECT_EQ(size, h264);
        EXPECT_EQ(enc[2] >> 6, key ? 0 : 1);
        EXPECT_EQ(enc[2] & 0x30, 0);
        EXPECT_EQ(enc[3], 0);
        EXPECT_EQ(enc[4], 30);  // 480 / 16
        EXPECT_EQ(enc[5], 44);  // 704 / 16
        EXPECT_EQ(LoadLE32(enc + 20), static_cast<std::uint32_t>(seconds));
        EXPECT_EQ(LoadLE32(enc + 24), static_cast<std::uint32_t>(micros));
        EXPECT_EQ(enc[36], 5);
        if (key) {
            // A whole 704 x 480 picture of raw macroblocks needs the size's high bits.
            EXPECT_GT(size, 0xFFFFu);
            EXPECT_EQ(b[262], static_cast<std::uint8_t>(size >> 16));
            EXPECT_EQ(b[260], static_cast<std::uint8_t>(size));
            EXPECT_EQ(b[324], 0);  // Annex B start code, then an IDR slice
            EXPECT_EQ(b[327], 1);
            EXPECT_EQ(b[328], 0x65);
        } else {
            EXPECT_EQ(b[262], 0x40 | static_cast<std::uint8_t>(size >> 16));
            EXPECT_EQ(b[328], 0x41);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(ProductTypes, LiveVideoLayout,
                         ::testing::Values(LayoutCase{3, {0x20, 0x06, 0x11, 0x23}, true},
                                           LayoutCase{5, {0x23, 0x11, 0x06, 0x20}, false}));

TEST(LiveVideoElement, PayloadIsTheWritersAccessUnitForThePattern) {
    LiveStreamOptions o;
    o.width = 352;
    o.height = 288;
    o.gopLength = 4;
    o.pocStep = 1;
    CLiveStreamBuilder builder = MakeBuilder(o);
    H264StreamOptions w;
    w.width = 352;
    w.height = 288;
    w.gop_length = 4;
    w.poc_step = 1;
    auto writer = CH264StreamWriter::Create(w);
    ASSERT_TRUE(writer);
    for (std::uint32_t f = 0; f < 9; ++f) {
        const LiveElement e = VideoOrFail(builder, 7, f);
        const auto unit = writer->Write(MakeH264TestPattern(7, f, 352, 288));
        ASSERT_TRUE(unit);
        EXPECT_EQ(H264Of(e), unit->bytes) << f;
        EXPECT_EQ(e.keyFrame, f % 4 == 0) << f;
        EXPECT_EQ(e.bytes[264], 18);  // 288 / 16
        EXPECT_EQ(e.bytes[265], 22);  // 352 / 16
    }
}

TEST(LiveVideoElement, ChannelsAreIndependentAndOutOfOrderFramesRestartAtAKeyFrame) {
    LiveStreamOptions o;
    o.width = 352;
    o.height = 240;
    o.gopLength = 10;
    o.dependentStartChannels = protocol::ChannelBit(2);
    o.leadingDependentFrames = 3;
    CLiveStreamBuilder builder = MakeBuilder(o);

    // Channel 2 joins in the middle of a group: three dependent frames, then a key frame.
    std::vector<bool> keys2;
    for (std::uint32_t f = 100; f < 105; ++f) {
        keys2.push_back(VideoOrFail(builder, 2, f).keyFrame);
    }
    EXPECT_EQ(keys2, (std::vector<bool>{false, false, false, true, false}));
    // Channel 0 starts with a key frame whatever frame index it starts at.
    EXPECT_TRUE(VideoOrFail(builder, 0, 100).keyFrame);
    EXPECT_FALSE(VideoOrFail(builder, 0, 101).keyFrame);
    // A skipped frame and a repeated one both start over with a key frame.
    EXPECT_TRUE(VideoOrFail(builder, 0, 110).keyFrame);
    EXPECT_FALSE(VideoOrFail(builder, 0, 111).keyFrame);
    EXPECT_TRUE(VideoOrFail(builder, 0, 111).keyFrame);
    // A restarted channel begins as configured again.
    builder.RestartChannel(2);
    EXPECT_FALSE(VideoOrFail(builder, 2, 200).keyFrame);
    builder.RestartChannel(0);
    EXPECT_TRUE(VideoOrFail(builder, 0, 200).keyFrame);

    EXPECT_FALSE(builder.VideoElement(-1, 0).has_value());
    EXPECT_FALSE(builder.VideoElement(16, 0).has_value());
    EXPECT_EQ(VideoOrFail(builder, 15, 0).bytes[260 + 36], 15);
}

TEST(LiveStreamOptions, OutOfRangeOptionsAreRefusedWithAReason) {
    const auto refused = [](auto change) {
        LiveStreamOptions o;
        change(o);
        std::string error;
        const bool made = CLiveStreamBuilder::Create(o, &error).has_value();
        return !made && !error.empty();
    };
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.productType = 4; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.width = 360; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.height = 500; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.frameRate = 0; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.gopLength = 0; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.pocStep = 0; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.fragmentSize = 0; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.fragmentSize = 65536; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.leadingDependentFrames = -1; }));
    EXPECT_TRUE(refused([](LiveStreamOptions& o) { o.dependentStartChannels = 0x10000; }));
    EXPECT_FALSE(refused([](LiveStreamOptions& o) {
        o.productType = 5;
        o.width = 720;
        o.height = 576;
        o.fragmentSize = 65535;
    }));
}

TEST(LiveVideoElement, TitlesFromTheOptions) {
    LiveStreamOptions o;
    o.titles = {"Gate", ""};
    CLiveStreamBuilder builder = MakeBuilder(o);
    const LiveElement gate = VideoOrFail(builder, 0, 0);
    EXPECT_EQ(LoadBE32(gate.bytes.data() + 92), 0x3EC797E8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(gate.bytes.data() + 96), 5),
              std::string("Gate\0", 5));
    // An empty title is the channel's default, "CH2" for channel 1.
    const LiveElement second = VideoOrFail(builder, 1, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second.bytes.data() + 96), 4),
              std::string("CH2\0", 4));
    EXPECT_EQ(LoadBE32(second.bytes.data() + 92), 0x34A21AEAu);
}

// ---- Audio elements --------------------------------------------------------------------

TEST(LiveAudioElement, HeaderIsBigEndianForBothProductTypesAndCarriesOneBlockPerChannel) {
    for (const int product : {3, 5}) {
        SCOPED_TRACE(product);
        LiveStreamOptions o;
        o.productType = product;
        o.startTime = kStart;
        const CLiveStreamBuilder builder = MakeBuilder(o);
        // Block 63 starts 63 x 128 samples = 1.008 s after the start.
        const auto e = builder.AudioElement(0xFFF0000Au, 63);
        ASSERT_TRUE(e);
        const Bytes& b = e->bytes;
        ASSERT_EQ(b.size(), 64u + 2 * 48);
        EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 20), (Bytes{0x25, 0x18, 0xF0, 0x49}));
        EXPECT_EQ(LoadBE32(b.data() + 24), static_cast<std::uint32_t>(kStart + 1));
        EXPECT_EQ(LoadBE32(b.data() + 28), 96u);
        EXPECT_EQ(LoadBE32(b.data() + 32), 0u);
        EXPECT_EQ(LoadBE32(b.data() + 36), 8000u);
        EXPECT_EQ(LoadBE32(b.data() + 40), 0x0000000Au);  // only channels 0..15
        EXPECT_TRUE(std::all_of(b.begin() + 64, b.end(), [](auto x) { return x == 0; }));
        EXPECT_EQ(e->seconds, kStart + 1);
        EXPECT_EQ(e->microseconds, 8000);
    }
    const CLiveStreamBuilder builder = MakeBuilder({});
    EXPECT_FALSE(builder.AudioElement(0, 0).has_value());
    EXPECT_FALSE(builder.AudioElement(0xFFFF0000u, 0).has_value());
    EXPECT_EQ(builder.AudioElement(0xFFFF, 0)->bytes.size(), 64u + 16 * 48);
}

// ---- Messages --------------------------------------------------------------------------

void ExpectWellFormedMessages(const std::vector<LiveFragment>& fragments, const Bytes& element,
                              std::size_t pieceSize, protocol::RecorderTime seconds, bool audioOn) {
    ASSERT_EQ(fragments.size(), (element.size() + pieceSize - 1) / pieceSize);
    for (std::size_t i = 0; i < fragments.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        const LiveFragment& f = fragments[i];
        const bool last = i + 1 == fragments.size();
        const std::size_t n = last ? element.size() - pieceSize * i : pieceSize;
        ASSERT_EQ(f.wire.size(), 16 + n);
        const std::uint8_t* w = f.wire.data();
        EXPECT_EQ(LoadBE32(w), audioOn ? 0x908u : 0x900u);  // code 18 << 7
        EXPECT_EQ(LoadBE32(w + 4), n | (last ? 0x40000000u : 0u));
        EXPECT_EQ(LoadBE32(w + 8), 0u);
        EXPECT_EQ(LoadBE32(w + 12), static_cast<std::uint32_t>(seconds));
        const auto parsed = protocol::PacketHeader::FromNetwork(w);
        EXPECT_EQ(parsed.Command(), 18);
        EXPECT_EQ(parsed.Length(), n);
        EXPECT_EQ(parsed.LastFragment(), last);
        EXPECT_EQ(parsed.word, f.header.word);
    }
    EXPECT_EQ(Reassemble(fragments), element);
}

TEST(LiveFragments, LengthsLastFlagTimeWordAndReassembly) {
    LiveStreamOptions o;
    o.startTime = kStart;
    CLiveStreamBuilder builder = MakeBuilder(o);
    const LiveElement key = VideoOrFail(builder, 1, 45);
    ASSERT_GT(key.bytes.size(), 8000u * 10);
    {
        SCOPED_TRACE("default size");
        ExpectWellFormedMessages(builder.Fragments(key), key.bytes, 8000, kStart + 1, false);
    }
    {
        SCOPED_TRACE("audio flag");
        ExpectWellFormedMessages(builder.Fragments(key, true), key.bytes, 8000, kStart + 1, true);
    }
    const LiveElement dependent = VideoOrFail(builder, 1, 46);
    for (const std::size_t size : {1ul, 100ul, 259ul, 260ul, 323ul, 324ul, 325ul, 65535ul}) {
        SCOPED_TRACE("piece size " + std::to_string(size));
        ExpectWellFormedMessages(SplitLiveElement(dependent.bytes, dependent.seconds, size),
                                 dependent.bytes, size, kStart + 1, false);
    }
}

TEST(LiveFragments, SmallPiecesSplitTheLivePrefix) {
    LiveStreamOptions o;
    o.fragmentSize = 100;
    CLiveStreamBuilder builder = MakeBuilder(o);
    const LiveElement e = VideoOrFail(builder, 0, 1);
    const auto fragments = builder.Fragments(e);
    ASSERT_GE(fragments.size(), 4u);
    // The prefix and encoder header span four messages: 0..99, 100..199, 200..299 and
    // 300..399 (encoder header bytes 40..63 and the start of the access unit).
    EXPECT_EQ(Bytes(fragments[2].Payload().begin() + 60, fragments[2].Payload().end()),
              Bytes(e.bytes.begin() + 260, e.bytes.begin() + 300));
    EXPECT_EQ(fragments[3].Payload()[24], 0);  // byte 324: the start code
    for (std::size_t i = 0; i + 1 < fragments.size(); ++i) {
        EXPECT_FALSE(fragments[i].header.LastFragment()) << i;
    }
    EXPECT_TRUE(fragments.back().header.LastFragment());
    EXPECT_EQ(Reassemble(fragments), e.bytes);

    const auto audio = builder.AudioElement(0x1, 0);
    ASSERT_TRUE(audio);
    const auto pieces = builder.Fragments(*audio);
    ASSERT_EQ(pieces.size(), 2u);  // 112 bytes
    EXPECT_EQ(pieces[1].Payload().size(), 12u);
    EXPECT_EQ(Reassemble(pieces), audio->bytes);

    EXPECT_TRUE(SplitLiveElement({}, 0, 100).empty());
    // Out-of-range piece sizes are clamped, never a message without payload.
    EXPECT_EQ(SplitLiveElement(audio->bytes, 0, 0).size(), 112u);
}

// ---- Pacing ----------------------------------------------------------------------------

TEST(StreamPacer, FramesComeDueAtTheRate) {
    using std::chrono::milliseconds;
    using std::chrono::nanoseconds;
    const auto start = CStreamPacer::Clock::time_point(std::chrono::hours(5));
    const CStreamPacer video(start, 30);
    EXPECT_EQ(video.DueCount(start - nanoseconds(1)), 0u);
    EXPECT_EQ(video.DueCount(start), 1u);
    EXPECT_EQ(video.DueCount(start + milliseconds(33)), 1u);
    EXPECT_EQ(video.DueCount(start + milliseconds(34)), 2u);
    EXPECT_EQ(video.DueCount(start + milliseconds(1000)), 31u);
    EXPECT_EQ(video.DueCount(start + std::chrono::hours(24)), 24u * 3600 * 30 + 1);
    EXPECT_EQ(video.DueTime(30), start + std::chrono::seconds(1));
    EXPECT_EQ(video.DueTime(1), start + nanoseconds(33'333'334));

    const CStreamPacer audio(start, kAudioBlockRateNum, kAudioBlockRateDen);
    EXPECT_EQ(audio.DueCount(start + milliseconds(15)), 1u);
    EXPECT_EQ(audio.DueCount(start + milliseconds(16)), 2u);
    EXPECT_EQ(audio.DueCount(start + milliseconds(1000)), 63u);
    EXPECT_EQ(audio.DueTime(125), start + std::chrono::seconds(2));

    for (const std::uint64_t k : {1ull, 2ull, 29ull, 31ull, 1000ull, 123457ull}) {
        EXPECT_EQ(video.DueCount(video.DueTime(k)), k + 1) << k;
        EXPECT_EQ(video.DueCount(video.DueTime(k) - nanoseconds(1)), k) << k;
        EXPECT_EQ(audio.DueCount(audio.DueTime(k)), k + 1) << k;
        EXPECT_EQ(audio.DueCount(audio.DueTime(k) - nanoseconds(1)), k) << k;
    }
    // A zero rate is taken as one element a second rather than dividing by zero.
    EXPECT_EQ(CStreamPacer(start, 0, 0).DueCount(start + std::chrono::seconds(3)), 4u);
}

// ---- The H.264 inside, decoded ---------------------------------------------------------

// The client's fixed parameter sets for a picture size (it writes them in front of every
// key frame it decodes; the recorder never sends any).
Bytes ParameterSets(int width, int height) {
    platform::CRbspWriter w;
    w.PutBits(1, 32);
    w.PutBits(0x67, 8);
    w.PutBits(66, 8);  // Baseline
    w.PutBits(0, 8);
    w.PutBits(30, 8);  // level 3.0
    w.PutUe(0);
    w.PutUe(5);  // 9-bit frame_num
    w.PutUe(0);  // pic_order_cnt_type 0
    w.PutUe(6);  // 10-bit pic_order_cnt_lsb
    w.PutUe(1);
    w.PutBit(false);
    w.PutUe(static_cast<std::uint32_t>(width / 16 - 1));
    w.PutUe(static_cast<std::uint32_t>(height / 16 - 1));
    w.PutBit(true);
    w.PutBit(true);
    w.PutBit(false);
    w.PutBit(false);
    w.PutTrailingBits();
    w.PutBits(1, 32);
    w.PutBits(0x68, 8);
    w.PutUe(0);
    w.PutUe(0);
    w.PutBit(false);
    w.PutBit(false);
    w.PutUe(0);
    w.PutUe(0);
    w.PutUe(0);
    w.PutBit(false);
    w.PutBits(0, 2);
    w.PutSe(0);
    w.PutSe(0);
    w.PutSe(2);  // chroma_qp_index_offset
    w.PutBit(false);
    w.PutBit(true);  // constrained intra prediction
    w.PutBit(false);
    w.PutTrailingBits();
    return w.Bytes();
}

using testing::CAvDecoder;
using testing::g_decoderErrors;

// Takes each element apart the way the client does (from the reassembled messages: size,
// kind and picture size from the encoder header, the access unit from offset 324) and
// decodes from the first key frame on, parameter sets in front of every key frame.
struct Decoded {
    bool ok = false;
    int errors = 0;
    std::vector<YuvPicture> pictures;
    std::vector<std::uint32_t> frames;  // the frame index of each picture
};

Decoded DecodeElements(const CLiveStreamBuilder& builder,
                       const std::vector<std::pair<std::uint32_t, LiveElement>>& elements) {
    Decoded out;
    CAvDecoder decoder;
    if (!decoder.IsOpen()) {
        return out;
    }
    g_decoderErrors = 0;
    out.ok = true;
    bool started = false;
    for (const auto& [frame, element] : elements) {
        const Bytes whole = Reassemble(builder.Fragments(element));
        if (whole.size() < 324) {
            out.ok = false;
            continue;
        }
        const std::uint8_t* enc = whole.data() + 260;
        const std::uint32_t size =
            LoadLE16(enc) | (static_cast<std::uint32_t>(enc[2] & 0x0F) << 16);
        const bool key = (enc[2] >> 6) == 0;
        started = started || key;
        if (!started) {
            continue;
        }
        Bytes unit = key ? ParameterSets(enc[5] * 16, enc[4] * 16) : Bytes{};
        const std::size_t n = std::min<std::size_t>(size, whole.size() - 324);
        unit.insert(unit.end(), whole.begin() + 324,
                    whole.begin() + 324 + static_cast<std::ptrdiff_t>(n));
        const std::size_t before = decoder.pictures.size();
        out.ok = decoder.Feed(unit) && out.ok;
        if (decoder.pictures.size() > before) {
            out.frames.push_back(frame);
        }
    }
    out.ok = decoder.Flush() && out.ok;
    out.pictures = std::move(decoder.pictures);
    out.errors = g_decoderErrors;
    return out;
}

void ExpectPatternPictures(const Decoded& d, int channel, int width, int height,
                           const std::vector<std::uint32_t>& frames) {
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.errors, 0);
    ASSERT_EQ(d.pictures.size(), frames.size());
    EXPECT_EQ(d.frames, frames);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(d.pictures[i] == MakeH264TestPattern(channel, frames[i], width, height))
            << "picture of frame " << frames[i];
    }
}

TEST(LiveStreamDecodes, GroupsOfPicturesGiveTheCameraPatternExactly) {
    LiveStreamOptions o;
    o.width = 352;
    o.height = 240;
    o.gopLength = 8;
    o.fragmentSize = 1000;
    CLiveStreamBuilder builder = MakeBuilder(o);
    std::vector<std::pair<std::uint32_t, LiveElement>> elements;
    std::vector<std::uint32_t> frames;
    for (std::uint32_t f = 0; f < 20; ++f) {
        elements.emplace_back(f, VideoOrFail(builder, 3, f));
        frames.push_back(f);
    }
    ExpectPatternPictures(DecodeElements(builder, elements), 3, 352, 240, frames);
}

TEST(LiveStreamDecodes, JoinedMidGroupAndSkippedFramesStillDecodeExactly) {
    LiveStreamOptions o;
    o.productType = 5;
    o.gopLength = 6;
    o.dependentStartChannels = protocol::ChannelBit(9);
    o.leadingDependentFrames = 2;
    o.fragmentSize = 100;
    CLiveStreamBuilder builder = MakeBuilder(o);
    std::vector<std::pair<std::uint32_t, LiveElement>> elements;
    // Two dependent frames the decoder cannot use, then a group, then a jump ahead.
    for (const std::uint32_t f : {50u, 51u, 52u, 53u, 54u, 55u, 56u, 57u, 58u, 90u, 91u, 92u}) {
        elements.emplace_back(f, VideoOrFail(builder, 9, f));
    }
    ExpectPatternPictures(DecodeElements(builder, elements), 9, 704, 480,
                          {52u, 53u, 54u, 55u, 56u, 57u, 58u, 90u, 91u, 92u});
}

TEST(LiveStreamDecodes, LargestPictureAtTheLargestPiece) {
    LiveStreamOptions o;
    o.width = 720;
    o.height = 576;
    o.gopLength = 3;
    o.fragmentSize = 65535;
    CLiveStreamBuilder builder = MakeBuilder(o);
    std::vector<std::pair<std::uint32_t, LiveElement>> elements;
    for (std::uint32_t f = 0; f < 4; ++f) {
        elements.emplace_back(f, VideoOrFail(builder, 15, f));
    }
    // Inside the client's 1,244,160-byte reassembly buffer.
    EXPECT_LT(elements[0].second.bytes.size(), 1'244'160u);
    ExpectPatternPictures(DecodeElements(builder, elements), 15, 720, 576, {0u, 1u, 2u, 3u});
}

// ---- The client's receive side -----------------------------------------------------------
#ifdef TAVIRO_SIM_LIVE_CLIENT_RECEIVER

class ClientReceiver : public ::testing::Test {
  protected:
    void SetUp() override {
        std::uint8_t info[4];
        protocol::StoreBE32(info, 0x0000FFFFu);
        ASSERT_TRUE(m_frames.OnLiveChannelInfo(info).accepted);
    }
    void Feed(const std::vector<LiveFragment>& fragments) {
        for (const LiveFragment& f : fragments) {
            const auto header = protocol::PacketHeader::FromNetwork(f.wire.data());
            const auto payload = f.Payload().first(header.Length());
            m_frames.OnStreamPiece(header.Command(), header, payload);
        }
    }

    stream::CStreamState m_state;
    stream::CConsumerSlots m_slots;
    stream::CStreamFrames m_frames{m_state, m_slots};
};

TEST_F(ClientReceiver, QueuesTheBuiltFramesWithTheirInfoForBothProductTypes) {
    for (const int product : {3, 5}) {
        for (const std::size_t piece : {100ul, 8000ul}) {
            SCOPED_TRACE("product " + std::to_string(product) + " piece " + std::to_string(piece));
            m_state.SetProductType(product);
            auto queue = std::make_shared<stream::CVideoQueue>();
            m_slots.AttachVideo(6, queue);
            LiveStreamOptions o;
            o.productType = product;
            o.fragmentSize = piece;
            o.startTime = kStart;
            o.gopLength = 2;
            CLiveStreamBuilder builder = MakeBuilder(o);
            for (const std::uint32_t f : {0u, 1u, 32u}) {
                const LiveElement e = VideoOrFail(builder, 6, f);
                Feed(builder.Fragments(e));
                EXPECT_EQ(m_frames.FillCount(), 0u);
                auto taken = queue->TryTake();
                ASSERT_TRUE(taken) << f;
                const stream::QueuedFrame& q = taken->entry;
                const stream::FrameInfo info = q.Info();
                EXPECT_EQ(info.channel, 6);
                EXPECT_EQ(info.kind, e.keyFrame ? 0 : 1);
                EXPECT_EQ(info.width, 704);
                EXPECT_EQ(info.height, 480);
                EXPECT_EQ(info.size, e.encodedSize);
                EXPECT_EQ(info.payloadLength, e.encodedSize);
                EXPECT_EQ(info.generation, m_state.Generation());
                EXPECT_EQ(info.seconds, e.seconds);
                EXPECT_EQ(info.microseconds, e.microseconds);
                EXPECT_EQ(q.Generation(), m_state.Generation());
                EXPECT_EQ(q.DecodeLength(), e.encodedSize);
                const auto payload = q.Payload();
                EXPECT_EQ(Bytes(payload.begin(), payload.end()), H264Of(e));
                // The clock word and the channel travel in the header copy.
                EXPECT_EQ(q.Header().Reserved2(), static_cast<std::uint32_t>(e.seconds));
                EXPECT_EQ(q.Header().Channel(), 6u);
            }
            EXPECT_FALSE(queue->TryTake().has_value());
            m_slots.DetachVideo(6);
        }
    }
    const auto stats = m_frames.Stats();
    EXPECT_EQ(stats.videoQueued, 12u);
    EXPECT_EQ(stats.tooShort, 0u);
    EXPECT_EQ(stats.audioQueued, 0u);
}

TEST_F(ClientReceiver, AudioElementsReachTheAudioQueueNeverAVideoQueue) {
    auto video = std::make_shared<stream::CVideoQueue>();
    auto audio = std::make_shared<stream::CAudioQueue>();
    m_slots.AttachVideo(0, video);
    m_slots.AttachAudio(audio);
    m_state.SetSelectedAudioChannel(3);
    for (const int product : {3, 5}) {
        LiveStreamOptions o;
        o.productType = product;
        o.fragmentSize = 50;
        CLiveStreamBuilder builder = MakeBuilder(o);
        const auto e = builder.AudioElement(0x0000000Au, 7);
        ASSERT_TRUE(e);
        Feed(builder.Fragments(*e, true));
        EXPECT_EQ(m_state.LastAudioMask(), 0x0000000Au);
        const auto block = audio->TryTake();
        ASSERT_TRUE(block) << product;
        EXPECT_TRUE(std::equal(block->entry.bytes.begin(), block->entry.bytes.end(),
                               e->bytes.begin() + 64 + 48));
    }
    EXPECT_FALSE(video->TryTake().has_value());
    EXPECT_EQ(m_frames.Stats().audioQueued, 2u);
}

#endif  // TAVIRO_SIM_LIVE_CLIENT_RECEIVER

}  // namespace
}  // namespace taviro::sim
