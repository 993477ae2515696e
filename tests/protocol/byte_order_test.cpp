// The bounds-checked reader and writer that every record goes through, and the in-place
// word converters. A reader or writer that steps past its range once must stay failed and
// must never touch a byte outside the range it was given.
#include "protocol/byte_order.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace taviro::protocol {
namespace {

TEST(ByteOrderTest, LoadsAndStoresInBothOrders) {
    const std::uint8_t b[4] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(LoadBE32(b), 0x12345678u);
    EXPECT_EQ(LoadLE32(b), 0x78563412u);
    EXPECT_EQ(LoadBE16(b), 0x1234);
    EXPECT_EQ(LoadLE16(b), 0x3412);
    const std::uint8_t hi[4] = {0xFF, 0xFE, 0x80, 0x01};
    EXPECT_EQ(LoadBE32(hi), 0xFFFE8001u);
    EXPECT_EQ(LoadBE16(hi), 0xFFFE);
    EXPECT_EQ(LoadLE16(hi + 2), 0x0180);

    std::uint8_t out[4] = {};
    StoreBE32(out, 0xA1B2C3D4u);
    EXPECT_EQ(out[0], 0xA1);
    EXPECT_EQ(out[3], 0xD4);
    StoreLE32(out, 0xA1B2C3D4u);
    EXPECT_EQ(out[0], 0xD4);
    EXPECT_EQ(out[3], 0xA1);
    StoreBE16(out, 0xBEEF);
    EXPECT_EQ(out[0], 0xBE);
    EXPECT_EQ(out[1], 0xEF);
    StoreLE16(out, 0xBEEF);
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(out[1], 0xBE);
}

TEST(ByteOrderTest, SwapWordsTouchesOnlyTheListedWords) {
    std::array<std::uint8_t, 24> rec{};
    for (std::size_t i = 0; i < rec.size(); ++i)
        rec[i] = static_cast<std::uint8_t>(i);
    const std::size_t offsets[] = {4, 16};
    SwapWordsAt(rec, offsets);
    const std::array<std::uint8_t, 24> expected = {0,  1,  2,  3,  7,  6,  5,  4,  8,  9,  10, 11,
                                                   12, 13, 14, 15, 19, 18, 17, 16, 20, 21, 22, 23};
    EXPECT_EQ(rec, expected);
    SwapWordsAt(rec, offsets);  // the same call converts back
    for (std::size_t i = 0; i < rec.size(); ++i)
        EXPECT_EQ(rec[i], i);
}

TEST(ByteOrderTest, SwapWordsIgnoresOffsetsOutsideTheRecord) {
    std::vector<std::uint8_t> big(32, 0xAA);
    std::span<std::uint8_t> rec(big.data() + 8, 10);  // bytes 8..17 of the big buffer
    for (std::size_t i = 0; i < rec.size(); ++i)
        rec[i] = static_cast<std::uint8_t>(i);
    const std::size_t offsets[] = {7,
                                   8,
                                   10,
                                   11,
                                   std::numeric_limits<std::size_t>::max(),
                                   std::numeric_limits<std::size_t>::max() - 2};
    SwapWordsAt(rec, offsets);
    for (std::size_t i = 0; i < rec.size(); ++i)
        EXPECT_EQ(rec[i], i);
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(big[i], 0xAA);
    for (std::size_t i = 18; i < big.size(); ++i)
        EXPECT_EQ(big[i], 0xAA);

    const std::size_t last[] = {6};  // the last whole word fits exactly
    SwapWordsAt(rec, last);
    EXPECT_EQ(rec[6], 9);
    EXPECT_EQ(rec[9], 6);
}

TEST(ByteOrderTest, Reverse64ReversesEightBytesOrNothing) {
    std::array<std::uint8_t, 12> rec = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    Reverse64At(rec, 2);
    const std::array<std::uint8_t, 12> expected = {0, 1, 9, 8, 7, 6, 5, 4, 3, 2, 10, 11};
    EXPECT_EQ(rec, expected);
    const auto before = rec;
    Reverse64At(rec, 5);  // 5 + 8 > 12
    Reverse64At(rec, std::numeric_limits<std::size_t>::max());
    EXPECT_EQ(rec, before);
}

TEST(ByteReaderTest, ReadsFieldsInOrder) {
    const std::uint8_t data[] = {0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03,
                                 0x04, 0x00, 0x05, 0x00, 0x00, 0xFF};
    CByteReader r(data);
    EXPECT_EQ(r.U8(), 1);
    EXPECT_EQ(r.BE16(), 2);
    EXPECT_EQ(r.BE32(), 3u);
    EXPECT_EQ(r.LE16(), 4);
    EXPECT_EQ(r.LE32(), 0xFF000005u);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.Offset(), sizeof data);
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(ByteReaderTest, SignedReadKeepsTheSign) {
    const std::uint8_t data[] = {0xFF, 0xFF, 0xFF, 0xFE, 0x80, 0x00, 0x00, 0x00};
    CByteReader r(data);
    EXPECT_EQ(r.BE32Signed(), -2);
    EXPECT_EQ(r.BE32Signed(), std::numeric_limits<std::int32_t>::min());
}

TEST(ByteReaderTest, AReadPastTheEndFailsAndPoisonsTheReader) {
    // The reader sees only bytes 4..9 of a bigger buffer; bytes outside hold a marker that
    // would show up if it ever read them.
    std::vector<std::uint8_t> big(16, 0xEE);
    for (std::size_t i = 4; i < 10; ++i)
        big[i] = static_cast<std::uint8_t>(i);
    CByteReader r(std::span<const std::uint8_t>(big.data() + 4, 6));
    EXPECT_EQ(r.BE32(), 0x04050607u);
    EXPECT_EQ(r.BE32(), 0u);  // only 2 bytes left
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Remaining(), 0u);
    // Even reads that would fit now fail.
    EXPECT_EQ(r.U8(), 0);
    EXPECT_EQ(r.BE16(), 0);
    EXPECT_FALSE(r.Skip(0));
    EXPECT_FALSE(r.Seek(0));
    EXPECT_FALSE(r.Ok());
}

