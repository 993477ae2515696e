#include "client/ui/recordings_panel.h"

#include <QShortcut>
#include <QTimer>
#include <QWidget>
#include <utility>

#include "controls/ui/skin_slider_widget.h"
#include "platform/ui/qt_owned.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"
#include "recordings/ui/backup_panel.h"
#include "recordings/ui/playback_bar.h"
#include "recordings/ui/search_window.h"
#include "timeline/calendar.h"

namespace taviro::client::ui {

using platform::ui::Child;

namespace {

// How often the position, the span and the title are brought up to date while playing.
constexpr int kPlayTimerMs = 200;

}  // namespace

int CurrentYear() {
    const std::int64_t now = protocol::LocalWallClockNow(protocol::ProcessZoneOffset());
    protocol::UserTime t;
    if (!protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(now), &t))
        return timeline::kLastCalendarYear;
    return t.year;
}

CRecordingsPanel::CRecordingsPanel(RecordingsPanelContext context)
    : QObject(context.window),
      m_ctx(std::move(context)),
      m_playback(*this, m_ctx.localShown),
      m_backup(*m_ctx.sink, [this] {
          recordings::BackupTarget target;
          target.folder = m_ctx.downloadFolder();
          target.freeSpace = m_ctx.freeSpace;
          return target;
      }) {
    QWidget* window = m_ctx.window;
    m_timer = Child<QTimer>(this);
    m_timer->setInterval(kPlayTimerMs);
    connect(m_timer, &QTimer::timeout, this, [this] { m_playback.Tick(); });
    if (m_ctx.slider != nullptr) {
        m_ctx.slider->SetRange(0, timeline::kDaySeconds - 1);
        m_ctx.slider->SetPosition(0);
        const QRect r = m_ctx.slider->geometry();
        m_bar = Child<recordings::ui::CPlaybackBar>(window);
        m_bar->setGeometry(r.left(), r.bottom() + 2, r.width(), 4);
        m_bar->show();
    }
    // The backup's progress lies over the bottom of the grid while a backup runs.
    m_backupPanel = Child<recordings::ui::CBackupPanel>(window);
    m_backupPanel->setGeometry(54, 661 - 30, 820, 30);
    connect(m_backupPanel, &recordings::ui::CBackupPanel::StopPressed, this,
            [this] { m_backup.Stop(); });
    // Space pauses and plays, the arrows step, Escape stops: only while a playback runs, so
    // the keys keep their usual meaning otherwise.
    const auto key = [this, window](QKeySequence sequence, std::function<std::uint32_t()> id) {
        auto* shortcut = Child<QShortcut>(window, sequence);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, [this, id] { m_ctx.press(id()); });
        m_keys.push_back(shortcut);
    };
    key(QKeySequence(Qt::Key_Space), [this] { return m_playback.PauseKeyButton(); });
    key(QKeySequence(Qt::Key_Right), [] { return 346u; });
    key(QKeySequence(Qt::Key_Left), [] { return 340u; });
    key(QKeySequence(Qt::Key_Escape), [] { return 345u; });
}

CRecordingsPanel::~CRecordingsPanel() {
    // The search window refers to the controllers: it goes first.
    delete m_searchWindow.data();
}

void CRecordingsPanel::Attach(CConnection* connection) {
    if (connection == nullptr) {
        CloseSearch();
        // A backup whose end never reached the window (its connection is gone) runs no more.
        if (m_backupPanel->Running())
            m_backupPanel->Finished(std::nullopt);
    }
    m_connection = connection;
    m_backup.Attach(connection);
    m_playback.Attach(connection);
}

void CRecordingsPanel::SetKeysEnabled(bool on) {
    for (QShortcut* key : m_keys)
        key->setEnabled(on);
}

