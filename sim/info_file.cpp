#include "sim/info_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "sim/event_service.h"
#include "sim/log_service.h"

namespace taviro::sim {

namespace {

constexpr std::size_t kBlockAt[] = {64, 96};
constexpr std::size_t kBlockSize = 32;
constexpr std::size_t kDetailWithBlocks = 63;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> Split(std::string_view s, char by) {
    std::vector<std::string_view> out;
    for (;;) {
        const auto at = s.find(by);
        out.push_back(s.substr(0, at));
        if (at == std::string_view::npos) {
            return out;
        }
        s.remove_prefix(at + 1);
    }
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> out;
    for (auto w : Split(line, ' ')) {
        for (auto piece : Split(w, '\t')) {
            if (!piece.empty()) {
                out.push_back(piece);
            }
        }
    }
    return out;
}

std::string Quoted(std::string_view word) {
    // Hostile files: never echo more than a short, printable piece.
    std::string out;
    for (const char c : word.substr(0, 40)) {
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return "'" + out + (word.size() > 40 ? "...'" : "'");
}

// Decimal or 0x-prefixed hexadecimal, 32 bits.
std::optional<std::uint32_t> ParseWord(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<protocol::RecorderTime> ParseTime(std::string_view text) {
    if (text.find('T') != std::string_view::npos) {
        return ParseRecorderTime(text);
    }
    return ParseInt32(text);
}

// Hex digit pairs into `out`; false for odd, non-hex or too many digits.
bool ParseHex(std::string_view text, std::span<std::uint8_t> out) {
    if (text.size() % 2 != 0 || text.size() / 2 > out.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); i += 2) {
        std::uint8_t v = 0;
        const auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, v, 16);
        if (ec != std::errc() || end != text.data() + i + 2) {
            return false;
        }
        out[i / 2] = v;
    }
    return true;
}

template <std::size_t N>
bool SetText(std::array<std::uint8_t, N>& field, std::string_view text, std::size_t max) {
    if (text.size() > max) {
        return false;
    }
    std::memcpy(field.data(), text.data(), text.size());
    return true;
}

class CInfoParser {
  public:
    std::optional<InfoFileData> Parse(std::string_view text, std::string* error) {
        std::size_t lineNo = 0;
        while (!text.empty()) {
            ++lineNo;
            const auto newline = text.find('\n');
            const std::string_view line = text.substr(0, newline);
            text =
                newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
            std::string why;
            if (line.size() > kMaxInfoLine) {
                why = "longer than " + std::to_string(kMaxInfoLine) + " characters";
            } else {
                why = ParseLine(Trim(line));
            }
            if (!why.empty()) {
                if (error != nullptr) {
                    *error = "line " + std::to_string(lineNo) + ": " + why;
                }
                return std::nullopt;
            }
        }
        return std::move(m_data);
    }

  private:
    std::string ParseLine(std::string_view line) {
        if (line.empty() || line.front() == '#') {
            return {};
        }
        if (m_data.events.size() + m_data.log.size() >= kMaxInfoFileItems) {
            return "more than " + std::to_string(kMaxInfoFileItems) + " items";
        }
        const auto parts = Split(line, '|');
        const auto w = Words(parts[0]);
        if (w.empty()) {
            return "unknown item '' (event or log)";
        }
        if (w[0] == "event") {
            return parts.size() == 1 ? Event(w) : "an event has no '|' parts";
        }
        if (w[0] == "log") {
            return Log(w, std::span(parts).subspan(1));
        }
        return "unknown item " + Quoted(w[0]) + " (event or log)";
    }

    std::string Event(const std::vector<std::string_view>& w) {
        if (w.size() != 5) {
            return "an event is 'event KIND MASK START END'";
        }
        SimEvent e;
        if (w[1] == "alarm") {
            e.kind = kEventKindAlarm;
        } else if (w[1] == "motion") {
            e.kind = kEventKindMotion;
        } else if (w[1] == "audio") {
            e.kind = kEventKindAudio;
        } else if (const auto n = ParseUnsigned(w[1], 255)) {
            e.kind = static_cast<std::uint8_t>(*n);
        } else {
            return "bad kind " + Quoted(w[1]) + " (alarm, motion, audio or 0..255)";
        }
        const auto mask = ParseWord(w[2]);
        if (!mask) {
            return "bad mask " + Quoted(w[2]);
        }
        e.mask = *mask;
        const auto start = ParseTime(w[3]);
        const auto end = ParseTime(w[4]);
        if (!start || !end) {
            return "bad time " + Quoted(start ? w[4] : w[3]) +
                   " (YYYY-MM-DDTHH:MM:SS or signed seconds)";
        }
        e.start = *start;
        e.end = *end;
        m_data.events.push_back(e);
        return {};
    }

