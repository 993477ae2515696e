// The local archive in the calendar's terms: the backup pairs' blocks as the month flags
// and day records the recorder's calendar and day timeline draw, and the events stored in
// the pairs as the event page lists them. Pure functions over what the reader returns.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "archive/backup_reader.h"
#include "timeline/calendar.h"

namespace taviro::archive {

// One record per year with recordings: every day from a stretch's start day to its end
// day (within the year) is flagged.
std::vector<timeline::MonthInfoRecord> MonthRecords(std::span<const ArchiveStretch> stretches);
// The stretches that touch the day (month0 0..11, day0 0..30), one record per channel.
std::vector<timeline::DayInfoRecord> DayRecords(std::span<const ArchiveStretch> stretches, int year,
                                                int month0, int day0);

// The event page's entries: alarm (1), motion (2) and audio (7) events of the pairs, in
// the pairs' time order, numbered from 1 within their kind.
struct LocalEvent {
    std::uint32_t mask = 0;
    std::uint8_t kind = 0;
    int number = 0;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};
inline constexpr std::size_t kMaxLocalEvents = 100'000;
// The events of the folder's type-3 pairs (the signature compared exactly), at most
// kMaxLocalEvents.
std::vector<LocalEvent> LocalEvents(const std::filesystem::path& folder);

}  // namespace taviro::archive
