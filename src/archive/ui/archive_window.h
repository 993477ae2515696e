// The local archive window (LSearch): the backup pairs of the download folder on four
// pages, "Date/Time" (a time typed in), "Event" (the events stored in the pairs),
// "Calendar" (the recorder's calendar and day timeline, drawn from the index files) and
// "Bookmark" (the bookmark list), each of which starts local playback at a time; and the
// folder's checks: Verify (every pair's structure and watermarks) and Export (a range of
// channels to MP4 or Matroska files).
//
// Thread: the GUI thread. Everything that reads or writes files runs in the background
// (platform::ui::RunInBackground) and comes back as a refresh of the pages; Verify and Export,
// which can take minutes, each run on a thread of their own (CLongJob) and are cancelled when
// the window closes or the program quits.
// Ownership: the main window owns the window (Qt parent) and the context's callbacks.
#pragma once

#include "platform/texts.h"

#include <QPointer>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "archive/archive_calendar.h"
#include "archive/bookmarks.h"
#include "archive/ui/export_dialog.h"
#include "archive/ui/long_job.h"
#include "archive/verify.h"
#include "controls/ui/skin_dialog.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;

namespace taviro::timeline::ui {
class CCalendarPage;
class CTimelinePage;
class CDateTimePage;
}  // namespace taviro::timeline::ui

namespace taviro::lists::ui {
class CListPage;
}  // namespace taviro::lists::ui

namespace taviro::archive::ui {

struct ArchiveWindowContext {
    std::filesystem::path folder;        // the download folder
    std::filesystem::path bookmarkFile;  // Log/BookMarkInfo.log
    // Starts local playback at this time (live view and remote playback stop first).
    std::function<void(std::uint32_t)> play;
    std::function<void(int category, int code)> notify;
    std::filesystem::path saveFolder;    // where exports go unless the user names another file
    std::filesystem::path localLogFile;  // Log/m7400.log, listed on the "All" page
    platform::TextLookup text;           // skin texts (the local log's event words)
    int dateFormat = 0;
    int currentYear = 2026;
    std::uint8_t opacity = 255;
    // What Verify runs on its job's thread (the folder's check; tests put their own here).
    std::function<std::vector<PairVerdict>(const std::filesystem::path&, const std::atomic<bool>*)>
        verify = VerifyFolder;
};

enum class ArchivePage { DateTime = 0, Event = 1, Calendar = 2, Bookmark = 3, LocalLog = 4 };

class CArchiveWindow final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    CArchiveWindow(ArchiveWindowContext context, QWidget* parent);

    // Reads the folder and the bookmarks again (in the background).
    void Refresh();
    void ShowPage(ArchivePage page);
    // A bookmark was added elsewhere (the playback controls): the list is read again.
    void BookmarksChanged() { LoadBookmarks(); }

    // For the main window and tests.
    [[nodiscard]] bool Loaded() const { return m_loaded; }
    [[nodiscard]] const std::vector<ArchiveStretch>& Stretches() const { return m_stretches; }
    [[nodiscard]] const std::vector<LocalEvent>& Events() const { return m_events; }
    [[nodiscard]] const std::vector<Bookmark>& Bookmarks() const { return m_bookmarks; }
    [[nodiscard]] const std::vector<PairVerdict>& Verdicts() const { return m_verdicts; }
    timeline::ui::CCalendarPage* Calendar() const { return m_calendar; }
    timeline::ui::CTimelinePage* Timeline() const { return m_timeline; }
    QTreeWidget* EventList() const { return m_eventList; }
    QTreeWidget* BookmarkList() const { return m_bookmarkList; }
    QLineEdit* BookmarkName() const { return m_bookmarkName; }
    QPushButton* Button(const QString& text) const;
    QTabWidget* Tabs() const { return m_tabs; }
    CExportDialog* ExportDialog() const { return m_export; }
    lists::ui::CListPage* LocalLog() const { return m_localLog; }
    // Reads the local log again (in the background); Updated follows.
    void LoadLocalLog();
    // Stops a running Verify and Export at their next record (closing and quitting do).
    void CancelJobs();
    [[nodiscard]] bool Verifying() const { return m_verifyJob.Running(); }

  signals:
    void Closed();
    // A refresh, a bookmark change or a verification has come back.
    void Updated();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QWidget* MakeEventPage();
    QWidget* MakeCalendarPage();
    QWidget* MakeBookmarkPage();
    QWidget* MakeLocalLogPage();
    void ShowEvents(int kind);
    void ShowDay(int year, int month0, int day0);
    void LoadBookmarks();
    void ShowBookmarks(std::vector<Bookmark> bookmarks, std::optional<std::size_t> select);
    void ChangeBookmarks(std::function<BookmarkChange(const CBookmarkFile&)> change);
    std::optional<Bookmark> SelectedBookmark() const;
    void Verify();
    void PlayAt(std::uint32_t time);
    // The export dialog for [from, to) of the channels, unless one is open.
    void OpenExport(std::uint32_t from, std::uint32_t to, std::uint32_t channels);

    ArchiveWindowContext m_context;
    bool m_loaded = false;
    std::vector<ArchiveStretch> m_stretches;
    std::vector<LocalEvent> m_events;
    std::vector<Bookmark> m_bookmarks;
    std::vector<PairVerdict> m_verdicts;
    int m_eventKind = 1;
    bool m_editing = false;

    QTabWidget* m_tabs = nullptr;
    timeline::ui::CDateTimePage* m_dateTime = nullptr;
    QButtonGroup* m_kinds = nullptr;
    QTreeWidget* m_eventList = nullptr;
    QStackedWidget* m_calendarStack = nullptr;
    timeline::ui::CCalendarPage* m_calendar = nullptr;
    timeline::ui::CTimelinePage* m_timeline = nullptr;
    QTreeWidget* m_bookmarkList = nullptr;
    QLineEdit* m_bookmarkName = nullptr;
    QLabel* m_status = nullptr;
    QPointer<CExportDialog> m_export;
    lists::ui::CListPage* m_localLog = nullptr;
    CLongJob m_verifyJob;  // the window's end cancels it and joins its thread
};

}  // namespace taviro::archive::ui
