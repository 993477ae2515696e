#include "cli/time_text.h"

#include <cstdio>
#include <ctime>

#include "timeline/calendar.h"

namespace taviro::cli {

// "YYYY-MM-DD" with a day that the month has.
std::optional<Date> ParseDate(const std::string& text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || y < 1970 ||
        y > 2100 || m < 1 || m > 12 || d < 1 || d > timeline::DaysInMonth(y, m - 1)) {
        return std::nullopt;
    }
    return Date{y, m - 1, d - 1};
}

// "YYYY-MM-DDTHH:MM:SS", the recorder's wall clock, to its seconds.
std::optional<protocol::RecorderTime> ParseDateTime(const std::string& text) {
    const auto t = text.find('T');
    if (t == std::string::npos) {
        return std::nullopt;
    }
    const auto date = ParseDate(text.substr(0, t));
    int h = 0, m = 0, s = 0;
    char tail = 0;
    if (!date || std::sscanf(text.c_str() + t + 1, "%2d:%2d:%2d%c", &h, &m, &s, &tail) != 3 ||
        h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) {
        return std::nullopt;
    }
    const std::int64_t seconds =
        timeline::DayStart(date->year, date->month0, date->day0) + h * 3600 + m * 60 + s;
    if (seconds < 0 || seconds > 0x7FFFFFFF) {
        return std::nullopt;
    }
    return static_cast<protocol::RecorderTime>(seconds);
}

// The recorder's wall clock as the window shows it; `millis` >= 0 adds ".mmm".
std::string FormatTime(std::int64_t seconds, int millis) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (gmtime_r(&t, &tm) == nullptr) {
        return "?";
    }
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string out = text;
    if (millis >= 0) {
        std::snprintf(text, sizeof text, ".%03d", millis % 1000);
        out += text;
    }
    return out;
}

std::string ChannelList(protocol::ChannelMask mask, bool json) {
    std::string out;
    for (int c = 0; c < 32; ++c) {
        if ((mask >> c) & 1u) {
            if (!out.empty())
                out += json ? "," : " ";
            out += std::to_string(c + 1);
        }
    }
    return out;
}

}  // namespace taviro::cli
