#include "video/param_sets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/rbsp_bits.h"

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

            // After level_idc, up to the end of the sequence set.
            platform::CRbspReader in(std::span<const std::uint8_t>(sets).subspan(8, spsSize - 8));
            EXPECT_EQ(in.ReadUe(), 0U);
            EXPECT_EQ(in.ReadUe(), 5U);
            EXPECT_EQ(in.ReadUe(), 0U);
            EXPECT_EQ(in.ReadUe(), 6U);
            EXPECT_EQ(in.ReadUe(), 1U);
            EXPECT_EQ(in.ReadBits(1), 0U);
            EXPECT_EQ(in.ReadUe(), width / 16U - 1U);
            EXPECT_EQ(in.ReadUe(), height / 16U - 1U);
            EXPECT_EQ(in.ReadBits(4), 0b1100U);  // frame mbs only, direct 8x8, no crop, no VUI
            EXPECT_TRUE(in.AtTrailingBits());
            EXPECT_FALSE(in.Failed());
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
    platform::CRbspReader in(std::span<const std::uint8_t>(largest).subspan(8));
    for (int i = 0; i < 5; ++i) {
        static_cast<void>(in.ReadUe());
    }
    static_cast<void>(in.ReadBits(1));
    EXPECT_EQ(in.ReadUe(), 254U);
    EXPECT_EQ(in.ReadUe(), 254U);
    EXPECT_FALSE(in.Failed());
    // Nothing to describe: nothing written, and the buffer is left alone.
    for (const auto& [w, h] : {std::pair{0U, 240U}, std::pair{352U, 0U}, std::pair{15U, 15U}}) {
        std::array<std::uint8_t, kParamSetBufferSize> buffer{};
        buffer.fill(0xAA);
        EXPECT_EQ(WriteParameterSets(w, h, buffer), 0U);
        EXPECT_EQ(buffer[0], 0xAA);
    }
}

}  // namespace
}  // namespace taviro::video
