// The remote search window (RSearch): four tabs (Search, Backup, Log, Info), each with its
// menu of entries, and one content page at a time in the body: the time entry, the
// calendar, the day timeline, the channel picker. What the tabs and entries do, and when the
// recorder is asked, is CSearchModel's; the answers arrive as posted messages (the month
// and day lists with their own copy of the bytes) through OnPosted.
//
// Thread: the GUI thread; nothing here waits (requests are queued by the search service).
// Ownership: the main window owns the window (Qt parent) and the context's callbacks; the
// pending selection belongs to the connection and outlives the window, or is null.
#pragma once

#include <QPointer>
#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "controls/ui/skin_dialog.h"
#include "logs/info_service.h"
#include "logs/remote_log.h"
#include "logs/status_info.h"
#include "platform/message_sink.h"
#include "recordings/backup_service.h"
#include "recordings/play_control.h"
#include "recordings/search_model.h"
#include "recordings/search_service.h"
#include "timeline/calendar.h"
#include "timeline/ui/timeline_page.h"

class QStackedWidget;

namespace taviro::lists::ui {
class CListPage;
}  // namespace taviro::lists::ui
namespace taviro::logs::ui {
class CLogViewPage;
}  // namespace taviro::logs::ui

namespace taviro::timeline::ui {
class CCalendarPage;
class CTimelinePage;
class CDateTimePage;
class CChannelPage;
class CBackupRangePage;
}  // namespace taviro::timeline::ui

namespace taviro::recordings::ui {

// The calendar, day and time pages are the ones the local archive shows too.
using timeline::ui::CBackupRangePage;
using timeline::ui::CCalendarPage;
using timeline::ui::CChannelPage;
using timeline::ui::CDateTimePage;
using timeline::ui::CTimelinePage;
class CEventPage;

struct SearchWindowContext {
    // The connection's search service, or null when there is no session any more.
    std::function<CSearchService*()> search;
    // Starts remote playback (the main window's shell); false when it was not started.
    std::function<bool(const PlayRequest&)> startPlayback;
    // Whether the grid shows remote playback, and its position (recorder time) then.
    std::function<bool()> gridShowsRemotePlayback;
    std::function<std::int64_t()> playbackPosition;
    std::function<bool()> localPlaybackRunning;
    // CAPA_CAL_CANCEL.
    std::function<void()> sendCapacityCancel;
    // The backup's size request (TRANS_ON_REQ) and its start; false when not sent.
    std::function<bool(const BackupRange&)> requestCapacity;
    std::function<bool(const BackupRange&)> startBackup;
    // The connection's log and status service, or null when there is no session any more.
    std::function<logs::CInfoService*()> info;
    // The recorder accepted the login (setup records of the log and the Archive view).
    std::function<bool()> loggedIn;
    // Skin texts by number (the log's and the information pages' words).
    platform::TextLookup text;
    // What the system page shows.
    logs::SystemFacts system;
    // A backup runs now (Start stays disabled).
    std::function<bool()> backupRunning;
    // A clip of the marked range into one file per channel in a folder (Matroska or MP4);
    // false when not started. And the folder under which a clip's own folder is offered.
    std::function<bool(const recordings::BackupRange&, const std::filesystem::path&, bool matroska)>
        startClip;
    std::function<std::filesystem::path()> clipFolder;
    // A notification for the main window (the calendar's (4, 0) when nothing is recorded).
    std::function<void(int category, int code)> notify;
    SearchRights rights;
    PendingSelection* pending = nullptr;
    int channelCount = 16;
    int dateFormat = 0;
    std::uint8_t opacity = 255;
    int currentYear = 2026;
};

// The search window's requests of its own, outside the class so that their member
// initialisers are complete wherever std::optional needs them.
// A marked range whose size was asked for, and what it is for.
struct SearchMarkedRange {
    recordings::BackupRange range;
    bool clip = false;
    std::filesystem::path folder;
    bool matroska = false;
};
// The days of a calendar's month asked for its shading, one at a time.
struct SearchShareSweep {
    bool backup = false;
    int year = 0;
    int month0 = 0;
    bool asked = false;  // a day's answer is awaited
};
// The event lists read for the playback day's marks.
struct SearchEventSweep {
    std::int64_t dayStart = 0;
    std::size_t kind = 0;  // into kEventKinds
    std::int32_t page = 0;
    bool asked = false;
    std::vector<timeline::ui::CTimelinePage::DayEvent> events;
};

class CSearchWindow final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    CSearchWindow(SearchWindowContext context, QWidget* parent);
    ~CSearchWindow() override;

    // Runs the window's initialisation (tabs by the rights, the first menu). The window may
    // close itself here when the rights leave nothing to show.
    void Open();
    // A message posted to the search or backup window.
    void OnPosted(const platform::PostedMessage& message);

    // For the main window and tests.
    [[nodiscard]] protocol::ChannelMask ChannelMask() const { return m_mask; }
    [[nodiscard]] const CSearchModel& Model() const { return m_model; }
    void PressTab(SearchTab tab);
    void PressEntry(SearchEntry entry);
    CCalendarPage* PlayCalendar() const { return m_playCalendar; }
    CTimelinePage* PlayDay() const { return m_playDay; }
    CCalendarPage* BackupCalendar() const { return m_backupCalendar; }
    CTimelinePage* BackupDay() const { return m_backupDay; }
    CDateTimePage* DateTime() const { return m_dateTime; }
    CBackupRangePage* BackupRange() const { return m_backupRange; }
    CEventPage* PlayEvents() const { return m_playEvents; }
    CEventPage* BackupEvents() const { return m_backupEvents; }
    logs::ui::CLogViewPage* LogView(int view) const {
        return view >= 0 && view < kLogViewCount ? m_logViews[static_cast<std::size_t>(view)]
                                                 : nullptr;
    }
    lists::ui::CListPage* SystemPage() const { return m_systemPage; }
    lists::ui::CListPage* StatusPage() const { return m_statusPage; }
    void PressLogEntry(int view);
    void PressInfoEntry(InfoEntry entry);
    QWidget* CurrentPage() const;
    // The button of entry `index` of `tab`'s menu, top to bottom (tests press it).
    QWidget* EntryButton(SearchTab tab, std::size_t index) const {
        const auto& entries = m_entries[static_cast<std::size_t>(tab)];
        return index < entries.size() ? entries[index] : nullptr;
    }

