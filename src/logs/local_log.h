// The client's own log of what the operator did: a ring file "m7400.log" of 2,500 records
// of 184 bytes behind an 8-byte header, under "Log/" of the storage folder. All integers
// are 32-bit little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/local_log_sink.h"

namespace taviro::logs {

inline constexpr std::uint32_t kLocalLogSlots = 2500;
using platform::kLocalLogRecordSize;
inline constexpr std::size_t kLocalLogHeaderSize = 8;
inline constexpr std::size_t kLocalLogMaxFileSize =
    kLocalLogHeaderSize + std::size_t{kLocalLogSlots} * kLocalLogRecordSize;  // 460,008
inline constexpr const char* kLocalLogFileName = "m7400.log";

// The kinds of entry, as the session writes them.
namespace entry = platform::log_entry;

struct LocalLogRecord {
    std::uint32_t number = 0;  // the slot it was written to
    std::uint32_t size = kLocalLogRecordSize;
    std::uint32_t kind = 0;
    std::uint32_t subType = 0;
    std::uint32_t time = 0;  // local wall clock as seconds since 1970 counted as if UTC
    std::uint32_t param = 0;
    std::string detail;     // 128 bytes on disk (the recorder address)
    std::string shortText;  // 32 bytes on disk (the user ID)

    [[nodiscard]] std::array<std::uint8_t, kLocalLogRecordSize> Encode() const;
    static LocalLogRecord Decode(std::span<const std::uint8_t, kLocalLogRecordSize> bytes);
};

using platform::ILocalLog;

// The ring file. Every write opens, writes and closes the file. Writers inside the process
// are serialised by a lock and writers of other processes by an advisory file lock, so two
// entries written at the same moment are both kept.
class CLocalLog final : public ILocalLog {
  public:
    // `storageFolder` is the `Location` folder; the file lives in its "Log" sub-folder.
    // Entry times are the local wall clock at the moment of writing (LocalWallClockSeconds).
    explicit CLocalLog(std::filesystem::path storageFolder, bool playerMode = false);
    // The constructor once took a zone offset before `playerMode`; an integer there would
    // silently turn on player mode, so any argument but a bool is refused.
    template <typename T>
    CLocalLog(std::filesystem::path, T, bool = false) = delete;

    bool WriteLocalLog(std::uint32_t size, std::uint32_t kind, std::uint32_t subType,
                       std::string_view shortText = {}, std::string_view detail = {}) override;

    [[nodiscard]] std::filesystem::path FilePath() const;
    // The storage folder moved (local setup): later entries go to the new place. Safe while
    // other threads write; the object itself never changes, so whoever holds it keeps a
    // valid log.
    void MoveTo(std::filesystem::path storageFolder);
    // Fixes the time stamp of following entries (tests); nullopt returns to the clock.
    void SetFixedTimeForTest(std::optional<std::uint32_t> time) { m_fixedTime = time; }

  private:
    std::filesystem::path FilePathLocked() const;

    std::filesystem::path m_folder;  // guarded by m_lock
    bool m_playerMode;
    std::optional<std::uint32_t> m_fixedTime;
    mutable std::mutex m_lock;
};

// `utcSeconds` as the local wall clock, counted as if it were UTC: the zone's offset in force
// at that moment is added, so entries written during daylight saving show summer time.
// Thread: any (localtime_r).
std::int64_t LocalWallClockSeconds(std::int64_t utcSeconds);

// The file's contents in chronological order (oldest first), as the viewer lists them.
struct LocalLogContents {
    bool full = false;
    std::uint32_t nextSlot = 0;
    std::vector<LocalLogRecord> records;
};

// Parses the bytes of a log file; never reads past `bytes`. A short or damaged file gives
// what can be read of it (a missing file: an empty list).
LocalLogContents ParseLocalLog(std::span<const std::uint8_t> bytes);
// Reads at most the file's maximum size and parses it.
LocalLogContents ReadLocalLog(const std::filesystem::path& file);

}  // namespace taviro::logs
