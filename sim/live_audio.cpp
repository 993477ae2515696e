#include "sim/live_audio.h"

#include <cmath>

namespace taviro::sim {

namespace {

constexpr std::size_t kBlockSamples = 128;
constexpr std::size_t kBlockBytes = 48;

}  // namespace

double LiveAudioToneHz(int channel) {
    return 300.0 + 100.0 * channel;
}

void CLiveAudioSource::Blocks(protocol::ChannelMask mask, std::uint64_t index,
                              std::span<std::uint8_t> blocks) {
    std::size_t at = 0;
    std::array<std::int16_t, kBlockSamples> samples{};
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(mask, c))
            continue;
        if (blocks.size() - at < kBlockBytes)
            return;
        const double step = 2.0 * M_PI * LiveAudioToneHz(c) / kLiveAudioSampleRate;
        for (std::size_t i = 0; i < kBlockSamples; ++i) {
            // The phase from the sample number modulo one second keeps the argument small.
            const auto n = (index * kBlockSamples + i) % static_cast<std::uint64_t>(16000);
            samples[i] = static_cast<std::int16_t>(
                std::lround(m_amplitude * std::sin(step * static_cast<double>(n))));
        }
        m_encoders[static_cast<std::size_t>(c)].Encode(samples, blocks.subspan(at, kBlockBytes));
        at += kBlockBytes;
    }
}

void CLiveAudioSource::Reset() {
    for (auto& e : m_encoders)
        e.Reset();
}

}  // namespace taviro::sim
