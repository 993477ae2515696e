// Display texts by number for code without widgets (list rows, printed pages, the
// command-line client). Windows pass the skin pack's table; headless callers the copy of
// the default pack's "texts.txt" built into the program.
// Thread: any; the built-in table is parsed once and never changes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace taviro::platform {

// Text by number; empty when missing.
using TextLookup = std::function<std::string(int)>;

// The default skin pack's texts, built into the program.
const std::string& BuiltInText(int number);
TextLookup BuiltInTexts();
// The texts of "<folder>/texts.txt" when it loads, else the built-in ones.
TextLookup TextsFromFolder(const std::string& folder);

// A time in seconds since 1970 as a date and time, counted as UTC, in the date order of the
// local settings: 0 "YYYY-MM-DD hh:mm:ss", 1 "MM-DD-YYYY hh:mm:ss", 2 "DD-MM-YYYY hh:mm:ss".
// A negative time is shown as 0 (1970-01-01 00:00:00).
std::string DateTimeText(std::int64_t seconds, int order);
// "YYYY-MM-DDThh:mm:ss" (the scripts' form), negative times as 0.
std::string IsoDateTimeText(std::int64_t seconds);

// Calendar fields of a time counted as UTC (negative times as 0).
struct CivilTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};
CivilTime CivilFromSeconds(std::int64_t seconds);

}  // namespace taviro::platform
