// The recorder's month and day index, for both the playback and the backup side
// (PLAY_INFO_MONTH/DAY and TRANS_INFO_MONTH/DAY): which days of which years hold
// recordings, and which stretches record during a day, computed from the archive. Answers
// go out in pieces of the configured size (the split falls anywhere, not on record
// boundaries), the last piece flagged; an empty answer is one empty, flagged piece.
// Configured refusals answer with the request's NACK and the reason instead.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "sim/archive.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

class CSearchService final : public ISimService {
  public:
    CSearchService(const SimConfig& config, std::shared_ptr<const SimArchive> archive);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    void SendList(CSimConnection& connection, std::uint16_t code,
                  std::span<const std::uint8_t> bytes) const;

    std::shared_ptr<const SimArchive> m_archive;
    std::size_t m_fragmentSize;
    std::optional<std::int32_t> m_monthReason;
    std::optional<std::int32_t> m_dayReason;
};

}  // namespace taviro::sim
