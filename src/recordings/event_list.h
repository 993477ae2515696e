// The recorder's event list without its window: the 24-byte event records of one kind
// (alarm, motion, audio), the page header of the paged answer, the numbering within a
// kind, the rows the list shows, the page controls, and the play and one-minute backup
// requests made from a chosen event.
//
// Pure functions and one small state class; every record is read through an exact size.
// Threads: the window's thread (the state), any thread (the functions).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"
#include "recordings/play_control.h"

namespace taviro::recordings {

inline constexpr std::size_t kEventRecordSize = 24;
inline constexpr std::size_t kEventPageHeaderSize = 12;
inline constexpr std::size_t kMaxEventEntries = 100'000;
inline constexpr std::int64_t kEventBackupSeconds = 60;

// The kinds the list filters by, with the recorder's numbers.
enum class EventKind : std::uint8_t { Alarm = 1, Motion = 2, Audio = 7 };
inline constexpr std::array<EventKind, 3> kEventKinds{EventKind::Alarm, EventKind::Motion,
                                                      EventKind::Audio};
// "alarm", "motion", "audio" (the command line's names) and back.
const char* EventKindName(EventKind kind);
std::optional<EventKind> EventKindFromName(const std::string& name);
// The kind button's label: "Alarm", "Motion", "Audio".
const char* EventKindLabel(EventKind kind);

struct EventRecord {
    protocol::ChannelMask channels = 0;
    std::uint8_t kind = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
};

struct EventReply {
    std::vector<EventRecord> records;
    std::int32_t currentPage = 0;  // 0-based; 0 for the whole (unpaged) answer
    std::int32_t lastPage = 0;     // the last page's index; 0 or less: a single page
};

// EVENT_INFO_REQ's payload: kind and page index, big-endian.
std::array<std::uint8_t, 8> EventRequestPayload(EventKind kind, std::int32_t page);
// A finished answer: `paged` for EVENT_INFO_ACK_BYPG (a 12-byte page header first; an
// answer shorter than that holds no records, page 0 of 0), else all bytes are records. A
// trailing partial record is dropped, and at most kMaxEventEntries are kept.
EventReply ParseEventReply(std::span<const std::uint8_t> reply, bool paged);

// One event of the list, numbered within its kind (1, 2, ...; -1 for other kinds).
struct EventEntry {
    EventRecord record;
    int number = -1;
};
std::vector<EventEntry> NumberEvents(std::span<const EventRecord> records);

// A row of the list: the entries of the selected kind only.
struct EventRow {
    std::size_t entry = 0;  // index into the entries
    int number = 0;
    std::string start;     // in the date order of the local settings
    std::string channels;  // "%02d " per channel, ascending, 1-based
};
std::vector<EventRow> EventRows(std::span<const EventEntry> entries, EventKind kind, int dateOrder);
// "01 03 16 ".
std::string ChannelsText(protocol::ChannelMask mask);

// The page controls: hidden for a single page; otherwise the field shows current + 1 and
// the label "/  %d" with last + 1.
struct PagingDisplay {
    bool visible = false;
    std::string field;
    std::string label;
};
PagingDisplay Paging(std::int32_t currentPage, std::int32_t lastPage);

// What a list asks next: a kind button, Prev, Next, or a typed page.
class CEventPager {
  public:
    // A kind button: the page request for (kind, 0), or nothing when the kind is already
    // selected or a request is outstanding.
    std::optional<std::int32_t> PressKind(EventKind kind, bool busy);
    // Prev and Next wrap around the pages; a typed page is 1-based and must exist. Each
    // gives the page to ask for, or nothing (no kind chosen yet, busy, out of range).
    std::optional<std::int32_t> Previous(bool busy);
    std::optional<std::int32_t> Next(bool busy);
    std::optional<std::int32_t> TypePage(int oneBased, bool busy);
    // An answer arrived (a refusal counts as page 0 of 0).
    void Answered(std::int32_t currentPage, std::int32_t lastPage);

    [[nodiscard]] std::optional<EventKind> Kind() const { return m_kind; }
    [[nodiscard]] std::int32_t Page() const { return m_page; }
    [[nodiscard]] std::int32_t LastPage() const { return m_last; }

  private:
    std::optional<EventKind> m_kind;
    std::int32_t m_page = 0;
    std::int32_t m_last = 0;
};

// Play from an event: the window's channels, the event's kind as a one-bit set (audio 7
// gives 0x80), the event's start, and the open end of event playback.
PlayRequest EventPlayRequest(protocol::ChannelMask windowChannels, const EventRecord& event);
// Which group the session remembers for a playing event: motion 1, audio 2, others 0.
int EventKindGroup(std::uint8_t kind);
// The one-minute backup of an event: [start, start + 60 s].
struct EventBackupRange {
    protocol::ChannelMask channels = 0;
    std::uint32_t kinds = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
};
EventBackupRange EventBackup(protocol::ChannelMask windowChannels, const EventRecord& event);

}  // namespace taviro::recordings
