#include "sim/sim_config.h"

#include "sim/h264_stream_writer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <set>

namespace taviro::sim {

namespace {

std::optional<std::uint8_t> HexByte(char hi, char lo) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    const int h = nibble(hi);
    const int l = nibble(lo);
    if (h < 0 || l < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(h * 16 + l);
}

// Exactly `width` decimal digits.
std::optional<int> FixedDigits(std::string_view text, std::size_t width) {
    if (text.size() != width) {
        return std::nullopt;
    }
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        v = v * 10 + (c - '0');
    }
    return v;
}

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::int64_t DaysFromCivil(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int mp = (month + 9) % 12;
    const int doy = (153 * mp + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::int64_t>(era) * 146097 + doe - 719468;
}

std::vector<SimUser> EffectiveUsers(const SimConfig& config) {
    if (!config.users.empty()) {
        return config.users;
    }
    return {SimUser{"admin", "1234", {1, 1, 1, 1, 1, 1, 1, 1, 1}}};
}

protocol::HelloAck BuildHelloAck(const SimConfig& config) {
    protocol::HelloAck a;
    a.protocol_major_ver = config.protocol_major;
    a.protocol_minor_ver = config.protocol_minor;
    a.product_number = config.product_number;
    a.product_major_ver = config.product_major;
    a.product_minor_ver = config.product_minor;
    a.front_ver = config.front_ver;
    a.channel_num = config.channels;
    a.account = config.account;
    a.mac_address = config.mac;
    a.capabilities = config.capabilities;
    a.Key = config.key;
    a.webPort = config.web_port;
    const std::size_t n = std::min(config.firmware.size(), protocol::kFirmwareEntries);
    for (std::size_t i = 0; i < n; ++i) {
        const auto& name = config.firmware[i].name;
        std::memcpy(a.FirmName[i].data(), name.data(),
                    std::min(name.size(), protocol::kFirmNameSize));
        a.FirmVer[i] = config.firmware[i].built;
    }
    return a;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view text, std::uint64_t max) {
    if (text.empty() || text.size() > 20) {
        return std::nullopt;
    }
    std::uint64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size() || v > max) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    std::int32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<std::chrono::milliseconds> ParseSeconds(std::string_view text) {
    const auto dot = text.find('.');
    const auto whole = ParseUnsigned(text.substr(0, dot), 86'400 * 365);
    if (!whole) {
        return std::nullopt;
    }
    std::int64_t ms = static_cast<std::int64_t>(*whole) * 1000;
    if (dot != std::string_view::npos) {
        const auto frac = text.substr(dot + 1);
        if (frac.empty() || frac.size() > 3 || !ParseUnsigned(frac, 999)) {
            return std::nullopt;
        }
        std::int64_t f = static_cast<std::int64_t>(*ParseUnsigned(frac, 999));
        for (std::size_t i = frac.size(); i < 3; ++i) {
            f *= 10;
        }
        ms += f;
    }
    return std::chrono::milliseconds(ms);
}

std::optional<std::array<std::uint8_t, 6>> ParseMac(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 6> mac{};
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[3 * i - 1] != ':') {
            return std::nullopt;
        }
        const auto b = HexByte(text[3 * i], text[3 * i + 1]);
        if (!b) {
            return std::nullopt;
        }
        mac[i] = *b;
    }
    return mac;
}

std::optional<std::array<std::uint8_t, 8>> ParseKey(std::string_view text) {
    if (text.size() != 16) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 8> key{};
    for (std::size_t i = 0; i < 8; ++i) {
        const auto b = HexByte(text[2 * i], text[2 * i + 1]);
        if (!b) {
            return std::nullopt;
        }
        key[i] = *b;
    }
    return key;
}

std::optional<std::pair<std::uint8_t, std::uint8_t>> ParseVersion(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const auto major = ParseUnsigned(text.substr(0, dot), 255);
    const auto minor = ParseUnsigned(text.substr(dot + 1), 255);
    if (!major || !minor) {
        return std::nullopt;
    }
    return std::pair{static_cast<std::uint8_t>(*major), static_cast<std::uint8_t>(*minor)};
}

std::optional<protocol::RecorderTime> ParseRecorderTime(std::string_view text) {
    // YYYY-MM-DDTHH:MM:SS
    if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':') {
        return std::nullopt;
    }
    const auto year = FixedDigits(text.substr(0, 4), 4);
    const auto month = FixedDigits(text.substr(5, 2), 2);
    const auto day = FixedDigits(text.substr(8, 2), 2);
    const auto hour = FixedDigits(text.substr(11, 2), 2);
    const auto minute = FixedDigits(text.substr(14, 2), 2);
    const auto second = FixedDigits(text.substr(17, 2), 2);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    static constexpr int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*year < 1970 || *month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    const int monthDays = kMonthDays[*month - 1] + ((*month == 2 && IsLeap(*year)) ? 1 : 0);
    if (*day > monthDays) {
        return std::nullopt;
    }
    const std::int64_t t =
        DaysFromCivil(*year, *month, *day) * 86'400 + *hour * 3600 + *minute * 60 + *second;
    if (t > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<protocol::RecorderTime>(t);
}

std::optional<FirmwareEntry> ParseFirmware(std::string_view text) {
    const auto eq = text.rfind('=');
    if (eq == std::string_view::npos || eq == 0 || eq > protocol::kFirmNameSize) {
        return std::nullopt;
    }
    const auto time = ParseRecorderTime(text.substr(eq + 1));
    if (!time) {
        return std::nullopt;
    }
    return FirmwareEntry{std::string(text.substr(0, eq)), *time};
}

std::optional<std::array<std::uint8_t, kRightRows>> ParseRights(std::string_view text) {
    std::array<std::uint8_t, kRightRows> rights{};
    if (text == "all") {
        rights.fill(1);
        return rights;
    }
    if (text == "none") {
        return rights;
    }
    while (!text.empty()) {
        const auto comma = text.find(',');
        const auto row = ParseUnsigned(text.substr(0, comma), kRightRows - 1);
        if (!row) {
            return std::nullopt;
        }
        rights[*row] = 1;
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
        if (text.empty()) {
            return std::nullopt;  // a trailing comma is a typo, not "no more rows"
        }
    }
    return rights;
}

std::optional<SimUser> ParseUser(std::string_view text) {
    const auto first = text.find(':');
    if (first == std::string_view::npos || first == 0 || first > kCredentialWidth) {
        return std::nullopt;
    }
    SimUser user;
    user.name = std::string(text.substr(0, first));
    auto rest = text.substr(first + 1);
    const auto second = rest.find(':');
    if (second != std::string_view::npos) {
        const auto rights = ParseRights(rest.substr(second + 1));
        if (!rights) {
            return std::nullopt;
        }
        user.rights = *rights;
        rest = rest.substr(0, second);
    }
    if (rest.size() > kCredentialWidth) {
        return std::nullopt;
    }
    user.password = std::string(rest);
    return user;
}

std::optional<SimConfig::UnknownMessage> ParseUnknownMessage(std::string_view text) {
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const auto code = ParseUnsigned(text.substr(0, colon), 511);
    const auto length = ParseUnsigned(text.substr(colon + 1), 0xFFFF);
    if (!code || !length) {
        return std::nullopt;
    }
    return SimConfig::UnknownMessage{static_cast<std::uint16_t>(*code),
                                     static_cast<std::uint16_t>(*length)};
}

std::optional<std::uint16_t> ParseMask(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        if (text.empty() || text.size() > 4) {
            return std::nullopt;
        }
        std::uint16_t v = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 16);
        if (ec != std::errc() || end != text.data() + text.size()) {
            return std::nullopt;
        }
        return v;
    }
    const auto n = ParseUnsigned(text, 0xFFFF);
    if (!n) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(*n);
}

