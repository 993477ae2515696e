// Pan-tilt-zoom on the simulated recorder. PTZ_CHANNEL_REQ (byte 0 the channel, byte 1 the
// panel mode) is answered with PTZ_CHANNEL_ACK, 4 bytes, byte 0 = 1 when a steerable
// camera is attached to that channel (ptz_channels), else 0. PTZ_MOVE_REQ (byte 0 the
// operation, bytes 1 and 3 the number's low and high byte) and PTZ_MOVE_STOP get no answer;
// each is written to the journal in readable form as a "ptz" event, e.g.
//   {"event":"ptz","why":"ch3 pan up"}  {"event":"ptz","why":"ch3 stop"}
// so that tests and scripts see what the camera was told without decoding bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

// The readable form of one PTZ_MOVE_REQ payload ("pan up", "preset-call 300", ...); a
// payload shorter than 4 bytes reads as "bad move (N bytes)".
std::string DescribePtzMove(std::span<const std::uint8_t> payload);

// Lives on the simulator's server thread, one per connection (service.h).
class CPtzService final : public ISimService {
  public:
    explicit CPtzService(const SimConfig& config)
        : m_steerable(config.ptz_channels), m_channels(config.channels) {}

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    std::uint16_t m_steerable;
    std::uint8_t m_channels;
    int m_channel = -1;  // the channel of the last PTZ_CHANNEL_REQ
};

}  // namespace taviro::sim
