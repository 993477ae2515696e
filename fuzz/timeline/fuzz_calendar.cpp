// The recorder's month and day lists as the calendar and the day timeline read them: any
// bytes make whole records only, the opening page is a month with recordings, every day
// button lies in the calendar's grid, and every stretch lies on the bar of a channel that
// is shown, at least a pixel wide.
//
// Input: byte 0 picks the list (even: month records, odd: day records), bytes 1-2 the
// current year offset and the view (drag ends), the rest is the answer as it arrived.
#include <cstddef>
#include <cstdint>
#include <span>

#include "../fuzz_check.h"
#include "timeline/calendar.h"
#include "timeline/timeline.h"

using namespace taviro::timeline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const std::span<const std::uint8_t> reply(data + 3, size - 3);
    if (data[0] % 2 == 0) {
        const auto months = ParseMonthInfo(reply);
        TAVIRO_FUZZ_CHECK(months.size() == reply.size() / kMonthInfoRecordSize);
        const int year = 1990 + data[1] % 60;  // also outside 2000..2037
        const auto page = OpeningPage(months, year);
        if (page) {
            const MonthInfoRecord* record = FindYear(months, page->year);
            TAVIRO_FUZZ_CHECK(record != nullptr);
            TAVIRO_FUZZ_CHECK(MonthHasRecordings(*record, page->month0));
            const auto days = LayoutDays(record, page->year, page->month0);
            TAVIRO_FUZZ_CHECK(static_cast<int>(days.size()) ==
                              DaysInMonth(page->year, page->month0));
            bool marked = false;
            for (const DayButton& d : days) {
                TAVIRO_FUZZ_CHECK(d.x >= 4 && d.x <= 6 * 57 + 4);
                TAVIRO_FUZZ_CHECK(d.y >= 107 && d.y <= 5 * 30 + 107);
                marked = marked || d.marked;
            }
            TAVIRO_FUZZ_CHECK(marked);
        }
        return 0;
    }
    const auto records = ParseDayInfo(reply);
    TAVIRO_FUZZ_CHECK(records.size() == reply.size() / kDayInfoRecordSize);
    // A view reached by a drag between two pixels the input picks, then zoomed out again.
    TimelineView view;
    view = ZoomToDrag(view, kTimelineLeft + data[1] % (kTimelinePixels + 1),
                      kTimelineLeft + data[2] % (kTimelinePixels + 1));
    if (data[0] & 2) {
        view = ZoomOut(view);
    }
    TAVIRO_FUZZ_CHECK(view.start >= 0 && view.end <= kDaySeconds && view.start < view.end);
    const auto shown = static_cast<taviro::protocol::ChannelMask>(data[1] << 8 | data[2]);
    const std::int64_t dayStart = 1286841600;  // 2010-10-12
    for (const TimelineStretch& s : LayoutStretches(records, dayStart, view, shown)) {
        TAVIRO_FUZZ_CHECK(s.channel >= 0 && s.channel < 16);
        TAVIRO_FUZZ_CHECK((shown >> s.channel) & 1u);
        TAVIRO_FUZZ_CHECK(s.x0 >= kTimelineLeft && s.x0 < kTimelineRight);
        TAVIRO_FUZZ_CHECK(s.x1 <= kTimelineRight + 1);
        TAVIRO_FUZZ_CHECK(s.x1 > s.x0);
    }
    return 0;
}
