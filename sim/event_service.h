// The recorder's event search: EVENT_INFO_REQ (kind and page index, both big-endian words)
// is answered with the events of that kind, oldest first, as 24-byte event records:
//
//   0  channel mask (BE)   4  kind (1 alarm, 2 motion, 7 audio)   5..15  recorder's own
//   bookkeeping (0xA5, never zeros)   16  start (BE)   20  end (BE)
//
// Paged (the default): EVENT_INFO_ACK_BYPG with a 12-byte page header (0: how many events
// of the kind there are, which the client does not read; 4: the page index answered;
// 8: the last page index), then at most a page of records. A kind without events has one
// page, 0, holding no records. A page index beyond the last is answered with the last page
// (and its index), the way the recorder clamps a page typed by hand. Unpaged:
// EVENT_INFO_ACK with every event of the kind and no header; the page index is not read.
// Both go out in pieces (info_reply.h). A configured refusal, or a request shorter than 8
// bytes (reason 1), is answered with EVENT_INFO_NACK_BYPG or EVENT_INFO_NACK, whichever
// form the recorder uses.
//
// The events are SimConfig::events when given, else derived from the archive: each
// recorded stretch holds, on its channels in turn,
//
//   alarm   every 450 s from 60 s into the stretch, 45 s long
//   motion  every 240 s from 30 s in, 20 s long
//   audio   every 480 s from 150 s in, 10 s long
//
// (cut at the stretch's end), and an event-recording stretch is also one alarm on all its
// channels over the whole stretch, the alarm that started it. Alarms name two channels
// (the stretch's next one too, when it has more than one), motion and audio one. So every
// event lies in a recording and can be played. The default archive gives 28 alarms,
// 51 motion and 25 audio events: with the default 20 records a page, 2, 3 and 2 pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "sim/archive.h"
#include "sim/service.h"
#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::size_t kEventInfoRecordSize = 24;
inline constexpr std::size_t kEventPageHeaderSize = 12;
inline constexpr std::uint8_t kEventKindAlarm = 1;
inline constexpr std::uint8_t kEventKindMotion = 2;
inline constexpr std::uint8_t kEventKindAudio = 7;

// The events the recorder reports for an archive (above), in start order; at most
// kMaxEvents.
std::vector<SimEvent> DeriveEvents(const SimArchive& archive);

// The records of `events` in that order.
std::vector<std::uint8_t> EventRecordBytes(std::span<const SimEvent> events);

// A paged answer: header and records of page `page` (clamped to the last) of the events of
// `kind`, `pageSize` (at least 1) records a page.
std::vector<std::uint8_t> EventPageBytes(std::span<const SimEvent> events, std::uint32_t kind,
                                         std::uint32_t page, std::size_t pageSize);

// Lives on the simulator's server thread, one per connection (service.h).
class CEventService final : public ISimService {
  public:
    CEventService(const SimConfig& config, const SimArchive& archive);

    [[nodiscard]] bool Handles(std::uint16_t code) const override;
    void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                   std::span<const std::uint8_t> payload) override;

  private:
    std::vector<SimEvent> m_events;
    std::size_t m_pageSize;
    bool m_unpaged;
    std::size_t m_pieceSize;
    std::optional<std::int32_t> m_reason;
};

}  // namespace taviro::sim
