#include "timeline/calendar.h"

#include "protocol/byte_order.h"

namespace taviro::timeline {

namespace {

constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

bool LeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1970-01-01 to the given date (proleptic Gregorian), valid for any year.
std::int64_t DaysFromCivil(std::int64_t y, int m1, int d1) {
    y -= m1 <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (m1 + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + d1 - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

bool MonthInfoRecord::Flag(int month0, int day0) const {
    if (month0 < 0 || month0 >= 12 || day0 < 0 || day0 >= 31) {
        return false;
    }
    return flags[static_cast<std::size_t>(month0 * 31 + day0)] != 0;
}

std::vector<MonthInfoRecord> ParseMonthInfo(std::span<const std::uint8_t> reply) {
    std::vector<MonthInfoRecord> records;
    records.reserve(reply.size() / kMonthInfoRecordSize);
    for (std::size_t at = 0; at + kMonthInfoRecordSize <= reply.size();
         at += kMonthInfoRecordSize) {
        MonthInfoRecord r;
        r.year = static_cast<std::int32_t>(protocol::LoadBE32(reply.data() + at));
        for (std::size_t i = 0; i < r.flags.size(); ++i) {
            r.flags[i] = reply[at + 4 + i];
        }
        records.push_back(r);
    }
    return records;
}

std::vector<DayInfoRecord> ParseDayInfo(std::span<const std::uint8_t> reply) {
    std::vector<DayInfoRecord> records;
    records.reserve(reply.size() / kDayInfoRecordSize);
    for (std::size_t at = 0; at + kDayInfoRecordSize <= reply.size(); at += kDayInfoRecordSize) {
        DayInfoRecord r;
        r.channels = protocol::LoadBE32(reply.data() + at);
        r.kinds = reply[at + 4];
        r.start = static_cast<protocol::RecorderTime>(protocol::LoadBE32(reply.data() + at + 16));
        r.end = static_cast<protocol::RecorderTime>(protocol::LoadBE32(reply.data() + at + 20));
        records.push_back(r);
    }
    return records;
}

int DaysInMonth(int year, int month0) {
    if (month0 < 0 || month0 >= 12) {
        return 0;
    }
    return month0 == 1 && LeapYear(year) ? 29 : kMonthLengths[month0];
}

int FirstWeekday(int year, int month0) {
    // 1970-01-01 was a Thursday (4).
    const std::int64_t days = DaysFromCivil(year, month0 + 1, 1);
    const std::int64_t weekday = (days % 7 + 7 + 4) % 7;
    return static_cast<int>(weekday);
}

std::int64_t DayStart(int year, int month0, int day0) {
    return DaysFromCivil(year, month0 + 1, day0 + 1) * 86400;
}

bool MonthHasRecordings(const MonthInfoRecord& record, int month0) {
    const int days = DaysInMonth(record.year, month0);
    for (int d = 0; d < days; ++d) {
        if (record.Flag(month0, d)) {
            return true;
        }
    }
    return false;
}

const MonthInfoRecord* FindYear(std::span<const MonthInfoRecord> records, int year) {
    for (const MonthInfoRecord& r : records) {
        if (r.year == year) {
            return &r;
        }
    }
    return nullptr;
}

std::optional<CalendarPage> OpeningPage(std::span<const MonthInfoRecord> records, int currentYear) {
    const int span = kLastCalendarYear - kFirstCalendarYear + 1;
    int year = currentYear < kFirstCalendarYear || currentYear > kLastCalendarYear
                   ? kLastCalendarYear
                   : currentYear;
    // One full round of the years, whatever the start.
    for (int n = 0; n < span; ++n) {
        if (const MonthInfoRecord* record = FindYear(records, year)) {
            for (int m = 11; m >= 0; --m) {
                if (MonthHasRecordings(*record, m)) {
                    return CalendarPage{year, m};
                }
            }
        }
        year = year == kFirstCalendarYear ? kLastCalendarYear : year - 1;
    }
    return std::nullopt;
}

std::vector<DayButton> LayoutDays(const MonthInfoRecord* record, int year, int month0) {
    std::vector<DayButton> buttons;
    const int days = DaysInMonth(year, month0);
    const int first = FirstWeekday(year, month0);
    for (int d = 0; d < days; ++d) {
        DayButton b;
        b.day0 = d;
        const int cell = first + d;
        b.x = (cell % 7) * 57 + 4;
        b.y = (cell / 7) * 30 + 107;
        b.marked = record != nullptr && record->Flag(month0, d);
        buttons.push_back(b);
    }
    return buttons;
}

std::array<std::uint8_t, 8> DayRequestPayload(int year, int month0, int day0) {
    std::array<std::uint8_t, 8> p{};
    protocol::StoreBE32(p.data(), static_cast<std::uint32_t>(year));
    p[4] = static_cast<std::uint8_t>(month0 + 1);
    p[5] = static_cast<std::uint8_t>(day0 + 1);
    return p;
}

}  // namespace taviro::timeline
