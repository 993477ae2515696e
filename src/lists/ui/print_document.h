// Paints the laid-out pages of a list (logs/print_layout.h) on a printer or into a PDF
// file. Twips become device units at the device's resolution (y turned downward); a
// printable area too small for the layout scales the whole page down uniformly. Fonts:
// "Arial" when installed, else the metric-compatible "Liberation Sans", bold as the
// layout's "Arial Bold" asks.
//
// Thread: the GUI thread. PrintToPdf and PrintPages also work on a worker thread as long
// as a QGuiApplication exists (the fonts come from it); PrintWithDialog needs the GUI
// thread. The caller owns the document, the device and the painter.
#pragma once

#include <QString>

#include "lists/print_layout.h"

class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace taviro::lists::ui {

// Paints pages `fromPage`..`toPage` (1-based, inclusive, clamped to the document's pages;
// 0 and 0 for all of them) on `device`, on which `painter` is already active: the first
// page on the current page, each further one after device.newPage(). Stops and returns
// false when newPage fails or there is no page to print; the caller then aborts the job.
bool PrintPages(const lists::PrintDocument& document, QPagedPaintDevice& device, QPainter& painter,
                int fromPage, int toPage);

// Writes the whole document as an A4 PDF titled with the document name. The PDF goes to
// a temporary file beside `file` and replaces it only when complete; on failure nothing
// new is left and `error` (when given) says why. A document without rows writes no file
// and fails with "nothing to print".
bool PrintToPdf(const lists::PrintDocument& document, const QString& file, QString* error);

// Prints on a printer already set up (by the print dialog, or in PDF mode by a test): the
// job is named after the document and the printer's page ranges are honoured. Aborts the
// job when a page fails. False without a job when the document has no rows.
bool PrintOnPrinter(const lists::PrintDocument& document, QPrinter& printer);

// Shows the standard print dialog for the document's pages and prints on the chosen
// printer (CUPS). False when the document has no rows (no dialog is shown), when the user
// cancels or when printing fails.
bool PrintWithDialog(const lists::PrintDocument& document, QWidget* parent);

}  // namespace taviro::lists::ui
