// The login records: the client's 32-byte HELLO and the recorder's 768-byte answer. The
// answer is built byte by byte here, at the offsets the recorder uses, so that a parser
// reading a field from the wrong place or in the wrong byte order is caught.
#include "protocol/hello.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace taviro::protocol {
namespace {

using Answer = std::array<std::uint8_t, kHelloAckSize>;

std::string FieldAt(const std::array<std::uint8_t, kHelloPayloadSize>& p, std::size_t at) {
    return std::string(reinterpret_cast<const char*>(p.data() + at), 16);
}

TEST(HelloPayloadTest, LowerCasedAndZeroPadded) {
    const auto p = BuildHelloPayload("AdMin", "PaSs12");
    EXPECT_EQ(FieldAt(p, 0), std::string("admin\0\0\0\0\0\0\0\0\0\0\0", 16));
    EXPECT_EQ(FieldAt(p, 16), std::string("pass12\0\0\0\0\0\0\0\0\0\0", 16));
}

TEST(HelloPayloadTest, SixteenCharactersHaveNoTerminatorAndLongerAreCut) {
    const auto p = BuildHelloPayload("ABCDEFGHIJKLMNOP", "qrstuvwxyz0123456789");
    EXPECT_EQ(FieldAt(p, 0), "abcdefghijklmnop");
    EXPECT_EQ(FieldAt(p, 16), "qrstuvwxyz012345");
}

TEST(HelloPayloadTest, EmptyTextsGiveZeros) {
    const auto p = BuildHelloPayload("", "");
    for (auto b : p)
        EXPECT_EQ(b, 0);
    const auto q = BuildHelloPayload("", "X");
    EXPECT_EQ(q[0], 0);
    EXPECT_EQ(q[16], 'x');
    EXPECT_EQ(q[17], 0);
}

// An answer with every field set to a value that shows where it was read from.
Answer HandMadeAnswer() {
    Answer a;
    a.fill(0xEE);  // the unused areas hold a marker that must not leak into any field
    a[0] = 2;      // protocol_major_ver
    a[1] = 3;      // protocol_minor_ver
    a[2] = 11;     // product_number
    a[3] = 4;      // product_major_ver
    a[4] = 5;      // product_minor_ver
    a[5] = 6;      // front_ver
    a[6] = 16;     // channel_num
    a[7] = 7;      // account
    const std::uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::memcpy(a.data() + 8, mac, 6);
    a[16] = 0x08;  // capabilities: bit 3
    const std::uint8_t key[8] = {0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98};
    std::memcpy(a.data() + 18, key, 8);
    a[26] = 0x50;  // web port 8016, little-endian
    a[27] = 0x1F;
    for (std::size_t i = 0; i < kFirmwareEntries; ++i) {
        std::uint8_t* name = a.data() + 48 + 32 * i;
        std::memset(name, 0, 32);
        const std::string text = "part-" + std::to_string(i);
        std::memcpy(name, text.data(), text.size());
        std::uint8_t* ver = a.data() + 688 + 4 * i;
        ver[0] = 0x4C;  // big-endian 0x4C10_00ii
        ver[1] = 0x10;
        ver[2] = 0x00;
        ver[3] = static_cast<std::uint8_t>(i);
    }
    std::memset(a.data() + 688 + 4 * 19, 0, 4);  // no entry
    return a;
}

TEST(HelloAckTest, ParseReadsEveryFieldAtItsOffset) {
    const Answer in = HandMadeAnswer();
    const auto ack = HelloAck::Parse(in);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(ack->protocol_major_ver, 2);
    EXPECT_EQ(ack->protocol_minor_ver, 3);
    EXPECT_EQ(ack->product_number, 11);
    EXPECT_EQ(ack->product_major_ver, 4);
    EXPECT_EQ(ack->product_minor_ver, 5);
    EXPECT_EQ(ack->front_ver, 6);
    EXPECT_EQ(ack->channel_num, 16);
    EXPECT_EQ(ack->account, 7);
    EXPECT_EQ(ack->mac_address, (std::array<std::uint8_t, 6>{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}));
    EXPECT_EQ(ack->capabilities, 0x08);
    EXPECT_TRUE(ack->PlaybackViewChannelCapable());
    EXPECT_EQ(ack->Key,
              (std::array<std::uint8_t, 8>{0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98}));
    EXPECT_EQ(ack->webPort, 8016);
    for (std::size_t i = 0; i < kFirmwareEntries; ++i) {
        EXPECT_EQ(ack->FirmwareName(i), "part-" + std::to_string(i));
        if (i < 19) {
            EXPECT_EQ(ack->FirmVer[i], static_cast<RecorderTime>(0x4C100000 + i)) << i;
        }
    }
    EXPECT_EQ(ack->FirmVer[19], 0);
    EXPECT_EQ(ack->raw, in);  // kept whole as received
}

TEST(HelloAckTest, OtherSizesAreRejected) {
    const Answer full = HandMadeAnswer();
    for (std::size_t size : {0u, 1u, 700u, 767u}) {
        EXPECT_FALSE(HelloAck::Parse(std::span(full.data(), size)).has_value()) << size;
    }
    std::vector<std::uint8_t> longer(full.begin(), full.end());
    longer.push_back(0);
    EXPECT_FALSE(HelloAck::Parse(longer).has_value());
}

TEST(HelloAckTest, CapabilityBitThreeOnly) {
    Answer in = HandMadeAnswer();
    in[16] = 0xF7;  // every bit but 3
    EXPECT_FALSE(HelloAck::Parse(in)->PlaybackViewChannelCapable());
    in[16] = 0x08;
    in[17] = 0xFF;  // the byte after it is not the capability byte
    EXPECT_TRUE(HelloAck::Parse(in)->PlaybackViewChannelCapable());
}

TEST(HelloAckTest, FirmwareNameOfAFullFieldAndOutOfRange) {
    Answer in = HandMadeAnswer();
    std::memset(in.data() + 48 + 32 * 3, 'Z', 32);  // no terminator at all
    const auto ack = HelloAck::Parse(in);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(ack->FirmwareName(3), std::string(32, 'Z'));
    EXPECT_EQ(ack->FirmwareName(4), "part-4");  // not run on into the next name
    EXPECT_EQ(ack->FirmwareName(20), "");
    EXPECT_EQ(ack->FirmwareName(static_cast<std::size_t>(-1)), "");
}

TEST(HelloAckTest, NegativeFirmwareTimesStaySigned) {
    Answer in = HandMadeAnswer();
    in[688] = 0xFF;
    in[689] = 0xFF;
    in[690] = 0xFF;
    in[691] = 0xFE;
    EXPECT_EQ(HelloAck::Parse(in)->FirmVer[0], -2);
}

TEST(HelloAckTest, EncodeWritesTheRecorderLayout) {
    // With the unused areas zero, encoding the parsed answer gives the same bytes back.
    Answer in = HandMadeAnswer();
    std::memset(in.data() + 14, 0, 2);
    in[17] = 0;
    std::memset(in.data() + 28, 0, 20);
    const auto ack = HelloAck::Parse(in);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(ack->Encode(), in);
}

TEST(HelloAckTest, EncodeThenParseRoundTrips) {
    HelloAck a;
    a.protocol_major_ver = 9;
    a.protocol_minor_ver = 8;
    a.product_number = 12;
    a.product_major_ver = 7;
    a.product_minor_ver = 6;
    a.front_ver = 5;
    a.channel_num = 8;
    a.account = 3;
    a.mac_address = {1, 2, 3, 4, 5, 6};
    a.capabilities = 0x0C;
    a.Key = {8, 7, 6, 5, 4, 3, 2, 1};
    a.webPort = 0xABCD;
    for (std::size_t i = 0; i < kFirmwareEntries; ++i) {
        const std::string n = "fw" + std::to_string(i * 3);
        std::memcpy(a.FirmName[i].data(), n.data(), n.size());
        a.FirmVer[i] = static_cast<RecorderTime>(i * 100000) - 5;
    }
    const auto bytes = a.Encode();
    EXPECT_EQ(bytes[26], 0xCD);  // little-endian port
    EXPECT_EQ(bytes[27], 0xAB);
    EXPECT_EQ(bytes[688], 0xFF);  // -5, big-endian
    EXPECT_EQ(bytes[691], 0xFB);
    const auto b = HelloAck::Parse(bytes);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->protocol_major_ver, a.protocol_major_ver);
    EXPECT_EQ(b->protocol_minor_ver, a.protocol_minor_ver);
    EXPECT_EQ(b->product_number, a.product_number);
    EXPECT_EQ(b->product_major_ver, a.product_major_ver);
    EXPECT_EQ(b->product_minor_ver, a.product_minor_ver);
    EXPECT_EQ(b->front_ver, a.front_ver);
    EXPECT_EQ(b->channel_num, a.channel_num);
    EXPECT_EQ(b->account, a.account);
    EXPECT_EQ(b->mac_address, a.mac_address);
    EXPECT_EQ(b->capabilities, a.capabilities);
    EXPECT_EQ(b->Key, a.Key);
    EXPECT_EQ(b->webPort, a.webPort);
    EXPECT_EQ(b->FirmName, a.FirmName);
    EXPECT_EQ(b->FirmVer, a.FirmVer);
    EXPECT_EQ(b->raw, bytes);
}

