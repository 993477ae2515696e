// The calendar and the day timeline as arithmetic: records out of hostile bytes, the month
// the calendar opens on, the day buttons, the day request, and the timeline's zoom, shift
// and stretches, with the edge cases of the recorder's records.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/byte_order.h"
#include "timeline/calendar.h"
#include "timeline/timeline.h"

namespace taviro::timeline {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes MonthRecord(int year, std::vector<std::pair<int, int>> days) {
    Bytes b(kMonthInfoRecordSize, 0);
    protocol::StoreBE32(b.data(), static_cast<std::uint32_t>(year));
    for (const auto& [month0, day0] : days)
        b[static_cast<std::size_t>(4 + month0 * 31 + day0)] = 1;
    return b;
}

Bytes DayRecord(protocol::ChannelMask mask, std::uint8_t kinds, std::int64_t start,
                std::int64_t end) {
    Bytes b(kDayInfoRecordSize, 0xEE);  // the unused bytes carry anything
    protocol::StoreBE32(b.data(), mask);
    b[4] = kinds;
    protocol::StoreBE32(b.data() + 16, static_cast<std::uint32_t>(start));
    protocol::StoreBE32(b.data() + 20, static_cast<std::uint32_t>(end));
    return b;
}

TEST(Calendar, RecordsComeWholeFromAnyReply) {
    Bytes reply = MonthRecord(2010, {{11, 30}});  // December 31: the record's last byte
    EXPECT_EQ(reply[375], 1);
    const Bytes second = MonthRecord(2011, {{0, 0}});
    reply.insert(reply.end(), second.begin(), second.end());
    reply.insert(reply.end(), 100, 0xFF);  // a partial third record
    const auto months = ParseMonthInfo(reply);
    ASSERT_EQ(months.size(), 2u);
    EXPECT_TRUE(months[0].Flag(11, 30));
    EXPECT_FALSE(months[0].Flag(12, 0));
    EXPECT_FALSE(months[0].Flag(-1, 0));
    EXPECT_EQ(months[1].year, 2011);
    EXPECT_TRUE(ParseMonthInfo(Bytes(375, 1)).empty());

    Bytes days = DayRecord(0x80000005, 3, 1286870400, 1286875800);
    days.push_back(1);
    const auto stretches = ParseDayInfo(days);
    ASSERT_EQ(stretches.size(), 1u);
    EXPECT_EQ(stretches[0].channels, 0x80000005u);
    EXPECT_EQ(stretches[0].kinds, 3);
    EXPECT_EQ(stretches[0].start, 1286870400);
    EXPECT_EQ(stretches[0].end, 1286875800);
}

TEST(Calendar, GregorianMonthsAndTheOpeningPage) {
    EXPECT_EQ(DaysInMonth(2000, 1), 29);
    EXPECT_EQ(DaysInMonth(2100, 1), 28);
    EXPECT_EQ(DaysInMonth(2012, 1), 29);
    EXPECT_EQ(DaysInMonth(2010, 8), 30);
    EXPECT_EQ(DaysInMonth(2010, 12), 0);
    EXPECT_EQ(FirstWeekday(2010, 0), 5);   // 2010-01-01 was a Friday
    EXPECT_EQ(FirstWeekday(2000, 1), 2);   // 2000-02-01 a Tuesday
    EXPECT_EQ(FirstWeekday(2037, 11), 2);  // 2037-12-01 a Tuesday
    EXPECT_EQ(DayStart(2010, 9, 11), 1286841600);

    // Only the 31st of September (a 30-day month): the month has no recordings.
    const auto september = ParseMonthInfo(MonthRecord(2010, {{8, 30}}));
    EXPECT_FALSE(MonthHasRecordings(september[0], 8));
    EXPECT_FALSE(OpeningPage(september, 2010));

    Bytes both = MonthRecord(2009, {{2, 4}, {6, 0}});
    const Bytes later = MonthRecord(2012, {{1, 28}});
    both.insert(both.end(), later.begin(), later.end());
    const auto records = ParseMonthInfo(both);
    // The latest month of the first year with recordings, searching backwards.
    const auto fromNow = OpeningPage(records, 2026);
    ASSERT_TRUE(fromNow);
    EXPECT_EQ(fromNow->year, 2012);
    EXPECT_EQ(fromNow->month0, 1);
    const auto from2011 = OpeningPage(records, 2011);
    ASSERT_TRUE(from2011);
    EXPECT_EQ(from2011->year, 2009);
    EXPECT_EQ(from2011->month0, 6);
    // From 2005 backwards 2000 wraps to 2037, down to 2012.
    EXPECT_EQ(OpeningPage(records, 2005)->year, 2012);
    // A clock outside 2000..2037 still searches one round, and it ends.
    EXPECT_EQ(OpeningPage(records, 2050)->year, 2012);
    EXPECT_EQ(OpeningPage(records, 1970)->year, 2012);
    EXPECT_FALSE(OpeningPage({}, 2050));
}

TEST(Calendar, DayButtonsFollowTheWeekdaysAndTheFlags) {
    const auto records = ParseMonthInfo(MonthRecord(2010, {{0, 0}, {0, 30}}));
    const auto buttons = LayoutDays(&records[0], 2010, 0);
    ASSERT_EQ(buttons.size(), 31u);
    // January 1, 2010 was a Friday: column 5 of the first row.
    EXPECT_EQ(buttons[0].x, 5 * 57 + 4);
    EXPECT_EQ(buttons[0].y, 107);
    EXPECT_TRUE(buttons[0].marked);
    EXPECT_EQ(buttons[2].x, 4);  // Sunday the 3rd starts the second row
    EXPECT_EQ(buttons[2].y, 137);
    EXPECT_TRUE(buttons[30].marked);
    EXPECT_FALSE(buttons[1].marked);
    EXPECT_EQ(buttons[30].y, 107 + 5 * 30);  // the 31st on the sixth row
    EXPECT_EQ(LayoutDays(nullptr, 2010, 1).size(), 28u);

    const auto p = DayRequestPayload(2010, 9, 11);
    EXPECT_EQ(p, (std::array<std::uint8_t, 8>{0x00, 0x00, 0x07, 0xDA, 10, 12, 0, 0}));
}

TEST(Timeline, PixelsTimesZoomAndShift) {
    const TimelineView day;
    EXPECT_EQ(PixelOfTime(day, 0), kTimelineLeft);
    EXPECT_EQ(PixelOfTime(day, 86399), kTimelineLeft + 287);
    EXPECT_EQ(PixelOfTime(day, -5000), kTimelineLeft);
    EXPECT_EQ(PixelOfTime(day, 999999), kTimelineRight);
    EXPECT_EQ(TimeOfPixel(day, kTimelineLeft + 100), 30000);
    EXPECT_EQ(TimeOfPixel(day, kTimelineRight), 86399);  // a selected time ends at 23:59:59

    // A drag of 300 s: a 288 s window at 1 s per pixel, from where the drag began.
    const TimelineView small = ZoomToDrag(day, kTimelineLeft + 100, kTimelineLeft + 101);
    EXPECT_EQ(small, (TimelineView{30000, 30288, 1}));
    EXPECT_EQ(ZoomToDrag(day, kTimelineLeft + 101, kTimelineLeft + 100),
              (TimelineView{30300 - 288, 30300, 1}));
    EXPECT_EQ(ZoomToDrag(small, kTimelineLeft, kTimelineLeft + 200), small) << "1 s per pixel";
    // At the day's edges.
    EXPECT_EQ(ZoomToDrag(TimelineView{83520, 86400, 10}, kTimelineRight - 10, kTimelineRight),
              (TimelineView{86112, 86400, 1}));
    const TimelineView fine{0, 2880, 10};
    EXPECT_EQ(ZoomToDrag(fine, kTimelineLeft + 20, kTimelineLeft), (TimelineView{0, 288, 1}));
    // Between 432 and 576 s: 576 s at 2 s per pixel; wider: whole seconds per pixel.
    EXPECT_EQ(ZoomToDrag(fine, kTimelineLeft + 10, kTimelineLeft + 60),
              (TimelineView{100, 676, 2}));
    EXPECT_EQ(ZoomToDrag(day, kTimelineLeft + 12, kTimelineLeft + 24),
              (TimelineView{3600, 7200, 12}));

    // A drag over the whole bar is the whole day again.
    EXPECT_EQ(ZoomToDrag(TimelineView{3600, 7200, 12}, kTimelineLeft, kTimelineRight),
              (TimelineView{3600, 7056, 12}));
    EXPECT_EQ(ZoomToDrag(day, kTimelineLeft, kTimelineRight), day);
    // Out: twice the span around the centre, within the day; the whole day stays.
    EXPECT_EQ(ZoomOut(day), day);
    EXPECT_EQ(ZoomOut(TimelineView{3600, 7200, 12}), (TimelineView{1800, 9000, 25}));
    EXPECT_EQ(ZoomOut(TimelineView{0, 288, 1}), (TimelineView{0, 576, 2}));
    // The wheel moves by one pixel's worth and keeps the span at the edges.
    EXPECT_EQ(Shift(TimelineView{100, 676, 2}, -120), (TimelineView{98, 674, 2}));
    EXPECT_EQ(Shift(TimelineView{0, 576, 2}, -120), (TimelineView{0, 576, 2}));
    EXPECT_EQ(Shift(TimelineView{85824, 86400, 2}, 120), (TimelineView{85824, 86400, 2}));
    EXPECT_EQ(StepSelected(day, 100, false), 0);
    EXPECT_EQ(StepSelected(day, 86300, true), 86399);
    EXPECT_EQ(StepSelected(small, 30010, true), 30011);
}

TEST(Timeline, StretchesOfTheDay) {
    const std::int64_t day = DayStart(2010, 9, 11);
    std::vector<DayInfoRecord> records = {
        {0x0003, kKindContinuous, static_cast<protocol::RecorderTime>(day - 600),
         static_cast<protocol::RecorderTime>(day + 3000)},  // from the day before
        {0x0001, kKindEvent, static_cast<protocol::RecorderTime>(day + 3300),
         static_cast<protocol::RecorderTime>(day + 3301)},  // a second: one pixel, no gap
        {0x0002, kKindContinuous | kKindEvent, static_cast<protocol::RecorderTime>(day + 86000),
         static_cast<protocol::RecorderTime>(day + 90000)},  // into the next day
        {0x0001, kKindContinuous, static_cast<protocol::RecorderTime>(day + 600),
         static_cast<protocol::RecorderTime>(day + 300)},  // ends before it starts
        {0x0001, kKindContinuous, static_cast<protocol::RecorderTime>(day + 90000),
         static_cast<protocol::RecorderTime>(day + 91000)},  // another day
        {0x0001, 0, static_cast<protocol::RecorderTime>(day),
         static_cast<protocol::RecorderTime>(day + 10)},  // no kind
        {0x0001, kKindContinuous, -5, static_cast<protocol::RecorderTime>(day + 10)},
    };
    const auto stretches = LayoutStretches(records, day, TimelineView{}, 0x0001 | 0x0002);
    ASSERT_EQ(stretches.size(), 4u);
    EXPECT_EQ(stretches[0].channel, 0);
    EXPECT_EQ(stretches[0].x0, kTimelineLeft);       // starts at 00:00:00
    EXPECT_EQ(stretches[0].x1, kTimelineLeft + 10);  // up to 3000 s, not including
    EXPECT_FALSE(stretches[0].event);
    EXPECT_EQ(stretches[1].channel, 1);
    // 3300 s is pixel 11, one after the previous end: drawn from the end on.
    EXPECT_EQ(stretches[2].channel, 0);
    EXPECT_TRUE(stretches[2].event);
    EXPECT_EQ(stretches[2].x0, kTimelineLeft + 10);
    EXPECT_EQ(stretches[2].x1, kTimelineLeft + 12);
    EXPECT_EQ(stretches[3].channel, 1);
    EXPECT_TRUE(stretches[3].event);
    EXPECT_EQ(stretches[3].x1, kTimelineLeft + 287);  // ends at 23:59:59

    // A view of 4500 s at 15 s per pixel shows 4320 s: a stretch beyond is not drawn past
    // the bar's last pixel.
    const std::vector<DayInfoRecord> late = {{0x1, kKindContinuous,
                                              static_cast<protocol::RecorderTime>(day + 4400),
                                              static_cast<protocol::RecorderTime>(day + 4450)}};
    EXPECT_TRUE(LayoutStretches(late, day, TimelineView{0, 4500, 15}, 0x1).empty());
    // A channel not shown draws nothing; a zoomed view skips what lies outside it.
    EXPECT_EQ(LayoutStretches(records, day, TimelineView{}, 0x0002).size(), 2u);
    EXPECT_EQ(LayoutStretches(records, day, TimelineView{40000, 40288, 1}, 0xFFFF).size(), 0u);
}

TEST(Timeline, PositionSliderSpansTheStretchAroundThePosition) {
    const std::int64_t day = DayStart(2010, 9, 11);
    const auto at = [day](int second) { return static_cast<protocol::RecorderTime>(day + second); };
    // 08:00-09:00 on channel 1 and 09:00-09:30 on channel 2 touch: one stretch. 12:00-12:05
    // (event, channel 1) stands alone; 23:30 runs into the next day; channel 3 is not played.
    const std::vector<DayInfoRecord> records = {
        {0x0001, kKindContinuous, at(8 * 3600), at(9 * 3600)},
        {0x0002, kKindContinuous, at(9 * 3600), at(9 * 3600 + 1800)},
        {0x0001, kKindEvent, at(12 * 3600), at(12 * 3600 + 300)},
        {0x0001, kKindContinuous, at(23 * 3600 + 1800), at(24 * 3600 + 1800)},
        {0x0004, kKindContinuous, at(0), at(86'399)},
    };
    struct Case {
        int position;
        SliderSpan span;
    };
    const Case cases[] = {
        {8 * 3600 + 1800, {8 * 3600, 9 * 3600 + 1800}},  // the joined stretch
        {9 * 3600 + 1800, {8 * 3600, 9 * 3600 + 1800}},  // its last second
        // Five minutes grow to ten around their middle.
        {12 * 3600 + 10, {12 * 3600 + 150 - 300, 12 * 3600 + 150 + 300}},
        // Past midnight the stretch is cut to the day.
        {23 * 3600 + 1900, {23 * 3600 + 1800, 86'399}},
        // Between stretches: an hour around the position.
        {10 * 3600, {10 * 3600 - 1800, 10 * 3600 + 1800}},
        // Near either end of the day the hour is pushed back inside it.
        {100, {0, 3600}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PositionSliderSpan(records, day, 0x0003, c.position), c.span)
            << "position " << c.position;
    }
    // No records known yet, or a position outside the day.
    EXPECT_EQ(PositionSliderSpan({}, day, 0x0003, 8 * 3600),
              (SliderSpan{6 * 3600 + 5400, 8 * 3600 + 1800}));
    EXPECT_EQ(PositionSliderSpan(records, day, 0x0003, -50), (SliderSpan{0, 3600}));
    EXPECT_EQ(PositionSliderSpan(records, day, 0x0002, 86'300),
              (SliderSpan{86'399 - 3600, 86'399}));
}

// Marks land inside what the shown channels recorded: a gap sends them to the nearer end,
// another channel's recording does not count, and a day without recordings keeps them.
TEST(Timeline, MarksAreClampedToTheRecordedStretches) {
    const std::int64_t day = DayStart(2010, 9, 11);
    const auto at = [day](int second) { return static_cast<protocol::RecorderTime>(day + second); };
    const std::vector<DayInfoRecord> records = {
        {0x0001, kKindContinuous, at(8 * 3600), at(9 * 3600)},
        {0x0001, kKindEvent, at(12 * 3600), at(12 * 3600 + 300)},
        {0x0004, kKindContinuous, at(0), at(86'399)},
        {0x0001, 0, at(10 * 3600), at(11 * 3600)},  // no kind: not a recording
    };
    EXPECT_EQ(ClampToRecorded(records, day, 0x1, 8 * 3600 + 5), 8 * 3600 + 5);
    EXPECT_EQ(ClampToRecorded(records, day, 0x1, 7 * 3600), 8 * 3600);
    EXPECT_EQ(ClampToRecorded(records, day, 0x1, 10 * 3600 + 10), 9 * 3600);
    EXPECT_EQ(ClampToRecorded(records, day, 0x1, 11 * 3600 + 10), 12 * 3600);
    EXPECT_EQ(ClampToRecorded(records, day, 0x1, 20 * 3600), 12 * 3600 + 300);
    EXPECT_EQ(ClampToRecorded(records, day, 0x4, 20 * 3600), 20 * 3600);
    EXPECT_EQ(ClampToRecorded(records, day, 0x2, 20 * 3600), 20 * 3600);

    // The calendar's shading: overlapping and repeated records count once, each second of a
    // record's ends included; a channel not asked for counts nothing.
    const std::vector<DayInfoRecord> share = {
        {0x0001, kKindContinuous, at(0), at(21'599)},
        {0x0002, kKindEvent, at(10'000), at(21'599)},
        {0x0001, kKindContinuous, at(43'200), at(86'399 + 3600)},  // into the next day
    };
    EXPECT_DOUBLE_EQ(RecordedShare(share, day, 0x3), 0.75);
    EXPECT_DOUBLE_EQ(RecordedShare(share, day, 0x2), 11'600.0 / 86'400);
    EXPECT_DOUBLE_EQ(RecordedShare(share, day, 0x4), 0.0);
}

}  // namespace
}  // namespace taviro::timeline
