// A text file of the recorder's events and log entries, for scripts and manual runs that
// want exact contents (in-process tests set SimConfig::events and log_entries instead).
// One item a line, words separated by blanks; a line whose first non-blank character is
// '#' is a comment (texts may hold '#'):
//
//   event KIND MASK START END
//       KIND alarm, motion, audio or a number 0..255; MASK decimal or 0x-hex (32 bits);
//       START and END like 2010-10-12T08:00:00 or signed seconds
//   log KIND SUBTYPE TIME PARAM [| SHORT [| DETAIL [| PARAMS [| OLD NEW]]]]
//       KIND power, record, operation, client, event, or a 0x-hex bit set as it is sent;
//       SUBTYPE a bit number 0..31 or a 0x-hex bit set; TIME as above; PARAM decimal or
//       0x-hex; SHORT text of up to 32 bytes, DETAIL up to 128 (a text of the full width has
//       no NUL); PARAMS up to 16 bytes as hex digits; OLD and NEW the setting blocks of up
//       to 32 bytes each in hex, at detail bytes 64 and 96 (the DETAIL text then at most 63
//       bytes); texts are trimmed of blanks at both ends
//
// Event lines, when there are any, replace the events derived from the archive; log lines,
// when there are any, replace the built-in log. Both keep the order of the file.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::size_t kMaxInfoFileSize = 1 << 20;
inline constexpr std::size_t kMaxInfoLine = 1024;
inline constexpr std::size_t kMaxInfoFileItems = 10'000;

struct InfoFileData {
    std::vector<SimEvent> events;
    std::vector<SimLogEntry> log;
};

// The file's text; nullopt and "line N: why" in *error when it is not valid.
std::optional<InfoFileData> ParseInfoFile(std::string_view text, std::string* error);

// Reads config.info_file (when set) into config.events and config.log_entries. False, and
// the reason naming the file in *error, when it cannot be read or is not valid.
bool LoadInfoFile(SimConfig& config, std::string* error);

}  // namespace taviro::sim
