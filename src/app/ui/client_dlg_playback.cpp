// Remote search and remote playback in the main window: the RSearch window, the playback
// buttons, the position slider with its bar of recorded stretches, the keys, and the
// playback messages.
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <array>
#include <functional>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "protocol/catalogue.h"
#include "protocol/recorder_time.h"
#include "recordings/calendar.h"
#include "recordings/search_service.h"
#include "recordings/timeline.h"
#include "recordings/ui/backup_panel.h"
#include "recordings/ui/playback_bar.h"
#include "recordings/ui/search_window.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr int kPlayTimerMs = 200;
constexpr std::uint32_t kSearchButton = 361;
constexpr std::array<std::uint32_t, 5> kTransportButtons = {340, 341, 342, 345, 346};

}  // namespace

int CClientDlg::CurrentYear() {
    const std::int64_t now = protocol::LocalWallClockNow(protocol::ProcessZoneOffset());
    protocol::UserTime t;
    if (!protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(now), &t))
        return recordings::kLastCalendarYear;
    return t.year;
}

void CClientDlg::CreatePlaybackControls() {
    using platform::ui::Child;
    // The transport buttons (but 343, live view's freeze) work only while playback runs.
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, platform::kDisabled);
    m_playTimer = Child<QTimer>(this);
    m_playTimer->setInterval(kPlayTimerMs);
    connect(m_playTimer, &QTimer::timeout, this, [this] { UpdatePlaybackBar(); });
    if (auto* slider = Slider(kPositionSliderId)) {
        slider->SetRange(0, recordings::kDaySeconds - 1);
        slider->SetPosition(0);
        const QRect r = slider->geometry();
        m_playbackBar = Child<recordings::ui::CPlaybackBar>(this);
        m_playbackBar->setGeometry(r.left(), r.bottom() + 2, r.width(), 4);
        m_playbackBar->show();
    }
    // The backup's progress lies over the bottom of the grid while a backup runs.
    m_backupPanel = Child<recordings::ui::CBackupPanel>(this);
    m_backupPanel->setGeometry(54, 661 - 30, 820, 30);
    connect(m_backupPanel, &recordings::ui::CBackupPanel::StopPressed, this, [this] {
        if (client::CConnection* c = m_shell->Connection())
            c->StopBackup();
    });
    // Space pauses and plays, the arrows step, Escape stops: only while playback runs, so
    // the keys keep their usual meaning otherwise.
    const auto key = [this](QKeySequence sequence, std::function<void()> action) {
        auto* shortcut = Child<QShortcut>(this, sequence);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, std::move(action));
        m_playKeys.push_back(shortcut);
    };
    key(QKeySequence(Qt::Key_Space), [this] {
        auto* connection = m_shell->Connection();
        const bool paused =
            connection && connection->Playback().Pause() == recordings::PauseState::Paused;
        OnCommand(paused ? 342 : 343);
    });
    key(QKeySequence(Qt::Key_Right), [this] { OnCommand(346); });
    key(QKeySequence(Qt::Key_Left), [this] { OnCommand(340); });
    key(QKeySequence(Qt::Key_Escape), [this] { OnCommand(345); });
}

