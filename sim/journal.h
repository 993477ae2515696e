// The simulator's record of everything that crossed the wire: one JSON object per line,
//   {"t":1.234567,"dir":"rx","code":1,"name":"HELLO","length":32,"payload":"61646d..."}
// for each message in either direction (rx = received from the client), and
//   {"t":0.5,"event":"accept"}  {"t":2.0,"event":"close","why":"goodbye"}
// for connection events. Every line is flushed as it is written so that tests and scripts
// can read the file while the simulator runs; the same entries are kept in memory for
// in-process tests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::sim {

enum class JournalDir : std::uint8_t { None, Rx, Tx };

struct JournalEntry {
    double t = 0.0;
    // Connection event ("accept", "close", "login", "fault"); empty for messages.
    std::string event;
    std::string why;  // close reason, login user, fault name
    JournalDir dir = JournalDir::None;
    int code = -1;
    std::string name;
    // The length the header announced. Normally the payload's size; a fault that lies
    // about the length records the announced value here and the bytes really sent below.
    std::uint32_t length = 0;
    std::vector<std::uint8_t> payload;
    // Set on the messages a scripted fault sends ("lying-length", "stall-mid-payload", ...).
    std::string fault;

    [[nodiscard]] bool IsMessage() const { return dir != JournalDir::None; }
    [[nodiscard]] bool IsRx(int c) const { return dir == JournalDir::Rx && code == c; }
    [[nodiscard]] bool IsTx(int c) const { return dir == JournalDir::Tx && code == c; }
    [[nodiscard]] bool IsEvent(std::string_view e) const { return event == e; }
};

// One line without its newline. Message fields are written only for messages, event
// fields only for events.
std::string FormatJournalLine(const JournalEntry& entry);
// nullopt for anything that is not one complete object of the form above (a line that is
// still being written, a corrupt file).
std::optional<JournalEntry> ParseJournalLine(std::string_view line);
// Every complete, well-formed line of the file; lines that do not parse are skipped. An
// empty result when the file cannot be read. Lines longer than 1 MiB are rejected
// unread, so a corrupt file cannot make the reader hold more than that at once.
std::vector<JournalEntry> ReadJournal(const std::string& path);

std::string ToHex(std::span<const std::uint8_t> bytes);
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex);

// Thread-safe writer. Entries are stamped with seconds since `start`.
class CJournal {
  public:
    using Clock = std::chrono::steady_clock;
    using Predicate = std::function<bool(const std::vector<JournalEntry>&)>;

    explicit CJournal(Clock::time_point start = Clock::now());
    ~CJournal();
    CJournal(const CJournal&) = delete;
    CJournal& operator=(const CJournal&) = delete;

    // Truncates and opens the file; false (with errno) when it cannot be created.
    bool OpenFile(const std::string& path);
    // Also writes every line to stderr.
    void SetEcho(bool on);
    // Restarts the clock, so "t" counts from the simulator's start.
    void SetStart(Clock::time_point start);

    void Message(JournalDir dir, std::uint16_t code, std::uint32_t announcedLength,
                 std::span<const std::uint8_t> payload, std::string_view fault = {});
    void Event(std::string_view event, std::string_view why = {});

    // A copy of the entries kept in memory (the newest kMaxEntries).
    [[nodiscard]] std::vector<JournalEntry> Entries() const;
    // Waits until `predicate` holds for the entries in memory or `timeout` passes.
    bool WaitFor(const Predicate& predicate, std::chrono::milliseconds timeout) const;

    static constexpr std::size_t kMaxEntries = 20'000;

  private:
    void Add(JournalEntry entry);

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    Clock::time_point m_start;
    std::vector<JournalEntry> m_entries;
    struct FileCloser {
        void operator()(std::FILE* f) const {
            if (f != nullptr) {
                std::fclose(f);
            }
        }
    };
    std::unique_ptr<std::FILE, FileCloser> m_file;
    bool m_echo = false;
};

}  // namespace taviro::sim
