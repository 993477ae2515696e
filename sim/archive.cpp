#include "sim/archive.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "protocol/byte_order.h"
#include "sim/h264_stream_writer.h"
#include "sim/sim_config.h"

namespace taviro::sim {

namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr int kFirstYear = 1970;
constexpr int kLastYear = 2037;
constexpr std::size_t kFlagsPerMonth = 31;

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[month - 1] + ((month == 2 && IsLeap(year)) ? 1 : 0);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
            ++at;
        }
        const std::size_t begin = at;
        while (at < line.size() && line[at] != ' ' && line[at] != '\t') {
            ++at;
        }
        if (at > begin) {
            out.push_back(line.substr(begin, at - begin));
        }
    }
    return out;
}

std::optional<ArchiveDate> ParseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto year = ParseUnsigned(text.substr(0, 4), 9999);
    const auto month = ParseUnsigned(text.substr(5, 2), 99);
    const auto day = ParseUnsigned(text.substr(8, 2), 99);
    if (!year || !month || !day || *year < kFirstYear || *year > kLastYear || *month < 1 ||
        *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    return ArchiveDate{static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day)};
}

std::string Quoted(std::string_view word) {
    // Hostile files: never echo more than a short, printable piece.
    std::string out;
    for (const char c : word.substr(0, 40)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return "'" + out + (word.size() > 40 ? "...'" : "'");
}

std::string MaskText(protocol::ChannelMask mask) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(mask));
    return text;
}

class CArchiveParser {
  public:
    explicit CArchiveParser(const SimConfig& config)
        : m_archive(EmptyArchive(config)), m_channels(RecorderChannels(config)) {}

    std::optional<SimArchive> Parse(std::string_view text, std::string* error) {
        std::size_t lineNo = 0;
        while (!text.empty()) {
            ++lineNo;
            const auto newline = text.find('\n');
            std::string_view line = text.substr(0, newline);
            text =
                newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
            std::string why;
            if (line.size() > kMaxArchiveLine) {
                why = "longer than " + std::to_string(kMaxArchiveLine) + " characters";
            } else {
                if (const auto hash = line.find('#'); hash != std::string_view::npos) {
                    line = line.substr(0, hash);
                }
                if (!line.empty() && line.back() == '\r') {
                    line.remove_suffix(1);
                }
                why = ParseLine(Words(line));
            }
            if (!why.empty()) {
                if (error != nullptr) {
                    *error = "line " + std::to_string(lineNo) + ": " + why;
                }
                return std::nullopt;
            }
        }
        std::stable_sort(
            m_archive.stretches.begin(), m_archive.stretches.end(),
            [](const ArchiveStretch& a, const ArchiveStretch& b) { return a.start < b.start; });
        return std::move(m_archive);
    }

  private:
    std::string ParseLine(const std::vector<std::string_view>& w) {
        if (w.empty()) {
            return {};
        }
        if (w[0] == "stretch") {
            return Stretch(w);
        }
        if (w[0] == "flag") {
            return Flag(w);
        }
        if (w[0] == "channel") {
            return Channel(w);
        }
        return "unknown item " + Quoted(w[0]) + " (stretch, flag or channel)";
    }

    std::string Stretch(const std::vector<std::string_view>& w) {
        if (w.size() != 5) {
            return "a stretch is 'stretch MASK KINDS START END'";
        }
        if (m_archive.stretches.size() >= kMaxArchiveStretches) {
            return "more than " + std::to_string(kMaxArchiveStretches) + " stretches";
        }
        ArchiveStretch s;
        const auto mask = ParseMask(w[1]);
        if (!mask || *mask == 0) {
            return "bad channel mask " + Quoted(w[1]) + " (0x0001..0xFFFF)";
        }
        if ((*mask & ~m_channels) != 0) {
            return "mask " + MaskText(*mask) + " names channels the recorder does not have (" +
                   MaskText(m_channels) + ")";
        }
        s.mask = *mask;
        if (w[2] == "continuous") {
            s.kinds = kRecordContinuous;
        } else if (w[2] == "event") {
            s.kinds = kRecordEvent;
        } else if (w[2] == "both") {
            s.kinds = kRecordContinuous | kRecordEvent;
        } else {
            return "bad kinds " + Quoted(w[2]) + " (continuous, event or both)";
        }
        const auto start = ParseRecorderTime(w[3]);
        const auto end = ParseRecorderTime(w[4]);
        if (!start || !end) {
            return "bad time " + Quoted(start ? w[4] : w[3]) +
                   " (YYYY-MM-DDTHH:MM:SS, 1970 to 2037)";
        }
        if (*end <= *start) {
            return "the stretch ends before it starts";
        }
        s.start = *start;
        s.end = *end;
        m_archive.stretches.push_back(s);
        return {};
    }

