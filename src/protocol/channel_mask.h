// A channel selection: bit n (1 << n) for channel n, 0..15; sent as one big-endian word.
#pragma once

#include <bit>
#include <cstdint>

namespace taviro::protocol {

using ChannelMask = std::uint32_t;

inline constexpr int kMaxChannels = 16;
inline constexpr ChannelMask kAllChannels = 0x0000FFFFu;

constexpr ChannelMask ChannelBit(int channel) {
    return (channel >= 0 && channel < kMaxChannels) ? (ChannelMask{1} << channel) : 0u;
}
constexpr bool HasChannel(ChannelMask mask, int channel) {
    return (mask & ChannelBit(channel)) != 0;
}
constexpr int ChannelCount(ChannelMask mask) {
    return std::popcount(mask & kAllChannels);
}
// The lowest channel in the mask, or -1 when it holds none.
constexpr int FirstChannel(ChannelMask mask) {
    mask &= kAllChannels;
    return mask == 0 ? -1 : std::countr_zero(mask);
}
// Channels 0..count-1 (count clamped to 0..16).
constexpr ChannelMask MaskOfFirst(int count) {
    if (count <= 0)
        return 0;
    if (count >= kMaxChannels)
        return kAllChannels;
    return (ChannelMask{1} << count) - 1;
}

}  // namespace taviro::protocol
