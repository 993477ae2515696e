#include "video/param_sets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

namespace taviro::video {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Write(std::uint32_t width, std::uint32_t height) {
    std::array<std::uint8_t, kParamSetBufferSize> buffer{};
    const std::size_t count = WriteParameterSets(width, height, buffer);
    return {buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count)};
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

const Bytes kPictureSet = {0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28};

TEST(ParameterSets, ExactBytesOfTheKnownSizes) {
    const Bytes d1 = Write(704, 480);
    EXPECT_EQ(d1, (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74, 0x05,
                         0x81, 0xEC, 0x80, 0x00, 0x00, 0x00, 0x01, 0x68, 0xCE, 0x32, 0x28}));

    const Bytes cif = Write(352, 240);
    ASSERT_EQ(cif.size(), 13U + 8U);
    EXPECT_EQ(Slice(cif, 0, 13), (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74,
                                        0x0B, 0x0F, 0xC8}));
    EXPECT_EQ(Slice(cif, 13, 8), kPictureSet);

    const Bytes pal = Write(720, 576);
    ASSERT_EQ(pal.size(), 14U + 8U);
    EXPECT_EQ(Slice(pal, 0, 14), (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A, 0x74,
                                        0x05, 0xA0, 0x93, 0x20}));
    EXPECT_EQ(Slice(pal, 14, 8), kPictureSet);
}

// Independent Exp-Golomb reader, to read the sizes back out of the written sets.
class CReader {
  public:
    explicit CReader(const Bytes& bytes, std::size_t startByte) : m_bytes(bytes) {
        m_pos = startByte * 8U;
    }
    std::uint32_t Bits(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i) {
            if (m_pos >= m_bytes.size() * 8U) {
                m_failed = true;
                return 0;
            }
            value = (value << 1U) |
                    ((static_cast<unsigned>(m_bytes[m_pos / 8U]) >> (7U - m_pos % 8U)) & 1U);
            ++m_pos;
        }
        return value;
    }
    std::uint32_t Ue() {
        unsigned zeros = 0;
        while (!m_failed && Bits(1) == 0) {
            ++zeros;
        }
        return (1U << zeros) - 1U + Bits(zeros);
    }
    [[nodiscard]] bool Failed() const { return m_failed; }
    [[nodiscard]] std::size_t Pos() const { return m_pos; }

  private:
    const Bytes& m_bytes;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

// Every picture size a recorder announces yields sets that read back to its macroblock
// counts and leave the picture set unchanged.
TEST(ParameterSets, EveryAcceptedSizeReadsBack) {
    for (const std::uint32_t width : {352U, 360U, 704U, 720U}) {
        for (const std::uint32_t height : {240U, 288U, 480U, 576U}) {
            SCOPED_TRACE(testing::Message() << width << " x " << height);
            const Bytes sets = Write(width, height);
            ASSERT_GE(sets.size(), 8U + 13U);
            const std::size_t spsSize = sets.size() - 8U;
            EXPECT_EQ(Slice(sets, spsSize, 8), kPictureSet);
            EXPECT_EQ(Slice(sets, 0, 9),
                      (Bytes{0x00, 0x00, 0x00, 0x01, 0x67, 0x42, 0x00, 0x1E, 0x9A}));

            CReader in(sets, 8);  // after level_idc
            EXPECT_EQ(in.Ue(), 0U);
            EXPECT_EQ(in.Ue(), 5U);
            EXPECT_EQ(in.Ue(), 0U);
            EXPECT_EQ(in.Ue(), 6U);
            EXPECT_EQ(in.Ue(), 1U);
            EXPECT_EQ(in.Bits(1), 0U);
            EXPECT_EQ(in.Ue(), width / 16U - 1U);
            EXPECT_EQ(in.Ue(), height / 16U - 1U);
            EXPECT_EQ(in.Bits(4), 0b1100U);  // frame mbs only, direct 8x8, no crop, no VUI
            EXPECT_EQ(in.Bits(1), 1U);       // stop bit
            while (in.Pos() % 8U != 0) {
                EXPECT_EQ(in.Bits(1), 0U);
            }
            EXPECT_FALSE(in.Failed());
            EXPECT_EQ(in.Pos() / 8U, spsSize);
        }
    }
}

