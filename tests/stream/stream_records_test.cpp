// Stream records, frame info and the queued frame block, against bytes laid out by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "protocol/crc32.h"
#include "stream/queued_frame.h"
#include "stream/stream_records.h"
#include "stream/stream_test_bytes.h"

namespace taviro::stream {
namespace {

using test::Bytes;
using test::PutBE32;
using test::PutLE32;

std::uint32_t LE32At(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

TEST(EncoderHeader, BitFieldsSizesAndTimes) {
    Bytes b(64, 0);
    b[0] = 0xFF;
    b[1] = 0xFF;
    b[2] = 0x0F;
    auto h = ParseEncoderHeader(b);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->size, 1'048'575u);
    EXPECT_EQ(h->kind, kKeyFrame);

    // Bits 4-5 of byte 2 belong to neither the size nor the kind.
    b[2] = 0xCF;
    h = ParseEncoderHeader(b);
    EXPECT_EQ(h->size, 1'048'575u);
    EXPECT_EQ(h->kind, kNotVideo);
    b[2] = 0x31;
    h = ParseEncoderHeader(b);
    EXPECT_EQ(h->size, 0x1FFFFu);
    EXPECT_EQ(h->kind, kKeyFrame);

    b[3] = 0xBF;  // everything but bit 6
    EXPECT_EQ(ParseEncoderHeader(b)->flag, 0);
    b[3] = 0x40;
    EXPECT_EQ(ParseEncoderHeader(b)->flag, 1);

    b[4] = 30;
    b[5] = 44;
    h = ParseEncoderHeader(b);
    EXPECT_EQ(h->Width(), 704);
    EXPECT_EQ(h->Height(), 480);
    b[4] = 15;
    b[5] = 22;
    h = ParseEncoderHeader(b);
    EXPECT_EQ(h->Width(), 352);
    EXPECT_EQ(h->Height(), 240);

    PutLE32(b, 20, 1'300'000'000u);
    PutLE32(b, 24, 999'424u);  // >> 10 = 976
    b[36] = 0xF3;              // only the low four bits are the channel
    h = ParseEncoderHeader(b);
    EXPECT_EQ(h->seconds, 1'300'000'000);
    EXPECT_EQ(h->microseconds, 999'424);
    EXPECT_EQ(h->Milliseconds(), 1'300'000'000'976);
    EXPECT_EQ(h->channel, 3);

    EXPECT_FALSE(ParseEncoderHeader(std::span(b).first(63)));
}

Bytes PlaybackHeader(std::uint8_t channel, const char* title, bool goodCrc) {
    Bytes b(192, 0);
    PutBE32(b, 16, 0x20061123u);
    PutBE32(b, 24, 1'286'798'400u);
    PutBE32(b, 28, 5000);
    PutBE32(b, 32, 77);
    PutBE32(b, 40, 0x01020304u);
    b[48] = 0x11;
    b[49] = 0x22;
    b[50] = 0x33;
    b[51] = 0x44;
    b[52] = 1;
    std::memcpy(b.data() + 96, title, std::strlen(title));
    const std::uint32_t crc = protocol::Crc32(std::span(b).subspan(96, 32));
    PutBE32(b, 92, goodCrc ? crc : crc ^ 1u);
    test::Encoder e;
    e.channel = channel;
    e.size = 4000;
    test::PutEncoder(b, 128, e);
    return b;
}

TEST(StreamFrameHeader, StreamPartIsBigEndianEncoderIsNot) {
    const Bytes b = PlaybackHeader(4, "Lobby", true);
    const Bytes before = b;
    const auto h = ParseStreamFrameHeader(b);
    ASSERT_TRUE(h);
    EXPECT_EQ(b, before);  // converted in a copy
    EXPECT_EQ(h->magic, ENC_HEADER_TYPE_VIDEO);
    EXPECT_EQ(h->frameTime, 1'286'798'400u);
    EXPECT_EQ(h->payloadLength, 5000u);
    EXPECT_EQ(h->backLink, 77u);
    EXPECT_EQ(h->blockKey, 0x01020304u);
    // Offset 48 is not a converted word; the bytes travel as they are.
    EXPECT_EQ(h->raw48, (std::array<std::uint8_t, 4>{0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(h->flag50, 0x33);
    EXPECT_EQ(h->displayExempt, 1);
    EXPECT_EQ(h->encoder.channel, 4);
    EXPECT_EQ(h->encoder.size, 4000u);
    EXPECT_EQ(h->encoder.Width(), 704);
    EXPECT_TRUE(h->TitleValid());
    const auto title = PlaybackTitle(*h);
    EXPECT_EQ(std::memcmp(title.data(), "Lobby\0\0", 7), 0);

    EXPECT_FALSE(ParseStreamFrameHeader(std::span(b).first(191)));
}

TEST(StreamFrameHeader, TitleWithWrongCrcBecomesChannelName) {
    const auto h = ParseStreamFrameHeader(PlaybackHeader(4, "Lobby", false));
    ASSERT_TRUE(h);
    EXPECT_FALSE(h->TitleValid());
    std::array<std::uint8_t, 32> expected{};
    std::memcpy(expected.data(), "CH5", 3);
    EXPECT_EQ(PlaybackTitle(*h), expected);

    const auto h15 = ParseStreamFrameHeader(PlaybackHeader(15, "x", false));
    std::memcpy(expected.data(), "CH16", 4);
    EXPECT_EQ(PlaybackTitle(*h15), expected);
}

TEST(ElementKind, LiveIsBigEndianPlaybackDependsOnProductType) {
    Bytes be(64, 0);
    PutBE32(be, 16, 0x2518F049u);
    Bytes le(64, 0);
    PutLE32(le, 16, 0x2518F049u);

    EXPECT_TRUE(IsLiveAudioElement(be));
    EXPECT_FALSE(IsLiveAudioElement(le));
    EXPECT_FALSE(IsLiveAudioElement(std::span(be).first(19)));

    EXPECT_TRUE(IsPlayAudioElement(be, 3));
    EXPECT_FALSE(IsPlayAudioElement(le, 3));
    EXPECT_TRUE(IsPlayAudioElement(le, 1));
    EXPECT_FALSE(IsPlayAudioElement(be, 1));
    EXPECT_TRUE(IsPlayAudioElement(le, 0));
    EXPECT_FALSE(IsPlayAudioElement(std::span(le).first(18), 1));
}

TEST(AudioBlockHeader, MaskOffsetsAndOrder) {
    Bytes live(64, 0);
    PutBE32(live, 16, 0x2518F049u);
    PutBE32(live, 28, 96);
    PutBE32(live, 40, 0x0000000Au);
    PutBE32(live, 52, 0xFFFFFFFFu);
    auto h = ParseLiveAudioHeader(live);
    ASSERT_TRUE(h);
    EXPECT_EQ(h->magic, ENC_HEADER_TYPE_AUDIO);
    EXPECT_EQ(h->payloadLength, 96u);
    EXPECT_EQ(h->channelMask, 0x0000000Au);

    Bytes playBE(64, 0);
    PutBE32(playBE, 16, 0x2518F049u);
    PutBE32(playBE, 40, 0xFFFFFFFFu);
    PutBE32(playBE, 52, 0x00000005u);
    EXPECT_EQ(ParsePlayAudioHeader(playBE, 3)->channelMask, 5u);

    Bytes playLE(64, 0);
    PutLE32(playLE, 16, 0x2518F049u);
    PutLE32(playLE, 52, 0x00000005u);
    EXPECT_EQ(ParsePlayAudioHeader(playLE, 2)->channelMask, 5u);

    EXPECT_FALSE(ParseLiveAudioHeader(std::span(live).first(63)));
}

TEST(FrameInfo, LayoutOfTheSixtyEightBytes) {
    test::Encoder e;
    e.size = 9000;
    e.kind = 2;
    e.flag = true;
    e.channel = 7;
    e.seconds = 0x01020304;
    e.microseconds = 0x05060708;
    Bytes enc(64, 0);
    test::PutEncoder(enc, 0, e);
    FrameInfo info = MakeFrameInfo(*ParseEncoderHeader(enc), 1200, 0xAABBCCDD);
    EXPECT_EQ(info.size, 1200u);  // lowered to what arrived
    info.title[0] = 'T';
    info.position = 0x11223344;  // the stream part's time travels with its own frame

    std::array<std::uint8_t, 68> out{};
    out.fill(0xEE);
    info.WriteTo(out);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 2);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], 0);
    EXPECT_EQ(LE32At(out, 4), 0x01020304u);
    EXPECT_EQ(LE32At(out, 8), 0x05060708u);
    EXPECT_EQ(LE32At(out, 12), 1200u);
    EXPECT_EQ(out[16] | out[17] << 8, 704);
    EXPECT_EQ(out[18] | out[19] << 8, 480);
    EXPECT_EQ(LE32At(out, 20), 0xAABBCCDDu);
    EXPECT_EQ(LE32At(out, 24), 0x11223344u);
    for (std::size_t i = 28; i < 32; ++i) {
        EXPECT_EQ(out[i], 0) << i;
    }
    EXPECT_EQ(out[32], 'T');
    EXPECT_EQ(LE32At(out, 64), 1200u);

    const FrameInfo back = FrameInfo::ReadFrom(out);
    EXPECT_EQ(back.channel, 7);
    EXPECT_EQ(back.generation, 0xAABBCCDDu);
    EXPECT_EQ(back.position, 0x11223344);
    EXPECT_EQ(back.title, info.title);
    EXPECT_EQ(back.size, 1200u);

    // A size below the payload is kept.
    EXPECT_EQ(MakeFrameInfo(*ParseEncoderHeader(enc), 20000, 0).size, 9000u);
}

TEST(AudioSelection, BlockIndexFollowsTheMask) {
    auto s = SelectAudioBlock(0x0000000Au, 3);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->channel, 3);
    EXPECT_EQ(s->index, 1u);  // the block at 64 + 48

    s = SelectAudioBlock(0x0000000Au, -1);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->channel, 1);
    EXPECT_EQ(s->index, 0u);

    EXPECT_EQ(SelectAudioBlock(0x0000FFFFu, 15)->index, 15u);
    EXPECT_FALSE(SelectAudioBlock(0x0000000Au, 2));
    EXPECT_FALSE(SelectAudioBlock(0, -1));
    EXPECT_FALSE(SelectAudioBlock(0x00010000u, -1));  // no channel 16
}

TEST(QueuedFrame, OneBlockLaidOutForTheDecoder) {
    FrameInfo info;
    info.channel = 9;
    info.kind = 1;
    info.payloadLength = 5;
    info.size = 3;
    info.generation = 42;
    protocol::PacketHeader header = protocol::PacketHeader::Make(18, 1000, true);
    header.word[3] = 1'286'798'400u;
    header.SetChannel(9);
    const Bytes payload = {1, 2, 3, 4, 5};
    auto f = QueuedFrame::Make(info, header, payload, true, false);
    ASSERT_TRUE(f);

    const auto b = f->Block();
    ASSERT_EQ(b.size(), 96u + 5u + 64u);
    // Zeros after the payload for a decoder that reads past it; the decode span (3 of 5
    // bytes) is not followed by them.
    EXPECT_TRUE(std::all_of(b.begin() + 101, b.end(), [](std::uint8_t x) { return x == 0; }));
    EXPECT_FALSE(f->DecodeBytesPadded());
    EXPECT_EQ(LE32At(b, 0), 3u);
    EXPECT_EQ(LE32At(b, 4), 42u);
    EXPECT_EQ(b[8], 1);
    EXPECT_EQ(b[9], 0);
    EXPECT_EQ(b[10], 0);
    EXPECT_EQ(b[11], 0);
    EXPECT_EQ(b[12], 9);                // FrameInfo.channel
    EXPECT_EQ(LE32At(b, 12 + 64), 3u);  // FrameInfo.size
    EXPECT_EQ(LE32At(b, 80), 0x00000900u);
    EXPECT_EQ(LE32At(b, 84), 0x40000000u | (9u << 22) | 1000u);
    EXPECT_EQ(LE32At(b, 92), 1'286'798'400u);
    EXPECT_EQ(Bytes(b.begin() + 96, b.begin() + 101), payload);

    EXPECT_EQ(f->DecodeLength(), 3u);
    EXPECT_EQ(f->Generation(), 42u);
    EXPECT_TRUE(f->DisplayExempt());
    EXPECT_FALSE(f->Reverse());
    EXPECT_EQ(f->Header().Channel(), 9u);
    EXPECT_EQ(f->Header().Reserved2(), 1'286'798'400u);
    EXPECT_EQ(Bytes(f->DecodeBytes().begin(), f->DecodeBytes().end()), (Bytes{1, 2, 3}));

    // An info that does not describe the payload is refused, not trusted.
    info.payloadLength = 6;
    EXPECT_FALSE(QueuedFrame::Make(info, header, payload));
    info.payloadLength = 5;
    info.size = 6;
    EXPECT_FALSE(QueuedFrame::Make(info, header, payload));
}

}  // namespace
}  // namespace taviro::stream
