// The remote search window without its widgets: which tabs the user's rights leave
// enabled, which menu and content page each tab and entry opens, what is asked of the
// recorder and when, the pending selection that lets a window reopened during playback show
// the same calendar without asking again, and the reaction to changed rights.
//
// Every call returns what the window is to do; the window only carries it out. The busy
// flag is the search service's (a request outstanding); entries and tabs are ignored while
// it is set.
//
// Threads: the window's thread only.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace taviro::recordings {

enum class SearchTab : int { Search = 0, Backup = 1, Log = 2, Info = 3 };

// The entries of the Search and Backup menus (the Log and Info menus use 450.. as well).
enum class SearchEntry : int { DateTime = 450, Event = 451, Calendar = 452, SelectChannel = 453 };

enum class SearchPage : int {
    PlayDateTime,
    PlayEvents,
    PlayCalendar,
    PlayDay,
    PlayChannels,
    BackupDateTime,
    BackupEvents,
    BackupCalendar,
    BackupDay,
    BackupChannels,
    LogView,
    SystemInfo,
    StatusInfo,
};

enum class SearchRequest : int {
    None,
    PlayMonths,    // PLAY_INFO_MONTH_REQ
    BackupMonths,  // TRANS_INFO_MONTH_REQ
    CapaCancel,    // CAPA_CAL_CANCEL
    Log,           // LOG_INFO_REQ
    Status,        // STATUS_INFO_REQ
};

// The Log menu's entries 450..456 and the Info menu's 450..451.
inline constexpr int kLogViewCount = 7;  // All, Power, Record, Operation, Client, Event, Archive
inline constexpr int kLogViewArchive = 6;
enum class InfoEntry : int { System = 450, Status = 451 };

// What decides the tabs.
struct SearchRights {
    // Newer recorders (major above 1, or 1 with a non-zero minor) decide by the permission
    // tables; older ones by the account (nothing is disabled but backup while it runs).
    bool permissionTables = false;
    bool searchRow = true;  // the user's row 2 (search and playback) is 1
    bool backupRow = true;  // row 3 (backup) is 1
    bool backupRunning = false;
};

// Kept by the connection across search windows: what the last playback started from this
// window came from, with the records it showed, so that reopening the window during that
// playback shows the same page without asking the recorder again.
struct PendingSelection {
    bool pending = false;
    bool fromLog = false;
    int source = 0;  // 1 the event list, 2 the calendar, 0 the time entry
    // The log the playback was started from (fromLog), or the event list's answer
    // (source 1) with its kind and page, so the page is shown again as it was.
    std::shared_ptr<const std::vector<std::uint8_t>> log;
    std::shared_ptr<const std::vector<std::uint8_t>> events;
    bool eventsPaged = false;
    int eventKind = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> months;
    std::shared_ptr<const std::vector<std::uint8_t>> days;
    int year = 0;
    int month0 = 0;
    int day0 = 0;
    void Clear() { *this = PendingSelection{}; }
};

struct SearchAction {
    std::optional<SearchTab> menu;   // show this menu page (its tab pressed, the others not)
    std::optional<SearchPage> page;  // show this content page (the others hidden)
    bool fromPending = false;        // the page is built from the pending selection's records
    int logView = -1;                // with page LogView: which of the seven views
    SearchRequest request = SearchRequest::None;
    bool close = false;
    bool tabsChanged = false;  // redraw the tabs' enabled states
    bool ignored = false;      // nothing happened (busy, disabled, no session)
};

class CSearchModel {
  public:
    // `pending` is the connection's and outlives the model (null without a session).
    CSearchModel(SearchRights rights, PendingSelection* pending);

    // The window opens: tabs by the rights, then the first menu.
    SearchAction Open();
    SearchAction PressTab(SearchTab tab, bool busy);
    // An entry of the open menu.
    SearchAction PressEntry(SearchEntry entry, bool busy);
    // An entry of the Log menu (view 0..6) or the Info menu. `logHeld`: the window holds a
    // log answer already; `loggedIn`: the session's login was accepted (the Archive view).
    SearchAction PressLogEntry(int view, bool busy, bool logHeld, bool loggedIn);
    SearchAction PressInfoEntry(InfoEntry entry, bool busy);
    // A page the window has created (it is shown again, never recreated).
    void PageCreated(SearchPage page) { m_pages.insert(page); }
    [[nodiscard]] bool PageExists(SearchPage page) const { return m_pages.count(page) != 0; }
    // protocol::WM_PLAY_MONTH_READY and the other ready messages: the page to create or show. An
    // event answer goes to the side that asked (wParam); a log answer to the view that asked.
    SearchAction OnReady(std::uint32_t message, std::uint64_t wParam = 0);
    // protocol::WM_SEARCH_RIGHTS: 0 all tabs, 1 only backup remains, 2 only playback remains.
    SearchAction OnRightsChanged(std::uint64_t remains, bool backupRunning);
    // Close, OK or Cancel. `gridShowsRemotePlayback`: the pending selection survives only
    // while the grid shows the playback it belongs to.
    SearchAction Close(bool cancel, bool gridShowsRemotePlayback);
    // The window closes because playback started from it: the pending selection stays.
    SearchAction CloseForPlayback();
    // Playback was started from a row of the log, which is kept to be shown again.
    void PlaybackStartedFromLog(std::shared_ptr<const std::vector<std::uint8_t>> log);
    // Playback was started from `source` (0 time entry, 1 event list, 2 calendar) of the
    // Search menu with these records.
    void PlaybackStarted(int source, std::shared_ptr<const std::vector<std::uint8_t>> months,
                         std::shared_ptr<const std::vector<std::uint8_t>> days, int year,
                         int month0, int day0);

    [[nodiscard]] bool TabEnabled(SearchTab tab) const {
        return m_tabs[static_cast<std::size_t>(tab)];
    }
    [[nodiscard]] std::optional<SearchTab> Menu() const { return m_menu; }

  private:
    SearchAction OpenMenu(SearchTab tab);
    SearchAction ShowPage(SearchPage page);
    void EnableAll(bool on) { m_tabs.fill(on); }

    SearchRights m_rights;
    PendingSelection* m_pending;
    std::array<bool, 4> m_tabs{true, true, true, true};
    std::optional<SearchTab> m_menu;
    std::set<SearchTab> m_menus;  // created menus
    std::set<SearchPage> m_pages;
    int m_askedLogView = 0;  // the view that asked for the log outstanding
};

}  // namespace taviro::recordings
