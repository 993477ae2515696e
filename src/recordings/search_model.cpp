#include "recordings/search_model.h"

#include "logs/info_messages.h"
#include "platform/message_sink.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"

namespace taviro::recordings {

namespace {

SearchAction Ignored() {
    SearchAction a;
    a.ignored = true;
    return a;
}

SearchAction Closing() {
    SearchAction a;
    a.close = true;
    return a;
}

}  // namespace

CSearchModel::CSearchModel(SearchRights rights, PendingSelection* pending)
    : m_rights(rights), m_pending(pending) {}

SearchAction CSearchModel::OpenMenu(SearchTab tab) {
    m_menu = tab;
    m_menus.insert(tab);
    SearchAction a;
    a.menu = tab;
    return a;
}

SearchAction CSearchModel::ShowPage(SearchPage page) {
    SearchAction a;
    a.page = page;
    return a;
}

SearchAction CSearchModel::Open() {
    SearchAction a;
    a.tabsChanged = true;
    if (m_pending == nullptr) {
        return a;  // without a session nothing more happens
    }
    if (m_rights.permissionTables) {
        if (!m_rights.searchRow) {
            m_tabs = {false, true, false, false};
            if (m_rights.backupRunning || !m_rights.backupRow) {
                a.close = true;  // nothing this user may open
                return a;
            }
            SearchAction menu = OpenMenu(SearchTab::Backup);
            menu.tabsChanged = true;
            return menu;
        }
        if (!m_rights.backupRow || m_rights.backupRunning) {
            m_tabs[static_cast<std::size_t>(SearchTab::Backup)] = false;
        }
    } else if (m_rights.backupRunning) {
        m_tabs[static_cast<std::size_t>(SearchTab::Backup)] = false;
    }
    SearchAction menu =
        OpenMenu(m_pending->pending && m_pending->fromLog ? SearchTab::Log : SearchTab::Search);
    menu.tabsChanged = true;
    return menu;
}

SearchAction CSearchModel::PressTab(SearchTab tab, bool busy) {
    if (busy || !TabEnabled(tab)) {
        return Ignored();
    }
    if (tab == SearchTab::Backup && m_menus.count(SearchTab::Backup) == 0 && m_pending != nullptr &&
        m_rights.permissionTables && !m_rights.backupRow) {
        // The backup menu is never made for a user without the backup right.
        if (!m_rights.searchRow) {
            return Closing();
        }
        if (m_menus.count(SearchTab::Search) == 0 && m_menus.count(SearchTab::Log) != 0) {
            return OpenMenu(SearchTab::Log);
        }
        if (m_menus.count(SearchTab::Search) == 0 && m_menus.count(SearchTab::Info) != 0) {
            return OpenMenu(SearchTab::Info);
        }
        return OpenMenu(SearchTab::Search);
    }
    return OpenMenu(tab);
}

SearchAction CSearchModel::PressEntry(SearchEntry entry, bool busy) {
    if (busy || !m_menu || m_pending == nullptr) {
        return Ignored();
    }
    const bool play = *m_menu == SearchTab::Search;
    if (!play && *m_menu != SearchTab::Backup) {
        return Ignored();  // the Log and Info menus have entries of their own
    }
    switch (entry) {
        case SearchEntry::DateTime:
            return ShowPage(play ? SearchPage::PlayDateTime : SearchPage::BackupDateTime);
        case SearchEntry::SelectChannel:
            return ShowPage(play ? SearchPage::PlayChannels : SearchPage::BackupChannels);
        case SearchEntry::Event: {
            SearchAction a = ShowPage(play ? SearchPage::PlayEvents : SearchPage::BackupEvents);
            // Reopened during playback started from the event list: the list as it was.
            a.fromPending = play && m_pending->pending && !m_pending->fromLog &&
                            m_pending->source == 1 && m_pending->events != nullptr;
            return a;
        }
        case SearchEntry::Calendar:
            break;
    }
    if (!play) {
        SearchAction a;
        a.request = SearchRequest::BackupMonths;
        return a;
    }
    if (m_pending->pending && (m_pending->fromLog || m_pending->source != 2)) {
        m_pending->Clear();  // a selection of another kind does not open the calendar
    }
    if (m_pending->pending && m_pending->source == 2) {
        SearchAction a = ShowPage(SearchPage::PlayCalendar);
        a.fromPending = true;
        return a;
    }
    if (PageExists(SearchPage::PlayCalendar)) {
        return ShowPage(SearchPage::PlayCalendar);
    }
    SearchAction a;
    a.request = SearchRequest::PlayMonths;
    return a;
}

SearchAction CSearchModel::PressLogEntry(int view, bool busy, bool logHeld, bool loggedIn) {
    if (busy || m_menu != SearchTab::Log || m_pending == nullptr || view < 0 ||
        view >= kLogViewCount || (view == kLogViewArchive && !loggedIn)) {
        return Ignored();
    }
    SearchAction a;
    const bool fromPending = m_pending->pending && m_pending->fromLog && m_pending->log;
    if (!logHeld && !fromPending) {
        // Nothing to show yet: ask, and show the view that asked once the log is in.
        m_askedLogView = view;
        a.request = SearchRequest::Log;
        return a;
    }
    a.page = SearchPage::LogView;
    a.logView = view;
    a.fromPending = !logHeld && fromPending;
    return a;
}

SearchAction CSearchModel::PressInfoEntry(InfoEntry entry, bool busy) {
    if (busy || m_menu != SearchTab::Info) {
        return Ignored();
    }
    if (entry == InfoEntry::System) {
        return ShowPage(SearchPage::SystemInfo);
    }
    if (m_pending == nullptr) {
        return Ignored();  // the status needs the recorder
    }
    if (PageExists(SearchPage::StatusInfo)) {
        return ShowPage(SearchPage::StatusInfo);
    }
    SearchAction a;
    a.request = SearchRequest::Status;
    return a;
}

void CSearchModel::PlaybackStartedFromLog(std::shared_ptr<const std::vector<std::uint8_t>> log) {
    if (m_pending == nullptr) {
        return;
    }
    m_pending->Clear();
    m_pending->pending = true;
    m_pending->fromLog = true;
    m_pending->log = std::move(log);
}

SearchAction CSearchModel::OnReady(std::uint32_t message, std::uint64_t wParam) {
    switch (message) {
        case recordings::WM_EVENT_LIST_READY:
        case recordings::WM_EVENT_PAGE_READY:
            return ShowPage(wParam == 1 ? SearchPage::BackupEvents : SearchPage::PlayEvents);
        case logs::WM_RECORDER_LOG_DONE: {
            SearchAction a = ShowPage(SearchPage::LogView);
            a.logView = m_askedLogView;
            return a;
        }
        case logs::WM_RECORDER_STATUS_DONE:
            return ShowPage(SearchPage::StatusInfo);
        case protocol::WM_PLAY_MONTH_READY:
            return ShowPage(SearchPage::PlayCalendar);
        case protocol::WM_BACKUP_MONTH_READY:
            return ShowPage(SearchPage::BackupCalendar);
        case recordings::WM_PLAY_DAY_READY:
            return ShowPage(SearchPage::PlayDay);
        case recordings::WM_BACKUP_DAY_READY:
            return ShowPage(SearchPage::BackupDay);
        default:
            return Ignored();
    }
}

SearchAction CSearchModel::OnRightsChanged(std::uint64_t remains, bool backupRunning) {
    if (!m_rights.permissionTables) {
        return Ignored();
    }
    SearchAction a;
    a.tabsChanged = true;
    switch (remains) {
        case 0:
            EnableAll(true);
            return a;
        case 1:
            m_tabs = {false, true, false, false};
            if (backupRunning) {
                a.close = true;
                return a;
            }
            a.menu = SearchTab::Backup;
            m_menu = SearchTab::Backup;
            m_menus.insert(SearchTab::Backup);
            return a;
        case 2:
            m_tabs = {true, false, true, true};
            if (m_menus.count(SearchTab::Backup) != 0) {
                const SearchTab next =
                    m_pending != nullptr && m_pending->pending && m_pending->fromLog
                        ? SearchTab::Log
                        : SearchTab::Search;
                a.menu = next;
                m_menu = next;
                m_menus.insert(next);
            }
            return a;
        default:
            return Ignored();
    }
}

SearchAction CSearchModel::Close(bool cancel, bool gridShowsRemotePlayback) {
    if (m_pending != nullptr && (cancel || !gridShowsRemotePlayback)) {
        m_pending->Clear();
    }
    SearchAction a;
    a.close = true;
    if (cancel) {
        a.request = SearchRequest::CapaCancel;  // sent even when nothing is being calculated
    }
    return a;
}

SearchAction CSearchModel::CloseForPlayback() {
    return Closing();
}

void CSearchModel::PlaybackStarted(int source,
                                   std::shared_ptr<const std::vector<std::uint8_t>> months,
                                   std::shared_ptr<const std::vector<std::uint8_t>> days, int year,
                                   int month0, int day0) {
    if (m_pending == nullptr) {
        return;
    }
    m_pending->pending = true;
    m_pending->fromLog = false;
    m_pending->source = source;
    m_pending->months = std::move(months);
    m_pending->days = std::move(days);
    m_pending->year = year;
    m_pending->month0 = month0;
    m_pending->day0 = day0;
}

}  // namespace taviro::recordings