TEST(ByteReaderTest, FailedBytesZeroFillTheOutput) {
    const std::uint8_t data[] = {1, 2, 3};
    CByteReader r(data);
    std::array<std::uint8_t, 4> out;
    out.fill(0x55);
    EXPECT_FALSE(r.Bytes(out));
    for (auto b : out)
        EXPECT_EQ(b, 0);
    EXPECT_FALSE(r.Ok());
}

TEST(ByteReaderTest, HugeSkipDoesNotWrapAround) {
    const std::uint8_t data[] = {1, 2, 3, 4};
    CByteReader r(data);
    EXPECT_EQ(r.U8(), 1);
    EXPECT_FALSE(r.Skip(std::numeric_limits<std::size_t>::max()));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.U8(), 0);

    CByteReader s(data);
    EXPECT_FALSE(s.Skip(5));
    CByteReader t(data);
    EXPECT_TRUE(t.Skip(4));
    EXPECT_TRUE(t.Ok());
    EXPECT_EQ(t.Remaining(), 0u);
}

TEST(ByteReaderTest, SeekMovesWithinTheRangeOnly) {
    const std::uint8_t data[] = {10, 11, 12, 13};
    CByteReader r(data);
    EXPECT_TRUE(r.Seek(2));
    EXPECT_EQ(r.U8(), 12);
    EXPECT_TRUE(r.Seek(0));
    EXPECT_EQ(r.U8(), 10);
    EXPECT_TRUE(r.Seek(4));  // the end itself is a valid position
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_TRUE(r.Ok());
    EXPECT_FALSE(r.Seek(5));
    EXPECT_FALSE(r.Ok());
}