    std::string Flag(const std::vector<std::string_view>& w) {
        if (w.size() != 2) {
            return "a flag is 'flag YYYY-MM-DD'";
        }
        if (m_archive.flags.size() >= kMaxArchiveFlags) {
            return "more than " + std::to_string(kMaxArchiveFlags) + " flags";
        }
        const auto date = ParseDate(w[1]);
        if (!date) {
            return "bad date " + Quoted(w[1]) + " (YYYY-MM-DD, 1970 to 2037, day 01..31)";
        }
        m_archive.flags.push_back(*date);
        return {};
    }

    std::string Channel(const std::vector<std::string_view>& w) {
        if (w.size() != 4 && w.size() != 5) {
            return "a channel is 'channel N WIDTHxHEIGHT FPS [audio]'";
        }
        const auto n = ParseUnsigned(w[1], protocol::kMaxChannels);
        if (!n || *n == 0 || !protocol::HasChannel(m_channels, static_cast<int>(*n) - 1)) {
            return "bad channel " + Quoted(w[1]) + " (1 to the recorder's channel count)";
        }
        const auto index = static_cast<std::size_t>(*n - 1);
        if ((m_seen & (1u << index)) != 0) {
            return "channel " + std::to_string(*n) + " is given twice";
        }
        m_seen |= 1u << index;
        const auto x = w[2].find('x');
        const auto width = ParseUnsigned(w[2].substr(0, x), 720);
        const auto height =
            x == std::string_view::npos ? std::nullopt : ParseUnsigned(w[2].substr(x + 1), 576);
        if (!width || !height ||
            !IsH264PictureSizeAccepted(static_cast<int>(*width), static_cast<int>(*height))) {
            return "bad picture size " + Quoted(w[2]) +
                   " (352x240, 352x288, or 704 or 720 by 240, 288, 480 or 576)";
        }
        const auto fps = ParseUnsigned(w[3], 60);
        if (!fps || *fps == 0) {
            return "bad frame rate " + Quoted(w[3]) + " (1..60)";
        }
        if (w.size() == 5 && w[4] != "audio") {
            return "unexpected " + Quoted(w[4]) + " (only 'audio' may follow the frame rate)";
        }
        ArchiveChannel& c = m_archive.channels[index];
        c.width = static_cast<int>(*width);
        c.height = static_cast<int>(*height);
        c.fps = static_cast<int>(*fps);
        c.audio = w.size() == 5;
        return {};
    }

    SimArchive m_archive;
    protocol::ChannelMask m_channels;
    std::uint32_t m_seen = 0;
};

}  // namespace

protocol::ChannelMask RecorderChannels(const SimConfig& config) {
    return protocol::MaskOfFirst(config.channels);
}

SimArchive EmptyArchive(const SimConfig& config) {
    SimArchive a;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        ArchiveChannel& ch = a.channels[static_cast<std::size_t>(c)];
        ch.width = config.live_width;
        ch.height = config.live_height;
        ch.fps = std::clamp(config.live_fps, 1, 60);
        ch.audio = protocol::HasChannel(config.audio_channels, c);
        const auto index = static_cast<std::size_t>(c);
        ch.title = index < config.titles.size() && !config.titles[index].empty()
                       ? config.titles[index].substr(0, 32)
                       : "CH" + std::to_string(c + 1);
    }
    return a;
}

SimArchive DefaultArchive(const SimConfig& config) {
    SimArchive a = EmptyArchive(config);
    const protocol::ChannelMask all = RecorderChannels(config);
    const auto at = [](int y, int mo, int d, int h, int mi) {
        return static_cast<protocol::RecorderTime>(DaysFromCivil(y, mo, d) * kSecondsPerDay +
                                                   h * 3600 + mi * 60);
    };
    const ArchiveStretch stretches[] = {
        {all, kRecordContinuous, at(2010, 10, 12, 8, 0), at(2010, 10, 12, 9, 30)},
        {0x0005u & all, kRecordEvent, at(2010, 10, 12, 12, 0), at(2010, 10, 12, 12, 5)},
        {all, kRecordContinuous, at(2010, 10, 12, 23, 30), at(2010, 10, 13, 0, 30)},
        {0x0002u & all, kRecordContinuous, at(2010, 10, 13, 14, 0), at(2010, 10, 13, 14, 10)},
        {all, kRecordContinuous, at(2011, 3, 5, 10, 0), at(2011, 3, 5, 10, 30)},
    };
    for (const auto& s : stretches) {
        if (s.mask != 0) {
            a.stretches.push_back(s);
        }
    }
    return a;
}

std::optional<SimArchive> ParseArchive(std::string_view text, const SimConfig& config,
                                       std::string* error) {
    return CArchiveParser(config).Parse(text, error);
}

