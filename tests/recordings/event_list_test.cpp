// The event list's records, pages, numbering and requests, and the search window's Log and
// Info entries.
#include <gtest/gtest.h>

#include <vector>

#include "logs/info_messages.h"
#include "platform/message_sink.h"
#include "protocol/byte_order.h"
#include "recordings/backup_service.h"
#include "recordings/event_list.h"
#include "recordings/messages.h"
#include "recordings/search_model.h"

namespace taviro::recordings {
namespace {

std::vector<std::uint8_t> Record(std::uint32_t mask, std::uint8_t kind, std::uint32_t start,
                                 std::uint32_t end) {
    std::vector<std::uint8_t> r(kEventRecordSize, 0xEE);  // the unused bytes are noise
    protocol::StoreBE32(r.data(), mask);
    r[4] = kind;
    protocol::StoreBE32(r.data() + 16, start);
    protocol::StoreBE32(r.data() + 20, end);
    return r;
}

std::vector<std::uint8_t> Paged(std::int32_t current, std::int32_t last,
                                const std::vector<std::vector<std::uint8_t>>& records) {
    std::vector<std::uint8_t> out(kEventPageHeaderSize, 0);
    protocol::StoreBE32(out.data() + 4, static_cast<std::uint32_t>(current));
    protocol::StoreBE32(out.data() + 8, static_cast<std::uint32_t>(last));
    for (const auto& r : records)
        out.insert(out.end(), r.begin(), r.end());
    return out;
}

TEST(EventList, AnswersListNumberedEventsOfTheChosenKindOnly) {
    // 2010-10-12 08:00:00 = 1286870400.
    auto bytes = Paged(1, 2,
                       {Record(0x5, 2, 1286870400, 1286870430), Record(0x1, 1, 1286870500, 0),
                        Record(0x8001, 2, 1286870600, 0), Record(0x2, 7, 1286870700, 0)});
    bytes.push_back(0x42);  // a trailing partial record is dropped
    const EventReply reply = ParseEventReply(bytes, true);
    ASSERT_EQ(reply.records.size(), 4u);
    EXPECT_EQ(reply.currentPage, 1);
    EXPECT_EQ(reply.lastPage, 2);
    const auto entries = NumberEvents(reply.records);
    EXPECT_EQ(entries[0].number, 1);
    EXPECT_EQ(entries[1].number, 1) << "each kind counts on its own";
    EXPECT_EQ(entries[2].number, 2);
    EXPECT_EQ(entries[3].number, 1);
    const auto rows = EventRows(entries, EventKind::Motion, 0);
    ASSERT_EQ(rows.size(), 2u) << "received, but only motion events are listed";
    EXPECT_EQ(rows[0].start, "2010-10-12 08:00:00");
    EXPECT_EQ(rows[0].channels, "01 03 ");
    EXPECT_EQ(rows[1].channels, "01 16 ");
    EXPECT_EQ(EventRows(entries, EventKind::Motion, 2)[0].start, "12-10-2010 08:00:00");

    // The whole-list answer has no header; a paged answer cut inside its header holds
    // nothing (not a negative count).
    EXPECT_EQ(ParseEventReply(Record(1, 1, 5, 6), false).records.size(), 1u);
    for (std::size_t n : {0u, 1u, 11u}) {
        const EventReply cut = ParseEventReply(std::vector<std::uint8_t>(n, 0xFF), true);
        EXPECT_TRUE(cut.records.empty());
        EXPECT_EQ(cut.currentPage, 0);
        EXPECT_EQ(cut.lastPage, 0);
    }
}

TEST(EventList, PagesWrapAndTheSelectedKindAsksNothingAgain) {
    EXPECT_FALSE(Paging(0, 0).visible) << "a single page hides the page controls";
    EXPECT_FALSE(Paging(0, -3).visible);
    const PagingDisplay shown = Paging(1, 2);
    EXPECT_TRUE(shown.visible);
    EXPECT_EQ(shown.field, "2");
    EXPECT_EQ(shown.label, "/  3");

    CEventPager pager;
    EXPECT_FALSE(pager.Next(false)) << "no kind chosen yet";
    EXPECT_FALSE(pager.PressKind(EventKind::Motion, true)) << "busy";
    EXPECT_EQ(pager.PressKind(EventKind::Motion, false), 0);
    EXPECT_FALSE(pager.PressKind(EventKind::Motion, false)) << "already selected";
    pager.Answered(0, 2);
    EXPECT_EQ(pager.Previous(false), 2) << "before the first page comes the last";
    pager.Answered(2, 2);
    EXPECT_EQ(pager.Next(false), 0) << "after the last page comes the first";
    EXPECT_EQ(pager.TypePage(2, false), 1);
    EXPECT_FALSE(pager.TypePage(4, false)) << "no such page";
    EXPECT_FALSE(pager.TypePage(0, false));
    EXPECT_EQ(pager.PressKind(EventKind::Audio, false), 0) << "another kind starts at page 0";
    EXPECT_EQ(pager.LastPage(), 0);

    const auto payload = EventRequestPayload(EventKind::Audio, 3);
    EXPECT_EQ(protocol::LoadBE32(payload.data()), 7u);
    EXPECT_EQ(protocol::LoadBE32(payload.data() + 4), 3u);
}

TEST(EventList, PlayAndBackupFromAnEvent) {
    const EventRecord audio{0x4, 7, 1286870400, 1286870430};
    const PlayRequest play = EventPlayRequest(0xF, audio);
    EXPECT_EQ(play.channels, 0xFu) << "the window's channels, not the event's";
    EXPECT_EQ(play.kinds, 0x80u);
    EXPECT_EQ(play.start, 1286870400);
    EXPECT_EQ(play.end, 2145916799);
    EXPECT_EQ(EventPlayRequest(0xF, EventRecord{1, 2, 5, 6}).kinds, 0x4u);
    EXPECT_EQ(EventKindGroup(2), 1);
    EXPECT_EQ(EventKindGroup(7), 2);
    EXPECT_EQ(EventKindGroup(1), 0);

    const EventBackupRange range = EventBackup(0x3, audio);
    EXPECT_EQ(range.kinds, 0x80u);
    EXPECT_EQ(range.start, 1286870400);
    EXPECT_EQ(range.end, 1286870460);
    // TRANS_ON_REQ carries the event's kind (little-endian), not every kind of a range.
    const auto request =
        EncodeBackupRange(BackupRange{range.channels, range.start, range.end, range.kinds});
    EXPECT_EQ(protocol::LoadBE32(request.data()), 0x3u);
    EXPECT_EQ(request[4], 0x80u);
    EXPECT_EQ(request[5] | request[6] | request[7], 0);
    EXPECT_EQ(protocol::LoadBE32(request.data() + 16), 1286870400u);
    EXPECT_EQ(protocol::LoadBE32(request.data() + 20), 1286870460u);
    EXPECT_EQ(EncodeBackupRange(BackupRange{1, 5, 6})[4], 0x3Fu) << "a range: every kind";
    // The last minute the recorder can count does not wrap to a time before the start.
    const EventBackupRange last = EventBackup(0x3, EventRecord{1, 1, 2147483600, 0});
    EXPECT_EQ(last.end, 2147483647);
}

TEST(SearchModelLogs, LogAndInfoEntriesAskOnceAndShowTheViewThatAsked) {
    PendingSelection pending;
    CSearchModel m(SearchRights{}, &pending);
    m.Open();
    EXPECT_TRUE(m.PressLogEntry(0, false, false, true).ignored) << "the Log menu is not open";
    m.PressTab(SearchTab::Log, false);
    EXPECT_TRUE(m.PressLogEntry(3, true, false, true).ignored) << "busy";
    EXPECT_TRUE(m.PressLogEntry(kLogViewArchive, false, false, false).ignored)
        << "the Archive view needs the login";
    const auto ask = m.PressLogEntry(3, false, false, true);
    EXPECT_EQ(ask.request, SearchRequest::Log);
    const auto ready = m.OnReady(logs::WM_RECORDER_LOG_DONE);
    EXPECT_EQ(ready.page, SearchPage::LogView);
    EXPECT_EQ(ready.logView, 3) << "the view that asked, not always All";
    const auto held = m.PressLogEntry(5, false, true, true);
    EXPECT_EQ(held.request, SearchRequest::None) << "the log is held: no new request";
    EXPECT_EQ(held.logView, 5);

    // Reopened during a playback started from the log: shown from the kept copy.
    m.PlaybackStartedFromLog(std::make_shared<const std::vector<std::uint8_t>>(200, 0));
    CSearchModel again(SearchRights{}, &pending);
    EXPECT_EQ(again.Open().menu, SearchTab::Log);
    const auto kept = again.PressLogEntry(0, false, false, true);
    EXPECT_EQ(kept.request, SearchRequest::None);
    EXPECT_TRUE(kept.fromPending);

    m.PressTab(SearchTab::Info, false);
    EXPECT_EQ(m.PressInfoEntry(InfoEntry::System, false).page, SearchPage::SystemInfo);
    EXPECT_EQ(m.PressInfoEntry(InfoEntry::Status, false).request, SearchRequest::Status);
    m.PageCreated(SearchPage::StatusInfo);
    EXPECT_EQ(m.PressInfoEntry(InfoEntry::Status, false).page, SearchPage::StatusInfo);

    // An event answer goes to the side that asked.
    EXPECT_EQ(m.OnReady(recordings::WM_EVENT_PAGE_READY, 1).page, SearchPage::BackupEvents);
    EXPECT_EQ(m.OnReady(recordings::WM_EVENT_LIST_READY, 0).page, SearchPage::PlayEvents);
}

}  // namespace
}  // namespace taviro::recordings
