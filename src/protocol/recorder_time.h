// Time as the recorder counts it: seconds since 1970 of its wall clock, encoded as if that
// wall clock were UTC. Times shown to the user are always the recorder's wall-clock time,
// whatever the client's zone.
#pragma once

#include <cstdint>

namespace taviro::protocol {

using RecorderTime = std::int32_t;

// The client's calendar form: month 0..11 and day 0..30 (day of the month minus one).
struct UserTime {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    friend bool operator==(const UserTime&, const UserTime&) = default;
};

// The client's standard-time offset from UTC, split into hours, minutes and seconds (each
// truncated toward zero, so they share the offset's sign).
struct ZoneOffset {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    [[nodiscard]] constexpr std::int64_t TotalSeconds() const {
        return static_cast<std::int64_t>(hours) * 3600 + minutes * 60 + seconds;
    }
    static constexpr ZoneOffset FromSeconds(std::int64_t offset) {
        const std::int64_t r = offset % 3600;
        return ZoneOffset{static_cast<int>(offset / 3600), static_cast<int>(r / 60),
                          static_cast<int>(r % 60)};
    }
    friend bool operator==(const ZoneOffset&, const ZoneOffset&) = default;
};

// Computes the offset of the zone in force (TZ) now. The program does this once at start;
// tests call it after changing TZ.
ZoneOffset ComputeZoneOffset();
// The offset computed on first use and kept for the life of the program.
const ZoneOffset& ProcessZoneOffset();

// Breaks a recorder time down as UTC. A negative time is not converted: `out` is left as it
// was and the result is false.
bool GetTime_tToUsertime(RecorderTime time, UserTime* out);

// Calendar fields typed by the user (the recorder's wall-clock time) to the recorder's
// seconds: interpreted in the local zone, then daylight saving and the zone offset added
// back, so the result equals the fields read as UTC in any zone.
RecorderTime ToRecorderTime(const UserTime& time, const ZoneOffset& offset);
RecorderTime ToRecorderTime(const UserTime& time);

// Now as local wall-clock seconds counted as if UTC (the local log's time stamps).
std::int64_t LocalWallClockNow(const ZoneOffset& offset);

}  // namespace taviro::protocol
