// The null decoder: a grey picture of the size the last sequence parameter set gave, the
// same for every call, nothing before the first set, and every call counted.
#include "platform/null_h264_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/rbsp_bits.h"
#include "video/param_sets.h"

namespace taviro::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes KeyFrame(std::uint32_t width, std::uint32_t height) {
    std::array<std::uint8_t, video::kParamSetBufferSize> sets{};
    const std::size_t n = video::WriteParameterSets(width, height, sets);
    Bytes out(sets.begin(), sets.begin() + static_cast<std::ptrdiff_t>(n));
    AppendNalUnit(out, 0x65, Bytes{0x88, 0x80});
    return out;
}

Bytes Dependent() {
    Bytes out;
    AppendNalUnit(out, 0x41, Bytes{0x9A, 0x80});
    return out;
}

TEST(NullH264Decoder, GreyPicturesOfTheStreamsSize) {
    auto counts = std::make_shared<NullH264DecoderCounts>();
    const H264DecoderFactory factory = NullH264Decoders(counts);
    EXPECT_EQ(factory(1), nullptr);
    for (const std::uint32_t format : {kH264FormatYuv420, kH264FormatRgb24}) {
        SCOPED_TRACE(format);
        auto decoder = factory(format);
        ASSERT_NE(decoder, nullptr);
        EXPECT_EQ(decoder->Format(), format);
        PictureRef picture;
        EXPECT_EQ(decoder->Decode({}, picture), kH264BadInput);
        EXPECT_EQ(decoder->Decode(Dependent(), picture), kH264NoPicture);  // no size yet
        EXPECT_EQ(picture, nullptr);

        ASSERT_EQ(decoder->DecodePadded(KeyFrame(704, 480), picture), kH264Picture);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->width, 704);
        EXPECT_EQ(picture->height, 480);
        EXPECT_EQ(picture->format, format);
        Bytes packed(PackedPictureBytes(704, 480, format));
        ASSERT_EQ(CopyPacked(*picture, packed), packed.size());
        EXPECT_TRUE(std::all_of(packed.begin(), packed.end(), [](auto b) { return b == 128; }));

        // Dependent frames give the same picture; a new set a new size; a set alone none.
        PictureRef next;
        ASSERT_EQ(decoder->Decode(Dependent(), next), kH264Picture);
        EXPECT_EQ(next, picture);
        ASSERT_EQ(decoder->Decode(KeyFrame(352, 240), next), kH264Picture);
        EXPECT_EQ(next->width, 352);
        EXPECT_EQ(next->height, 240);
        Bytes setsAlone = KeyFrame(720, 576);
        setsAlone.resize(setsAlone.size() - 7);  // the slice's 7 bytes
        EXPECT_EQ(decoder->Decode(setsAlone, next), kH264NoPicture);
        ASSERT_EQ(decoder->Decode(Dependent(), next), kH264Picture);
        EXPECT_EQ(next->height, 576);
        // A set whose size no picture may have leaves the last one in force.
        ASSERT_EQ(decoder->Decode(KeyFrame(4080, 4080), next), kH264Picture);
        EXPECT_EQ(next->height, 576);
    }
    EXPECT_EQ(counts->opened.load(), 2u);
    EXPECT_EQ(counts->closed.load(), 2u);
    EXPECT_EQ(counts->calls.load(), 2u * 8u);
    EXPECT_EQ(counts->pictures.load(), 2u * 5u);
    EXPECT_GT(counts->bytes.load(), 0u);
}

}  // namespace
}  // namespace taviro::platform
