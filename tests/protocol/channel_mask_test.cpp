// Channel selections: bit n for channel n, 0..15 only.
#include "protocol/channel_mask.h"

#include <gtest/gtest.h>

namespace taviro::protocol {
namespace {

TEST(ChannelMaskTest, BitPerChannelAndNothingOutsideTheRange) {
    for (int ch = 0; ch < 16; ++ch) {
        EXPECT_EQ(ChannelBit(ch), 1u << ch);
        EXPECT_TRUE(HasChannel(kAllChannels, ch));
        EXPECT_TRUE(HasChannel(ChannelBit(ch), ch));
        EXPECT_FALSE(HasChannel(ChannelBit(ch), (ch + 1) % 16));
    }
    for (int ch : {-1, 16, 17, 31, 32, 1000}) {
        EXPECT_EQ(ChannelBit(ch), 0u) << ch;
        EXPECT_FALSE(HasChannel(0xFFFFFFFFu, ch)) << ch;
    }
    EXPECT_EQ(kAllChannels, 0x0000FFFFu);
}

TEST(ChannelMaskTest, CountAndFirstIgnoreBitsAboveFifteen) {
    EXPECT_EQ(ChannelCount(0), 0);
    EXPECT_EQ(ChannelCount(kAllChannels), 16);
    EXPECT_EQ(ChannelCount(0xFFFF0000u), 0);
    EXPECT_EQ(ChannelCount(0x80010005u), 2);  // channels 0 and 2 only
    EXPECT_EQ(FirstChannel(0), -1);
    EXPECT_EQ(FirstChannel(0x00010000u), -1);
    EXPECT_EQ(FirstChannel(0x00018000u), 15);
    EXPECT_EQ(FirstChannel(0x0000000Cu), 2);
    EXPECT_EQ(FirstChannel(1), 0);
}

TEST(ChannelMaskTest, MaskOfTheFirstChannels) {
    EXPECT_EQ(MaskOfFirst(-3), 0u);
    EXPECT_EQ(MaskOfFirst(0), 0u);
    EXPECT_EQ(MaskOfFirst(1), 0x1u);
    EXPECT_EQ(MaskOfFirst(4), 0xFu);
    EXPECT_EQ(MaskOfFirst(8), 0xFFu);
    EXPECT_EQ(MaskOfFirst(15), 0x7FFFu);
    EXPECT_EQ(MaskOfFirst(16), 0xFFFFu);
    EXPECT_EQ(MaskOfFirst(40), 0xFFFFu);
}

}  // namespace
}  // namespace taviro::protocol
