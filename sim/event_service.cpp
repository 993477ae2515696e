#include "sim/event_service.h"

#include <algorithm>
#include <bit>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"
#include "sim/info_reply.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

// kind (4, big-endian), page index (4, big-endian).
constexpr std::size_t kEventRequestSize = 8;
// The general refusal of a request the recorder cannot read.
constexpr std::int32_t kBadRequest = 1;

struct Pattern {
    std::uint8_t kind;
    std::int64_t offset;  // seconds into the stretch of the first one
    std::int64_t period;
    std::int64_t length;
};

constexpr Pattern kPatterns[] = {
    {kEventKindAlarm, 60, 450, 45},
    {kEventKindMotion, 30, 240, 20},
    {kEventKindAudio, 150, 480, 10},
};

// The n-th channel (0-based, wrapping) of a non-empty mask.
int NthChannel(protocol::ChannelMask mask, std::size_t n) {
    const auto count = static_cast<std::size_t>(std::popcount(mask));
    n %= count;
    for (int channel = 0;; ++channel) {
        if ((mask & (protocol::ChannelMask{1} << channel)) != 0 && n-- == 0) {
            return channel;
        }
    }
}

}  // namespace

std::vector<SimEvent> DeriveEvents(const SimArchive& archive) {
    std::vector<SimEvent> out;
    for (const auto& s : archive.stretches) {
        const protocol::ChannelMask mask = s.mask & protocol::kAllChannels;
        if (mask == 0) {
            continue;
        }
        if ((s.kinds & kRecordEvent) != 0 && out.size() < kMaxEvents) {
            out.push_back({mask, kEventKindAlarm, s.start, s.end});
        }
        for (const auto& p : kPatterns) {
            std::size_t n = 0;
            for (std::int64_t t = s.start + p.offset; t < s.end && out.size() < kMaxEvents;
                 t += p.period, ++n) {
                const int channel = NthChannel(mask, n);
                protocol::ChannelMask eventMask = protocol::ChannelBit(channel);
                if (p.kind == kEventKindAlarm) {
                    eventMask |= protocol::ChannelBit(NthChannel(mask, n + 1));
                }
                const auto end = static_cast<protocol::RecorderTime>(
                    std::min(t + p.length, std::int64_t{s.end}));
                out.push_back({eventMask, p.kind, static_cast<protocol::RecorderTime>(t), end});
            }
        }
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const SimEvent& a, const SimEvent& b) { return a.start < b.start; });
    return out;
}

namespace {

// The records of `events` from `at` on, into room already filled with kDayInfoFiller.
void WriteRecords(std::span<const SimEvent> events, std::uint8_t* at) {
    for (const auto& e : events) {
        protocol::StoreBE32(at, e.mask);
        at[4] = e.kind;
        protocol::StoreBE32(at + 16, static_cast<std::uint32_t>(e.start));
        protocol::StoreBE32(at + 20, static_cast<std::uint32_t>(e.end));
        at += kEventInfoRecordSize;
    }
}

}  // namespace

std::vector<std::uint8_t> EventRecordBytes(std::span<const SimEvent> events) {
    std::vector<std::uint8_t> out(events.size() * kEventInfoRecordSize, kDayInfoFiller);
    WriteRecords(events, out.data());
    return out;
}

namespace {

std::vector<SimEvent> OfKind(std::span<const SimEvent> events, std::uint32_t kind) {
    std::vector<SimEvent> out;
    for (const auto& e : events) {
        if (e.kind == kind) {
            out.push_back(e);
        }
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> EventPageBytes(std::span<const SimEvent> events, std::uint32_t kind,
                                         std::uint32_t page, std::size_t pageSize) {
    pageSize = std::max<std::size_t>(pageSize, 1);
    const auto chosen = OfKind(events, kind);
    const std::size_t pages = chosen.empty() ? 1 : (chosen.size() + pageSize - 1) / pageSize;
    const std::size_t current = std::min<std::size_t>(page, pages - 1);
    const std::size_t first = current * pageSize;
    const std::size_t count = std::min(pageSize, chosen.size() - std::min(first, chosen.size()));
    const auto records = std::span<const SimEvent>(chosen).subspan(first, count);

    std::vector<std::uint8_t> out(kEventPageHeaderSize + count * kEventInfoRecordSize,
                                  kDayInfoFiller);
    protocol::StoreBE32(out.data(), static_cast<std::uint32_t>(chosen.size()));
    protocol::StoreBE32(out.data() + 4, static_cast<std::uint32_t>(current));
    protocol::StoreBE32(out.data() + 8, static_cast<std::uint32_t>(pages - 1));
    WriteRecords(records, out.data() + kEventPageHeaderSize);
    return out;
}

CEventService::CEventService(const SimConfig& config, const SimArchive& archive)
    : m_events(config.events ? *config.events : DeriveEvents(archive)),
      m_pageSize(std::max<std::size_t>(config.event_page_size, 1)),
      m_unpaged(config.event_unpaged),
      m_pieceSize(InfoPieceSize(config.info_fragment_size)),
      m_reason(config.event_reason) {}

bool CEventService::Handles(std::uint16_t code) const {
    return code == msg::EVENT_INFO_REQ;
}

void CEventService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& /*header*/,
                              std::span<const std::uint8_t> payload) {
    const std::uint16_t nack = m_unpaged ? msg::EVENT_INFO_NACK : msg::EVENT_INFO_NACK_BYPG;
    if (m_reason) {
        SendRefusal(connection, nack, *m_reason);
        return;
    }
    // Anything after the two words is not looked at.
    if (payload.size() < kEventRequestSize) {
        SendRefusal(connection, nack, kBadRequest);
        return;
    }
    const std::uint32_t kind = protocol::LoadBE32(payload.data());
    const std::uint32_t page = protocol::LoadBE32(payload.data() + 4);
    if (m_unpaged) {
        SendPieces(connection, msg::EVENT_INFO_ACK, EventRecordBytes(OfKind(m_events, kind)),
                   m_pieceSize);
        return;
    }
    SendPieces(connection, msg::EVENT_INFO_ACK_BYPG,
               EventPageBytes(m_events, kind, page, m_pageSize), m_pieceSize);
}

}  // namespace taviro::sim
