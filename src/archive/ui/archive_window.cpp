#include "archive/ui/archive_window.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <ctime>

#include "archive/backup_reader.h"
#include "archive/ui/export_dialog.h"
#include "lists/print_layout.h"
#include "lists/ui/list_page.h"
#include "logs/local_log.h"
#include "logs/local_log_view.h"
#include "platform/ui/background_job.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/entry_pages.h"
#include "timeline/ui/timeline_page.h"

namespace taviro::archive::ui {

namespace {

// The local log's title on paper (its skin text).
constexpr int kTextLocalLogTitle = 5527;

using platform::ui::RunInBackground;

// What one background read of the folder returns.
struct FolderContents {
    std::vector<ArchiveStretch> stretches;
    std::vector<LocalEvent> events;
};

QString TimeText(std::uint32_t seconds, int dateFormat) {
    return QString::fromStdString(
        FormatBookmarkTime(static_cast<std::int32_t>(seconds), dateFormat));
}

QString ChannelsText(std::uint32_t mask) {
    QStringList list;
    for (int c = 0; c < 16; ++c)
        if ((mask >> c) & 1u)
            list << QString::number(c + 1);
    return list.join(QLatin1Char(' '));
}

QPushButton* AddButton(QBoxLayout* layout, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(text);
    layout->addWidget(button);
    return button;
}

}  // namespace

CArchiveWindow::CArchiveWindow(ArchiveWindowContext context, QWidget* parent)
    : CSkinDialog(parent, QSize(600, 520), context.opacity), m_context(std::move(context)) {
    setObjectName(QStringLiteral("ArchiveWindow"));
    SetCaption(QStringLiteral("Local Archive"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 36, 12, 12);
    m_tabs = new QTabWidget(this);
    layout->addWidget(m_tabs, 1);

    m_dateTime = new timeline::ui::CDateTimePage(m_context.dateFormat, m_tabs);
    connect(m_dateTime, &timeline::ui::CDateTimePage::Play, this,
            [this](protocol::RecorderTime t) { PlayAt(static_cast<std::uint32_t>(t)); });
    m_tabs->addTab(m_dateTime, QStringLiteral("Date/Time"));
    m_tabs->addTab(MakeEventPage(), QStringLiteral("Event"));
    m_tabs->addTab(MakeCalendarPage(), QStringLiteral("Calendar"));
    m_tabs->addTab(MakeBookmarkPage(), QStringLiteral("Bookmark"));
    m_tabs->addTab(MakeLocalLogPage(), QStringLiteral("All"));
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        // The log grows while the program runs: read it each time its page is shown.
        if (index == static_cast<int>(ArchivePage::LocalLog))
            LoadLocalLog();
    });

    auto* bottom = new QHBoxLayout;
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("Status"));
    bottom->addWidget(m_status, 1);
    connect(AddButton(bottom, QStringLiteral("Verify"), this), &QPushButton::clicked, this,
            [this] { Verify(); });
    {
        connect(AddButton(bottom, QStringLiteral("Export"), this), &QPushButton::clicked, this,
                [this] {
                    // The range the day timeline shows selected, or the whole archive.
                    std::uint32_t from = 0, to = 0, channels = 0;
                    for (const auto& s : m_stretches) {
                        from = from == 0 ? s.start : std::min(from, s.start);
                        to = std::max(to, s.end + 1);
                        channels |= 1u << s.channel;
                    }
                    if (m_timeline && m_tabs->currentIndex() == 2 &&
                        m_calendarStack->currentWidget() == m_timeline) {
                        const auto day = static_cast<std::uint32_t>(m_timeline->DayStartTime());
                        from = day + static_cast<std::uint32_t>(m_timeline->Selected());
                        to = day + timeline::kDaySeconds;
                    }
                    OpenExport(from, to, channels);
                });
    }
    connect(AddButton(bottom, QStringLiteral("Close"), this), &QPushButton::clicked, this,
            [this] { close(); });
    layout->addLayout(bottom);
    Refresh();
}

