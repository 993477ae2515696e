// Times and channel sets as the command-line client reads and prints them: dates and times
// of the recorder's wall clock ("YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS", counted as UTC) and
// 1-based channel lists.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"

namespace taviro::cli {

struct Date {
    int year = 0;
    int month0 = 0;
    int day0 = 0;
};

// "YYYY-MM-DD" with a day that the month has.
std::optional<Date> ParseDate(const std::string& text);
// "YYYY-MM-DDTHH:MM:SS", the recorder's wall clock, to its seconds.
std::optional<protocol::RecorderTime> ParseDateTime(const std::string& text);
// The recorder's wall clock as the window shows it; `millis` >= 0 adds ".mmm".
std::string FormatTime(std::int64_t seconds, int millis = -1);
// "1 3 5", or "1,3,5" for JSON.
std::string ChannelList(protocol::ChannelMask mask, bool json);

}  // namespace taviro::cli
