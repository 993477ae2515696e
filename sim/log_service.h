// The recorder's remote log: LOG_INFO_REQ (no payload) is answered with the whole log in
// LOG_INFO_ACK pieces (info_reply.h), as records of one size, every word big-endian:
//
//   0 number (1, 2, ... in answer order)   4 size of every record   8 kind bit set
//   12 sub-type bit set   16 time (signed seconds)   20 param   24 detail (128 bytes)
//   152 short text (32 bytes)   184 params (16 bytes)
//
// A record of the configured size S occupies S bytes: cut short below 200, zeros beyond.
// Sizes below 8 state S but still occupy 8 bytes (number and size word). The records are
// the configured count taken in turn from the entries (SimConfig::log_entries or the
// built-in log below); every further pass over the entries moves their times on by whole
// days, past the last entry's day, so the times keep rising. A configured refusal is
// LOG_INFO_NACK with the reason. The interleave fault sends an unasked SYSTEM_INFO_ACK or
// STATUS_INFO_ACK (one flagged message each) right after the first piece of the log, or
// before the log when it is a single piece.
//
// The built-in log (53 records, 2010-10-11 07:58 to 2010-10-13 18:30, in time order) has
// every sub-type of every kind: power 0..2, record 0..4, operation 0..23, client 0..7 and
// event 0..4, with user names (admin, operator, guest), client addresses and setup items
// as texts. Notable records:
//   - operation 4 twice, its params bytes 0..5 naming changed setup items (the second
//     also sets byte 2 bit 3, which names nothing);
//   - operation 9 four times (an archive written: params byte 0 medium, 1 format, 2 and 3
//     channels 1..8 and 9..16, bytes 8..11 and 12..15 start and end, big-endian), with
//     media DVD-R, Removable Disk, PC and an unknown medium 8;
//   - operations 13..23 with old and new setting blocks at detail bytes 64..95 and
//     96..127; for 13 (camera 3) ten one-byte items and a 16-bit channel set, big-endian, at
//     block bytes 10..11 (old 0x0003, new 0x0107), items 0, 2, 4, 5 and 8 differing;
//   - event records whose param names channels, one with 0x8001 (channels 1 and 16), the
//     playable ones (sub-types 0..2) at times the default archive has recorded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::size_t kLogRecordSize = 200;

// Kind bits of a log record.
inline constexpr std::uint32_t kLogPower = 1u << 0;
inline constexpr std::uint32_t kLogRecord = 1u << 1;
inline constexpr std::uint32_t kLogOperation = 1u << 2;
inline constexpr std::uint32_t kLogClient = 1u << 3;
inline constexpr std::uint32_t kLogEvent = 1u << 4;

// The built-in log's entries, in time order.
std::vector<SimLogEntry> DefaultLog();

// One record in its full 200 bytes, with this number, size word and time.
std::array<std::uint8_t, kLogRecordSize> LogRecordBytes(const SimLogEntry& entry,
                                                        std::uint32_t number, std::uint32_t size,
                                                        protocol::RecorderTime time);

// The whole answer: `count` records of `size` taken in turn from `entries` (none when it is
// empty).
std::vector<std::uint8_t> LogBytes(std::span<const SimLogEntry> entries, std::size_t count,
                                   std::uint32_t size);
// The same for a configuration (its entries or the built-in log, its count and size).
std::vector<std::uint8_t> LogBytes(const SimConfig& config);

// The unasked SYSTEM_INFO_ACK of the interleave fault.
std::vector<std::uint8_t> SystemInfoBytes();

// Lives on the simulator's server thread, one per connection (service.h).
class CLogService final : public ISimService {
  public:
    explicit CLogService(const SimConfig& config);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    std::vector<SimLogEntry> m_entries;
    std::size_t m_count;
    std::uint32_t m_recordSize;
    std::size_t m_pieceSize;
    std::optional<std::int32_t> m_reason;
    LogInterleave m_interleave;
    std::vector<std::uint8_t> m_status;  // the interleaved status answer
};

}  // namespace taviro::sim
