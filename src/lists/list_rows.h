// The rows every list window of the client shows (events, remote logs, the local log, the
// information pages), kept apart from their widgets so the filter, the CSV file, the
// printed pages and the command-line client all see the same texts.
//
// Threads: any; plain values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::lists {

struct ListRow {
    std::vector<std::string> cells;
    // The channels the row concerns (bit n = channel n + 1); 0 when it concerns none.
    std::uint32_t channels = 0;
    // The caller's index of what the row shows (a record, an event), -1 for none.
    int source = -1;
};

// The filter of a list: a channel (1-based, 0 for all) and a text looked for in every
// cell, ignoring the case of ASCII letters (empty for all). A row that concerns no channel
// is hidden while a channel is chosen.
struct RowFilter {
    int channel = 0;
    std::string text;
};
bool RowMatches(const ListRow& row, const RowFilter& filter);
std::vector<ListRow> FilterRows(const std::vector<ListRow>& rows, const RowFilter& filter);

// The cells of the rows, for the CSV file and the printed pages.
std::vector<std::vector<std::string>> CellsOf(const std::vector<ListRow>& rows);

// Whether `text` holds `needle`, ignoring the case of ASCII letters.
bool ContainsIgnoringCase(std::string_view text, std::string_view needle);

}  // namespace taviro::lists
