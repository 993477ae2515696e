// The rows of the local log viewer: the client's own log file listed newest first, with the
// same columns as the recorder's log (number, time, event, user ID, recorder address).
//
// Thread: the local archive window calls this on the user-interface thread after reading the
// file. The rows own their texts.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "logs/local_log.h"
#include "platform/texts.h"

namespace taviro::logs {

struct LocalLogListContext {
    platform::TextLookup text;  // the skin's string table
    int dateOrder = 0;          // 0 year first, 1 month first, 2 day first
};

struct LocalLogRow {
    std::size_t record = 0;              // index into LocalLogContents::records
    std::array<std::string, 5> cells{};  // each at most 127 characters
};

// The event text of an entry; empty when its kind or sub-type has none.
std::string LocalLogEventText(const LocalLogRecord& record, const platform::TextLookup& text);

// Rows newest first. The first cell counts from the oldest entry (0001) up, so the newest
// entry has the highest number; the user ID and address show for connection entries only.
std::vector<LocalLogRow> BuildLocalLogRows(const LocalLogContents& contents,
                                           const LocalLogListContext& context);

}  // namespace taviro::logs
