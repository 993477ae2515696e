// The printed form of the client's lists (remote log, local log, event and status lists):
// a title box, up to 33 framed rows of centred cells and a page footer, laid out in twips
// (1/1440 inch) from the page's top-left corner. Y grows upward, so every position on a
// page is negative; the painter (logs/ui/print_document.h) turns the items into device
// units. Pure data, no painting here, so the layout is tested without a printer.
//
// Thread: any; every function is pure and the caller owns all the data passed in and out.
#pragma once

#include <string>
#include <vector>

namespace taviro::lists {

// A rectangle in twips; `top` is above `bottom`, so top > bottom on a page (e.g. −900 and
// −1400).
struct TwipRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    bool operator==(const TwipRect&) const = default;
};

// A font as the page asks for it: the face name ("Arial Bold"), the cell height in twips
// and the weight (400 normal, 700 bold). The painter picks an installed face that matches.
struct PrintFont {
    std::string family;
    int height = 0;
    int weight = 400;

    bool operator==(const PrintFont&) const = default;
};

struct PrintGeometry {
    TwipRect titleBox;
    std::vector<int> columnEdges;  // left edge of each column, then the last right edge (≥ 2)
    int firstRowTop = -1800;
    int firstRowBottom = -2200;
    int rowStep = 400;  // each further row this much lower
    int rowsPerPage = 33;
    TwipRect footerBox;
    int penWidth = 5;  // frames, solid black
    PrintFont titleFont;
    PrintFont cellFont;  // the cells and the footer

    [[nodiscard]] int Columns() const {
        return columnEdges.size() < 2 ? 0 : static_cast<int>(columnEdges.size()) - 1;
    }
};

// The remote log's pages (five columns: number, time, kind, sub-type, detail).
PrintGeometry RemoteLogGeometry();
// The local log's pages (five columns, other edges, a narrower title box).
PrintGeometry LocalLogGeometry();
// The other lists' pages: `columns` (at least 1) equal columns between x 400 and 11000,
// with the remote log's title box, rows and footer.
PrintGeometry TableGeometry(int columns);

struct PrintDocument {
    std::string documentName;  // the print job's and the PDF's name, e.g. "Local Log"
    std::string title;         // the text in the title box of every page
    PrintGeometry geometry;
    // One entry per printed row, one text per column (UTF-8). A row with fewer texts than
    // columns leaves the rest of its cells empty; texts beyond the last column are dropped.
    std::vector<std::vector<std::string>> rows;
};

// ceiling(rows / rowsPerPage); 0 for a document without rows, which prints nothing.
int PageCount(const PrintDocument& document);

// The footer of page `page` (1-based) of `pages`: "- 1 / 2 -".
std::string FooterText(int page, int pages);

struct PageItem {
    enum class Kind {
        kFrame,  // `box` outlined with the geometry's pen
        kText,   // `text` centred on one line in `box`, clipped to it, in `font`
    };
    Kind kind = Kind::kFrame;
    TwipRect box;
    std::string text;
    PrintFont font;
};

// Everything on page `page` (0-based) in drawing order: the title frame and title, each
// row's cell frames with their texts (empty texts add no text item), and the footer text.
// A page outside 0..PageCount − 1 has no items.
std::vector<PageItem> LayoutPage(const PrintDocument& document, int page);

}  // namespace taviro::lists
