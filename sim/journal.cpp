#include "sim/journal.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "protocol/catalogue.h"

namespace taviro::sim {

namespace {

constexpr std::size_t kMaxLine = 1u << 20;

void AppendEscaped(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

// A reader for the flat objects the writer produces: string, number and literal values
// only, no nesting. Any deviation makes the whole line invalid.
class CLineParser {
  public:
    explicit CLineParser(std::string_view text) : m_text(text) {}

    std::optional<JournalEntry> Parse() {
        JournalEntry e;
        bool haveT = false;
        bool haveDir = false;
        bool haveCode = false;
        SkipSpace();
        if (!Take('{')) {
            return std::nullopt;
        }
        SkipSpace();
        if (!Take('}')) {
            for (;;) {
                SkipSpace();
                const auto key = String();
                SkipSpace();
                if (!key || !Take(':')) {
                    return std::nullopt;
                }
                SkipSpace();
                if (!Value(*key, e, haveT, haveDir, haveCode)) {
                    return std::nullopt;
                }
                SkipSpace();
                if (Take('}')) {
                    break;
                }
                if (!Take(',')) {
                    return std::nullopt;
                }
            }
        }
        SkipSpace();
        if (m_pos != m_text.size() || !haveT) {
            return std::nullopt;
        }
        // Either a message (direction and code) or an event, never half of one.
        if (e.event.empty() != (haveDir && haveCode)) {
            return std::nullopt;
        }
        return e;
    }

  private:
    bool Value(const std::string& key, JournalEntry& e, bool& haveT, bool& haveDir,
               bool& haveCode) {
        if (key == "t") {
            const auto v = Number();
            haveT = v.has_value();
            e.t = v.value_or(0.0);
            return haveT;
        }
        if (key == "code" || key == "length") {
            const auto v = Number();
            if (!v || *v < 0 || *v > 4294967295.0 || std::floor(*v) != *v) {
                return false;
            }
            if (key == "code") {
                haveCode = true;
                e.code = *v > 65535 ? -1 : static_cast<int>(*v);
                return e.code >= 0;
            }
            e.length = static_cast<std::uint32_t>(*v);
            return true;
        }
        if (m_pos < m_text.size() && m_text[m_pos] != '"') {
            // Literals and numbers under keys this reader does not know are skipped.
            if (key == "event" || key == "why" || key == "dir" || key == "name" ||
                key == "payload" || key == "fault") {
                return false;
            }
            return Literal() || Number().has_value();
        }
        const auto s = String();
        if (!s) {
            return false;
        }
        if (key == "event") {
            e.event = *s;
        } else if (key == "why") {
            e.why = *s;
        } else if (key == "name") {
            e.name = *s;
        } else if (key == "fault") {
            e.fault = *s;
        } else if (key == "dir") {
            if (*s == "rx") {
                e.dir = JournalDir::Rx;
            } else if (*s == "tx") {
                e.dir = JournalDir::Tx;
            } else {
                return false;
            }
            haveDir = true;
        } else if (key == "payload") {
            auto bytes = FromHex(*s);
            if (!bytes) {
                return false;
            }
            e.payload = std::move(*bytes);
        }
        return true;
    }

    void SkipSpace() {
        while (m_pos < m_text.size() &&
               (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\r')) {
            ++m_pos;
        }
    }
    bool Take(char c) {
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool Literal() {
        for (std::string_view lit : {"true", "false", "null"}) {
            if (m_text.substr(m_pos, lit.size()) == lit) {
                m_pos += lit.size();
                return true;
            }
        }
        return false;
    }
    std::optional<double> Number() {
        double v = 0;
        const char* begin = m_text.data() + m_pos;
        const char* end = m_text.data() + m_text.size();
        const auto [ptr, ec] = std::from_chars(begin, end, v);
        if (ec != std::errc() || ptr == begin || !std::isfinite(v)) {
            return std::nullopt;
        }
        m_pos += static_cast<std::size_t>(ptr - begin);
        return v;
    }
    std::optional<std::string> String() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return out;
            }
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_pos >= m_text.size()) {
                return std::nullopt;
            }
            const char esc = m_text[m_pos++];
            switch (esc) {
                case '"':
                case '\\':
                case '/':
                    out.push_back(esc);
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'u': {
                    if (m_pos + 4 > m_text.size()) {
                        return std::nullopt;
                    }
                    unsigned v = 0;
                    const auto [ptr, ec] =
                        std::from_chars(m_text.data() + m_pos, m_text.data() + m_pos + 4, v, 16);
                    if (ec != std::errc() || ptr != m_text.data() + m_pos + 4) {
                        return std::nullopt;
                    }
                    m_pos += 4;
                    // UTF-8 for the basic plane; the writer only escapes control bytes.
                    if (v < 0x80) {
                        out.push_back(static_cast<char>(v));
                    } else if (v < 0x800) {
                        out.push_back(static_cast<char>(0xC0 | (v >> 6)));
                        out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
                    } else {
                        out.push_back(static_cast<char>(0xE0 | (v >> 12)));
                        out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
                        out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
                    }
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;  // unterminated
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

}  // namespace

std::string ToHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0xF]);
    }
    return out;
}

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        unsigned v = 0;
        const char* begin = hex.data() + 2 * i;
        const auto [ptr, ec] = std::from_chars(begin, begin + 2, v, 16);
        if (ec != std::errc() || ptr != begin + 2) {
            return std::nullopt;
        }
        out[i] = static_cast<std::uint8_t>(v);
    }
    return out;
}

