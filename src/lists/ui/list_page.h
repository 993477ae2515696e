// One list of the client's windows (an event list, a remote log view, the local log, an
// information page): a filter bar (a channel and a text, applied as the operator types),
// the table, the caller's own buttons, and Print, CSV and PDF for the rows shown. The rows
// come from the pure builders (logs/list_rows.h); the page only shows and saves them.
//
// Saving runs on a pool thread (the window never waits on the disk); printing on a real
// printer goes through the system's print dialog. Saved and printed are the rows the filter
// leaves, in the order shown.
//
// Thread: the GUI thread. The page owns its rows; the owner keeps what the rows' `source`
// indices refer to.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "lists/list_rows.h"
#include "lists/print_layout.h"

class QComboBox;
class QLineEdit;
class QPushButton;
class QTableView;
class QHBoxLayout;
class QLabel;

namespace taviro::lists::ui {

class CRowTableModel;

struct ListColumns {
    std::vector<QString> headers;
    std::vector<int> widths;  // pixels
};

class CListPage final : public QWidget {
    Q_OBJECT
  public:
    // `channelFilter`: whether the channel choice is offered (lists whose rows concern
    // channels); `channels` the recorder's channel count.
    CListPage(ListColumns columns, bool channelFilter, int channels, QWidget* parent = nullptr);
    ~CListPage() override;

    // Replaces the rows (the filter stays). The selection is cleared.
    void SetRows(std::vector<ListRow> rows);
    // The printed document's name, title and geometry (the rows are the page's).
    void SetPrintLayout(std::string documentName, std::string title, PrintGeometry geometry);
    // How a shown row is printed, when its printed texts differ from the list's.
    using PrintCells = std::function<std::vector<std::string>(const ListRow&)>;
    void SetPrintCells(PrintCells cells) { m_printCells = std::move(cells); }
    // A button of the caller's, left of Print, CSV and PDF.
    QPushButton* AddButton(const QString& text);
    // A line of text above the buttons (the page controls of the event list use it).
    QHBoxLayout* ExtraBar() const { return m_extraBar; }

    // The `source` of the selected row, -1 when none.
    [[nodiscard]] int SelectedSource() const;
    // Selects the shown row `row` (tests, keyboard).
    void SelectRow(int row);
    [[nodiscard]] const std::vector<ListRow>& ShownRows() const;
    [[nodiscard]] int RowCount() const;
    void SetFilter(const RowFilter& filter);
    QLineEdit* FilterText() const { return m_text; }
    QComboBox* FilterChannel() const { return m_channel; }
    QTableView* Table() const { return m_table; }
    [[nodiscard]] PrintDocument Document() const;

    // Writes the shown rows (CSV with the headers; PDF through the printing module) on a
    // pool thread; `Saved` reports the outcome.
    void SaveCsv(const QString& file);
    void SavePdf(const QString& file);
    // The print dialog, then the printer.
    void Print();

  signals:
    void SelectionChanged(int source);
    void Activated(int source);  // double click or Enter on a row
    void Saved(bool ok, const QString& file, const QString& error);

  private:
    void ApplyFilter();
    QString AskFile(const QString& caption, const QString& filter, const QString& suffix);

    ListColumns m_columns;
    std::vector<ListRow> m_rows;
    RowFilter m_filter;
    CRowTableModel* m_model = nullptr;
    QTableView* m_table = nullptr;
    QComboBox* m_channel = nullptr;
    QLineEdit* m_text = nullptr;
    QHBoxLayout* m_buttons = nullptr;
    QHBoxLayout* m_extraBar = nullptr;
    QLabel* m_count = nullptr;
    std::string m_documentName;
    std::string m_title;
    PrintGeometry m_geometry;
    PrintCells m_printCells;
};

}  // namespace taviro::lists::ui
