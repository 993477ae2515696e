// H.264 syntax bits: the writer's field and Exp-Golomb codes bit by bit, the reader on what
// the writer wrote and on hostile bytes, and the NAL unit layer (escaping, Annex B split).
#include "platform/rbsp_bits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace taviro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The bits written so far as '0'/'1', the unfinished byte left out.
std::string BitString(const CRbspWriter& w) {
    std::string s;
    for (const std::uint8_t byte : w.Bytes()) {
        for (int bit = 7; bit >= 0; --bit) {
            s.push_back((byte >> bit & 1) != 0 ? '1' : '0');
        }
    }
    return s;
}

// Writes with `put`, then a marker so the code's last bits are flushed, and returns the bits
// in front of the marker.
template <typename Put>
std::string Coded(Put put) {
    CRbspWriter w;
    put(w);
    const std::size_t bits = w.BitCount();
    w.PutTrailingBits();
    return BitString(w).substr(0, bits);
}

TEST(RbspWriter, ExpGolombCodes) {
    const std::vector<std::pair<std::uint32_t, std::string>> ue = {
        {0, "1"},
        {1, "010"},
        {2, "011"},
        {3, "00100"},
        {6, "00111"},
        {7, "0001000"},
        {14, "0001111"},
        {15, "000010000"},
        {43, "00000101100"},  // 704 / 16 - 1, as in the client's SPS
        {65534, "0000000000000001111111111111111"},
    };
    for (const auto& [value, bits] : ue) {
        EXPECT_EQ(Coded([v = value](CRbspWriter& w) { w.PutUe(v); }), bits) << value;
    }
    // The largest value: 2^32 in 65 bits, 32 zeros and a one followed by 32 zeros.
    EXPECT_EQ(Coded([](CRbspWriter& w) { w.PutUe(0xFFFFFFFFu); }),
              std::string(32, '0') + "1" + std::string(32, '0'));

    const std::vector<std::pair<std::int32_t, std::string>> se = {
        {0, "1"}, {1, "010"}, {-1, "011"}, {2, "00100"}, {-2, "00101"}, {-26, "00000110101"},
    };
    for (const auto& [value, bits] : se) {
        EXPECT_EQ(Coded([v = value](CRbspWriter& w) { w.PutSe(v); }), bits) << value;
    }
    // The extremes need 33-bit code numbers: 2^32 - 2 for INT32_MAX, 2^32 for INT32_MIN.
    EXPECT_EQ(Coded([](CRbspWriter& w) { w.PutSe(std::numeric_limits<std::int32_t>::min()); }),
              std::string(32, '0') + "1" + std::string(31, '0') + "1");
    EXPECT_EQ(Coded([](CRbspWriter& w) { w.PutSe(std::numeric_limits<std::int32_t>::max()); }),
              std::string(31, '0') + std::string(31, '1') + "0");
}

TEST(RbspWriter, FixedFieldsAlignmentAndTrailingBits) {
    CRbspWriter w;
    w.PutBits(0x5, 3);  // 101
    w.PutBits(0, 0);    // nothing
    EXPECT_FALSE(w.IsByteAligned());
    w.PutBits(0xDEADBEEF, 32);  // across five bytes
    w.PutBits(0x1FF, 9);        // frame_num-sized field
    EXPECT_EQ(w.BitCount(), 44u);
    w.AlignWithZeros();
    EXPECT_TRUE(w.IsByteAligned());
    EXPECT_EQ(w.BitCount(), 48u);
    w.AlignWithZeros();  // already aligned: no change
    EXPECT_EQ(w.BitCount(), 48u);
    EXPECT_EQ(BitString(w),
              "101"
              "11011110101011011011111011101111"
              "111111111"
              "0000");

    w.PutTrailingBits();  // aligned: a whole 0x80 byte
    w.PutBit(true);
    w.PutBit(false);
    w.PutTrailingBits();  // 10 + 1 + 00000
    const std::vector<std::uint8_t> tail(w.Bytes().end() - 2, w.Bytes().end());
    EXPECT_EQ(tail, (std::vector<std::uint8_t>{0x80, 0xA0}));

    const std::vector<std::uint8_t> raw = {0x00, 0x01, 0xFF};
    w.PutAlignedBytes(raw);
    EXPECT_EQ(w.Bytes().size(), 11u);
    EXPECT_EQ(w.Bytes().back(), 0xFF);

    // Counts outside 0..32 write nothing; whole bytes off a boundary still come out right.
    w.PutBits(0xFFFFFFFF, 33);
    w.PutBits(0xFFFFFFFF, -1);
    EXPECT_EQ(w.BitCount(), 88u);
    w.PutBit(true);
    w.PutAlignedBytes(raw);
    w.AlignWithZeros();
    const std::vector<std::uint8_t> shifted(w.Bytes().end() - 4, w.Bytes().end());
    EXPECT_EQ(shifted, (std::vector<std::uint8_t>{0x80, 0x00, 0xFF, 0x80}));
}

