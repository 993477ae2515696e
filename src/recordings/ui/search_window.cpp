#include "recordings/ui/search_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMessageBox>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <utility>

#include "lists/print_layout.h"
#include "lists/ui/list_page.h"
#include "logs/info_messages.h"
#include "logs/ui/log_view_page.h"
#include "platform/skin_numbers.h"
#include "platform/ui/qt_owned.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"
#include "recordings/backup_progress.h"
#include "recordings/backup_service.h"
#include "recordings/messages.h"
#include "recordings/ui/clip_dialog.h"
#include "recordings/ui/event_page.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/entry_pages.h"
#include "timeline/ui/timeline_page.h"

namespace taviro::recordings::ui {

namespace {

using platform::ui::Child;

constexpr std::uint32_t kTabIds[4] = {430, 431, 432, 433};
constexpr const char* kTabLabels[4] = {"Search", "Backup", "Log", "Info"};
constexpr std::uint32_t kCloseId = 435;
constexpr std::uint32_t kCancelId = 436;
constexpr std::uint32_t kOkId = 1;

const std::vector<const char*> kMenus[4] = {
    {"Date/Time", "Event", "Calendar", "Select Channel"},
    {"Date/Time", "Event", "Calendar", "Select Channel"},
    {"All", "Power", "Record", "Operation", "Client", "Event", "Archive"},
    {"System Info", "Status Info"},
};

constexpr int kWidth = 900;
constexpr int kHeight = 600;

const std::vector<std::uint8_t>& BytesOf(
    const std::shared_ptr<const std::vector<std::uint8_t>>& p) {
    static const std::vector<std::uint8_t> kNone;
    return p ? *p : kNone;
}

}  // namespace

CSearchWindow::CSearchWindow(SearchWindowContext context, QWidget* parent)
    : controls::ui::CSkinDialog(parent, QSize(kWidth, kHeight), context.opacity),
      m_context(std::move(context)),
      m_model(m_context.rights, m_context.pending) {
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    SetCaption(QStringLiteral("Search"));
    const int count = std::clamp(m_context.channelCount, 1, protocol::kMaxChannels);
    m_mask = count >= 32 ? protocol::kAllChannels : ((1u << count) - 1u);
    for (int t = 0; t < 4; ++t) {
        auto* tab = Child<controls::ui::CSkinButtonWidget>(this, kTabIds[t],
                                                           controls::ButtonKind::CheckBox);
        tab->SetFrameCount(platform::skin::kButtonFrames);
        tab->Model().SetStretch(true);
        const int picture = platform::skin::kPicTabButton;
        tab->SetPictures(controls::ButtonPictures{picture, picture, picture, picture, picture},
                         false);
        tab->setGeometry(12 + t * 100, 34, 96, 24);
        tab->SetText(QString::fromLatin1(kTabLabels[t]));
        connect(tab, &controls::ui::CSkinButtonWidget::Clicked, this,
                [this, t] { PressTab(static_cast<SearchTab>(t)); });
        m_tabs[static_cast<std::size_t>(t)] = tab;
        const auto& labels = kMenus[t];
        for (std::size_t e = 0; e < labels.size(); ++e) {
            const auto id = static_cast<std::uint32_t>(450 + e);
            auto* entry = MakeTextButton(id, QString::fromLatin1(labels[e]),
                                         QRect(12, 72 + static_cast<int>(e) * 34, 120, 28));
            entry->hide();
            connect(entry, &controls::ui::CSkinButtonWidget::Clicked, this, [this, t, id] {
                if (m_model.Menu() != static_cast<SearchTab>(t))
                    return;
                if (t == static_cast<int>(SearchTab::Log))
                    PressLogEntry(static_cast<int>(id) - 450);
                else if (t == static_cast<int>(SearchTab::Info))
                    PressInfoEntry(static_cast<InfoEntry>(id));
                else
                    PressEntry(static_cast<SearchEntry>(id));
            });
            m_entries[static_cast<std::size_t>(t)].push_back(entry);
        }
    }
    auto* close = MakeTextButton(kCloseId, QStringLiteral("Close"), QRect(kWidth - 76, 34, 64, 22));
    connect(close, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { CloseWindow(false); });
    auto* ok =
        MakeTextButton(kOkId, QStringLiteral("OK"), QRect(kWidth - 164, kHeight - 36, 72, 26));
    connect(ok, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { CloseWindow(false); });
    auto* cancel = MakeTextButton(kCancelId, QStringLiteral("Cancel"),
                                  QRect(kWidth - 84, kHeight - 36, 72, 26));
    connect(cancel, &controls::ui::CSkinButtonWidget::Clicked, this, [this] { CloseWindow(true); });

    m_body = Child<QStackedWidget>(this);
    m_body->setGeometry(144, 66, kWidth - 156, kHeight - 108);
    m_placeholder = Child<QWidget>(m_body);
    m_body->addWidget(m_placeholder);
}

CSearchWindow::~CSearchWindow() = default;

void CSearchWindow::Open() {
    Apply(m_model.Open());
    // Never a blank page: the Search tab opens where a playback that still runs came from,
    // else on the calendar, which asks the recorder for its months and then shows the
    // latest recorded day (the tabs wait for that short answer; Cancel gives up on it).
    if (m_closed || m_model.Menu() != SearchTab::Search || CurrentPage() != nullptr)
        return;
    SearchEntry entry = SearchEntry::Calendar;
    if (const PendingSelection* p = m_context.pending; p && p->pending && !p->fromLog)
        entry = p->source == 1   ? SearchEntry::Event
                : p->source == 2 ? SearchEntry::Calendar
                                 : SearchEntry::DateTime;
    PressEntry(entry);
    m_bOpening = entry == SearchEntry::Calendar && Busy();
}

void CSearchWindow::GiveUpOpening() {
    // The months asked for at opening, and the days asked for the calendar's shading, were
    // not the operator's requests: a press before their answer drops them rather than being
    // ignored behind them.
    const bool sweeping = (m_sweep && m_sweep->asked) || (m_eventSweep && m_eventSweep->asked);
    m_sweep.reset();
    m_eventSweep.reset();
    if (!std::exchange(m_bOpening, false) && !sweeping)
        return;
    if (CSearchService* service = Service(); service != nullptr && service->Busy())
        service->Cancel();
}

void CSearchWindow::NextShare() {
    if (!m_sweep || m_sweep->asked || m_closed)
        return;
    CCalendarPage* calendar = m_sweep->backup ? m_backupCalendar : m_playCalendar;
    CSearchService* service = Service();
    if (calendar == nullptr || service == nullptr || CurrentPage() != calendar ||
        calendar->Year() != m_sweep->year || calendar->Month() != m_sweep->month0) {
        m_sweep.reset();  // the operator has moved on
        return;
    }
    if (Busy()) {
        QTimer::singleShot(100, this, [this] { NextShare(); });  // after the window's own
        return;
    }
    for (int d = 0; d < 31; ++d) {
        QWidget* button = calendar->DayButton(d);
        if (button == nullptr || !button->isEnabled() ||
            calendar->DayShare(m_sweep->year, m_sweep->month0, d))
            continue;
        if (service->RequestDayShare(m_sweep->backup ? SearchSide::Backup : SearchSide::Playback,
                                     m_sweep->year, m_sweep->month0, d))
            m_sweep->asked = true;
        else
            m_sweep.reset();
        return;
    }
    m_sweep.reset();  // every day of the month is shaded
}

void CSearchWindow::NextDayEvents() {
    if (!m_eventSweep || m_eventSweep->asked || m_closed)
        return;
    CSearchService* service = Service();
    if (service == nullptr || m_playDay == nullptr || CurrentPage() != m_playDay ||
        m_playDay->DayStartTime() != m_eventSweep->dayStart ||
        m_eventSweep->kind >= kEventKinds.size()) {
        m_eventSweep.reset();  // done, or the operator has moved on
        return;
    }
    if (Busy()) {
        QTimer::singleShot(100, this, [this] { NextDayEvents(); });
        return;
    }
    if (service->RequestDayEvents(kEventKinds[m_eventSweep->kind], m_eventSweep->page))
        m_eventSweep->asked = true;
    else
        m_eventSweep.reset();
}

void CSearchWindow::OnDayEvents(const platform::PostedMessage& m) {
    if (!m_eventSweep || !m_eventSweep->asked || m_playDay == nullptr)
        return;
    SearchEventSweep& sweep = *m_eventSweep;
    sweep.asked = false;
    const auto kind = static_cast<std::uint8_t>(m.wParam >> 32);
    const bool paged = m.message == recordings::WM_DAY_EVENTS_PAGE;
    const EventReply reply = ParseEventReply(BytesOf(m.data), paged);
    const std::int64_t dayEnd = sweep.dayStart + timeline::kDaySeconds - 1;
    bool past = false;  // the list is oldest first: a page past the day ends the kind
    for (const EventRecord& r : reply.records) {
        if (r.start > dayEnd) {
            past = true;
            continue;
        }
        if (r.end < sweep.dayStart || r.end < r.start || sweep.events.size() >= kMaxDayEvents)
            continue;
        const auto clampDay = [&](std::int64_t t) {
            return static_cast<int>(
                std::clamp<std::int64_t>(t - sweep.dayStart, 0, timeline::kDaySeconds - 1));
        };
        sweep.events.push_back({kind, clampDay(r.start), clampDay(r.end), r.channels});
    }
    m_playDay->SetEvents(sweep.events);
    if (paged && !past && reply.currentPage < reply.lastPage &&
        sweep.page + 1 < kMaxDayEventPages) {
        ++sweep.page;
    } else {
        ++sweep.kind;
        sweep.page = 0;
    }
    NextDayEvents();
}

void CSearchWindow::OnDayShare(const platform::PostedMessage& m) {
    const bool backup = m.message == recordings::WM_BACKUP_DAY_SHARE;
    const auto day = static_cast<int>(m.wParam);
    const int year = day / 10000, month0 = day / 100 % 100 - 1, day0 = day % 100 - 1;
    if (CCalendarPage* calendar = backup ? m_backupCalendar : m_playCalendar)
        calendar->SetDayShare(year, month0, day0,
                              timeline::RecordedShare(timeline::ParseDayInfo(BytesOf(m.data)),
                                                      timeline::DayStart(year, month0, day0),
                                                      protocol::kAllChannels));
    if (m_sweep && m_sweep->backup == backup) {
        m_sweep->asked = false;
        NextShare();
    }
}

bool CSearchWindow::Busy() const {
    // One request at a time for the whole window: a list, the log or the status.
    const CSearchService* service = Service();
    const logs::CInfoService* info = Info();
    return (service != nullptr && service->Busy()) || (info != nullptr && info->Busy());
}

void CSearchWindow::PressTab(SearchTab tab) {
    GiveUpOpening();
    Apply(m_model.PressTab(tab, Busy()));
    // A click that changed nothing must not leave its tab looking pressed.
    for (int t = 0; t < 4; ++t)
        m_tabs[static_cast<std::size_t>(t)]->SetCheck(
            m_model.Menu() == static_cast<SearchTab>(t) ? 1 : 0);
}

void CSearchWindow::PressEntry(SearchEntry entry) {
    GiveUpOpening();
    Apply(m_model.PressEntry(entry, Busy()));
}

void CSearchWindow::PressLogEntry(int view) {
    GiveUpOpening();
    Apply(m_model.PressLogEntry(view, Busy(), m_log != nullptr, LoggedIn()));
}

void CSearchWindow::PressInfoEntry(InfoEntry entry) {
    GiveUpOpening();
    Apply(m_model.PressInfoEntry(entry, Busy()));
}

QWidget* CSearchWindow::CurrentPage() const {
    QWidget* page = m_body->currentWidget();
    return page == m_placeholder ? nullptr : page;
}

void CSearchWindow::Apply(const SearchAction& action) {
    if (action.ignored || m_closed)
        return;
    if (action.tabsChanged) {
        for (int t = 0; t < 4; ++t)
            m_tabs[static_cast<std::size_t>(t)]->SetButtonEnabled(
                m_model.TabEnabled(static_cast<SearchTab>(t)));
    }
    if (action.menu)
        ShowMenu(*action.menu);
    if (action.page)
        ShowPage(*action.page, action.fromPending, action.logView);
    if (action.request != SearchRequest::None)
        Request(action.request);
    if (action.close) {
        m_closed = true;
        hide();
        emit Closed();
    }
}

void CSearchWindow::ShowMenu(SearchTab tab) {
    for (int t = 0; t < 4; ++t) {
        const bool on = static_cast<SearchTab>(t) == tab;
        m_tabs[static_cast<std::size_t>(t)]->SetCheck(on ? 1 : 0);
        for (QWidget* entry : m_entries[static_cast<std::size_t>(t)])
            entry->setVisible(on);
    }
    // The Archive view is offered only while the login stands.
    if (tab == SearchTab::Log)
        m_entries[static_cast<std::size_t>(SearchTab::Log)][kLogViewArchive]->setVisible(
            LoggedIn());
    m_body->setCurrentWidget(m_placeholder);
}

CEventPage* CSearchWindow::MakeEventPage(bool backup) {
    auto* page = Child<CEventPage>(m_body, backup, m_context.channelCount, m_context.dateFormat,
                                   [this] { return Busy(); });
    const SearchSide side = backup ? SearchSide::Backup : SearchSide::Playback;
    connect(page, &CEventPage::Request, this, [this, side](EventKind kind, std::int32_t p) {
        if (CSearchService* service = Service())
            service->RequestEvents(side, kind, p);
    });
    if (!backup) {
        connect(page, &CEventPage::Play, this, [this](EventRecord e) { PlayFromEvent(e); });
        page->SetPlayAllowed(!(m_context.localPlaybackRunning && m_context.localPlaybackRunning()));
    } else {
        connect(page, &CEventPage::Capacity, this, [this, page](EventRecord e) {
            const EventBackupRange r = EventBackup(m_mask, e);
            if (!RequestCapacity(recordings::BackupRange{r.channels, r.start, r.end, r.kinds}))
                page->SetCapacity(std::nullopt, false);
        });
        connect(page, &CEventPage::StartBackup, this, [this](EventRecord e) {
            const EventBackupRange r = EventBackup(m_mask, e);
            StartBackup(recordings::BackupRange{r.channels, r.start, r.end, r.kinds});
        });
    }
    return page;
}

lists::ui::CListPage* CSearchWindow::MakeInfoPage() {
    auto* page = Child<lists::ui::CListPage>(
        m_body,
        lists::ui::ListColumns{{QStringLiteral("Item"), QStringLiteral("Value"), QString()},
                               {130, 170, 120}},
        false, m_context.channelCount);
    return page;
}

QWidget* CSearchWindow::Page(SearchPage page, int logView) {
    // Pages are made on first use and kept (shown again, never recreated).
    auto keep = [this, page](QWidget* w) {
        m_body->addWidget(w);
        m_model.PageCreated(page);
        return w;
    };
    switch (page) {
        case SearchPage::PlayCalendar:
        case SearchPage::BackupCalendar: {
            const bool backup = page == SearchPage::BackupCalendar;
            CCalendarPage*& slot = backup ? m_backupCalendar : m_playCalendar;
            if (!slot) {
                slot = Child<CCalendarPage>(m_body);
                connect(slot, &CCalendarPage::DayChosen, this,
                        [this, backup](int y, int m, int d) { AskDay(backup, y, m, d); });
                // The month's days are shaded once their records are in, asked one by one
                // after whatever the window asks for itself.
                connect(slot, &CCalendarPage::MonthShown, this, [this, backup](int y, int m) {
                    m_sweep = SearchShareSweep{backup, y, m, false};
                    QTimer::singleShot(0, this, [this] { NextShare(); });
                });
                keep(slot);
            }
            return slot;
        }
        case SearchPage::PlayDay:
        case SearchPage::BackupDay: {
            const bool backup = page == SearchPage::BackupDay;
            CTimelinePage*& slot = backup ? m_backupDay : m_playDay;
            if (!slot) {
                slot = Child<CTimelinePage>(m_body, backup);
                if (!backup) {
                    connect(slot, &CTimelinePage::Play, this, [this](int seconds) {
                        PlayFrom(static_cast<protocol::RecorderTime>(m_playDay->DayStartTime() +
                                                                     seconds),
                                 0, 2);
                    });
                    connect(slot, &CTimelinePage::Clip, this, &CSearchWindow::ClipMarks);
                    connect(slot, &CTimelinePage::BackupMarks, this, &CSearchWindow::BackupMarks);
                } else {
                    const auto range = [this](int start, int end) {
                        const std::int64_t day = m_backupDay->DayStartTime();
                        return std::make_pair(static_cast<protocol::RecorderTime>(day + start),
                                              static_cast<protocol::RecorderTime>(day + end));
                    };
                    connect(slot, &CTimelinePage::Capacity, this, [this, range](int a, int b) {
                        const auto [start, end] = range(a, b);
                        if (!RequestCapacity(recordings::BackupRange{m_mask, start, end}))
                            m_backupDay->SetCapacity(std::nullopt, false);
                    });
                    connect(slot, &CTimelinePage::StartBackup, this, [this, range](int a, int b) {
                        const auto [start, end] = range(a, b);
                        StartBackup(recordings::BackupRange{m_mask, start, end});
                    });
                }
                keep(slot);
            }
            return slot;
        }
        case SearchPage::PlayDateTime:
            if (!m_dateTime) {
                m_dateTime = Child<CDateTimePage>(m_body, m_context.dateFormat);
                connect(m_dateTime, &CDateTimePage::Play, this,
                        [this](protocol::RecorderTime t) { PlayFrom(t, kDateTimeKinds, 0); });
                keep(m_dateTime);
            }
            return m_dateTime;
        case SearchPage::BackupDateTime:
            if (!m_backupRange) {
                m_backupRange = Child<CBackupRangePage>(m_body, m_context.dateFormat);
                connect(m_backupRange, &CBackupRangePage::Capacity, this,
                        [this](protocol::RecorderTime start, protocol::RecorderTime end) {
                            if (!RequestCapacity(recordings::BackupRange{m_mask, start, end}))
                                m_backupRange->SetCapacity(std::nullopt, false);
                        });
                connect(m_backupRange, &CBackupRangePage::StartBackup, this,
                        [this](protocol::RecorderTime start, protocol::RecorderTime end) {
                            StartBackup(recordings::BackupRange{m_mask, start, end});
                        });
                keep(m_backupRange);
            }
            return m_backupRange;
        case SearchPage::PlayChannels:
        case SearchPage::BackupChannels:
            if (!m_channels) {
                m_channels = Child<CChannelPage>(m_body);
                connect(m_channels, &CChannelPage::MaskChanged, this,
                        [this](protocol::ChannelMask mask) { OnMaskChanged(mask); });
                keep(m_channels);
            }
            m_channels->SetChannels(m_context.channelCount, m_mask);
            return m_channels;
        case SearchPage::PlayEvents:
        case SearchPage::BackupEvents: {
            const bool backup = page == SearchPage::BackupEvents;
            CEventPage*& slot = backup ? m_backupEvents : m_playEvents;
            if (!slot) {
                slot = MakeEventPage(backup);
                keep(slot);
            }
            return slot;
        }
        case SearchPage::LogView: {
            if (logView < 0 || logView >= kLogViewCount || !m_log)
                return nullptr;
            auto*& slot = m_logViews[static_cast<std::size_t>(logView)];
            if (!slot) {
                logs::ui::LogViewContext context{m_context.text, m_context.dateFormat, LoggedIn(),
                                                 m_logFromKeptCopy, m_context.channelCount};
                slot = Child<logs::ui::CLogViewPage>(
                    m_body, logs::kLogViews[static_cast<std::size_t>(logView)], m_log,
                    std::move(context));
                connect(slot, &logs::ui::CLogViewPage::Play, this,
                        [this](logs::PlayStart start) { PlayFromLog(start); });
                keep(slot);
            }
            return slot;
        }
        case SearchPage::SystemInfo:
            if (!m_systemPage) {
                m_systemPage = MakeInfoPage();
                m_systemPage->SetPrintLayout("System Info", "System Info", lists::TableGeometry(3));
                std::vector<lists::ListRow> rows;
                for (const logs::InfoRow& r : logs::SystemRows(m_context.system, m_context.text))
                    rows.push_back(lists::ListRow{{r.label, r.value, r.extra}, 0, -1});
                m_systemPage->SetRows(std::move(rows));
                keep(m_systemPage);
            }
            return m_systemPage;
        case SearchPage::StatusInfo:
            if (!m_statusPage) {
                m_statusPage = MakeInfoPage();
                m_statusPage->SetPrintLayout("Status Info", "Status Info", lists::TableGeometry(3));
                keep(m_statusPage);
            }
            return m_statusPage;
    }
    return nullptr;
}

void CSearchWindow::ShowPage(SearchPage page, bool fromPending, int logView) {
    m_bOpening = false;
    if (fromPending && page == SearchPage::LogView && m_context.pending && !m_log) {
        // Shown again from the copy a playback started from the log keeps (Play is off).
        m_logFromKeptCopy = true;
        m_logBytes = m_context.pending->log;
        m_log = std::make_shared<const std::vector<logs::RemoteLogRecord>>(
            logs::ParseRemoteLog(BytesOf(m_logBytes)).records);
    }
    if (fromPending && page == SearchPage::PlayEvents && m_context.pending) {
        const PendingSelection& p = *m_context.pending;
        auto* events = static_cast<CEventPage*>(Page(page));
        events->Restore(static_cast<EventKind>(p.eventKind), p.events, p.eventsPaged);
    }
    if (fromPending && page == SearchPage::PlayCalendar && m_context.pending) {
        const PendingSelection& p = *m_context.pending;
        m_months = p.months;
        auto* calendar = static_cast<CCalendarPage*>(Page(page));
        calendar->SetRecords(timeline::ParseMonthInfo(BytesOf(p.months)),
                             timeline::CalendarPage{p.year, p.month0}, p.year);
    }
    QWidget* w = Page(page, logView);
    if (w != nullptr)
        m_body->setCurrentWidget(w);
}

void CSearchWindow::Request(SearchRequest request) {
    CSearchService* service = Service();
    switch (request) {
        case SearchRequest::PlayMonths:
            if (service)
                service->RequestMonths(SearchSide::Playback);
            break;
        case SearchRequest::BackupMonths:
            if (service)
                service->RequestMonths(SearchSide::Backup);
            break;
        case SearchRequest::CapaCancel:
            if (m_context.sendCapacityCancel)
                m_context.sendCapacityCancel();
            break;
        case SearchRequest::Log:
            if (logs::CInfoService* info = Info())
                info->RequestLog();
            break;
        case SearchRequest::Status:
            if (logs::CInfoService* info = Info())
                info->RequestStatus();
            break;
        case SearchRequest::None:
            break;
    }
}

void CSearchWindow::AskDay(bool backup, int year, int month0, int day0) {
    GiveUpOpening();
    CSearchService* service = Service();
    if (!service)
        return;
    // A click while a request is outstanding does nothing.
    if (service->RequestDay(backup ? SearchSide::Backup : SearchSide::Playback, year, month0,
                            day0)) {
        (backup ? m_backupDate : m_playDate) = {year, month0, day0};
    }
}

void CSearchWindow::OnPosted(const platform::PostedMessage& m) {
    if (m_closed)
        return;
    switch (m.message) {
        case protocol::WM_PLAY_MONTH_READY:
        case protocol::WM_BACKUP_MONTH_READY: {
            const bool backup = m.message == protocol::WM_BACKUP_MONTH_READY;
            m_months = m.data;
            auto records = timeline::ParseMonthInfo(BytesOf(m.data));
            const auto opening = timeline::OpeningPage(records, m_context.currentYear);
            if (!opening && m_context.notify)
                m_context.notify(4, 0);  // no year holds recordings
            auto* calendar = static_cast<CCalendarPage*>(
                Page(backup ? SearchPage::BackupCalendar : SearchPage::PlayCalendar));
            calendar->SetRecords(std::move(records), opening, m_context.currentYear);
            Apply(m_model.OnReady(m.message));
            break;
        }
        case recordings::WM_PLAY_DAY_READY:
        case recordings::WM_BACKUP_DAY_READY: {
            const bool backup = m.message == recordings::WM_BACKUP_DAY_READY;
            m_days = m.data;
            const auto day = static_cast<int>(m.wParam);
            const int year = day / 10000, month0 = day / 100 % 100 - 1, day0 = day % 100 - 1;
            (backup ? m_backupDate : m_playDate) = {year, month0, day0};
            int initial = 0;
            const std::int64_t dayStart = timeline::DayStart(year, month0, day0);
            if (!backup && m_context.gridShowsRemotePlayback &&
                m_context.gridShowsRemotePlayback() && m_context.playbackPosition) {
                // Remote playback runs: the timeline opens at its position on that day.
                const std::int64_t into = m_context.playbackPosition() - dayStart;
                if (into >= 0 && into < timeline::kDaySeconds)
                    initial = static_cast<int>(into);
            }
            auto* timeline = static_cast<CTimelinePage*>(
                Page(backup ? SearchPage::BackupDay : SearchPage::PlayDay));
            auto records = timeline::ParseDayInfo(BytesOf(m.data));
            if (CCalendarPage* calendar = backup ? m_backupCalendar : m_playCalendar)
                calendar->SetDayShare(
                    year, month0, day0,
                    timeline::RecordedShare(records, dayStart, protocol::kAllChannels));
            timeline->SetDay(year, month0, day0, std::move(records), m_context.channelCount, m_mask,
                             m_context.dateFormat, initial);
            if (!backup) {
                // The day's events as marks, asked for after what the window asks itself.
                m_eventSweep.emplace();
                m_eventSweep->dayStart = dayStart;
                QTimer::singleShot(0, this, [this] { NextDayEvents(); });
            }
            Apply(m_model.OnReady(m.message));
            break;
        }
        case recordings::WM_DAY_EVENTS_PAGE:
        case recordings::WM_DAY_EVENTS_LIST:
            OnDayEvents(m);
            break;
        case recordings::WM_PLAY_DAY_SHARE:
        case recordings::WM_BACKUP_DAY_SHARE:
            OnDayShare(m);
            break;
        case recordings::WM_EVENT_LIST_READY:
        case recordings::WM_EVENT_PAGE_READY:
            OnEventAnswer(m);
            break;
        case logs::WM_RECORDER_LOG_DONE:
            OnLog(m);
            break;
        case logs::WM_RECORDER_STATUS_DONE:
            OnStatus(m);
            break;
        case protocol::WM_SEARCH_RIGHTS:
            Apply(m_model.OnRightsChanged(m.wParam, m_context.rights.backupRunning));
            break;
        case recordings::WM_BACKUP_CAPACITY:
            if (!OnMarkedCapacity(m))
                OnCapacity(m);
            break;
        default:
            break;
    }
}

void CSearchWindow::OnEventAnswer(const platform::PostedMessage& m) {
    // The answer goes to the list that asked (wParam: the side), never to whichever exists.
    const bool backup = m.wParam == static_cast<std::uint64_t>(SearchSide::Backup);
    auto* page =
        static_cast<CEventPage*>(Page(backup ? SearchPage::BackupEvents : SearchPage::PlayEvents));
    page->SetAnswer(m.data, m.message == recordings::WM_EVENT_PAGE_READY);
    Apply(m_model.OnReady(m.message, m.wParam));
}

void CSearchWindow::OnLog(const platform::PostedMessage& m) {
    if (m.lParam == logs::kInfoRefused)
        return;  // the main window shows why; the window stays as it was
    const logs::RemoteLogParse parse = logs::ParseRemoteLog(BytesOf(m.data));
    if (!parse.error.empty() && m_context.notify)
        m_context.notify(4, 0);  // nothing readable: as when the recorder has no data
    m_logBytes = m.data;
    m_log = std::make_shared<const std::vector<logs::RemoteLogRecord>>(parse.records);
    m_logFromKeptCopy = false;
    Apply(m_model.OnReady(m.message, m.wParam));
}

void CSearchWindow::OnStatus(const platform::PostedMessage& m) {
    if (m.lParam == logs::kInfoRefused)
        return;  // no status page without a complete answer
    auto* page = static_cast<lists::ui::CListPage*>(Page(SearchPage::StatusInfo));
    std::vector<lists::ListRow> rows;
    for (const logs::InfoRow& r : logs::StatusRows(logs::ParseStatusInfo(BytesOf(m.data)),
                                                   m_context.channelCount, m_context.text))
        rows.push_back(lists::ListRow{{r.label, r.value, r.extra}, 0, -1});
    page->SetRows(std::move(rows));
    Apply(m_model.OnReady(m.message, m.wParam));
}

void CSearchWindow::PlayFromEvent(const EventRecord& event) {
    if (m_context.localPlaybackRunning && m_context.localPlaybackRunning())
        return;
    if (!m_context.startPlayback || !m_context.startPlayback(EventPlayRequest(m_mask, event)))
        return;
    m_model.PlaybackStarted(1, m_months, nullptr, m_playDate[0], m_playDate[1], m_playDate[2]);
    if (m_context.pending && m_playEvents && m_playEvents->Pager().Kind()) {
        m_context.pending->events = m_playEvents->Answer();
        m_context.pending->eventsPaged = m_playEvents->AnswerPaged();
        m_context.pending->eventKind = static_cast<int>(*m_playEvents->Pager().Kind());
    }
    Apply(m_model.CloseForPlayback());
}

void CSearchWindow::PlayFromLog(const logs::PlayStart& start) {
    if (m_logFromKeptCopy || !m_context.startPlayback)
        return;
    PlayRequest request;
    request.channels = start.channelMask;
    request.start = static_cast<protocol::RecorderTime>(start.start);
    if (!m_context.startPlayback(request))
        return;
    m_model.PlaybackStartedFromLog(m_logBytes);
    Apply(m_model.CloseForPlayback());
}

void CSearchWindow::PlayFrom(protocol::RecorderTime start, std::uint32_t kinds, int source) {
    if (m_context.localPlaybackRunning && m_context.localPlaybackRunning())
        return;
    if (!m_context.startPlayback)
        return;
    PlayRequest request;
    request.channels = m_mask;
    request.kinds = kinds;
    request.start = start;
    if (!m_context.startPlayback(request))
        return;
    const auto& date = m_playDate;
    m_model.PlaybackStarted(source, m_months, source == 2 ? m_days : nullptr, date[0], date[1],
                            date[2]);
    // The search pages close once playback starts; the pending selection brings them back.
    Apply(m_model.CloseForPlayback());
}

bool CSearchWindow::RequestCapacity(const recordings::BackupRange& range) {
    // The answers come in the order asked: the next one is this request's, not a marked
    // range's asked before (whose answer may never have come).
    m_marked.reset();
    return range.end > range.start && m_context.requestCapacity && m_context.requestCapacity(range);
}

void CSearchWindow::OnMaskChanged(protocol::ChannelMask mask) {
    m_mask = mask;
    // The ranges already chosen stay; only the sizes, asked for the old channels, go.
    if (m_backupDay)
        m_backupDay->SetShown(mask);
    if (m_backupRange)
        m_backupRange->SetCapacity(std::nullopt, false);
    if (m_backupEvents)
        m_backupEvents->SetCapacity(std::nullopt, false);
    m_capacityKb.reset();
}

void CSearchWindow::StartBackup(const recordings::BackupRange& range) {
    if (m_capacityKb && *m_capacityKb >= kConfirmBackupKilobytes) {
        // A range of many hours: the size is said and the user confirms before it starts.
        auto* box = new QMessageBox(
            QMessageBox::Question, QStringLiteral("Backup"),
            QString::fromStdString(BackupConfirmText(*m_capacityKb, archive::kDefaultSplitBytes)),
            QMessageBox::Yes | QMessageBox::No, this);
        box->setObjectName(QStringLiteral("ConfirmBackupSize"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        connect(box, &QMessageBox::finished, this, [this, box, range](int) {
            if (box->clickedButton() == box->button(QMessageBox::Yes))
                StartBackupNow(range);
            else if (m_capacityKb)
                ShowCapacity(*m_capacityKb);
        });
        box->open();
        return;
    }
    StartBackupNow(range);
}

void CSearchWindow::StartBackupNow(const recordings::BackupRange& range) {
    if (!m_context.startBackup || !m_context.startBackup(range)) {
        // Not started (the owner said why): Start may be pressed again.
        if (m_capacityKb)
            ShowCapacity(*m_capacityKb);
        return;
    }
    // The window closes once the transfer has been asked for.
    QTimer::singleShot(50, this, [this] { CloseWindow(false); });
}

void CSearchWindow::ClipMarks(int in, int out) {
    const std::int64_t day = m_playDay->DayStartTime();
    const recordings::BackupRange range{m_mask, static_cast<protocol::RecorderTime>(day + in),
                                        static_cast<protocol::RecorderTime>(day + out)};
    // Each clip gets a folder of its own, named by its start: its files are chNN.mp4.
    protocol::UserTime t;
    protocol::GetTime_tToUsertime(range.start, &t);
    const QString name = QString::asprintf("clip-%04d%02d%02d-%02d%02d%02d", t.year, t.month + 1,
                                           t.day + 1, t.hour, t.minute, t.second);
    const std::filesystem::path base =
        m_context.clipFolder ? m_context.clipFolder() : std::filesystem::path();
    QString channels;
    for (int c = 0; c < 16; ++c)
        if ((m_mask >> c) & 1u)
            channels += QStringLiteral(" CH%1").arg(c + 1, 2, 10, QLatin1Char('0'));
    auto* dialog = new CClipDialog(  // NOLINT(cppcoreguidelines-owning-memory): deleted on close
        QStringLiteral("%1 to %2,%3")
            .arg(timeline::ui::TimeOfDayText(in), timeline::ui::TimeOfDayText(out), channels),
        base / name.toStdString(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QDialog::accepted, this, [this, dialog, range] {
        if (RequestCapacity(range))
            m_marked = SearchMarkedRange{range, true, dialog->Folder(), dialog->Matroska()};
    });
    dialog->open();
}

void CSearchWindow::BackupMarks(int in, int out) {
    const std::int64_t day = m_playDay->DayStartTime();
    const recordings::BackupRange range{m_mask, static_cast<protocol::RecorderTime>(day + in),
                                        static_cast<protocol::RecorderTime>(day + out)};
    if (RequestCapacity(range))
        m_marked = SearchMarkedRange{range, false, {}, false};
}

bool CSearchWindow::OnMarkedCapacity(const platform::PostedMessage& m) {
    if (!m_marked)
        return false;
    const SearchMarkedRange marked = *m_marked;
    m_marked.reset();
    if (m.lParam <= 0)
        return true;  // refused, or too large for the disk: the main window says which
    const auto kilobytes = static_cast<std::uint32_t>(m.wParam);
    if (kilobytes == 0) {
        QMessageBox::information(this,
                                 marked.clip ? QStringLiteral("Clip") : QStringLiteral("Backup"),
                                 QStringLiteral("Nothing is recorded between In and Out on the "
                                                "chosen channels."));
        return true;
    }
    if (!marked.clip) {
        m_capacityKb = kilobytes;  // a large backup is confirmed first, as on the backup pages
        StartBackup(marked.range);
        return true;
    }
    if (m_context.startClip && m_context.startClip(marked.range, marked.folder, marked.matroska))
        QTimer::singleShot(50, this, [this] { CloseWindow(false); });
    return true;
}

void CSearchWindow::ShowCapacity(std::uint32_t kilobytes) {
    const bool running = m_context.backupRunning && m_context.backupRunning();
    ShowCapacity(QString::fromStdString(recordings::CapacityText(kilobytes)),
                 kilobytes > 0 && !running);
}

void CSearchWindow::OnCapacity(const platform::PostedMessage& m) {
    // Whichever backup page asked (the timeline or the time entry) shows the answer.
    m_capacityKb.reset();
    if (m.lParam > 0) {
        m_capacityKb = static_cast<std::uint32_t>(m.wParam);
        ShowCapacity(*m_capacityKb);
    } else {
        ShowCapacity(std::nullopt, false);
    }
}

void CSearchWindow::ShowCapacity(std::optional<QString> text, bool startable) {
    if (m_backupDay && m_body->currentWidget() == m_backupDay)
        m_backupDay->SetCapacity(text, startable);
    if (m_backupRange && m_body->currentWidget() == m_backupRange)
        m_backupRange->SetCapacity(text, startable);
    if (m_backupEvents && m_body->currentWidget() == m_backupEvents)
        m_backupEvents->SetCapacity(text, startable);
}

void CSearchWindow::CloseWindow(bool cancel) {
    if (m_closed)
        return;
    const bool playing = m_context.gridShowsRemotePlayback && m_context.gridShowsRemotePlayback();
    // A list still on its way is for this window only: the next window may ask at once
    // rather than wait for an answer that may never come.
    if (CSearchService* service = Service())
        service->Cancel();
    if (logs::CInfoService* info = Info())
        info->Cancel();
    Apply(m_model.Close(cancel, playing));
}

void CSearchWindow::closeEvent(QCloseEvent* event) {
    CloseWindow(false);
    QDialog::closeEvent(event);
}

}  // namespace taviro::recordings::ui
