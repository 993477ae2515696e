#include "protocol/recorder_time.h"

#include <ctime>

#include "platform/trace.h"

namespace taviro::protocol {

ZoneOffset ComputeZoneOffset() {
    tzset();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    std::tm utc{};
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
    const std::time_t localAsLocal = std::mktime(&local);
    utc.tm_isdst = 0;
    const std::time_t utcAsLocal = std::mktime(&utc);
    return ZoneOffset::FromSeconds(static_cast<std::int64_t>(localAsLocal - utcAsLocal));
}

const ZoneOffset& ProcessZoneOffset() {
    static const ZoneOffset offset = ComputeZoneOffset();
    return offset;
}

bool GetTime_tToUsertime(RecorderTime time, UserTime* out) {
    if (time < 0 || out == nullptr) {
        platform::Trace("Error...GetTime_tToUsertime... time : %d\n", time);
        return false;
    }
    const std::time_t t = time;
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) {
        return false;
    }
    out->year = tm.tm_year + 1900;
    out->month = tm.tm_mon;
    out->day = tm.tm_mday - 1;
    out->hour = tm.tm_hour;
    out->minute = tm.tm_min;
    out->second = tm.tm_sec;
    return true;
}

RecorderTime ToRecorderTime(const UserTime& time, const ZoneOffset& offset) {
    std::tm tm{};
    tm.tm_year = time.year - 1900;
    tm.tm_mon = time.month;
    tm.tm_mday = time.day + 1;
    tm.tm_hour = time.hour;
    tm.tm_min = time.minute;
    tm.tm_sec = time.second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    std::int64_t result = static_cast<std::int64_t>(t);
    std::tm check{};
    if (localtime_r(&t, &check) != nullptr && check.tm_isdst > 0) {
        result += 3600;
    }
    result += offset.TotalSeconds();
    return static_cast<RecorderTime>(result);
}

RecorderTime ToRecorderTime(const UserTime& time) {
    return ToRecorderTime(time, ProcessZoneOffset());
}

std::int64_t LocalWallClockNow(const ZoneOffset& offset) {
    return static_cast<std::int64_t>(std::time(nullptr)) + offset.TotalSeconds();
}

}  // namespace taviro::protocol