  signals:
    void Closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Apply(const SearchAction& action);
    void ShowMenu(SearchTab tab);
    void GiveUpOpening();
    // The calendar's shading: the next day of the month shown whose records are not in yet.
    void NextShare();
    void OnDayShare(const platform::PostedMessage& message);
    // The day timeline's event marks: the next page or kind of the day's events.
    void NextDayEvents();
    void OnDayEvents(const platform::PostedMessage& message);
    void ShowPage(SearchPage page, bool fromPending, int logView = -1);
    QWidget* Page(SearchPage page, int logView = -1);
    CEventPage* MakeEventPage(bool backup);
    lists::ui::CListPage* MakeInfoPage();
    void OnEventAnswer(const platform::PostedMessage& message);
    void OnLog(const platform::PostedMessage& message);
    void OnStatus(const platform::PostedMessage& message);
    void PlayFromEvent(const EventRecord& event);
    void PlayFromLog(const logs::PlayStart& start);
    logs::CInfoService* Info() const { return m_context.info ? m_context.info() : nullptr; }
    bool LoggedIn() const { return m_context.loggedIn && m_context.loggedIn(); }
    void Request(SearchRequest request);
    void AskDay(bool backup, int year, int month0, int day0);
    void PlayFrom(protocol::RecorderTime start, std::uint32_t kinds, int source);
    void OnCapacity(const platform::PostedMessage& message);
    // The size on whichever backup page is shown, and whether Start may be pressed.
    void ShowCapacity(std::uint32_t kilobytes);
    void ShowCapacity(std::optional<QString> text, bool startable);
    bool RequestCapacity(const recordings::BackupRange& range);
    // Start pressed: a large backup is confirmed first.
    void StartBackup(const recordings::BackupRange& range);
    void StartBackupNow(const recordings::BackupRange& range);
    void OnMaskChanged(protocol::ChannelMask mask);
    // The day timeline's marks: a clip (after its dialog) or a backup of the marked range,
    // each once the recorder has named the size (nothing recorded refuses it).
    void ClipMarks(int in, int out);
    void BackupMarks(int in, int out);
    // The size of a marked range has come; true when it was for one.
    bool OnMarkedCapacity(const platform::PostedMessage& message);
    void CloseWindow(bool cancel);
    CSearchService* Service() const { return m_context.search ? m_context.search() : nullptr; }
    bool Busy() const;

    SearchWindowContext m_context;
    CSearchModel m_model;
    protocol::ChannelMask m_mask = 0;
    std::array<controls::ui::CSkinButtonWidget*, 4> m_tabs{};
    std::array<std::vector<QWidget*>, 4> m_entries;
    QStackedWidget* m_body = nullptr;
    CCalendarPage* m_playCalendar = nullptr;
    CCalendarPage* m_backupCalendar = nullptr;
    CTimelinePage* m_playDay = nullptr;
    CTimelinePage* m_backupDay = nullptr;
    CDateTimePage* m_dateTime = nullptr;
    CChannelPage* m_channels = nullptr;
    CBackupRangePage* m_backupRange = nullptr;
    CEventPage* m_playEvents = nullptr;
    CEventPage* m_backupEvents = nullptr;
    std::array<logs::ui::CLogViewPage*, kLogViewCount> m_logViews{};
    lists::ui::CListPage* m_systemPage = nullptr;
    lists::ui::CListPage* m_statusPage = nullptr;
    QWidget* m_placeholder = nullptr;
    // The log answer the views show (its bytes kept for a playback started from a row).
    std::shared_ptr<const std::vector<std::uint8_t>> m_logBytes;
    std::shared_ptr<const std::vector<logs::RemoteLogRecord>> m_log;
    bool m_logFromKeptCopy = false;
    // The records the pages show, as the recorder sent them.
    std::shared_ptr<const std::vector<std::uint8_t>> m_months;
    std::shared_ptr<const std::vector<std::uint8_t>> m_days;
    std::array<int, 3> m_playDate{};    // the day the playback timeline shows
    std::array<int, 3> m_backupDate{};  // and the backup timeline
    bool m_closed = false;
    bool m_bOpening = false;  // the months asked for by Open() are still awaited
    // The size of the last capacity answer (kilobytes), while it holds for the range.
    std::optional<std::uint32_t> m_capacityKb;
    // A marked range whose size was asked for, and what it is for.
    std::optional<SearchMarkedRange> m_marked;
    // The days of a calendar's month asked for its shading, one at a time.
    std::optional<SearchShareSweep> m_sweep;
    // The event lists read for the playback day's marks: each kind's pages in turn, at most
    // kMaxDayEventPages a kind and kMaxDayEvents marks.
    static constexpr std::int32_t kMaxDayEventPages = 50;
    static constexpr std::size_t kMaxDayEvents = 5000;
    std::optional<SearchEventSweep> m_eventSweep;
};

}  // namespace taviro::recordings::ui
