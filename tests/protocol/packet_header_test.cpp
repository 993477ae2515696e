// The 16-byte message header: what the client puts on the wire, and how a received header
// is read when the recorder sets bits we do not use.
#include "protocol/packet_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "protocol/catalogue.h"

namespace taviro::protocol {
namespace {

using Bytes = std::array<std::uint8_t, kHeaderSize>;

TEST(PacketHeaderTest, HelloStartsWithTheDocumentedBytes) {
    const auto h = PacketHeader::Make(msg::HELLO, 32);
    const Bytes expected = {0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x20,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(h.ToNetwork(), expected);
}

TEST(PacketHeaderTest, KeepAliveIsCode511WithTwelveZeroBytes) {
    const auto h = PacketHeader::Make(msg::KEEP_ALIVE, 0);
    const Bytes expected = {0x00, 0x00, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(h.ToNetwork(), expected);
    const auto back = PacketHeader::FromNetwork(expected.data());
    EXPECT_EQ(back.Command(), 511);
    EXPECT_EQ(back.Length(), 0);
    EXPECT_FALSE(back.AudioOn());
}

TEST(PacketHeaderTest, AudioOnOffRequestCarriesTheFlagInBit3) {
    // 23 << 7 = 0x0B80; audio on adds 0x8.
    const auto on = PacketHeader::Make(msg::AUDIO_ONOFF_REQ, 0, false, true);
    const Bytes onBytes = {0x00, 0x00, 0x0B, 0x88, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(on.ToNetwork(), onBytes);
    EXPECT_TRUE(on.AudioOn());
    EXPECT_EQ(on.Command(), msg::AUDIO_ONOFF_REQ);

    const auto off = PacketHeader::Make(msg::AUDIO_ONOFF_REQ, 0, false, false);
    const Bytes offBytes = {0x00, 0x00, 0x0B, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(off.ToNetwork(), offBytes);
    EXPECT_FALSE(off.AudioOn());
}

TEST(PacketHeaderTest, LastFragmentIsBit30OfTheLengthWord) {
    // The final firmware piece: code 146, 8,000 bytes, flagged.
    const auto h = PacketHeader::Make(msg::FW_DATA, 8000, true);
    const Bytes expected = {0x00, 0x00, 0x49, 0x00, 0x40, 0x00, 0x1F, 0x40,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(h.ToNetwork(), expected);
    EXPECT_EQ(h.word[1], 0x40000000u + 8000u);
    EXPECT_TRUE(h.LastFragment());
    EXPECT_EQ(h.Length(), 8000);

    const auto notLast = PacketHeader::Make(msg::FW_DATA, 8000, false);
    EXPECT_EQ(notLast.word[1], 8000u);
    EXPECT_FALSE(notLast.LastFragment());
}

TEST(PacketHeaderTest, ClientHeadersLeaveWordsTwoAndThreeZero) {
    const auto h = PacketHeader::Make(msg::PLAY_ON_REQ, 24, true, true);
    EXPECT_EQ(h.word[2], 0u);
    EXPECT_EQ(h.word[3], 0u);
    EXPECT_EQ(h.LowBits(), 0u);
    EXPECT_EQ(h.Channel(), 0u);
}

TEST(PacketHeaderTest, EveryCodeSurvivesTheTripThroughTheWire) {
    for (std::uint32_t code = 0; code < 512; ++code) {
        const auto h = PacketHeader::Make(static_cast<std::uint16_t>(code), 0xFFFF);
        const auto bytes = h.ToNetwork();
        const auto back = PacketHeader::FromNetwork(bytes.data());
        EXPECT_EQ(back.Command(), code);
        EXPECT_EQ(back.Length(), 0xFFFF);
        EXPECT_EQ(back.word, h.word);
    }
}

TEST(PacketHeaderTest, BitsOutsideAudioAndCommandDoNotChangeTheCode) {
    // Bits 0..2, 4..6 and 16..31 of word 0 are set by some recorders; the code and the
    // audio flag must read the same as with them clear.
    const std::vector<std::uint32_t> junk = {0x00000007u, 0x00000070u, 0xFFFF0000u,
                                             0xFFFF0077u, 0x80000001u, 0x00010040u};
    for (std::uint32_t code : {0u, 1u, 4u, 5u, 18u, 102u, 257u, 266u, 352u, 511u}) {
        for (bool audio : {false, true}) {
            const std::uint32_t clean = (code << 7) | (audio ? 0x8u : 0u);
            for (std::uint32_t j : junk) {
                PacketHeader h;
                h.word[0] = clean | j;
                EXPECT_EQ(h.Command(), code) << std::hex << h.word[0];
                EXPECT_EQ(h.AudioOn(), audio) << std::hex << h.word[0];
            }
        }
    }
}

TEST(PacketHeaderTest, ReceivedWordZeroWithJunkDecodesFromBytes) {
    // FA CE 80 F7: low half 0x80F7 >> 7 = 0x101 = 257; bit 3 clear; low bits 7.
    const Bytes bytes = {0xFA, 0xCE, 0x80, 0xF7, 0, 0, 0, 12, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto h = PacketHeader::FromNetwork(bytes.data());
    EXPECT_EQ(h.Command(), 257);
    EXPECT_FALSE(h.AudioOn());
    EXPECT_EQ(h.LowBits(), 7u);
    EXPECT_EQ(h.Length(), 12);

    // 00 00 09 0F: code 18 (LIVE_DATA), audio on, low bits 7.
    const Bytes live = {0x00, 0x00, 0x09, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0, 0x4C, 0xB2, 0xF8, 0x80};
    const auto l = PacketHeader::FromNetwork(live.data());
    EXPECT_EQ(l.Command(), 18);
    EXPECT_TRUE(l.AudioOn());
    EXPECT_EQ(l.Reserved2(), 0x4CB2F880u);  // the frame time travels in word 3
}

TEST(PacketHeaderTest, LengthTakesOnlyTheLowSixteenBits) {
    // lastFragment + 16 must read as 16, not as a huge payload.
    const Bytes bytes = {0x00, 0x00, 0x09, 0x00, 0x40, 0x00, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};
    const auto h = PacketHeader::FromNetwork(bytes.data());
    EXPECT_EQ(h.Length(), 16);
    EXPECT_TRUE(h.LastFragment());

    PacketHeader all;
    all.word[1] = 0xFFFF0010u;
    EXPECT_EQ(all.Length(), 16);
    EXPECT_TRUE(all.LastFragment());

    PacketHeader high;
    high.word[1] = 0xBFFF0000u;  // everything but bit 30 in the high half
    EXPECT_EQ(high.Length(), 0);
    EXPECT_FALSE(high.LastFragment());
}

TEST(PacketHeaderTest, ChannelLivesInBits22To25AndLeavesTheRestAlone) {
    for (std::uint32_t ch = 0; ch < 16; ++ch) {
        auto h = PacketHeader::Make(msg::LIVE_DATA, 1234, true);
        h.SetChannel(ch);
        EXPECT_EQ(h.Channel(), ch);
        EXPECT_EQ(h.word[1], 0x40000000u | (ch << 22) | 1234u);
        EXPECT_EQ(h.Length(), 1234);
        EXPECT_TRUE(h.LastFragment());
    }
    // Re-setting replaces the old channel instead of or-ing into it.
    auto h = PacketHeader::Make(msg::LIVE_DATA, 10);
    h.SetChannel(15);
    h.SetChannel(2);
    EXPECT_EQ(h.Channel(), 2u);
    EXPECT_EQ(h.word[1], (2u << 22) | 10u);

    // Bits 21 and 26 next to the field are not part of it.
    PacketHeader n;
    n.word[1] = (1u << 21) | (1u << 26);
    EXPECT_EQ(n.Channel(), 0u);
    n.SetChannel(9);
    EXPECT_EQ(n.word[1], (1u << 21) | (1u << 26) | (9u << 22));
}

TEST(PacketHeaderTest, WordsAreBigEndianOnTheWire) {
    PacketHeader h;
    h.word = {0x01020304u, 0x05060708u, 0x090A0B0Cu, 0x0D0E0F10u};
    const Bytes expected = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(h.ToNetwork(), expected);
    EXPECT_EQ(PacketHeader::FromNetwork(expected.data()).word, h.word);
}

}  // namespace
}  // namespace taviro::protocol
