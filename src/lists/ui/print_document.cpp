#include "lists/ui/print_document.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace taviro::lists::ui {

namespace {

constexpr double kTwipsPerInch = 1440.0;
constexpr double kTwipsPerPoint = 20.0;

// The layout's size in twips from the page origin: its right-most edge plus a right margin
// as wide as its left one, and its lowest edge.
QSizeF LayoutExtent(const lists::PrintGeometry& g) {
    int left = std::min(g.titleBox.left, g.footerBox.left);
    int right = std::max(g.titleBox.right, g.footerBox.right);
    if (!g.columnEdges.empty()) {
        left = std::min(left, g.columnEdges.front());
        right = std::max(right, g.columnEdges.back());
    }
    const int lastRowBottom = g.firstRowBottom - (std::max(g.rowsPerPage, 1) - 1) * g.rowStep;
    const int lowest = std::min({g.titleBox.bottom, g.footerBox.bottom, lastRowBottom});
    return {static_cast<double>(right + std::max(left, 0)), static_cast<double>(-lowest)};
}

// Device units per twip on each axis, shrunk alike on both when the printable area is
// smaller than the layout so the page keeps its proportions.
struct Mapping {
    double x = 1.0;
    double y = 1.0;
};

Mapping MappingFor(const lists::PrintGeometry& g, const QPagedPaintDevice& device) {
    Mapping m{device.logicalDpiX() / kTwipsPerInch, device.logicalDpiY() / kTwipsPerInch};
    const QSizeF extent = LayoutExtent(g);
    double fit = 1.0;
    if (extent.width() > 0) {
        fit = std::min(fit, device.width() / m.x / extent.width());
    }
    if (extent.height() > 0) {
        fit = std::min(fit, device.height() / m.y / extent.height());
    }
    m.x *= fit;
    m.y *= fit;
    return m;
}

QRectF ToDevice(const lists::TwipRect& r, const Mapping& m) {
    // Twips grow upward from the origin, device units downward.
    return QRectF(QPointF(r.left * m.x, -r.top * m.y), QPointF(r.right * m.x, -r.bottom * m.y))
        .normalized();
}

// The fonts of one print run, made once per face and size.
class CFonts {
  public:
    CFonts(const QPaintDevice& device, double devicePerTwip)
        : m_device(device), m_perTwip(devicePerTwip) {
        // Arial itself where installed; otherwise Liberation Sans, which has the same
        // widths, so the texts fill their cells as intended.
        m_arial = QFontDatabase::hasFamily(QStringLiteral("Arial"))
                      ? QStringLiteral("Arial")
                      : QStringLiteral("Liberation Sans");
    }

    const QFont& Get(const lists::PrintFont& wanted) {
        for (const auto& [font, made] : m_made) {
            if (font == wanted) {
                return made;
            }
        }
        m_made.emplace_back(wanted, Make(wanted));
        return m_made.back().second;
    }

  private:
    QFont Make(const lists::PrintFont& wanted) const {
        QString family = QString::fromStdString(wanted.family);
        bool bold = wanted.weight >= 600;
        // A face name ending in " Bold" picks the bold face whatever the weight says.
        if (family.endsWith(QStringLiteral(" Bold"))) {
            family.chop(5);
            bold = true;
        }
        if (family == QStringLiteral("Arial")) {
            family = m_arial;
        }
        QFont font(family);
        font.setWeight(bold ? QFont::Bold : QFont::Normal);
        font.setStyleStrategy(QFont::PreferOutline);
        // The height asked for is the whole character cell (ascent plus descent); Qt's
        // pixel size is the em, which is smaller, so scale by the face's own ratio.
        const double cell = wanted.height * m_perTwip;
        font.setPixelSize(std::max(1, static_cast<int>(std::lround(cell))));
        const QFontMetricsF metrics(font, &m_device);
        const double measured = metrics.ascent() + metrics.descent();
        if (measured > 0) {
            font.setPixelSize(std::max(1, static_cast<int>(std::lround(cell * cell / measured))));
        }
        return font;
    }

    const QPaintDevice& m_device;
    double m_perTwip;
    QString m_arial;
    std::vector<std::pair<lists::PrintFont, QFont>> m_made;
};

void PaintPage(const lists::PrintDocument& document, int page, QPainter& painter, const Mapping& m,
               CFonts& fonts) {
    QPen frame(Qt::black, document.geometry.penWidth * m.x, Qt::SolidLine, Qt::SquareCap,
               Qt::MiterJoin);
    for (const lists::PageItem& item : lists::LayoutPage(document, page)) {
        const QRectF box = ToDevice(item.box, m);
        if (item.kind == lists::PageItem::Kind::kFrame) {
            painter.setPen(frame);
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box);
        } else {
            painter.setPen(QPen(Qt::black));
            painter.setFont(fonts.Get(item.font));
            // One line, centred both ways; a text wider than its cell is clipped to it.
            painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine,
                             QString::fromStdString(item.text));
        }
    }
}

