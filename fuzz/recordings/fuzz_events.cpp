// The recorder's event list as the event page reads it: any bytes give whole records only,
// a paged answer too short for its header holds nothing, every listed row is of the chosen
// kind and numbered from 1 within it, and the page controls ask only for pages that exist.
//
// Input: byte 0 picks the form (bit 0: paged) and the kind (bits 1-2), byte 1 the date
// order and a page typed in; the rest is the answer as it arrived.
#include <cstddef>
#include <cstdint>
#include <span>

#include "../fuzz_check.h"
#include "recordings/event_list.h"

using namespace taviro::recordings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const bool paged = (data[0] & 1) != 0;
    const EventKind kind = kEventKinds[(data[0] >> 1) % kEventKinds.size()];
    const std::span<const std::uint8_t> reply(data + 2, size - 2);
    const EventReply answer = ParseEventReply(reply, paged);
    const std::size_t body =
        paged ? (reply.size() < kEventPageHeaderSize ? 0 : reply.size() - kEventPageHeaderSize)
              : reply.size();
    TAVIRO_FUZZ_CHECK(answer.records.size() == std::min(body / kEventRecordSize, kMaxEventEntries));
    const auto entries = NumberEvents(answer.records);
    int expected = 0;
    for (const EventRow& row : EventRows(entries, kind, data[1] % 3)) {
        TAVIRO_FUZZ_CHECK(row.entry < entries.size());
        TAVIRO_FUZZ_CHECK(entries[row.entry].record.kind == static_cast<std::uint8_t>(kind));
        TAVIRO_FUZZ_CHECK(row.number == ++expected);
        TAVIRO_FUZZ_CHECK(row.start.size() == 19);
        TAVIRO_FUZZ_CHECK(row.channels.size() % 3 == 0);
    }
    CEventPager pager;
    TAVIRO_FUZZ_CHECK(pager.PressKind(kind, false) == 0);
    pager.Answered(answer.currentPage, answer.lastPage);
    TAVIRO_FUZZ_CHECK(pager.Page() >= 0 && pager.Page() <= pager.LastPage());
    for (const auto page : {pager.Next(false), pager.Previous(false), pager.Previous(false),
                            pager.TypePage(data[1], false)}) {
        if (page) {
            TAVIRO_FUZZ_CHECK(*page >= 0 && *page <= pager.LastPage());
        }
    }
    const PagingDisplay paging = Paging(answer.currentPage, answer.lastPage);
    TAVIRO_FUZZ_CHECK(paging.visible == (answer.lastPage > 0));
    return 0;
}