QPushButton* CArchiveWindow::Button(const QString& text) const {
    return findChild<QPushButton*>(text);
}

QWidget* CArchiveWindow::MakeEventPage() {
    auto* page = new QWidget(m_tabs);
    auto* layout = new QVBoxLayout(page);
    auto* kinds = new QHBoxLayout;
    m_kinds = new QButtonGroup(page);
    const std::pair<int, const char*> names[] = {{1, "Alarm"}, {2, "Motion"}, {7, "Audio"}};
    for (const auto& [kind, name] : names) {
        auto* radio = new QRadioButton(QString::fromLatin1(name), page);
        m_kinds->addButton(radio, kind);
        kinds->addWidget(radio);
    }
    kinds->addStretch(1);
    layout->addLayout(kinds);
    connect(m_kinds, &QButtonGroup::idClicked, this, [this](int kind) { ShowEvents(kind); });
    m_eventList = new QTreeWidget(page);
    m_eventList->setRootIsDecorated(false);
    m_eventList->setHeaderLabels({QStringLiteral("No."), QStringLiteral("Channels"),
                                  QStringLiteral("Start"), QStringLiteral("End")});
    m_eventList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(m_eventList, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* play = AddButton(buttons, QStringLiteral("Play"), page);
    play->setObjectName(QStringLiteral("PlayEvent"));
    const auto playSelected = [this] {
        const auto* item = m_eventList->currentItem();
        if (item != nullptr)
            PlayAt(item->data(0, Qt::UserRole).toUInt());
    };
    connect(play, &QPushButton::clicked, this, playSelected);
    connect(m_eventList, &QTreeWidget::itemDoubleClicked, this, playSelected);
    layout->addLayout(buttons);
    return page;
}

QWidget* CArchiveWindow::MakeCalendarPage() {
    m_calendarStack = new QStackedWidget(m_tabs);
    m_calendar = new timeline::ui::CCalendarPage(m_calendarStack);
    m_timeline = new timeline::ui::CTimelinePage(false, m_calendarStack);
    m_calendarStack->addWidget(m_calendar);
    m_calendarStack->addWidget(m_timeline);
    connect(m_calendar, &timeline::ui::CCalendarPage::DayChosen, this,
            [this](int y, int m, int d) { ShowDay(y, m, d); });
    // Each day of the month shown is shaded by how much of it the pairs hold.
    connect(m_calendar, &timeline::ui::CCalendarPage::MonthShown, this, [this](int y, int m) {
        for (int d = 0; d < timeline::DaysInMonth(y, m); ++d) {
            const auto records = DayRecords(m_stretches, y, m, d);
            if (!records.empty())
                m_calendar->SetDayShare(
                    y, m, d,
                    timeline::RecordedShare(records, timeline::DayStart(y, m, d),
                                            protocol::kAllChannels));
        }
    });
    connect(m_timeline, &timeline::ui::CTimelinePage::Play, this, [this](int seconds) {
        PlayAt(static_cast<std::uint32_t>(m_timeline->DayStartTime() + seconds));
    });
    // The marks' clip is the export of the marked range; a backup of a backup is no use.
    m_timeline->MarkBackupButton()->hide();
    connect(m_timeline, &timeline::ui::CTimelinePage::Clip, this, [this](int in, int out) {
        std::uint32_t channels = 0;
        for (const auto& s : m_stretches)
            channels |= 1u << s.channel;
        const auto day = static_cast<std::uint32_t>(m_timeline->DayStartTime());
        OpenExport(day + static_cast<std::uint32_t>(in), day + static_cast<std::uint32_t>(out),
                   channels);
    });
    return m_calendarStack;
}

void CArchiveWindow::OpenExport(std::uint32_t from, std::uint32_t to, std::uint32_t channels) {
    if (to <= from || m_export)
        return;
    m_export = new CExportDialog(m_context.folder, m_context.saveFolder, from, to, channels, this);
    m_export->setAttribute(Qt::WA_DeleteOnClose);
    m_export->open();  // window-modal, without a nested event loop
}

QWidget* CArchiveWindow::MakeBookmarkPage() {
    auto* page = new QWidget(m_tabs);
    auto* layout = new QVBoxLayout(page);
    m_bookmarkList = new QTreeWidget(page);
    m_bookmarkList->setRootIsDecorated(false);
    m_bookmarkList->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Name")});
    m_bookmarkList->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    layout->addWidget(m_bookmarkList, 1);
    m_bookmarkName = new QLineEdit(page);
    m_bookmarkName->setMaxLength(static_cast<int>(kBookmarkMaxText));
    m_bookmarkName->setEnabled(false);
    layout->addWidget(m_bookmarkName);
    auto* buttons = new QHBoxLayout;
    auto* remove = AddButton(buttons, QStringLiteral("Delete"), page);
    auto* edit = AddButton(buttons, QStringLiteral("Edit"), page);
    auto* save = AddButton(buttons, QStringLiteral("Save"), page);
    save->hide();
    auto* removeAll = AddButton(buttons, QStringLiteral("Del All"), page);
    buttons->addStretch(1);
    auto* play = AddButton(buttons, QStringLiteral("Play"), page);
    play->setObjectName(QStringLiteral("PlayBookmark"));
    layout->addLayout(buttons);

    connect(remove, &QPushButton::clicked, this, [this] {
        if (const auto b = SelectedBookmark())
            ChangeBookmarks([b = *b](const CBookmarkFile& file) { return file.Delete(b); });
    });
    connect(edit, &QPushButton::clicked, this, [this, edit, save] {
        const auto b = SelectedBookmark();
        if (!b)
            return;
        m_editing = true;
        m_bookmarkName->setEnabled(true);
        m_bookmarkName->setText(QString::fromStdString(b->name));
        m_bookmarkName->selectAll();
        m_bookmarkName->setFocus();
        edit->hide();
        save->show();
    });
    connect(save, &QPushButton::clicked, this, [this, edit, save] {
        const auto b = SelectedBookmark();
        const std::string name = m_bookmarkName->text().toStdString();
        m_editing = false;
        m_bookmarkName->clear();
        m_bookmarkName->setEnabled(false);
        save->hide();
        edit->show();
        if (b)
            ChangeBookmarks(
                [b = *b, name](const CBookmarkFile& file) { return file.Rename(b, name); });
    });
    connect(removeAll, &QPushButton::clicked, this, [this] {
        ChangeBookmarks([](const CBookmarkFile& file) { return file.DeleteAll(); });
    });
    const auto playSelected = [this] {
        if (const auto b = SelectedBookmark()) {
            PlayAt(static_cast<std::uint32_t>(std::max(b->time, 0)));
            close();
        }
    };
    connect(play, &QPushButton::clicked, this, playSelected);
    connect(m_bookmarkList, &QTreeWidget::itemDoubleClicked, this, playSelected);
    return page;
}

QWidget* CArchiveWindow::MakeLocalLogPage() {
    m_localLog = new lists::ui::CListPage(
        lists::ui::ListColumns{
            {QStringLiteral("No."), QStringLiteral("Time"), QStringLiteral("Event"),
             QStringLiteral("User"), QStringLiteral("Address")},
            {40, 144, 120, 70, 160}},
        false, 16, m_tabs);
    const platform::TextLookup text = m_context.text ? m_context.text : platform::BuiltInTexts();
    m_localLog->SetPrintLayout("Local Log", text(kTextLocalLogTitle), lists::LocalLogGeometry());
    return m_localLog;
}

void CArchiveWindow::LoadLocalLog() {
    const std::filesystem::path file = m_context.localLogFile;
    const logs::LocalLogListContext context{
        m_context.text ? m_context.text : platform::BuiltInTexts(), m_context.dateFormat};
    RunInBackground<std::vector<lists::ListRow>>(
        this,
        [file, context] {
            // A missing or unreadable file is an empty list.
            std::vector<lists::ListRow> rows;
            const logs::LocalLogContents contents =
                file.empty() ? logs::LocalLogContents{} : logs::ReadLocalLog(file);
            for (const logs::LocalLogRow& row : logs::BuildLocalLogRows(contents, context))
                rows.push_back(lists::ListRow{
                    {row.cells.begin(), row.cells.end()}, 0, static_cast<int>(row.record)});
            return rows;
        },
        [this](std::vector<lists::ListRow> rows) {
            m_localLog->SetRows(std::move(rows));
            emit Updated();
        });
}

void CArchiveWindow::ShowPage(ArchivePage page) {
    m_tabs->setCurrentIndex(static_cast<int>(page));
}

void CArchiveWindow::Refresh() {
    m_status->setText(
        QStringLiteral("Reading %1 ...").arg(QString::fromStdString(m_context.folder.string())));
    const std::filesystem::path folder = m_context.folder;
    RunInBackground<FolderContents>(
        this,
        [folder] {
            FolderContents contents;
            const auto files = ChainFiles(ScanFolder(folder));
            contents.stretches = archive::Stretches(files);
            contents.events = LocalEvents(folder);
            return contents;
        },
        [this](FolderContents contents) {
            m_stretches = std::move(contents.stretches);
            m_events = std::move(contents.events);
            m_loaded = true;
            auto months = MonthRecords(m_stretches);
            const auto opening = timeline::OpeningPage(months, m_context.currentYear);
            m_calendar->SetRecords(std::move(months), opening, m_context.currentYear);
            m_calendarStack->setCurrentWidget(m_calendar);
            // The event page opens on the first kind that has events.
            int first = 0;
            for (const int kind : {1, 2, 7}) {
                for (const auto& e : m_events) {
                    if (first == 0 && e.kind == kind)
                        first = kind;
                }
            }
            if (first == 0 && m_context.notify && !m_stretches.empty())
                m_context.notify(17, 0);  // the pairs hold no event
            ShowEvents(first == 0 ? 1 : first);
            m_status->setText(m_stretches.empty()
                                  ? QStringLiteral("No backup in %1")
                                        .arg(QString::fromStdString(m_context.folder.string()))
                                  : QString());
            emit Updated();
        });
    LoadBookmarks();
}

void CArchiveWindow::ShowEvents(int kind) {
    m_eventKind = kind;
    if (auto* button = m_kinds->button(kind))
        button->setChecked(true);
    m_eventList->clear();
    for (const auto& e : m_events) {
        if (e.kind != kind)
            continue;
        auto* item = new QTreeWidgetItem(m_eventList);
        item->setText(0, QString::number(e.number));
        item->setText(1, ChannelsText(e.mask));
        item->setText(2, TimeText(e.start, m_context.dateFormat));
        item->setText(3, TimeText(e.end, m_context.dateFormat));
        item->setData(0, Qt::UserRole, e.start);
    }
    if (m_eventList->topLevelItemCount() > 0)
        m_eventList->setCurrentItem(m_eventList->topLevelItem(0));
}

void CArchiveWindow::ShowDay(int year, int month0, int day0) {
    std::uint32_t mask = 0;
    for (const auto& s : m_stretches)
        mask |= 1u << s.channel;
    const int channels = mask == 0 ? 16 : 32 - __builtin_clz(mask);
    m_timeline->SetDay(year, month0, day0, DayRecords(m_stretches, year, month0, day0),
                       channels <= 4 ? 4 : (channels <= 8 ? 8 : 16), protocol::kAllChannels,
                       m_context.dateFormat);
    m_calendarStack->setCurrentWidget(m_timeline);
}

void CArchiveWindow::LoadBookmarks() {
    const std::filesystem::path file = m_context.bookmarkFile;
    RunInBackground<std::vector<Bookmark>>(
        this, [file] { return CBookmarkFile(file).Load(); },
        [this](std::vector<Bookmark> bookmarks) {
            ShowBookmarks(std::move(bookmarks), std::nullopt);
            emit Updated();
        });
}

void CArchiveWindow::ChangeBookmarks(std::function<BookmarkChange(const CBookmarkFile&)> change) {
    const std::filesystem::path file = m_context.bookmarkFile;
    RunInBackground<BookmarkChange>(
        this, [file, change] { return change(CBookmarkFile(file)); },
        [this](BookmarkChange result) {
            if (result.status == BookmarkStatus::Changed ||
                result.status == BookmarkStatus::IoError)
                m_status->setText(QStringLiteral("The bookmarks could not be changed."));
            ShowBookmarks(std::move(result.bookmarks), result.selectedRow);
            emit Updated();
        });
}

void CArchiveWindow::ShowBookmarks(std::vector<Bookmark> bookmarks,
                                   std::optional<std::size_t> select) {
    const int current = m_bookmarkList->currentIndex().row();
    m_bookmarks = std::move(bookmarks);
    m_bookmarkList->clear();
    for (const auto& b : m_bookmarks) {
        auto* item = new QTreeWidgetItem(m_bookmarkList);
        item->setText(0, QString::fromStdString(FormatBookmarkTime(b.time, m_context.dateFormat)));
        item->setText(1, QString::fromStdString(b.name));
    }
    const int rows = m_bookmarkList->topLevelItemCount();
    const int row = select ? static_cast<int>(*select) : std::min(std::max(current, 0), rows - 1);
    if (rows > 0 && row >= 0 && row < rows)
        m_bookmarkList->setCurrentItem(m_bookmarkList->topLevelItem(row));
    for (const char* name : {"Delete", "Edit", "PlayBookmark"}) {
        if (auto* button = Button(QString::fromLatin1(name)))
            button->setEnabled(rows > 0);
    }
}

std::optional<Bookmark> CArchiveWindow::SelectedBookmark() const {
    const int row = m_bookmarkList->currentIndex().row();
    if (row < 0 || static_cast<std::size_t>(row) >= m_bookmarks.size())
        return std::nullopt;
    return m_bookmarks[static_cast<std::size_t>(row)];
}

void CArchiveWindow::Verify() {
    if (m_verifyJob.Running())
        return;  // a cancelled one still ending
    m_status->setText(QStringLiteral("Verifying ..."));
    if (auto* button = Button(QStringLiteral("Verify")))
        button->setEnabled(false);
    const std::filesystem::path folder = m_context.folder;
    const auto verify = m_context.verify;
    // Nothing comes back of a cancelled check: its last pair would read as damaged.
    using Outcome = std::optional<std::vector<PairVerdict>>;
    m_verifyJob.Start<Outcome>(
        this,
        [folder, verify](const std::atomic<bool>& cancel) -> Outcome {
            auto verdicts = verify ? verify(folder, &cancel) : std::vector<PairVerdict>{};
            if (cancel.load())
                return std::nullopt;
            return verdicts;
        },
        [this](Outcome verdicts) {
            if (auto* button = Button(QStringLiteral("Verify")))
                button->setEnabled(true);
            if (!verdicts) {
                m_status->setText(QStringLiteral("Verify cancelled"));
                return;
            }
            m_verdicts = std::move(*verdicts);
            int intact = 0;
            QStringList problems;
            for (const auto& v : m_verdicts) {
                if (v.verdict == Verdict::Intact)
                    ++intact;
                else
                    problems << QString::fromStdString(v.idx.filename().string() + ": " + v.Text());
            }
            QString text =
                QStringLiteral("%1 of %2 pairs intact").arg(intact).arg(m_verdicts.size());
            if (!problems.isEmpty())
                text += QStringLiteral("; ") + problems.join(QStringLiteral("; "));
            m_status->setText(text);
            m_status->setToolTip(problems.join(QLatin1Char('\n')));
            emit Updated();
        });
}

void CArchiveWindow::PlayAt(std::uint32_t time) {
    if (m_context.play)
        m_context.play(time);
}

void CArchiveWindow::CancelJobs() {
    m_verifyJob.Cancel();
    if (CExportDialog* exporter = m_export.data())
        exporter->CancelExport();
}

void CArchiveWindow::closeEvent(QCloseEvent* event) {
    CancelJobs();
    emit Closed();
    CSkinDialog::closeEvent(event);
}

}  // namespace taviro::archive::ui