std::string FormatJournalLine(const JournalEntry& entry) {
    std::string out;
    out.reserve(96 + entry.payload.size() * 2);
    char t[48];
    std::snprintf(t, sizeof t, "{\"t\":%.6f", entry.t);
    out += t;
    if (entry.IsMessage()) {
        out += entry.dir == JournalDir::Rx ? ",\"dir\":\"rx\"" : ",\"dir\":\"tx\"";
        out += ",\"code\":" + std::to_string(entry.code);
        out += ",\"name\":";
        AppendEscaped(out, entry.name);
        out += ",\"length\":" + std::to_string(entry.length);
        out += ",\"payload\":\"";
        out += ToHex(entry.payload);
        out += '"';
        if (!entry.fault.empty()) {
            out += ",\"fault\":";
            AppendEscaped(out, entry.fault);
        }
    } else {
        out += ",\"event\":";
        AppendEscaped(out, entry.event);
        if (!entry.why.empty()) {
            out += ",\"why\":";
            AppendEscaped(out, entry.why);
        }
    }
    out += '}';
    return out;
}

std::optional<JournalEntry> ParseJournalLine(std::string_view line) {
    if (line.size() > kMaxLine) {
        return std::nullopt;
    }
    return CLineParser(line).Parse();
}

std::vector<JournalEntry> ReadJournal(const std::string& path) {
    std::vector<JournalEntry> out;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return out;
    }
    std::string line;
    bool overlong = false;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        std::string_view rest(chunk, n);
        while (!rest.empty()) {
            const auto nl = rest.find('\n');
            const auto piece = rest.substr(0, nl);
            if (!overlong) {
                if (line.size() + piece.size() > kMaxLine) {
                    overlong = true;
                    line.clear();
                } else {
                    line.append(piece);
                }
            }
            if (nl == std::string_view::npos) {
                break;
            }
            if (!overlong) {
                if (auto e = ParseJournalLine(line)) {
                    out.push_back(std::move(*e));
                }
            }
            line.clear();
            overlong = false;
            rest.remove_prefix(nl + 1);
        }
    }
    // A last line without its newline is still being written: left out on purpose.
    std::fclose(f);
    return out;
}

CJournal::CJournal(Clock::time_point start) : m_start(start) {}

CJournal::~CJournal() = default;

bool CJournal::OpenFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return false;
    }
    std::lock_guard lock(m_lock);
    m_file.reset(f);
    return true;
}

void CJournal::SetEcho(bool on) {
    std::lock_guard lock(m_lock);
    m_echo = on;
}

void CJournal::SetStart(Clock::time_point start) {
    std::lock_guard lock(m_lock);
    m_start = start;
}

void CJournal::Message(JournalDir dir, std::uint16_t code, std::uint32_t announcedLength,
                       std::span<const std::uint8_t> payload, std::string_view fault) {
    JournalEntry e;
    e.dir = dir;
    e.code = code;
    e.name = std::string(protocol::MessageName(code, dir == JournalDir::Rx
                                                         ? protocol::Direction::ClientToRecorder
                                                         : protocol::Direction::RecorderToClient));
    e.length = announcedLength;
    e.payload.assign(payload.begin(), payload.end());
    e.fault = std::string(fault);
    Add(std::move(e));
}

void CJournal::Event(std::string_view event, std::string_view why) {
    JournalEntry e;
    e.event = std::string(event);
    e.why = std::string(why);
    Add(std::move(e));
}

void CJournal::Add(JournalEntry entry) {
    std::lock_guard lock(m_lock);
    entry.t = std::chrono::duration<double>(Clock::now() - m_start).count();
    if (m_file || m_echo) {
        const std::string line = FormatJournalLine(entry) + '\n';
        if (m_file) {
            std::fwrite(line.data(), 1, line.size(), m_file.get());
            std::fflush(m_file.get());
        }
        if (m_echo) {
            std::fwrite(line.data(), 1, line.size(), stderr);
        }
    }
    if (m_entries.size() >= kMaxEntries) {
        // Keep the newest half; a long run must not grow without bound.
        m_entries.erase(m_entries.begin(),
                        m_entries.begin() + static_cast<std::ptrdiff_t>(kMaxEntries / 2));
    }
    m_entries.push_back(std::move(entry));
    m_changed.notify_all();
}

std::vector<JournalEntry> CJournal::Entries() const {
    std::lock_guard lock(m_lock);
    return m_entries;
}

bool CJournal::WaitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return predicate(m_entries); });
}

}  // namespace taviro::sim