std::vector<std::uint8_t> Nal(std::uint8_t header, const std::vector<std::uint8_t>& rbsp) {
    std::vector<std::uint8_t> out;
    AppendNalUnit(out, header, rbsp);
    return out;
}

TEST(RbspWriter, EmulationPreventionBytes) {
    const Bytes prefix = {0x00, 0x00, 0x00, 0x01, 0x65};
    const std::vector<std::pair<Bytes, Bytes>> cases = {
        {{0x00, 0x00, 0x00}, {0x00, 0x00, 0x03, 0x00, 0x03}},  // the last zero is escaped too
        {{0x00, 0x00, 0x01}, {0x00, 0x00, 0x03, 0x01}},
        {{0x00, 0x00, 0x02}, {0x00, 0x00, 0x03, 0x02}},
        {{0x00, 0x00, 0x03}, {0x00, 0x00, 0x03, 0x03}},
        {{0x00, 0x00, 0x04}, {0x00, 0x00, 0x04}},
        {{0x00, 0x01, 0x00, 0x01}, {0x00, 0x01, 0x00, 0x01}},
        // The escape byte ends the zero run: 00 00 03 00 00 03 00 ...
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x80}, {0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x80}},
        {{0x12, 0x00, 0x00, 0x01, 0x00, 0x00, 0x80},
         {0x12, 0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x80}},
        {{0x80}, {0x80}},
        {{}, {}},
    };
    for (const auto& [rbsp, escaped] : cases) {
        Bytes want = prefix;
        want.insert(want.end(), escaped.begin(), escaped.end());
        EXPECT_EQ(Nal(0x65, rbsp), want) << "rbsp of " << rbsp.size() << " bytes";
    }
    // Appending keeps what is already there, and a zero run it ends in goes on.
    std::vector<std::uint8_t> out = {0xAA};
    AppendNalUnit(out, 0x41, Bytes{0x80});
    EXPECT_EQ(out, (Bytes{0xAA, 0x00, 0x00, 0x00, 0x01, 0x41, 0x80}));
    Bytes zeroHeader = {0x00};
    AppendEscapedRbsp(zeroHeader, Bytes{0x00, 0x01});
    EXPECT_EQ(zeroHeader, (Bytes{0x00, 0x00, 0x03, 0x01}));

    // Escaping and unescaping are inverse on any payload that ends as an RBSP does (with its
    // stop bit), and no start code survives.
    std::mt19937 random(3);
    for (int round = 0; round < 300; ++round) {
        Bytes rbsp(random() % 40);
        for (auto& b : rbsp) {
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() & 0xFF : random() % 4);
        }
        rbsp.push_back(0x80);
        Bytes escaped;
        AppendEscapedRbsp(escaped, rbsp);
        for (std::size_t i = 2; i < escaped.size(); ++i) {
            ASSERT_FALSE(escaped[i - 2] == 0 && escaped[i - 1] == 0 && escaped[i] <= 2);
        }
        ASSERT_EQ(UnescapeRbsp(escaped), rbsp);
    }
}

TEST(AnnexB, SplitsAtStartCodesOfThreeAndFourBytes) {
    const Bytes stream = {0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x00, 0x01, 0x68,
                          0xCE, 0x00, 0x00, 0x00, 0x00, 0x01, 0x65, 0x88, 0x00};
    const auto units = SplitAnnexB(stream);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(Bytes(units[0].begin(), units[0].end()), (Bytes{0x67, 0x42}));
    EXPECT_EQ(Bytes(units[1].begin(), units[1].end()), (Bytes{0x68, 0xCE}));
    EXPECT_EQ(Bytes(units[2].begin(), units[2].end()), (Bytes{0x65, 0x88}));  // zeros dropped
    EXPECT_TRUE(SplitAnnexB(Bytes{0x12, 0x00, 0x00, 0x01, 0x65}).empty());    // junk in front
    EXPECT_TRUE(SplitAnnexB(Bytes{0x00, 0x00, 0x02, 0x65}).empty());
    EXPECT_TRUE(SplitAnnexB(Bytes{}).empty());
    const auto bare = SplitAnnexB(Bytes{0x00, 0x00, 0x01});
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_TRUE(bare[0].empty());
}

TEST(RbspReader, ReadsBackWhatTheWriterWrote) {
    std::mt19937 random(99);
    std::vector<std::uint32_t> ue = {0, 1, 2, 254, 65534, 0x7FFFFFFF, 0xFFFFFFFE};
    std::vector<std::int32_t> se = {0,
                                    1,
                                    -1,
                                    26,
                                    -26,
                                    std::numeric_limits<std::int32_t>::max(),
                                    std::numeric_limits<std::int32_t>::min() + 1};
    for (int i = 0; i < 200; ++i) {
        ue.push_back(static_cast<std::uint32_t>(random() >> (random() % 32)) % 0xFFFFFFFFu);
        // Any value but INT32_MIN, whose code number is beyond what a reader takes.
        se.push_back(std::max(static_cast<std::int32_t>(random()) / (1 + i),
                              std::numeric_limits<std::int32_t>::min() + 1));
    }
    CRbspWriter w;
    for (std::size_t i = 0; i < ue.size(); ++i) {
        w.PutUe(ue[i]);
        w.PutBits(static_cast<std::uint32_t>(i), static_cast<int>(i % 33));
        w.PutSe(se[i]);
    }
    w.PutTrailingBits();
    CRbspReader r(w.Bytes());
    for (std::size_t i = 0; i < ue.size(); ++i) {
        ASSERT_EQ(r.ReadUe(), ue[i]) << i;
        const int bits = static_cast<int>(i % 33);
        const std::uint32_t mask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1u;
        ASSERT_EQ(r.ReadBits(bits), static_cast<std::uint32_t>(i) & mask) << i;
        ASSERT_EQ(r.ReadSe(), se[i]) << i;
        ASSERT_EQ(r.MoreRbspData(), i + 1 < ue.size()) << i;
    }
    EXPECT_FALSE(r.Failed());
    EXPECT_FALSE(r.MoreRbspData());
    EXPECT_TRUE(r.AtTrailingBits());
}

