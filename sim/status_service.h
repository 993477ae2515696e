// The recorder's status: STATUS_INFO_REQ (no payload) is answered with STATUS_INFO_ACK
// carrying the 56-byte StatusInfo, every multi-byte field big-endian:
//
//   0  reserved word 0x0000A5A5   4  reserved word 0x5A5A0000 (neither shown by a client)
//   8  disk total (MB)   12  disk part in use (MB)
//   16 group A present, 20 value, 24 state: one byte per device, four devices
//   28 group B present, 32 value, 36 state: one byte per device, two devices, each field
//      followed by two unused bytes (0xA5)
//   40 recording mode, one byte per channel 0..15
//
// or, configured, the short form: the first 16 bytes only. The answer goes out in pieces
// (info_reply.h); a configured refusal is STATUS_INFO_NACK with the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::size_t kStatusInfoSize = 56;
inline constexpr std::size_t kShortStatusInfoSize = 16;

// The answer's bytes for this configuration (56, or 16 with status_short).
std::vector<std::uint8_t> StatusBytes(const SimConfig& config);

// Lives on the simulator's server thread, one per connection (service.h).
class CStatusService final : public ISimService {
  public:
    explicit CStatusService(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_pieceSize;
    std::optional<std::int32_t> m_reason;
};

}  // namespace taviro::sim
