// The H.264 bit writer: field and Exp-Golomb codes bit by bit, and the NAL unit packing.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/h264_bit_writer.h"

namespace taviro::sim {
namespace {

// The bits written so far as '0'/'1', the unfinished byte left out.
std::string BitString(const CH264BitWriter& w) {
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
    CH264BitWriter w;
    put(w);
    const std::size_t bits = w.BitCount();
    w.PutTrailingBits();
    return BitString(w).substr(0, bits);
}

TEST(H264BitWriter, ExpGolombCodes) {
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
        EXPECT_EQ(Coded([v = value](CH264BitWriter& w) { w.PutUe(v); }), bits) << value;
    }
    // The largest value: 2^32 in 65 bits, 32 zeros and a one followed by 32 zeros.
    EXPECT_EQ(Coded([](CH264BitWriter& w) { w.PutUe(0xFFFFFFFFu); }),
              std::string(32, '0') + "1" + std::string(32, '0'));

    const std::vector<std::pair<std::int32_t, std::string>> se = {
        {0, "1"}, {1, "010"}, {-1, "011"}, {2, "00100"}, {-2, "00101"}, {-26, "00000110101"},
    };
    for (const auto& [value, bits] : se) {
        EXPECT_EQ(Coded([v = value](CH264BitWriter& w) { w.PutSe(v); }), bits) << value;
    }
    // The extremes need 33-bit code numbers: 2^32 - 2 for INT32_MAX, 2^32 for INT32_MIN.
    EXPECT_EQ(Coded([](CH264BitWriter& w) { w.PutSe(std::numeric_limits<std::int32_t>::min()); }),
              std::string(32, '0') + "1" + std::string(31, '0') + "1");
    EXPECT_EQ(Coded([](CH264BitWriter& w) { w.PutSe(std::numeric_limits<std::int32_t>::max()); }),
              std::string(31, '0') + std::string(31, '1') + "0");
}

TEST(H264BitWriter, FixedFieldsAlignmentAndTrailingBits) {
    CH264BitWriter w;
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
}

std::vector<std::uint8_t> Nal(std::uint8_t header, const std::vector<std::uint8_t>& rbsp) {
    std::vector<std::uint8_t> out;
    AppendH264NalUnit(out, header, rbsp);
    return out;
}

TEST(H264BitWriter, EmulationPreventionBytes) {
    using Bytes = std::vector<std::uint8_t>;
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
    // Appending keeps what is already there.
    std::vector<std::uint8_t> out = {0xAA};
    AppendH264NalUnit(out, 0x41, Bytes{0x80});
    EXPECT_EQ(out, (Bytes{0xAA, 0x00, 0x00, 0x00, 0x01, 0x41, 0x80}));
}

}  // namespace
}  // namespace taviro::sim