    std::string Log(const std::vector<std::string_view>& w,
                    std::span<const std::string_view> rest) {
        if (w.size() != 5 || rest.size() > 4) {
            return "a log entry is 'log KIND SUBTYPE TIME PARAM [| SHORT [| DETAIL [| PARAMS [| "
                   "OLD NEW]]]]'";
        }
        SimLogEntry e;
        static constexpr std::string_view kKinds[] = {"power", "record", "operation", "client",
                                                      "event"};
        for (std::size_t i = 0; i < std::size(kKinds); ++i) {
            if (w[1] == kKinds[i]) {
                e.kind = 1u << i;
            }
        }
        if (e.kind == 0) {
            const auto raw = w[1].substr(0, 2) == "0x" ? ParseWord(w[1]) : std::nullopt;
            if (!raw) {
                return "bad kind " + Quoted(w[1]) +
                       " (power, record, operation, client, event or a 0x bit set)";
            }
            e.kind = *raw;
        }
        if (w[2].substr(0, 2) == "0x") {
            const auto raw = ParseWord(w[2]);
            if (!raw) {
                return "bad sub-type " + Quoted(w[2]);
            }
            e.subType = *raw;
        } else if (const auto bit = ParseUnsigned(w[2], 31)) {
            e.subType = 1u << *bit;
        } else {
            return "bad sub-type " + Quoted(w[2]) + " (bit 0..31 or a 0x bit set)";
        }
        const auto time = ParseTime(w[3]);
        if (!time) {
            return "bad time " + Quoted(w[3]) + " (YYYY-MM-DDTHH:MM:SS or signed seconds)";
        }
        e.time = *time;
        const auto param = ParseWord(w[4]);
        if (!param) {
            return "bad param " + Quoted(w[4]);
        }
        e.param = *param;
        const bool blocks = rest.size() == 4;
        if (!rest.empty() && !SetText(e.shortText, Trim(rest[0]), kLogShortTextSize)) {
            return "the short text is at most 32 bytes";
        }
        const std::size_t detailMax = blocks ? kDetailWithBlocks : kLogDetailSize;
        if (rest.size() > 1 && !SetText(e.detail, Trim(rest[1]), detailMax)) {
            return "the detail is at most " + std::to_string(detailMax) + " bytes";
        }
        if (rest.size() > 2 && !ParseHex(Trim(rest[2]), e.params)) {
            return "bad params " + Quoted(Trim(rest[2])) + " (up to 16 bytes in hex)";
        }
        if (blocks) {
            const auto pair = Words(rest[3]);
            if (pair.size() != 2) {
                return "the setting blocks are 'OLD NEW' in hex";
            }
            for (std::size_t i = 0; i < 2; ++i) {
                if (!ParseHex(pair[i], std::span(e.detail).subspan(kBlockAt[i], kBlockSize))) {
                    return "bad setting block " + Quoted(pair[i]) + " (up to 32 bytes in hex)";
                }
            }
        }
        m_data.log.push_back(e);
        return {};
    }

    InfoFileData m_data;
};

}  // namespace

std::optional<InfoFileData> ParseInfoFile(std::string_view text, std::string* error) {
    return CInfoParser().Parse(text, error);
}

bool LoadInfoFile(SimConfig& config, std::string* error) {
    if (config.info_file.empty()) {
        return true;
    }
    const std::string& path = config.info_file;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = "info file " + path + ": " + why;
        }
        return false;
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
        if (text.size() > kMaxInfoFileSize) {
            return fail("larger than " + std::to_string(kMaxInfoFileSize) + " bytes");
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
    auto data = ParseInfoFile(text, &why);
    if (!data) {
        return fail(why);
    }
    if (!data->events.empty()) {
        config.events = std::move(data->events);
    }
    if (!data->log.empty()) {
        config.log_entries = std::move(data->log);
    }
    return true;
}

}  // namespace taviro::sim