std::optional<SimArchive> LoadArchive(const SimConfig& config, std::string* error) {
    if (!IsH264PictureSizeAccepted(config.live_width, config.live_height)) {
        if (error != nullptr) {
            *error = "the live picture size " + std::to_string(config.live_width) + "x" +
                     std::to_string(config.live_height) +
                     ", at which the channels record unless the archive says otherwise, is not "
                     "one the recorder encodes";
        }
        return std::nullopt;
    }
    if (config.archive_file.empty()) {
        return DefaultArchive(config);
    }
    const std::string& path = config.archive_file;
    auto fail = [&](const std::string& why) -> std::optional<SimArchive> {
        if (error != nullptr) {
            *error = "archive " + path + ": " + why;
        }
        return std::nullopt;
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        return fail(std::strerror(errno));
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        text.append(buffer, n);
        if (text.size() > kMaxArchiveFileSize) {
            return fail("larger than " + std::to_string(kMaxArchiveFileSize) + " bytes");
        }
        if (n < sizeof buffer) {
            if (std::ferror(file.get()) != 0) {
                return fail("read error");
            }
            break;
        }
    }
    if (text.find('\0') != std::string::npos) {
        return fail("not a text file");
    }
    std::string why;
    auto archive = ParseArchive(text, config, &why);
    if (!archive) {
        return fail(why);
    }
    return archive;
}

std::optional<protocol::RecorderTime> DayStart(int year, int month, int day) {
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return static_cast<protocol::RecorderTime>(DaysFromCivil(year, month, day) * kSecondsPerDay);
}

ArchiveDate DateOf(std::int64_t time) {
    // Civil from days (proleptic Gregorian).
    const std::int64_t z = FloorDiv(time, kSecondsPerDay) + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const auto day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const auto month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const auto year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    return ArchiveDate{year, month, day};
}

std::vector<std::uint8_t> MonthInfoBytes(const SimArchive& archive) {
    // Days touched by a stretch, as a difference array over the recorder's whole calendar,
    // so a stretch over decades costs no more than one over an hour.
    const std::int64_t firstDay = 0;
    const std::int64_t lastDay = DaysFromCivil(kLastYear, 12, 31);
    std::vector<std::int32_t> delta(static_cast<std::size_t>(lastDay - firstDay + 2), 0);
    for (const auto& s : archive.stretches) {
        const std::int64_t d0 = std::max(FloorDiv(s.start, kSecondsPerDay), firstDay);
        const std::int64_t d1 =
            std::min(FloorDiv(static_cast<std::int64_t>(s.end) - 1, kSecondsPerDay), lastDay);
        if (d0 > d1) {
            continue;
        }
        ++delta[static_cast<std::size_t>(d0 - firstDay)];
        --delta[static_cast<std::size_t>(d1 - firstDay + 1)];
    }
    std::map<int, std::array<std::uint8_t, 12 * kFlagsPerMonth>> years;
    auto mark = [&years](const ArchiveDate& d) {
        auto& flags = years[d.year];  // a new year starts all zero
        flags[static_cast<std::size_t>(d.month - 1) * kFlagsPerMonth +
              static_cast<std::size_t>(d.day - 1)] = 1;
    };
    std::int32_t running = 0;
    for (std::int64_t d = firstDay; d <= lastDay; ++d) {
        running += delta[static_cast<std::size_t>(d - firstDay)];
        if (running > 0) {
            mark(DateOf(d * kSecondsPerDay));
        }
    }
    for (const auto& f : archive.flags) {
        mark(f);
    }
    std::vector<std::uint8_t> out;
    out.reserve(years.size() * kMonthInfoRecordSize);
    for (const auto& [year, flags] : years) {
        std::uint8_t head[4];
        protocol::StoreBE32(head, static_cast<std::uint32_t>(year));
        out.insert(out.end(), head, head + 4);
        out.insert(out.end(), flags.begin(), flags.end());
    }
    return out;
}

std::vector<std::uint8_t> DayInfoBytes(const SimArchive& archive, int year, int month, int day) {
    std::vector<std::uint8_t> out;
    const auto start = DayStart(year, month, day);
    if (!start) {
        return out;
    }
    const std::int64_t dayBegin = *start;
    const std::int64_t dayEnd = dayBegin + kSecondsPerDay;
    for (const auto& s : archive.stretches) {
        if (s.start >= dayEnd || s.end <= dayBegin) {
            continue;
        }
        std::uint8_t record[kDayInfoRecordSize];
        std::memset(record, kDayInfoFiller, sizeof record);
        protocol::StoreBE32(record, s.mask);
        record[4] = s.kinds;
        protocol::StoreBE32(record + 16, static_cast<std::uint32_t>(s.start));
        protocol::StoreBE32(record + 20, static_cast<std::uint32_t>(s.end));
        out.insert(out.end(), record, record + sizeof record);
    }
    return out;
}

}  // namespace taviro::sim