// Reads past the end, codes too long for 32 bits and bad counts fail for good and return
// zeros; nothing is read outside the bytes (ASan watches the vector's end).
TEST(RbspReader, EveryReadIsBoundedAndAFailureSticks) {
    const Bytes two = {0xA5, 0x0F};
    CRbspReader r(two);
    EXPECT_EQ(r.ReadBits(4), 0xAu);
    EXPECT_EQ(r.ReadBits(33), 0u);  // a count no field has
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.BitsLeft(), 0u);
    EXPECT_EQ(r.ReadBits(1), 0u);
    EXPECT_EQ(r.ReadUe(), 0u);

    CRbspReader shortRead(two);
    EXPECT_EQ(shortRead.ReadBits(17), 0u);
    EXPECT_TRUE(shortRead.Failed());

    // 32 leading zeros is a code number beyond 2^32 - 2: refused, not wrapped.
    const Bytes longCode = {0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00};
    CRbspReader tooLong(longCode);
    EXPECT_EQ(tooLong.ReadUe(), 0u);
    EXPECT_TRUE(tooLong.Failed());
    // A prefix that the bytes end in, and a code whose value bits are cut short.
    const Bytes twoZeros = {0x00, 0x00};
    CRbspReader zeros(twoZeros);
    EXPECT_EQ(zeros.ReadUe(), 0u);
    EXPECT_TRUE(zeros.Failed());
    const Bytes one = {0x01};
    CRbspReader cut(one);  // 7 zeros, the one, then 7 bits missing
    EXPECT_EQ(cut.ReadUe(), 0u);
    EXPECT_TRUE(cut.Failed());
    CRbspReader empty(std::span<const std::uint8_t>{});
    EXPECT_FALSE(empty.MoreRbspData());
    EXPECT_FALSE(empty.AtTrailingBits());
    EXPECT_EQ(empty.ReadSe(), 0);
    EXPECT_TRUE(empty.Failed());

    CRbspReader skip(two);
    skip.Skip(3);
    EXPECT_FALSE(skip.AlignedZeros());  // 0 0101: a one among the skipped bits
    EXPECT_EQ(skip.BitPosition(), 8u);
    EXPECT_TRUE(skip.AlignedZeros());  // aligned already
    skip.Skip(9);
    EXPECT_TRUE(skip.Failed());

    // Random bytes read as fields of every kind end in failure, never out of bounds.
    std::mt19937 random(7);
    for (int round = 0; round < 500; ++round) {
        Bytes noise(random() % 12);
        for (auto& b : noise) {
            b = static_cast<std::uint8_t>(random() & (round % 2 == 0 ? 0xFFu : 0x01u));
        }
        CRbspReader in(noise);
        int reads = 0;
        while (!in.Failed() && reads < 1000) {
            switch (random() % 4) {
                case 0:
                    in.ReadUe();
                    break;
                case 1:
                    in.ReadSe();
                    break;
                case 2:
                    in.ReadBits(static_cast<int>(random() % 33));
                    break;
                default:
                    static_cast<void>(in.MoreRbspData() && in.AtTrailingBits());
                    in.Skip(random() % 9);
                    break;
            }
            ++reads;
        }
        EXPECT_LE(in.BitPosition(), noise.size() * 8);
    }
}

TEST(RbspReader, StopBitAndTrailingBits) {
    // 1 | 1000 0000: one bit of data, then the trailing bits; zero bytes after them are
    // padding, not data.
    const Bytes padded = {0xC0, 0x00, 0x00};
    CRbspReader r(padded);
    EXPECT_TRUE(r.MoreRbspData());
    EXPECT_TRUE(r.ReadBit());
    EXPECT_FALSE(r.MoreRbspData());
    EXPECT_FALSE(r.AtTrailingBits());  // zero bytes follow
    const Bytes stopOnly = {0xC0};
    CRbspReader exact(stopOnly);
    exact.ReadBit();
    EXPECT_TRUE(exact.AtTrailingBits());
    exact.ReadBit();
    EXPECT_FALSE(exact.AtTrailingBits());  // the stop bit itself was read
}

}  // namespace
}  // namespace taviro::platform
