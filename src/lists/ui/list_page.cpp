#include "lists/ui/list_page.h"

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "lists/csv.h"
#include "lists/ui/print_document.h"
#include "platform/ui/background_job.h"
#include "platform/ui/qt_owned.h"

namespace taviro::lists::ui {

using platform::ui::Child;

// The rows shown, as a read-only table model (a list of 2,500 log rows or a long event
// page stays cheap: nothing is copied per cell until it is drawn).
class CRowTableModel final : public QAbstractTableModel {
  public:
    CRowTableModel(std::vector<QString> headers, QObject* parent)
        : QAbstractTableModel(parent), m_headers(std::move(headers)) {}

    void SetRows(std::vector<ListRow> rows) {
        beginResetModel();
        m_rows = std::move(rows);
        endResetModel();
    }
    [[nodiscard]] const std::vector<ListRow>& Rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount({}))
            return {};
        const auto& cells = m_rows[static_cast<std::size_t>(index.row())].cells;
        const auto column = static_cast<std::size_t>(index.column());
        return column < cells.size() ? QString::fromStdString(cells[column]) : QString();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
            section >= static_cast<int>(m_headers.size()))
            return {};
        return m_headers[static_cast<std::size_t>(section)];
    }

  private:
    std::vector<QString> m_headers;
    std::vector<ListRow> m_rows;
};

CListPage::CListPage(ListColumns columns, bool channelFilter, int channels, QWidget* parent)
    : QWidget(parent), m_columns(std::move(columns)), m_geometry(TableGeometry(3)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* filterBar = new QHBoxLayout;
    m_channel = Child<QComboBox>(this);
    m_channel->addItem(QStringLiteral("All channels"), 0);
    for (int ch = 1; ch <= std::clamp(channels, 1, 32); ++ch)
        m_channel->addItem(QStringLiteral("Channel %1").arg(ch, 2, 10, QLatin1Char('0')), ch);
    m_channel->setVisible(channelFilter);
    m_text = Child<QLineEdit>(this);
    m_text->setPlaceholderText(QStringLiteral("Filter"));
    m_text->setClearButtonEnabled(true);
    m_count = Child<QLabel>(this);
    filterBar->addWidget(m_channel);
    filterBar->addWidget(m_text, 1);
    filterBar->addWidget(m_count);
    layout->addLayout(filterBar);

    m_table = Child<QTableView>(this);
    m_model = new CRowTableModel(m_columns.headers, m_table);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setShowGrid(true);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(20);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setWordWrap(false);
    for (std::size_t c = 0; c < m_columns.widths.size(); ++c)
        m_table->setColumnWidth(static_cast<int>(c), m_columns.widths[c]);
    layout->addWidget(m_table, 1);

    m_extraBar = new QHBoxLayout;
    layout->addLayout(m_extraBar);
    m_buttons = new QHBoxLayout;
    m_buttons->addStretch(1);
    auto* print = Child<QPushButton>(this, QStringLiteral("Print"));
    auto* csv = Child<QPushButton>(this, QStringLiteral("CSV"));
    auto* pdf = Child<QPushButton>(this, QStringLiteral("PDF"));
    print->setObjectName(QStringLiteral("print"));
    csv->setObjectName(QStringLiteral("csv"));
    pdf->setObjectName(QStringLiteral("pdf"));
    m_buttons->addWidget(print);
    m_buttons->addWidget(csv);
    m_buttons->addWidget(pdf);
    layout->addLayout(m_buttons);

    connect(print, &QPushButton::clicked, this, [this] { Print(); });
    connect(csv, &QPushButton::clicked, this, [this] {
        const QString file = AskFile(QStringLiteral("Save as CSV"),
                                     QStringLiteral("CSV files (*.csv)"), QStringLiteral(".csv"));
        if (!file.isEmpty())
            SaveCsv(file);
    });
    connect(pdf, &QPushButton::clicked, this, [this] {
        const QString file = AskFile(QStringLiteral("Save as PDF"),
                                     QStringLiteral("PDF files (*.pdf)"), QStringLiteral(".pdf"));
        if (!file.isEmpty())
            SavePdf(file);
    });
    connect(m_text, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_filter.text = text.toStdString();
        ApplyFilter();
    });
    connect(m_channel, &QComboBox::currentIndexChanged, this, [this](int) {
        m_filter.channel = m_channel->currentData().toInt();
        ApplyFilter();
    });
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { emit SelectionChanged(SelectedSource()); });
    connect(m_table, &QTableView::doubleClicked, this,
            [this](const QModelIndex&) { emit Activated(SelectedSource()); });
    connect(m_table, &QTableView::activated, this,
            [this](const QModelIndex&) { emit Activated(SelectedSource()); });
    ApplyFilter();
}

