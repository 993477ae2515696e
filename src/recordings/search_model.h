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
};

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
    // A page the window has created (it is shown again, never recreated).
    void PageCreated(SearchPage page) { m_pages.insert(page); }
    [[nodiscard]] bool PageExists(SearchPage page) const { return m_pages.count(page) != 0; }
    // WM_PLAY_MONTH_READY and the other ready messages: the page to create or show.
    SearchAction OnReady(std::uint32_t message);
    // WM_SEARCH_RIGHTS: 0 all tabs, 1 only backup remains, 2 only playback remains.
    SearchAction OnRightsChanged(std::uint64_t remains, bool backupRunning);
    // Close, OK or Cancel. `gridShowsRemotePlayback`: the pending selection survives only
    // while the grid shows the playback it belongs to.
    SearchAction Close(bool cancel, bool gridShowsRemotePlayback);
    // The window closes because playback started from it: the pending selection stays.
    SearchAction CloseForPlayback();
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
};

}  // namespace taviro::recordings