TEST(ParameterSets, SizesAtTheLimits) {
    // The smallest describable picture: one macroblock.
    const Bytes one = Write(16, 16);
    ASSERT_EQ(one.size(), 19U);
    EXPECT_EQ(Slice(one, 11, 8), kPictureSet);
    // Widths and heights are whole macroblocks; the remainder is ignored.
    EXPECT_EQ(Write(367, 255), Write(352, 240));
    // The largest an encoder header can state (255 macroblocks) still fits the buffer.
    const Bytes largest = Write(255 * 16, 255 * 16);
    EXPECT_EQ(largest.size(), 23U);
    CReader in(largest, 8);
    for (int i = 0; i < 5; ++i) {
        static_cast<void>(in.Ue());
    }
    static_cast<void>(in.Bits(1));
    EXPECT_EQ(in.Ue(), 254U);
    EXPECT_EQ(in.Ue(), 254U);
    // Nothing to describe: nothing written, and the buffer is left alone.
    for (const auto& [w, h] : {std::pair{0U, 240U}, std::pair{352U, 0U}, std::pair{15U, 15U}}) {
        std::array<std::uint8_t, kParamSetBufferSize> buffer{};
        buffer.fill(0xAA);
        EXPECT_EQ(WriteParameterSets(w, h, buffer), 0U);
        EXPECT_EQ(buffer[0], 0xAA);
    }
}

Bytes Bits(const CBitWriter& writer) {
    Bytes out(writer.ByteCount());
    EXPECT_EQ(writer.CopyTo(out), out.size());
    return out;
}

TEST(BitWriter, ExpGolombCodes) {
    CBitWriter w;
    w.PutUe(0);   // 1
    w.PutUe(1);   // 010
    w.PutUe(5);   // 00110
    w.PutSe(2);   // ue(3): 00100
    w.PutSe(-1);  // ue(2): 011
    w.PutSe(0);   // 1
    // 1010 0011 0001 0001 11, then the stop bit: A3 11 E0
    w.PutTrailingBits();
    EXPECT_EQ(Bits(w), (Bytes{0xA3, 0x11, 0xE0}));
    EXPECT_TRUE(w.ByteAligned());
}

TEST(BitWriter, LongCodesCrossWordsAndPrefixIsCapped) {
    CBitWriter w;
    w.PutBits(0x5, 3);
    w.PutBits(0xDEADBEEF, 32);  // straddles the first word boundary
    w.PutUe(65534);             // v + 1 = 65535: 15 zeros, 16 value bits
    EXPECT_EQ(w.BitCount(), 3U + 32U + 31U);
    // The prefix never grows past 16 zeros; the value part is cut to 17 bits.
    CBitWriter capped;
    capped.PutUe(0x7FFFFFFFU);
    EXPECT_EQ(capped.BitCount(), 33U);
    const Bytes b = Bits(w);
    EXPECT_EQ(b[0], 0xBB);  // 101 11011
    EXPECT_EQ(b[1], 0xD5);
    EXPECT_EQ(b[2], 0xB7);
    EXPECT_EQ(b[3], 0xDD);
    EXPECT_EQ(b[4], 0xE0);  // last 3 bits of EF (111) then 5 zeros of the prefix
}

TEST(BitWriter, OverflowDropsBitsInsteadOfWritingPastTheBuffer) {
    CBitWriter w;
    for (std::size_t i = 0; i < CBitWriter::kCapacity / 4; ++i) {
        w.PutBits(0xFFFFFFFF, 32);
    }
    EXPECT_FALSE(w.Overflowed());
    w.PutBit(true);
    EXPECT_TRUE(w.Overflowed());
    EXPECT_EQ(w.ByteCount(), CBitWriter::kCapacity);
    std::array<std::uint8_t, 4> small{};
    EXPECT_EQ(w.CopyTo(small), 0U);
}

}  // namespace
}  // namespace taviro::video
