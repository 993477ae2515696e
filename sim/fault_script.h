// Faults the simulated recorder plays on purpose, so that the client's handling of broken
// recorders can be tested: closing at a chosen moment, stalling in the middle of a
// payload, unknown codes, a header that lies about its length, an unasked goodbye.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

// The stall: a SYS_ETC_INFO header announcing its full 320 bytes, then only the first 160.
inline constexpr std::uint16_t kStallCode = 259;
inline constexpr std::uint16_t kStallAnnounced = 320;
inline constexpr std::uint16_t kStallSent = 160;
// The lie: a SYS_NOTICE header announcing 32 bytes followed by only 8, then a proper
// 12-byte SYS_NOTICE, whose header a client that trusts the length reads as payload.
inline constexpr std::uint16_t kLyingCode = 257;
inline constexpr std::uint16_t kLyingAnnounced = 32;
inline constexpr std::uint16_t kLyingSent = 8;
inline constexpr std::uint16_t kLyingNextLength = 12;

// How a connection cut by the drop fault ends (its close event in the journal).
inline constexpr const char* kDropReason = "drop";

// The payload of the scripted messages: byte i is i modulo 256, easy to recognise in a
// hex dump and in tests.
std::vector<std::uint8_t> PatternBytes(std::size_t length);

class CFaultScript final : public ISimService {
  public:
    explicit CFaultScript(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t /*code*/) const override { return false; }
    void OnMessage(CSimConnection& /*connection*/, const protocol::PacketHeader& /*header*/,
                   std::span<const std::uint8_t> /*payload*/) override {}
    void Poll(CSimConnection& connection) override;

  private:
    void Fire(CSimConnection& connection);

    SimConfig m_config;
    bool m_fired = false;
};

}  // namespace taviro::sim
