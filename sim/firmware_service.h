// The recorder's firmware upgrade: FW_UPDATE_REQ (56 bytes: version at 4, component at 16,
// image name at 21) is checked (size, a component the firmware list has) and answered
// FW_UPDATE_ACK, or FW_UPDATE_NACK with the configured reason. The FW_DATA pieces that
// follow are collected; on the piece with the last-fragment flag the image's length and
// CRC-32 are journalled (event "fw-image", "component=K bytes=N crc=XXXXXXXX") and the
// recorder answers FW_DATA_RX_DONE then FW_UPDATE_DONE (or the configured failures).
// Scripted faults (sim_config.h): no answer, a late answer, a repeated answer, and the
// connection closed after the first piece.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::size_t kFwUpdateRequestBytes = 56;

// Lives on the simulator's server thread, one per connection (service.h).
class CFirmwareService final : public ISimService {
  public:
    explicit CFirmwareService(const SimConfig& config) : m_config(config) {}

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;
    void Poll(CSimConnection& connection) override;

  private:
    void OnUpdateRequest(CSimConnection& connection, std::span<const std::uint8_t> payload);
    void OnData(CSimConnection& connection, const protocol::PacketHeader& header,
                std::span<const std::uint8_t> payload);
    void Acknowledge(CSimConnection& connection);

    const SimConfig m_config;
    bool m_receiving = false;  // an image was accepted and its pieces are awaited
    std::uint8_t m_component = 0;
    std::uint64_t m_bytes = 0;
    std::uint32_t m_crc = 0;
    std::uint32_t m_pieces = 0;
    std::optional<std::chrono::steady_clock::time_point> m_ackAt;  // a late answer due
};

}  // namespace taviro::sim