TEST(ProductTableTest, EveryProductNumber) {
    for (int n = 0; n < 256; ++n) {
        int expected = 0;
        switch (n) {
            case 0:
            case 1:
                expected = 1;
                break;
            case 5:
            case 8:
                expected = 2;
                break;
            case 11:
                expected = 3;
                break;
            case 12:
                expected = 5;
                break;
            case 20:
                expected = 4;
                break;
            default:
                expected = 0;  // 2, 3, 4 (MRKB series) and unknown numbers
        }
        EXPECT_EQ(ProductTypeFor(static_cast<std::uint8_t>(n)), expected) << n;
    }
}

TEST(ProductTableTest, OnlyMrkd7310AndTq71AreServed) {
    for (int type = -1; type < 8; ++type) {
        EXPECT_EQ(IsSupportedProductType(type), type == 3 || type == 5) << type;
    }
    EXPECT_TRUE(IsSupportedProductType(ProductTypeFor(11)));
    EXPECT_TRUE(IsSupportedProductType(ProductTypeFor(12)));
    EXPECT_FALSE(IsSupportedProductType(ProductTypeFor(1)));
    EXPECT_FALSE(IsSupportedProductType(ProductTypeFor(20)));
    EXPECT_EQ(ProductTypeName(3), "MRKD7310");
    EXPECT_EQ(ProductTypeName(5), "TQ71");
}

TEST(ChannelCountTest, OnlyFourEightAndSixteenStand) {
    for (int n = 0; n < 256; ++n) {
        const int expected = (n == 4 || n == 8 || n == 16) ? n : 16;
        EXPECT_EQ(EffectiveChannelCount(static_cast<std::uint8_t>(n)), expected) << n;
    }
    EXPECT_EQ(EffectiveChannelCount(6), 16);
}

}  // namespace
}  // namespace taviro::protocol
