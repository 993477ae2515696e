// The recording calendar without its window: the recorder's month and day records, the
// Gregorian arithmetic of the month pages, which month the calendar opens on, where the
// day buttons go and which of them can be chosen, and the day request.
//
// Everything here is a pure function over bytes the recorder sent: every record is read
// through an exact size, a trailing partial record is dropped, and nothing depends on the
// client's clock or zone (times are the recorder's wall clock counted as if UTC).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"

namespace taviro::timeline {

inline constexpr std::size_t kMonthInfoRecordSize = 376;
inline constexpr std::size_t kDayInfoRecordSize = 24;
inline constexpr int kFirstCalendarYear = 2000;
inline constexpr int kLastCalendarYear = 2037;

// One year of day flags: flag (month0, day0) is the byte at 4 + month0 * 31 + day0.
struct MonthInfoRecord {
    std::int32_t year = 0;
    std::array<std::uint8_t, 12 * 31> flags{};

    [[nodiscard]] bool Flag(int month0, int day0) const;
};

// Recording kinds of a stretch.
inline constexpr std::uint8_t kKindContinuous = 0x01;
inline constexpr std::uint8_t kKindEvent = 0x02;

struct DayInfoRecord {
    protocol::ChannelMask channels = 0;
    std::uint8_t kinds = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
};

// The records in a reply, in the recorder's order; a trailing partial record is dropped.
std::vector<MonthInfoRecord> ParseMonthInfo(std::span<const std::uint8_t> reply);
std::vector<DayInfoRecord> ParseDayInfo(std::span<const std::uint8_t> reply);

// Gregorian month length (month0 0..11); 0 for a month outside 0..11.
int DaysInMonth(int year, int month0);
// Weekday of the month's first day, 0 = Sunday.
int FirstWeekday(int year, int month0);
// The recorder time of 00:00:00 on that day (month0 0..11, day0 0..30).
std::int64_t DayStart(int year, int month0, int day0);

// Whether the month has recordings: a flag among its real days (a flag on the 31st of a
// 30-day month does not count).
bool MonthHasRecordings(const MonthInfoRecord& record, int month0);
// The record of `year`, or null.
const MonthInfoRecord* FindYear(std::span<const MonthInfoRecord> records, int year);

struct CalendarPage {
    int year = 0;
    int month0 = 0;
};
// The month the calendar opens on: from `currentYear` backwards (2000 wraps to 2037), the
// latest month with recordings of the first year that has one. Nothing after one full round
// of the years (then the operator is told (4, 0)). A current year outside 2000..2037 starts
// the round at 2037.
std::optional<CalendarPage> OpeningPage(std::span<const MonthInfoRecord> records, int currentYear);

// A day button of the month page, at the window's coordinates.
struct DayButton {
    int day0 = 0;  // 0-based day of the month; the label shows day0 + 1
    int x = 0;
    int y = 0;
    int width = 52;
    int height = 25;
    bool marked = false;  // holds recordings: clicking it asks for the day
};
std::vector<DayButton> LayoutDays(const MonthInfoRecord* record, int year, int month0);

// PLAY_INFO_DAY_REQ / TRANS_INFO_DAY_REQ: year (big-endian), month 1..12, day 1..31, 0, 0.
std::array<std::uint8_t, 8> DayRequestPayload(int year, int month0, int day0);

}  // namespace taviro::timeline
