#include "lists/list_rows.h"

#include <algorithm>

namespace taviro::lists {

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool ContainsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                                [](char a, char b) { return Lower(a) == Lower(b); });
    return it != text.end();
}

bool RowMatches(const ListRow& row, const RowFilter& filter) {
    if (filter.channel >= 1 && filter.channel <= 32 &&
        ((row.channels >> (filter.channel - 1)) & 1u) == 0) {
        return false;
    }
    if (filter.text.empty()) {
        return true;
    }
    return std::any_of(row.cells.begin(), row.cells.end(), [&](const std::string& cell) {
        return ContainsIgnoringCase(cell, filter.text);
    });
}

std::vector<ListRow> FilterRows(const std::vector<ListRow>& rows, const RowFilter& filter) {
    std::vector<ListRow> out;
    for (const ListRow& row : rows) {
        if (RowMatches(row, filter)) {
            out.push_back(row);
        }
    }
    return out;
}

std::vector<std::vector<std::string>> CellsOf(const std::vector<ListRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    cells.reserve(rows.size());
    for (const ListRow& row : rows) {
        cells.push_back(row.cells);
    }
    return cells;
}

}  // namespace taviro::lists
