#include "lists/print_layout.h"

#include <algorithm>
#include <cstdio>

namespace taviro::lists {

namespace {

constexpr int kTableLeft = 400;
constexpr int kTableRight = 11000;

PrintGeometry CommonGeometry() {
    PrintGeometry g;
    g.titleBox = {3200, -900, 8200, -1400};
    g.firstRowTop = -1800;
    g.firstRowBottom = -2200;
    g.rowStep = 400;
    g.rowsPerPage = 33;
    g.footerBox = {5000, -15500, 7000, -15700};
    g.penWidth = 5;
    // "Arial Bold" at weight 400 still names the bold face, so the cells print bold too.
    g.titleFont = {"Arial Bold", 400, 700};
    g.cellFont = {"Arial Bold", 200, 400};
    return g;
}

}  // namespace

PrintGeometry RemoteLogGeometry() {
    PrintGeometry g = CommonGeometry();
    g.columnEdges = {400, 1150, 3300, 5150, 6300, 11000};
    return g;
}

PrintGeometry LocalLogGeometry() {
    PrintGeometry g = CommonGeometry();
    g.titleBox = {3700, -900, 7700, -1400};
    g.columnEdges = {400, 1100, 3700, 6800, 8100, 10800};
    return g;
}

PrintGeometry TableGeometry(int columns) {
    PrintGeometry g = CommonGeometry();
    const int n = std::max(columns, 1);
    const int width = kTableRight - kTableLeft;
    g.columnEdges.reserve(static_cast<std::size_t>(n) + 1);
    for (int i = 0; i <= n; ++i) {
        // Rounded to the nearest twip so the last edge lands exactly on the right border.
        g.columnEdges.push_back(kTableLeft + (width * i + n / 2) / n);
    }
    return g;
}

int PageCount(const PrintDocument& document) {
    const int perPage = std::max(document.geometry.rowsPerPage, 1);
    const auto rows = static_cast<long long>(document.rows.size());
    return static_cast<int>((rows + perPage - 1) / perPage);
}

std::string FooterText(int page, int pages) {
    char text[48];
    std::snprintf(text, sizeof text, "- %d / %d -", page, pages);
    return text;
}

std::vector<PageItem> LayoutPage(const PrintDocument& document, int page) {
    const PrintGeometry& g = document.geometry;
    const int pages = PageCount(document);
    std::vector<PageItem> items;
    if (page < 0 || page >= pages || g.Columns() == 0) {
        return items;
    }
    items.push_back({PageItem::Kind::kFrame, g.titleBox, {}, {}});
    items.push_back({PageItem::Kind::kText, g.titleBox, document.title, g.titleFont});

    const int perPage = std::max(g.rowsPerPage, 1);
    const std::size_t first = static_cast<std::size_t>(page) * static_cast<std::size_t>(perPage);
    const std::size_t last =
        std::min(document.rows.size(), first + static_cast<std::size_t>(perPage));
    const auto columns = static_cast<std::size_t>(g.Columns());
    for (std::size_t r = first; r < last; ++r) {
        const int offset = static_cast<int>(r - first) * g.rowStep;
        const auto& row = document.rows[r];
        for (std::size_t c = 0; c < columns; ++c) {
            const TwipRect cell{g.columnEdges[c], g.firstRowTop - offset, g.columnEdges[c + 1],
                                g.firstRowBottom - offset};
            items.push_back({PageItem::Kind::kFrame, cell, {}, {}});
            if (c < row.size() && !row[c].empty()) {
                items.push_back({PageItem::Kind::kText, cell, row[c], g.cellFont});
            }
        }
    }
    items.push_back({PageItem::Kind::kText, g.footerBox, FooterText(page + 1, pages), g.cellFont});
    return items;
}

}  // namespace taviro::lists
