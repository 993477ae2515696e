#include "logs/ui/log_view_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "lists/print_layout.h"
#include "lists/ui/list_page.h"
#include "logs/remote_log_details.h"
#include "platform/ui/qt_owned.h"

namespace taviro::logs::ui {

using platform::ui::Child;

namespace {

// The remote log's title on paper (its skin text).
constexpr int kTextRemoteLogTitle = 5520;

lists::ui::ListColumns LogColumns() {
    return lists::ui::ListColumns{
        {QStringLiteral("No."), QStringLiteral("Time"), QStringLiteral("Type"),
         QStringLiteral("Name"), QStringLiteral("Detail")},
        {50, 150, 120, 70, 336}};
}

lists::ListRow ToListRow(const LogRow& row) {
    return lists::ListRow{std::vector<std::string>(row.cells.begin(), row.cells.end()),
                          row.channelMask, static_cast<int>(row.record)};
}

// A 16 x 16 motion grid, changed cells outlined.
class CMotionGridView final : public QWidget {
  public:
    CMotionGridView(MotionAreaGrid grid, MotionAreaGrid other, QWidget* parent)
        : QWidget(parent), m_grid(grid), m_other(other) {
        setFixedSize(MotionAreaGrid::kColumns * 12 + 1, MotionAreaGrid::kLines * 12 + 1);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        for (int line = 0; line < MotionAreaGrid::kLines; ++line) {
            for (int column = 0; column < MotionAreaGrid::kColumns; ++column) {
                const QRect cell(column * 12, line * 12, 12, 12);
                p.fillRect(cell, m_grid.Cell(line, column) ? QColor(230, 80, 60) : Qt::white);
                const bool changed = m_grid.Cell(line, column) != m_other.Cell(line, column);
                p.setPen(changed ? QPen(Qt::black, 2) : QPen(Qt::lightGray));
                p.drawRect(cell.adjusted(0, 0, -1, -1));
            }
        }
    }

  private:
    MotionAreaGrid m_grid;
    MotionAreaGrid m_other;
};

}  // namespace

CLogViewPage::CLogViewPage(LogView view,
                           std::shared_ptr<const std::vector<RemoteLogRecord>> records,
                           LogViewContext context, QWidget* parent)
    : QWidget(parent), m_view(view), m_records(std::move(records)), m_context(std::move(context)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_list = Child<lists::ui::CListPage>(this, LogColumns(), true, m_context.channels);
    layout->addWidget(m_list);
    const LogViewInfo& info = InfoOf(view);
    m_list->SetPrintLayout(info.documentName, m_context.text(kTextRemoteLogTitle),
                           lists::RemoteLogGeometry());
    LogListContext printContext{m_context.text, m_context.dateOrder, m_context.loggedIn, true};
    m_list->SetPrintCells([records = m_records, printContext](const lists::ListRow& row) {
        const auto index = static_cast<std::size_t>(row.source);
        if (row.source < 0 || index >= records->size())
            return row.cells;
        const LogCells cells = RecordCells((*records)[index], printContext);
        return std::vector<std::string>(cells.begin(), cells.end());
    });
    if (info.detailsButton != 0) {
        m_details = m_list->AddButton(QStringLiteral("Details"));
        connect(m_details, &QPushButton::clicked, this, [this] {
            if (QDialog* dialog = OpenDetails())
                dialog->show();
        });
    }
    if (info.playButton != 0) {
        m_play = m_list->AddButton(QStringLiteral("Play"));
        connect(m_play, &QPushButton::clicked, this, [this] {
            const RemoteLogRecord* record = Selected();
            if (record == nullptr || m_context.fromKeptCopy)
                return;
            if (const auto target = PlayTarget(*record))
                emit Play(*target);
        });
    }
    connect(m_list, &lists::ui::CListPage::SelectionChanged, this,
            [this](int) { UpdateButtons(); });
    connect(m_list, &lists::ui::CListPage::Activated, this, [this](int) {
        if (m_details && m_details->isEnabled())
            m_details->click();
        else if (m_play && m_play->isEnabled())
            m_play->click();
    });

    const LogListContext listContext{m_context.text, m_context.dateOrder, m_context.loggedIn,
                                     false};
    std::vector<lists::ListRow> rows;
    for (const LogRow& row : BuildLogRows(*m_records, view, listContext))
        rows.push_back(ToListRow(row));
    m_list->SetRows(std::move(rows));
    UpdateButtons();
}

const RemoteLogRecord* CLogViewPage::Selected() const {
    const int source = m_list->SelectedSource();
    if (source < 0 || static_cast<std::size_t>(source) >= m_records->size())
        return nullptr;
    return &(*m_records)[static_cast<std::size_t>(source)];
}

void CLogViewPage::UpdateButtons() {
    const RemoteLogRecord* record = Selected();
    if (m_details)
        m_details->setEnabled(record != nullptr && HasDetails(*record) &&
                              (m_context.loggedIn || SubTypeOf(*record) < kFirstLoggedInSubType));
    if (m_play)
        m_play->setEnabled(record != nullptr && !m_context.fromKeptCopy &&
                           PlayTarget(*record).has_value());
}

QDialog* CLogViewPage::OpenDetails() {
    const RemoteLogRecord* record = Selected();
    if (record == nullptr || !HasDetails(*record))
        return nullptr;
    auto* dialog = new CLogDetailDialog(
        *record, LogListContext{m_context.text, m_context.dateOrder, m_context.loggedIn, false},
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

CLogDetailDialog::CLogDetailDialog(const RemoteLogRecord& record, const LogListContext& context,
                                   QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Details"));
    resize(780, 420);
    auto* layout = new QVBoxLayout(this);
    m_list = Child<lists::ui::CListPage>(this, LogColumns(), false, 16);
    m_list->SetPrintLayout("Remote Log Details", context.text(kTextRemoteLogTitle),
                           lists::RemoteLogGeometry());
    std::vector<lists::ListRow> rows;
    int index = 0;
    for (const LogCells& cells : DetailRows(record, context))
        rows.push_back(
            lists::ListRow{std::vector<std::string>(cells.begin(), cells.end()), 0, index++});
    m_list->SetRows(std::move(rows));
    layout->addWidget(m_list, 1);
    if (DetailViewFor(record) == DetailView::MotionArea) {
        const MotionAreaChange change = MotionAreaOf(record);
        auto* grids = new QGridLayout;
        grids->addWidget(Child<QLabel>(this, QStringLiteral("Before")), 0, 0);
        grids->addWidget(Child<QLabel>(this, QStringLiteral("After")), 0, 1);
        grids->addWidget(Child<CMotionGridView>(this, change.before, change.after), 1, 0);
        grids->addWidget(Child<CMotionGridView>(this, change.after, change.before), 1, 1);
        layout->addLayout(grids);
    }
    auto* close = Child<QPushButton>(this, QStringLiteral("Close"));
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
}

}  // namespace taviro::logs::ui
