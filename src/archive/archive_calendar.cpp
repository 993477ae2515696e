#include "archive/archive_calendar.h"

#include <algorithm>
#include <array>

namespace taviro::archive {

namespace {

constexpr std::int64_t kDay = 86'400;

struct Ymd {
    int year = 0;
    int month0 = 0;
    int day0 = 0;
};

Ymd DateOf(std::int64_t dayNumber) {
    // Days since 1970-01-01 to the civil date (proleptic Gregorian).
    std::int64_t z = dayNumber + 719'468;
    const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
    const std::int64_t doe = z - era * 146'097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    return Ymd{static_cast<int>(y), static_cast<int>(m - 1), static_cast<int>(d - 1)};
}

}  // namespace

std::vector<timeline::MonthInfoRecord> MonthRecords(std::span<const ArchiveStretch> stretches) {
    std::vector<timeline::MonthInfoRecord> years;
    const auto flag = [&](const Ymd& date) {
        auto it = std::find_if(years.begin(), years.end(),
                               [&](const auto& r) { return r.year == date.year; });
        if (it == years.end()) {
            years.push_back(timeline::MonthInfoRecord{date.year, {}});
            it = years.end() - 1;
        }
        it->flags[static_cast<std::size_t>(date.month0 * 31 + date.day0)] = 1;
    };
    for (const ArchiveStretch& s : stretches) {
        const std::int64_t first = s.start / kDay;
        const std::int64_t last = std::max<std::int64_t>(s.end, s.start) / kDay;
        // A stretch is at most a block long; the bound only guards against a hostile file.
        for (std::int64_t day = first; day <= last && day - first <= 366; ++day) {
            flag(DateOf(day));
        }
    }
    std::sort(years.begin(), years.end(),
              [](const auto& a, const auto& b) { return a.year < b.year; });
    return years;
}

std::vector<timeline::DayInfoRecord> DayRecords(std::span<const ArchiveStretch> stretches, int year,
                                                int month0, int day0) {
    const std::int64_t dayStart = timeline::DayStart(year, month0, day0);
    std::vector<timeline::DayInfoRecord> out;
    for (const ArchiveStretch& s : stretches) {
        if (static_cast<std::int64_t>(s.end) < dayStart ||
            static_cast<std::int64_t>(s.start) >= dayStart + kDay || s.channel < 0 ||
            s.channel > 15) {
            continue;
        }
        timeline::DayInfoRecord r;
        r.channels = 1u << s.channel;
        // Blocks without kind flags were recorded all the same: drawn as continuous.
        r.kinds = s.kinds != 0 ? s.kinds : timeline::kKindContinuous;
        r.start = static_cast<protocol::RecorderTime>(s.start);
        // The block's end is its last frame's second; the day records count to the end.
        r.end = static_cast<protocol::RecorderTime>(s.end + 1);
        out.push_back(r);
    }
    return out;
}

std::vector<LocalEvent> LocalEvents(const std::filesystem::path& folder) {
    auto files = ScanFolder(folder, true);
    std::stable_sort(files.begin(), files.end(), [](const IndexFile& a, const IndexFile& b) {
        return a.summary.earliest < b.summary.earliest;
    });
    std::vector<LocalEvent> out;
    std::array<int, 8> numbers{};
    for (const IndexFile& file : files) {
        CFile idx = CFile::OpenRead(file.idx);
        if (!idx.IsOpen()) {
            continue;
        }
        for (const IdxEvent& e : ReadEvents(idx)) {
            if (e.kind != 1 && e.kind != 2 && e.kind != 7) {
                continue;
            }
            if (out.size() >= kMaxLocalEvents) {
                return out;
            }
            out.push_back(LocalEvent{e.mask & 0xFFFFu, e.kind, ++numbers[e.kind], e.start, e.end});
        }
    }
    return out;
}

}  // namespace taviro::archive
