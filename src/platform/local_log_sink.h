// What the session and the windows write to the client's own log: one call per entry, and
// the kinds of entry. The ring file itself (logs::CLocalLog) lives above; the session only
// needs this much, so it does not depend on the log's folder.
#pragma once

#include <cstdint>
#include <string_view>

namespace taviro::platform {

// Every entry is one record of this size.
inline constexpr std::uint32_t kLocalLogRecordSize = 184;

// Kinds and sub-types of the entries (each a one-bit set).
namespace log_entry {
inline constexpr std::uint32_t kProgram = 1;        // sub 1 start, 2 end
inline constexpr std::uint32_t kConnection = 2;     // sub 1 in, 2 out, 4 failed, 8 lost, 16 back
inline constexpr std::uint32_t kLocalPlayback = 4;  // sub 1 start, 2 end
inline constexpr std::uint32_t kSettings = 8;       // sub 1 settings confirmed, 2 snapshots
inline constexpr std::uint32_t kLogIn = 1;
inline constexpr std::uint32_t kLogOut = 2;
inline constexpr std::uint32_t kConnectFailed = 4;
// The client's own additions to the connection kind: a logged-in connection was lost, and
// the client connected again by itself. Readers that know only 1, 2 and 4 show these as
// connection entries with an empty event text.
inline constexpr std::uint32_t kConnectionLost = 8;
inline constexpr std::uint32_t kConnectionBack = 16;
}  // namespace log_entry

class ILocalLog {
  public:
    virtual ~ILocalLog() = default;
    // Appends one entry; texts may be empty. Thread-safe. False when nothing was written
    // (player mode or a file error; both are silent for the user).
    virtual bool WriteLocalLog(std::uint32_t size, std::uint32_t kind, std::uint32_t subType,
                               std::string_view shortText = {}, std::string_view detail = {}) = 0;
};

}  // namespace taviro::platform