void CRecordingsPanel::OpenSearch() {
    if (m_searchWindow) {
        m_searchWindow->raise();
        m_searchWindow->activateWindow();
        return;
    }
    CConnection* connection = m_connection;
    if (connection == nullptr || connection->Closing())
        return;
    recordings::ui::SearchWindowContext ctx;
    ctx.search = [this]() -> recordings::CSearchService* {
        return m_connection ? &m_connection->Search() : nullptr;
    };
    ctx.startPlayback = [this](const recordings::PlayRequest& request) {
        return m_playback.Start(request) == CommandResult::kDone;
    };
    ctx.gridShowsRemotePlayback = [this] { return m_playback.Shown(); };
    ctx.playbackPosition = [this] { return m_playback.PositionSeconds(); };
    ctx.localPlaybackRunning = m_ctx.localShown;
    ctx.sendCapacityCancel = [this] { m_backup.CancelCapacity(); };
    ctx.notify = [this](int category, int code) { m_ctx.sink->Notify(category, code); };
    ctx.requestCapacity = [this](const recordings::BackupRange& range) {
        return m_backup.RequestCapacity(range);
    };
    ctx.startBackup = [this](const recordings::BackupRange& range) {
        return m_backup.Start(range);
    };
    ctx.startClip = [this](const recordings::BackupRange& range,
                           const std::filesystem::path& folder,
                           bool matroska) { return m_backup.StartClip(range, folder, matroska); };
    // Clips go beside the snapshots, in the storage folder's Saved.
    ctx.clipFolder = [this] { return m_ctx.downloadFolder().parent_path() / "Saved"; };
    ctx.info = [this]() -> logs::CInfoService* {
        return m_connection ? &m_connection->Info() : nullptr;
    };
    ctx.loggedIn = [this] {
        return m_connection != nullptr && m_connection->Session().Login().HelloAccepted();
    };
    ctx.text = m_ctx.text;
    ctx.backupRunning = [this] { return m_backup.Running(); };
    ctx.rights = connection->SearchRights();
    ctx.pending = &m_playback.Pending();
    ctx.system = connection->SystemFacts();
    ctx.channelCount = connection->Session().Login().ChannelCount();
    ctx.dateFormat = m_ctx.dateFormat();
    ctx.currentYear = CurrentYear();
    m_searchWindow = Child<recordings::ui::CSearchWindow>(m_ctx.window, std::move(ctx));
    connect(m_searchWindow, &recordings::ui::CSearchWindow::Closed, this, [this] {
        if (m_searchWindow)
            m_searchWindow->deleteLater();
        m_ctx.searchOpen(false);
    });
    m_ctx.searchOpen(true);
    m_searchWindow->show();
    m_searchWindow->Open();
}

void CRecordingsPanel::CloseSearch() {
    if (m_searchWindow) {
        m_searchWindow->hide();
        m_searchWindow->deleteLater();
        m_searchWindow = nullptr;
    }
    m_ctx.searchOpen(false);
}

bool CRecordingsPanel::OnPosted(const platform::PostedMessage& m) {
    if (m.window == platform::Window::Search || m.window == platform::Window::Backup) {
        if (m_searchWindow)
            m_searchWindow->OnPosted(m);
        return true;
    }
    switch (m.message) {
        case recordings::WM_PLAY_STARTED:
            m_playback.OnStarted();
            return true;
        case recordings::WM_PLAY_STOPPED:
            m_playback.OnStopped();
            return true;
        case recordings::WM_PLAY_DAY_READY:
            m_playback.OnDay(m.data);
            return true;
        case recordings::WM_BACKUP_STARTED:
            m_backupPanel->Started(m.wParam);
            return true;
        case recordings::WM_BACKUP_PROGRESS:
            m_backupPanel->Progress(m.wParam);
            return true;
        case recordings::WM_BACKUP_FINISHED:
            // What the backup wrote, or why it stopped: the panel says so until closed.
            m_backupPanel->Finished(m_backup.LastOutcome());
            return true;
        case protocol::WM_CLOSE_SESSION_DIALOGS:
            CloseSearch();
            return true;
        default:
            return false;
    }
}

void CRecordingsPanel::OnSlider(std::uint32_t message, int position, protocol::ChannelMask view) {
    m_playback.Slider(message, position, view);
}

void CRecordingsPanel::PlaybackShown(bool shown) {
    SetKeysEnabled(shown || m_ctx.localShown());
    if (shown)
        m_timer->start();
    else
        m_timer->stop();
    if (m_ctx.slider != nullptr)
        m_ctx.slider->SetSliderEnabled(shown || m_ctx.localShown());
    m_ctx.playbackShown(shown);
}

void CRecordingsPanel::DayStretches(std::int64_t dayStart,
                                    const std::vector<timeline::DayInfoRecord>& records,
                                    protocol::ChannelMask channels) {
    if (m_bar == nullptr)
        return;
    if (records.empty())
        m_bar->Clear();
    else
        m_bar->SetDay(dayStart, records, channels);
}

void CRecordingsPanel::SliderSpan(int from, int to) {
    if (m_ctx.slider != nullptr)
        m_ctx.slider->SetRange(from, to);
    if (m_bar != nullptr)
        m_bar->SetSpan(from, to);
}

void CRecordingsPanel::SliderPosition(int second) {
    if (m_ctx.slider != nullptr)
        m_ctx.slider->SetPosition(second);
    if (m_bar != nullptr)
        m_bar->SetPosition(second);
}

void CRecordingsPanel::TitleChanged() {
    m_ctx.titleChanged();
}

}  // namespace taviro::client::ui