std::optional<std::pair<std::size_t, std::uint16_t>> ParseLiveMask(std::string_view text) {
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    const auto slot = ParseUnsigned(text.substr(0, eq), kLivePermissionSlots - 1);
    const auto mask = ParseMask(text.substr(eq + 1));
    if (!slot || !mask) {
        return std::nullopt;
    }
    return std::pair{static_cast<std::size_t>(*slot), *mask};
}

std::string ValidateConfig(const SimConfig& config) {
    if (config.live_stream && !IsH264PictureSizeAccepted(config.live_width, config.live_height)) {
        return "the live picture size is not one a recorder sends";
    }
    if (config.live_fps < 1 || config.live_gop < 1 || config.live_poc_step < 1 ||
        config.live_fragment_size < 1) {
        return "live frame rate, group length, order count step and fragment size must be positive";
    }
    if (config.titles.size() > 16) {
        return "at most 16 channel titles";
    }
    for (const auto& t : config.titles) {
        if (t.size() > 32) {
            return "channel titles are at most 32 bytes";
        }
    }
    if (config.database_size > kMaxDatabaseSize) {
        return "the settings database is at most 65531 bytes";
    }
    if (config.users.size() > kMaxUsers) {
        return "at most 27 users (the client keeps 27 user slots)";
    }
    std::set<std::string> names;
    for (const auto& u : config.users) {
        if (u.name.empty() || u.name.size() > kCredentialWidth ||
            u.password.size() > kCredentialWidth) {
            return "user names and passwords are 1..16 and 0..16 bytes";
        }
        if (!names.insert(Lower(u.name)).second) {
            return "user '" + u.name + "' is given twice (names compare without case)";
        }
    }
    if (config.firmware.size() > kMaxFirmwareEntries) {
        return "at most 20 firmware entries";
    }
    for (const auto& f : config.firmware) {
        if (f.name.empty() || f.name.size() > protocol::kFirmNameSize) {
            return "firmware names are 1..32 bytes";
        }
    }
    if (config.info_fragment_size < 1) {
        return "the month, day, event, log and status answers need a fragment size of at least 1";
    }
    if (config.events && config.events->size() > kMaxEvents) {
        return "at most 100000 events";
    }
    if (config.event_page_size < 1 || config.event_page_size > kMaxEventPageSize) {
        return "the event page size is 1..100000 records";
    }
    if (config.log_record_size > kMaxLogRecordSize) {
        return "the log record size is 0..4096 bytes";
    }
    const std::size_t entries = config.log_entries ? config.log_entries->size() : 1;
    if (entries > kMaxLogRecords || (config.log_records && *config.log_records > kMaxLogRecords)) {
        return "at most 100000 log records";
    }
    if (config.log_records && *config.log_records > 0 && entries == 0) {
        return "a log of records needs at least one log entry to take them from";
    }
    // Records below 8 bytes still carry their number and size word. The built-in log is
    // far below the bound at any record size.
    const std::size_t occupied = std::max<std::size_t>(config.log_record_size, 8);
    const std::size_t count = config.log_records   ? *config.log_records
                              : config.log_entries ? config.log_entries->size()
                                                   : 0;
    if (count * occupied > kMaxLogBytes) {
        return "the log answer is at most 32 MiB (records x record size)";
    }
    if (config.send_unknown.size() > kMaxUnknownMessages) {
        return "at most 64 --send-unknown messages";
    }
    return {};
}

}  // namespace taviro::sim