TEST(ByteReaderTest, TextStopsAtNulOrAtTheFieldWidth) {
    const std::uint8_t data[] = {'a', 'b', 0, 'X', 'c', 'd', 'e', 'f', 'g'};
    CByteReader r(data);
    EXPECT_EQ(r.Text(4), "ab");   // the byte after the NUL is not text
    EXPECT_EQ(r.Offset(), 4u);    // but the whole field is consumed
    EXPECT_EQ(r.Text(3), "cde");  // no NUL: exactly the width
    EXPECT_EQ(r.Text(3), "");     // only 2 bytes left
    EXPECT_FALSE(r.Ok());

    const std::uint8_t empty[] = {0, 'z'};
    CByteReader e(empty);
    EXPECT_EQ(e.Text(2), "");
    EXPECT_TRUE(e.Ok());
    CByteReader z(empty);
    EXPECT_EQ(z.Text(0), "");
    EXPECT_TRUE(z.Ok());
}

TEST(ByteReaderTest, EmptyInput) {
    CByteReader r(std::span<const std::uint8_t>{});
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_EQ(r.LE32(), 0u);
    EXPECT_FALSE(r.Ok());
}

TEST(ByteWriterTest, WritesFieldsInOrder) {
    std::array<std::uint8_t, 13> out{};
    CByteWriter w(out);
    w.U8(0x11);
    w.BE16(0x2233);
    w.BE32(0x44556677u);
    w.LE16(0x8899);
    w.LE32(0xAABBCCDDu);
    EXPECT_TRUE(w.Ok());
    EXPECT_EQ(w.Offset(), 13u);
    const std::array<std::uint8_t, 13> expected = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                   0x99, 0x88, 0xDD, 0xCC, 0xBB, 0xAA};
    EXPECT_EQ(out, expected);
}

TEST(ByteWriterTest, AWriteThatDoesNotFitFailsAndWritesNothingOutside) {
    std::vector<std::uint8_t> big(16, 0xEE);
    CByteWriter w(std::span<std::uint8_t>(big.data() + 4, 6));
    w.BE32(0x01020304u);
    w.BE32(0x05060708u);  // 2 bytes left: must fail without a partial write
    EXPECT_FALSE(w.Ok());
    w.U8(0x99);  // poisoned: nothing more is written
    w.Zeros(1);
    w.Text("zz", 1);
    EXPECT_EQ(big[4], 1);
    EXPECT_EQ(big[7], 4);
    EXPECT_EQ(big[8], 0xEE);
    EXPECT_EQ(big[9], 0xEE);
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(big[i], 0xEE);
    for (std::size_t i = 10; i < big.size(); ++i)
        EXPECT_EQ(big[i], 0xEE);
    EXPECT_FALSE(w.Seek(0));
}

TEST(ByteWriterTest, TextIsZeroPaddedAndCutAtTheWidth) {
    std::array<std::uint8_t, 12> out;
    out.fill(0x77);
    CByteWriter w(out);
    w.Text("abc", 5);      // padded
    w.Text("defghij", 4);  // cut, no terminator
    w.Text("", 3);         // all zeros
    EXPECT_TRUE(w.Ok());
    const std::array<std::uint8_t, 12> expected = {'a', 'b', 'c', 0, 0, 'd',
                                                   'e', 'f', 'g', 0, 0, 0};
    EXPECT_EQ(out, expected);
}

TEST(ByteWriterTest, SeekAndZeros) {
    std::array<std::uint8_t, 8> out;
    out.fill(0x33);
    CByteWriter w(out);
    EXPECT_TRUE(w.Seek(6));
    w.Zeros(2);
    EXPECT_TRUE(w.Ok());
    EXPECT_EQ(out[5], 0x33);
    EXPECT_EQ(out[6], 0);
    EXPECT_EQ(out[7], 0);
    w.Zeros(1);
    EXPECT_FALSE(w.Ok());
    CByteWriter v(out);
    EXPECT_FALSE(v.Seek(9));
    EXPECT_FALSE(v.Ok());
}

TEST(ByteWriterTest, FixedTextCopiesAtMostTheField) {
    const auto a = FixedText<4>("ab");
    EXPECT_EQ(a, (std::array<std::uint8_t, 4>{'a', 'b', 0, 0}));
    const auto b = FixedText<4>("abcdefg");
    EXPECT_EQ(b, (std::array<std::uint8_t, 4>{'a', 'b', 'c', 'd'}));
}

}  // namespace
}  // namespace taviro::protocol
