// The recorder's device side: right after login it pushes the records that describe it and
// its users (user lists with permissions, live permissions, channel titles and covert
// channels, camera flags, extra information, daylight saving, recording state, the settings
// database), and it answers recording on/off, database update, archive initialisation and
// reboot, each with an acknowledgement or, when configured, a refusal with that reason.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

// The pushed records for this configuration, byte-exact.
std::vector<std::uint8_t> BuildDbChangeRecord(const SimConfig& config);
// RIGHT_CHANGE (8 slots: users 0..7) or RIGHT_CHANGE2 (50 slots: users 6..).
std::vector<std::uint8_t> BuildRightsRecord(const SimConfig& config, bool second);
std::vector<std::uint8_t> BuildLivePermissionRecord(const SimConfig& config);
std::vector<std::uint8_t> BuildCamInfoRecord(const SimConfig& config);
// The settings database (a fixed pattern of database_size bytes) behind its CRC-32; the
// CRC is made wrong on purpose with database_bad_crc.
std::vector<std::uint8_t> BuildDatabaseUnit(const SimConfig& config);

class CDeviceService final : public ISimService {
  public:
    explicit CDeviceService(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;
    void OnLogin(CSimConnection& connection) override;

  private:
    // The acknowledgement, or the refusal with the configured reason.
    static void Answer(CSimConnection& connection, const std::optional<std::int32_t>& reason,
                       std::uint16_t ack, std::uint16_t nack,
                       std::span<const std::uint8_t> ackPayload = {});

    const SimConfig m_config;
    bool m_recording;
};

}  // namespace taviro::sim