CListPage::~CListPage() = default;

void CListPage::SetRows(std::vector<ListRow> rows) {
    m_rows = std::move(rows);
    ApplyFilter();
}

void CListPage::SetPrintLayout(std::string documentName, std::string title,
                               PrintGeometry geometry) {
    m_documentName = std::move(documentName);
    m_title = std::move(title);
    m_geometry = std::move(geometry);
}

QPushButton* CListPage::AddButton(const QString& text) {
    auto* button = Child<QPushButton>(this, text);
    m_buttons->insertWidget(m_buttons->count() - 3, button);
    return button;
}

void CListPage::ApplyFilter() {
    const int before = SelectedSource();
    m_model->SetRows(FilterRows(m_rows, m_filter));
    m_count->setText(QStringLiteral("%1 / %2").arg(RowCount()).arg(m_rows.size()));
    // The selection survives the filter when its row is still shown.
    const auto& shown = m_model->Rows();
    for (std::size_t r = 0; r < shown.size() && before >= 0; ++r) {
        if (shown[r].source == before) {
            SelectRow(static_cast<int>(r));
            return;
        }
    }
    emit SelectionChanged(-1);
}

void CListPage::SetFilter(const RowFilter& filter) {
    m_text->setText(QString::fromStdString(filter.text));
    const int index = m_channel->findData(filter.channel);
    m_channel->setCurrentIndex(index < 0 ? 0 : index);
    m_filter = filter;
    ApplyFilter();
}

int CListPage::SelectedSource() const {
    const auto selected = m_table->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    const int row = selected.first().row();
    const auto& shown = m_model->Rows();
    return row >= 0 && row < static_cast<int>(shown.size())
               ? shown[static_cast<std::size_t>(row)].source
               : -1;
}

void CListPage::SelectRow(int row) {
    if (row < 0 || row >= RowCount()) {
        m_table->clearSelection();
        return;
    }
    m_table->selectRow(row);
}

const std::vector<ListRow>& CListPage::ShownRows() const {
    return m_model->Rows();
}

int CListPage::RowCount() const {
    return static_cast<int>(m_model->Rows().size());
}

PrintDocument CListPage::Document() const {
    PrintDocument document;
    document.documentName = m_documentName;
    document.title = m_title;
    document.geometry = m_geometry;
    if (m_printCells) {
        for (const ListRow& row : m_model->Rows())
            document.rows.push_back(m_printCells(row));
    } else {
        document.rows = CellsOf(m_model->Rows());
    }
    return document;
}

QString CListPage::AskFile(const QString& caption, const QString& filter, const QString& suffix) {
    const QString name =
        QString::fromStdString(m_documentName.empty() ? std::string("list") : m_documentName)
            .replace(QLatin1Char(' '), QLatin1Char('_'));
    QString file =
        QFileDialog::getSaveFileName(this, caption, QDir::home().filePath(name + suffix), filter);
    if (!file.isEmpty() && !file.endsWith(suffix, Qt::CaseInsensitive))
        file += suffix;
    return file;
}

void CListPage::SaveCsv(const QString& file) {
    std::vector<std::string> header;
    for (const QString& h : m_columns.headers)
        header.push_back(h.toStdString());
    struct Outcome {
        bool ok = false;
        QString error;
    };
    auto rows = CellsOf(m_model->Rows());
    platform::ui::RunInBackground<Outcome>(
        this,
        [file, header = std::move(header), rows = std::move(rows)] {
            std::string error;
            Outcome out;
            out.ok = WriteCsvFile(file.toStdString(), header, rows, &error);
            out.error = QString::fromStdString(error);
            return out;
        },
        [this, file](Outcome out) { emit Saved(out.ok, file, out.error); });
}

void CListPage::SavePdf(const QString& file) {
    struct Outcome {
        bool ok = false;
        QString error;
    };
    platform::ui::RunInBackground<Outcome>(
        this,
        [file, document = Document()] {
            Outcome out;
            out.ok = PrintToPdf(document, file, &out.error);
            return out;
        },
        [this, file](Outcome out) { emit Saved(out.ok, file, out.error); });
}

void CListPage::Print() {
    PrintWithDialog(Document(), this);
}

}  // namespace taviro::lists::ui