void CClientDlg::OpenSearch() {
    if (m_searchWindow) {
        m_searchWindow->raise();
        m_searchWindow->activateWindow();
        return;
    }
    client::CConnection* connection = m_shell->Connection();
    if (!connection)
        return;
    protocol::CClientSession& session = connection->Session();
    recordings::ui::SearchWindowContext ctx;
    ctx.search = [this]() -> recordings::CSearchService* {
        client::CConnection* c = m_shell->Connection();
        return c ? &c->Search() : nullptr;
    };
    ctx.startPlayback = [this](const recordings::PlayRequest& request) {
        return m_shell->StartPlayback(request) == client::CommandResult::kDone;
    };
    ctx.gridShowsRemotePlayback = [this] { return m_shell->GridMode() == platform::kGridPlayback; };
    ctx.playbackPosition = [this]() -> std::int64_t {
        client::CConnection* c = m_shell->Connection();
        return c ? c->Playback().PositionMillis() / 1000 : 0;
    };
    ctx.localPlaybackRunning = [this] { return m_shell->GridMode() == platform::kGridLocal; };
    ctx.sendCapacityCancel = [this] {
        if (auto* s = m_shell->Session())
            s->Transport().Send(protocol::msg::CAPA_CAL_CANCEL);
    };
    ctx.notify = [this](int category, int code) { m_sink.Notify(category, code); };
    const auto backupTarget = [this] {
        recordings::BackupTarget target;
        target.folder = SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kDownload);
        target.freeSpace = m_shell->Options().freeSpace;
        return target;
    };
    ctx.requestCapacity = [this, backupTarget](const recordings::BackupRange& range) {
        client::CConnection* c = m_shell->Connection();
        if (!c)
            return false;
        c->Backup().SetTarget(backupTarget());
        return c->Backup().RequestCapacity(range);
    };
    ctx.startBackup = [this, backupTarget](const recordings::BackupRange& range) {
        client::CConnection* c = m_shell->Connection();
        if (!c)
            return false;
        if (c->Backup().Finishing()) {
            // The previous backup still writes what it received; a new one waits for it.
            m_sink.ShowMessageBox(
                "The previous backup is still being written. Start this one "
                "again once its panel says it has ended.");
            return false;
        }
        c->Backup().SetTarget(backupTarget());
        return c->Backup().Start(range);
    };
    ctx.info = [this]() -> logs::CInfoService* {
        client::CConnection* c = m_shell->Connection();
        return c ? &c->Info() : nullptr;
    };
    ctx.loggedIn = [this] {
        auto* s = m_shell->Session();
        return s != nullptr && s->Login().HelloAccepted();
    };
    ctx.text = SkinTextLookup();
    ctx.backupRunning = [this] {
        client::CConnection* c = m_shell->Connection();
        return c && c->Backup().Running();
    };
    const protocol::HelloAck hello = session.Login().Hello();
    const protocol::RightsContext rights = session.Live().Rights();
    ctx.rights.permissionTables = hello.product_major_ver > 1 ||
                                  (hello.product_major_ver == 1 && hello.product_minor_ver != 0);
    ctx.rights.searchRow = protocol::RowAllows(rights, protocol::right_row::kSearch);
    ctx.rights.backupRow = protocol::RowAllows(rights, protocol::right_row::kBackup);
    ctx.rights.backupRunning = connection->Backup().Running();
    ctx.pending = &m_pendingSelection;
    ctx.system.address = session.Transport().Config().address;
    ctx.system.port = session.Transport().Config().port;
    ctx.system.description = session.Transport().Config().description;
    ctx.system.hello = hello;
    ctx.channelCount = session.Login().ChannelCount();
    ctx.dateFormat = m_shell->Setup().dateFormat;
    ctx.currentYear = CurrentYear();
    m_searchWindow = platform::ui::Child<recordings::ui::CSearchWindow>(this, std::move(ctx));
    connect(m_searchWindow, &recordings::ui::CSearchWindow::Closed, this, [this] {
        if (m_searchWindow)
            m_searchWindow->deleteLater();
        if (auto* b = Button(kSearchButton))
            b->SetCheck(0);
    });
    if (auto* b = Button(kSearchButton))
        b->SetCheck(1);
    m_searchWindow->show();
    m_searchWindow->Open();
}

void CClientDlg::CloseSearch() {
    if (m_searchWindow) {
        m_searchWindow->hide();
        m_searchWindow->deleteLater();
        m_searchWindow = nullptr;
    }
    if (auto* b = Button(kSearchButton))
        b->SetCheck(0);
}

void CClientDlg::OnSearchPosted(const platform::PostedMessage& message) {
    if (!m_shell->OnMessage(message) || m_quitting)
        return;
    if (m_searchWindow)
        m_searchWindow->OnPosted(message);
}

void CClientDlg::OnPlaybackStarted() {
    client::CConnection* connection = m_shell->Connection();
    if (!connection)
        return;
    m_playbackShown = true;
    m_grid->StartPlayback();
    ShowLayoutButtons(m_grid->Layout().Buttons());
    m_views.SetViewMode(video::ViewMode::RemotePlayback);
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, platform::kEnabled);
    for (QShortcut* key : m_playKeys)
        key->setEnabled(true);
    // The bar shows the day playback started on; its stretches come from the day the
    // calendar showed, or are asked for.
    const std::int64_t start = connection->Playback().StartTime();
    m_playDayStart = start - start % recordings::kDaySeconds;
    m_playDayRecords.clear();
    if (m_playbackBar) {
        m_playbackBar->Clear();
        const recordings::PendingSelection& p = m_pendingSelection;
        if (p.pending && p.days &&
            recordings::DayStart(p.year, p.month0, p.day0) == m_playDayStart) {
            m_playDayRecords = recordings::ParseDayInfo(*p.days);
            m_playbackBar->SetDay(m_playDayStart, m_playDayRecords,
                                  connection->Playback().Channels());
        } else {
            protocol::UserTime t;
            if (protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(start), &t))
                connection->Search().RequestDay(recordings::SearchSide::Playback, t.year, t.month,
                                                t.day, platform::Window::Main);
        }
    }
    FitPositionSpan(static_cast<int>(start - m_playDayStart));
    // The slider seeks while a playback runs, and only then.
    if (auto* slider = Slider(kPositionSliderId))
        slider->SetSliderEnabled(true);
    m_playTimer->start();
    UpdatePlaybackBar();
}