// `pages` are 1-based and in printing order.
bool PaintPageList(const lists::PrintDocument& document, QPagedPaintDevice& device,
                   QPainter& painter, const std::vector<int>& pages) {
    if (pages.empty() || !painter.isActive()) {
        return false;
    }
    const Mapping m = MappingFor(document.geometry, device);
    CFonts fonts(device, m.y);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        if (i > 0 && !device.newPage()) {
            return false;
        }
        PaintPage(document, pages[i] - 1, painter, m, fonts);
    }
    return true;
}

void SetError(QString* error, const QString& text) {
    if (error != nullptr) {
        *error = text;
    }
}

}  // namespace

bool PrintPages(const lists::PrintDocument& document, QPagedPaintDevice& device, QPainter& painter,
                int fromPage, int toPage) {
    const int count = lists::PageCount(document);
    if (count == 0) {
        return false;
    }
    const int from = fromPage <= 0 ? 1 : fromPage;
    const int to = toPage <= 0 ? count : std::min(toPage, count);
    std::vector<int> pages;
    for (int p = from; p <= to; ++p) {
        pages.push_back(p);
    }
    return PaintPageList(document, device, painter, pages);
}

bool PrintToPdf(const lists::PrintDocument& document, const QString& file, QString* error) {
    if (lists::PageCount(document) == 0) {
        SetError(error, QStringLiteral("nothing to print"));
        return false;
    }
    // QSaveFile writes to a temporary file beside `file`, checks every write and renames
    // only on commit; without a commit its destructor removes the temporary.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly)) {
        SetError(error, out.errorString());
        return false;
    }
    bool painted = false;
    {
        QPdfWriter writer(&out);
        writer.setTitle(QString::fromStdString(document.documentName));
        writer.setCreator(QStringLiteral("Taviro"));
        const QPageSize a4(QPageSize::A4);
        // Margins that centre the layout across the sheet; its own left edge then
        // repeats on the right.
        const QSizeF extent = LayoutExtent(document.geometry);
        const double margin = std::max(
            0.0, (a4.size(QPageSize::Point).width() - extent.width() / kTwipsPerPoint) / 2);
        writer.setPageLayout(QPageLayout(a4, QPageLayout::Portrait,
                                         QMarginsF(margin, margin, margin, margin),
                                         QPageLayout::Point));
        QPainter painter;
        if (!painter.begin(&writer)) {
            out.cancelWriting();
            SetError(error, QStringLiteral("cannot start the PDF in %1").arg(file));
            return false;
        }
        painted = PrintPages(document, writer, painter, 0, 0);
        // Ending the painter writes the rest of the PDF into `out`.
        painter.end();
    }
    if (!painted) {
        out.cancelWriting();
        SetError(error, QStringLiteral("a page of %1 could not be started").arg(file));
        return false;
    }
    if (!out.commit()) {
        SetError(error, out.errorString());
        return false;
    }
    return true;
}

bool PrintOnPrinter(const lists::PrintDocument& document, QPrinter& printer) {
    const int count = lists::PageCount(document);
    if (count == 0) {
        return false;
    }
    printer.setDocName(QString::fromStdString(document.documentName));
    // The dialog's ranges may name several pieces ("1-2,5") and pages past the end.
    const QPageRanges ranges = printer.pageRanges();
    const bool all = printer.printRange() != QPrinter::PageRange || ranges.isEmpty();
    std::vector<int> pages;
    for (int p = 1; p <= count; ++p) {
        if (all || ranges.contains(p)) {
            pages.push_back(p);
        }
    }
    if (pages.empty()) {
        return false;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        return false;
    }
    if (!PaintPageList(document, printer, painter, pages)) {
        printer.abort();
        painter.end();
        return false;
    }
    return painter.end();
}

bool PrintWithDialog(const lists::PrintDocument& document, QWidget* parent) {
    const int count = lists::PageCount(document);
    if (count == 0) {
        return false;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromStdString(document.documentName));
    QPrintDialog dialog(&printer, parent);
    dialog.setMinMax(1, count);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    return PrintOnPrinter(document, printer);
}

}  // namespace taviro::lists::ui
