// Live view on the recorder's side. For now it takes the client's channel selection and
// acknowledges LIVE_STOP; the channel information and the video and audio stream are
// pushed from Poll() once the live stream is simulated.
#pragma once

#include <cstdint>
#include <span>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CLiveService final : public ISimService {
  public:
    explicit CLiveService(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

    // The channels the client asked for last (bit n = channel n); 0 while live is off.
    [[nodiscard]] std::uint32_t RequestedMask() const { return m_mask; }
    [[nodiscard]] bool LiveOn() const { return m_liveOn; }

  private:
    std::uint8_t m_channels;
    std::uint32_t m_mask = 0;
    bool m_liveOn = false;
};

}  // namespace taviro::sim
