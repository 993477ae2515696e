#include "recordings/event_list.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "platform/texts.h"
#include "protocol/byte_order.h"

namespace taviro::recordings {

const char* EventKindName(EventKind kind) {
    switch (kind) {
        case EventKind::Alarm:
            return "alarm";
        case EventKind::Motion:
            return "motion";
        case EventKind::Audio:
            return "audio";
    }
    return "";
}

std::optional<EventKind> EventKindFromName(const std::string& name) {
    for (const EventKind kind : kEventKinds) {
        if (name == EventKindName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

const char* EventKindLabel(EventKind kind) {
    switch (kind) {
        case EventKind::Alarm:
            return "Alarm";
        case EventKind::Motion:
            return "Motion";
        case EventKind::Audio:
            return "Audio";
    }
    return "";
}

std::array<std::uint8_t, 8> EventRequestPayload(EventKind kind, std::int32_t page) {
    std::array<std::uint8_t, 8> payload{};
    protocol::StoreBE32(payload.data(), static_cast<std::uint32_t>(kind));
    protocol::StoreBE32(payload.data() + 4, static_cast<std::uint32_t>(std::max(page, 0)));
    return payload;
}

EventReply ParseEventReply(std::span<const std::uint8_t> reply, bool paged) {
    EventReply out;
    if (paged) {
        // A header cut short would give a negative record count: nothing, page 0 of 0.
        if (reply.size() < kEventPageHeaderSize) {
            return out;
        }
        out.currentPage = static_cast<std::int32_t>(protocol::LoadBE32(reply.data() + 4));
        out.lastPage = static_cast<std::int32_t>(protocol::LoadBE32(reply.data() + 8));
        reply = reply.subspan(kEventPageHeaderSize);
    }
    const std::size_t count = std::min(reply.size() / kEventRecordSize, kMaxEventEntries);
    out.records.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* at = reply.data() + i * kEventRecordSize;
        EventRecord r;
        r.channels = protocol::LoadBE32(at);
        r.kind = at[4];
        r.start = static_cast<protocol::RecorderTime>(protocol::LoadBE32(at + 16));
        r.end = static_cast<protocol::RecorderTime>(protocol::LoadBE32(at + 20));
        out.records.push_back(r);
    }
    return out;
}

std::vector<EventEntry> NumberEvents(std::span<const EventRecord> records) {
    std::vector<EventEntry> entries;
    entries.reserve(records.size());
    int alarms = 0;
    int motions = 0;
    int audios = 0;
    for (const EventRecord& r : records) {
        EventEntry e{r, -1};
        switch (r.kind) {
            case static_cast<std::uint8_t>(EventKind::Alarm):
                e.number = ++alarms;
                break;
            case static_cast<std::uint8_t>(EventKind::Motion):
                e.number = ++motions;
                break;
            case static_cast<std::uint8_t>(EventKind::Audio):
                e.number = ++audios;
                break;
            default:
                break;
        }
        entries.push_back(e);
    }
    return entries;
}

std::string ChannelsText(protocol::ChannelMask mask) {
    std::string text;
    for (int channel = 0; channel < 32; ++channel) {
        if ((mask >> channel) & 1u) {
            char cell[8];
            std::snprintf(cell, sizeof cell, "%02d ", channel + 1);
            text += cell;
        }
    }
    return text;
}

std::vector<EventRow> EventRows(std::span<const EventEntry> entries, EventKind kind,
                                int dateOrder) {
    std::vector<EventRow> rows;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const EventEntry& e = entries[i];
        if (e.record.kind != static_cast<std::uint8_t>(kind)) {
            continue;  // received, but not of the kind the list shows
        }
        rows.push_back(EventRow{i, e.number, platform::DateTimeText(e.record.start, dateOrder),
                                ChannelsText(e.record.channels)});
    }
    return rows;
}

PagingDisplay Paging(std::int32_t currentPage, std::int32_t lastPage) {
    PagingDisplay d;
    if (lastPage <= 0) {
        return d;
    }
    d.visible = true;
    d.field = std::to_string(static_cast<std::int64_t>(currentPage) + 1);
    d.label = "/  " + std::to_string(static_cast<std::int64_t>(lastPage) + 1);
    return d;
}

std::optional<std::int32_t> CEventPager::PressKind(EventKind kind, bool busy) {
    if (busy || m_kind == kind) {
        return std::nullopt;  // the selected kind's button asks nothing again
    }
    m_kind = kind;
    m_page = 0;
    m_last = 0;
    return 0;
}

std::optional<std::int32_t> CEventPager::Previous(bool busy) {
    if (busy || !m_kind) {
        return std::nullopt;
    }
    m_page = m_page - 1 < 0 ? std::max(m_last, 0) : m_page - 1;
    return m_page;
}

std::optional<std::int32_t> CEventPager::Next(bool busy) {
    if (busy || !m_kind) {
        return std::nullopt;
    }
    m_page = m_page >= m_last ? 0 : m_page + 1;
    return m_page;
}

std::optional<std::int32_t> CEventPager::TypePage(int oneBased, bool busy) {
    if (busy || !m_kind || oneBased < 1 || oneBased - 1 > m_last) {
        return std::nullopt;
    }
    m_page = oneBased - 1;
    return m_page;
}

void CEventPager::Answered(std::int32_t currentPage, std::int32_t lastPage) {
    m_last = std::max(lastPage, 0);
    m_page = std::clamp(currentPage, 0, m_last);
}

PlayRequest EventPlayRequest(protocol::ChannelMask windowChannels, const EventRecord& event) {
    PlayRequest request;
    request.channels = windowChannels;
    request.kinds = event.kind < 32 ? 1u << event.kind : 0u;
    request.start = event.start;
    request.end = kEventPlayEnd;
    return request;
}

int EventKindGroup(std::uint8_t kind) {
    if (kind == static_cast<std::uint8_t>(EventKind::Motion)) {
        return 1;
    }
    if (kind == static_cast<std::uint8_t>(EventKind::Audio)) {
        return 2;
    }
    return 0;
}

EventBackupRange EventBackup(protocol::ChannelMask windowChannels, const EventRecord& event) {
    EventBackupRange range;
    range.channels = windowChannels;
    range.kinds = event.kind < 32 ? 1u << event.kind : 0u;
    range.start = event.start;
    // The recorder's times are 32-bit: an event in the last minute it can count ends there.
    const std::int64_t end = static_cast<std::int64_t>(event.start) + kEventBackupSeconds;
    range.end = static_cast<protocol::RecorderTime>(
        std::min<std::int64_t>(end, std::numeric_limits<protocol::RecorderTime>::max()));
    return range;
}

}  // namespace taviro::recordings