void CClientDlg::OnPlaybackStopped() {
    if (!m_playbackShown)
        return;
    m_playbackShown = false;
    m_playbackText.clear();
    ShowConnectionState();
    m_playTimer->stop();
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, platform::kDisabled);
    for (QShortcut* key : m_playKeys)
        key->setEnabled(false);
    if (m_playbackBar)
        m_playbackBar->Clear();
    m_playDayRecords.clear();
    if (auto* slider = Slider(kPositionSliderId)) {
        slider->SetSliderEnabled(m_localShown);
        m_playSpan = recordings::SliderSpan{};
        slider->SetRange(m_playSpan.from, m_playSpan.to);
        slider->SetPosition(0);
    }
    m_positionDragging = false;
    // Back to the 16-pane layout; live view comes back by its own answer.
    m_grid->SelectLayout(video::kInitialLayout);
    ShowLayoutButtons(m_grid->Layout().Buttons());
    RefreshGridStatus();
    m_grid->RepaintAll();
}

void CClientDlg::OnPlaybackDay(const platform::PostedMessage& message) {
    client::CConnection* connection = m_shell->Connection();
    if (!m_playbackBar || !connection || !message.data)
        return;
    m_playDayRecords = recordings::ParseDayInfo(*message.data);
    m_playbackBar->SetDay(m_playDayStart, m_playDayRecords, connection->Playback().Channels());
    // The stretches are known now: the slider spans the one playback is in.
    const std::int64_t position = connection->Playback().PositionMillis() / 1000;
    FitPositionSpan(static_cast<int>(std::clamp<std::int64_t>(
        (position > 0 ? position : connection->Playback().StartTime()) - m_playDayStart, 0,
        recordings::kDaySeconds - 1)));
}

void CClientDlg::FitPositionSpan(int second) {
    client::CConnection* connection = m_shell->Connection();
    if (!connection)
        return;
    const recordings::SliderSpan span = recordings::PositionSliderSpan(
        m_playDayRecords, m_playDayStart, connection->Playback().Channels(), second);
    if (span == m_playSpan)
        return;
    m_playSpan = span;
    if (auto* slider = Slider(kPositionSliderId))
        slider->SetRange(span.from, span.to);
    if (m_playbackBar)
        m_playbackBar->SetSpan(span.from, span.to);
}

void CClientDlg::UpdatePlaybackBar() {
    client::CConnection* connection = m_shell->Connection();
    if (!connection || m_shell->GridMode() != platform::kGridPlayback)
        return;
    const std::int64_t position = connection->Playback().PositionMillis() / 1000;
    const auto second = static_cast<int>(
        std::clamp<std::int64_t>(position - m_playDayStart, 0, recordings::kDaySeconds - 1));
    // Where playback stands, as the recorder's clock reads, and how it plays.
    QString text;
    protocol::UserTime t;
    if (position > 0 &&
        protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(position), &t)) {
        const int speed = m_shell->PlaybackIconSpeed();
        const QString state = speed == 0    ? QStringLiteral("paused")
                              : speed == 10 ? QStringLiteral("step")
                              : speed == 11 ? QStringLiteral("step back")
                                            : QStringLiteral("x%1").arg(speed);
        text = QString::asprintf("R-PLAY %04d-%02d-%02d %02d:%02d:%02d  ", t.year, t.month + 1,
                                 t.day + 1, t.hour, t.minute, t.second) +
               state;
    }
    if (text != m_playbackText) {
        m_playbackText = text;
        ShowConnectionState();
    }
    // The slider never jumps under the user's hand; playback that runs out of the span
    // the slider shows (into the next stretch) moves the span along.
    if (!m_positionDragging && position > 0) {
        if (second < m_playSpan.from || second > m_playSpan.to)
            FitPositionSpan(second);
        if (auto* slider = Slider(kPositionSliderId))
            slider->SetPosition(second);
        if (m_playbackBar)
            m_playbackBar->SetPosition(second);
    }
    RefreshGridStatus();
}

void CClientDlg::OnPositionSlider(std::uint32_t message, int position) {
    if (m_shell->GridMode() != platform::kGridPlayback)
        return;
    if (message == platform::WM_SLIDER_BEGIN || message == platform::WM_SLIDER_MOVE) {
        m_positionDragging = true;
        return;
    }
    m_positionDragging = false;
    const std::int64_t target =
        m_playDayStart + std::clamp(position, 0, recordings::kDaySeconds - 1);
    m_shell->SeekPlayback(static_cast<protocol::RecorderTime>(target),
                          m_grid->Layout().VisibleChannels());
}

}  // namespace taviro::app::ui
