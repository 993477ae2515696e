// The simulated recorder's live audio: one tone per channel, G.726 encoded block by block.
//
// Channel c sounds at 300 + 100 x c Hz. The client plays every two consecutive decoded
// samples as one stereo frame at 8,000 frames per second, i.e. 16,000 samples a second per
// channel, so the tone is generated at that rate and 125 blocks of 128 samples go out every
// second. Each channel keeps its own encoder state across blocks, as a recorder's encoder
// does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "audio/g726.h"
#include "protocol/channel_mask.h"

namespace taviro::sim {

inline constexpr std::uint32_t kLiveAudioBlocksPerSecond = 125;
inline constexpr double kLiveAudioSampleRate = 16000.0;

// The tone of channel c (0..15).
double LiveAudioToneHz(int channel);

class CLiveAudioSource {
  public:
    explicit CLiveAudioSource(std::int16_t amplitude = 8000) : m_amplitude(amplitude) {}

    // Writes the 48-byte block `index` of each channel of `mask`, in ascending channel
    // order, into `blocks` (48 x channels of the mask bytes). Blocks are meant to be asked
    // for in order; a channel's tone phase follows the block index either way.
    void Blocks(protocol::ChannelMask mask, std::uint64_t index, std::span<std::uint8_t> blocks);
    // A new stream: every encoder starts from its reset state.
    void Reset();

  private:
    std::int16_t m_amplitude;
    std::array<audio::CG726Encoder, protocol::kMaxChannels> m_encoders;
};

}  // namespace taviro::sim
