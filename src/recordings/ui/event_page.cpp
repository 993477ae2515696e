#include "recordings/ui/event_page.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "lists/print_layout.h"
#include "lists/ui/list_page.h"
#include "platform/ui/qt_owned.h"

namespace taviro::recordings::ui {

using platform::ui::Child;

namespace {

std::vector<lists::ListRow> RowsOf(const std::vector<EventEntry>& entries, EventKind kind,
                                   int dateOrder) {
    std::vector<lists::ListRow> rows;
    for (const EventRow& r : EventRows(entries, kind, dateOrder)) {
        lists::ListRow row;
        row.cells = {std::to_string(r.number), r.start, r.channels};
        row.channels = entries[r.entry].record.channels;
        row.source = static_cast<int>(r.entry);
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

CEventPage::CEventPage(bool backupSide, int channels, int dateOrder, std::function<bool()> busy,
                       QWidget* parent)
    : QWidget(parent), m_backup(backupSide), m_dateOrder(dateOrder), m_busy(std::move(busy)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* kinds = new QHBoxLayout;
    for (const EventKind kind : kEventKinds) {
        auto* button = Child<QPushButton>(this, QString::fromLatin1(EventKindLabel(kind)));
        button->setCheckable(true);
        connect(button, &QPushButton::clicked, this, [this, kind] {
            Ask(m_pager.PressKind(kind, m_busy && m_busy()));
            UpdateButtons();
        });
        kinds->addWidget(button);
        m_kinds.push_back(button);
    }
    kinds->addStretch(1);
    layout->addLayout(kinds);

    m_list = Child<lists::ui::CListPage>(
        this,
        lists::ui::ListColumns{
            {QStringLiteral("No."), QStringLiteral("Time"), QStringLiteral("Channels")},
            {50, 150, 240}},
        true, channels);
    m_list->SetPrintLayout(backupSide ? "Backup Event List" : "Event List", "Event List",
                           lists::TableGeometry(3));
    layout->addWidget(m_list, 1);

    // The page controls, shown only when the recorder has more than one page.
    auto* paging = m_list->ExtraBar();
    m_prev = Child<QPushButton>(this, QStringLiteral("Prev"));
    m_pageField = Child<QLineEdit>(this);
    m_pageField->setValidator(new QIntValidator(1, 1'000'000, m_pageField));
    m_pageField->setMaximumWidth(60);
    m_pageLabel = Child<QLabel>(this);
    m_next = Child<QPushButton>(this, QStringLiteral("Next"));
    paging->addWidget(m_prev);
    paging->addWidget(m_pageField);
    paging->addWidget(m_pageLabel);
    paging->addWidget(m_next);
    paging->addStretch(1);
    connect(m_prev, &QPushButton::clicked, this,
            [this] { Ask(m_pager.Previous(m_busy && m_busy())); });
    connect(m_next, &QPushButton::clicked, this, [this] { Ask(m_pager.Next(m_busy && m_busy())); });
    connect(m_pageField, &QLineEdit::returnPressed, this,
            [this] { Ask(m_pager.TypePage(m_pageField->text().toInt(), m_busy && m_busy())); });

    if (!backupSide) {
        m_play = m_list->AddButton(QStringLiteral("Play"));
        connect(m_play, &QPushButton::clicked, this, [this] {
            if (const auto event = Selected())
                emit Play(*event);
        });
        connect(m_list, &lists::ui::CListPage::Activated, this, [this](int) {
            if (m_play->isEnabled())
                m_play->click();
        });
    } else {
        m_size = Child<QLabel>(this);
        m_capacity = m_list->AddButton(QStringLiteral("Capacity"));
        m_start = m_list->AddButton(QStringLiteral("Start"));
        paging->addWidget(m_size);
        connect(m_capacity, &QPushButton::clicked, this, [this] {
            if (const auto event = Selected()) {
                m_capacity->setEnabled(false);  // until the recorder answers
                emit Capacity(*event);
            }
        });
        connect(m_start, &QPushButton::clicked, this, [this] {
            if (const auto event = Selected())
                emit StartBackup(*event);
        });
    }
    connect(m_list, &lists::ui::CListPage::SelectionChanged, this, [this](int) {
        // A new event needs a new size before it can start.
        m_startable = false;
        if (m_size)
            m_size->clear();
        UpdateButtons();
    });
    Rebuild();
}

QPushButton* CEventPage::KindButton(EventKind kind) const {
    for (std::size_t i = 0; i < kEventKinds.size(); ++i)
        if (kEventKinds[i] == kind)
            return m_kinds[i];
    return nullptr;
}

void CEventPage::Ask(std::optional<std::int32_t> page) {
    if (page && m_pager.Kind())
        emit Request(*m_pager.Kind(), *page);
}

void CEventPage::SetAnswer(std::shared_ptr<const std::vector<std::uint8_t>> bytes, bool paged) {
    m_bytes = std::move(bytes);
    m_paged = paged;
    static const std::vector<std::uint8_t> kNone;
    const EventReply reply = ParseEventReply(m_bytes ? *m_bytes : kNone, paged);
    m_pager.Answered(reply.currentPage, reply.lastPage);
    m_entries = NumberEvents(reply.records);
    Rebuild();
}

void CEventPage::Restore(EventKind kind, std::shared_ptr<const std::vector<std::uint8_t>> bytes,
                         bool paged) {
    m_pager.PressKind(kind, false);
    SetAnswer(std::move(bytes), paged);
}

void CEventPage::Rebuild() {
    const PagingDisplay paging = Paging(m_pager.Page(), m_pager.LastPage());
    for (QWidget* w : std::initializer_list<QWidget*>{m_prev, m_pageField, m_pageLabel, m_next})
        w->setVisible(paging.visible);
    m_pageField->setText(QString::fromStdString(paging.field));
    m_pageLabel->setText(QString::fromStdString(paging.label));
    m_list->SetRows(m_pager.Kind() ? RowsOf(m_entries, *m_pager.Kind(), m_dateOrder)
                                   : std::vector<lists::ListRow>{});
    UpdateButtons();
}

void CEventPage::SetCapacity(const std::optional<QString>& text, bool startable) {
    if (m_size)
        m_size->setText(text.value_or(QString()));
    m_startable = startable && text.has_value();
    UpdateButtons();
}

void CEventPage::SetPlayAllowed(bool allowed) {
    m_playAllowed = allowed;
    UpdateButtons();
}

std::optional<EventRecord> CEventPage::Selected() const {
    const int source = m_list->SelectedSource();
    if (source < 0 || source >= static_cast<int>(m_entries.size()))
        return std::nullopt;
    return m_entries[static_cast<std::size_t>(source)].record;
}

void CEventPage::UpdateButtons() {
    const auto kind = m_pager.Kind();
    for (std::size_t i = 0; i < m_kinds.size(); ++i)
        m_kinds[i]->setChecked(kind && *kind == kEventKinds[i]);
    const bool selected = Selected().has_value();
    if (m_play)
        m_play->setEnabled(selected && m_playAllowed);
    if (m_capacity)
        m_capacity->setEnabled(selected);
    if (m_start)
        m_start->setEnabled(selected && m_startable);
}

}  // namespace taviro::recordings::ui
