// The main window's panels made with what each needs of this window, the grid arranged when
// a playback begins or ends, the reconnect bar over the connection state, and the
// controllers kept on the shell's connection.
#include <QTimer>
#include <QVariant>
#include <array>

#include "app/main_window_layout.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "client/site_rows.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_dialog.h"
#include "controls/ui/skin_slider_widget.h"
#include "maintenance/ui/ptz_windows.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "protocol/session_messages.h"
#include "recordings/ui/backup_panel.h"
#include "video/stream_stats.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kSearchButton = 361;
constexpr std::uint32_t kArchiveButton = 363;
constexpr std::uint32_t kSaveButton = 372;
// The transport buttons; 343 is live view's freeze too, so remote playback leaves it be.
constexpr std::array<std::uint32_t, 5> kTransportButtons = {340, 341, 342, 345, 346};
constexpr std::array<std::uint32_t, 6> kLocalButtons = {340, 341, 342, 343, 345, 346};
// The countdown is redrawn four times a second so that it never lags a whole second.
constexpr int kReconnectTickMs = 250;

void SetLamp(controls::ui::CSkinButtonWidget* button, bool on) {
    if (button != nullptr)
        button->SetCheck(on ? 1 : 0);
}

}  // namespace

int CClientDlg::GridDrawMode(const LocalSetup& setup) {
    if (setup.drawMode == kDrawModeYuv && setup.drawModeChosen == 0)
        return video::ui::kDrawModeAuto;
    return setup.drawMode;
}

void CClientDlg::CreateLivePanel() {
    client::ui::LiveViewPanelContext ctx;
    ctx.window = this;
    ctx.views = &m_views;
    ctx.sound = m_sound.get();
    ctx.mode = [this] { return m_shell->GridMode(); };
    ctx.status = [this](video::GridStatus& status) {
        status.audioOutput = m_shell->AudioOutput();
        status.playerSpeed = m_shell->GridMode() == protocol::kGridLocal
                                 ? m_shell->Local().IconSpeed()
                                 : m_recordings->Playback().IconSpeed();
        status.ptzChannel = m_maintenance->Ptz().Icon().channel;
        status.ptzState = m_maintenance->Ptz().Icon().state;
    };
    ctx.context = [this](video::GridContext& context) {
        const maintenance::CPtzController& ptz = m_maintenance->Ptz();
        context.ptzOpen = ptz.PanelOpen();
        context.ptzChannel = ptz.SteeredChannel();
        context.ptzDomeMenu = ptz.DomeMenuOpen();
    };
    ctx.buttons = [this](const video::PressedButtons& buttons) { ShowLayoutButtons(buttons); };
    ctx.ptzChannel = [this](int channel) { m_maintenance->Ptz().ResendChannel(channel); };
    ctx.gridMade = [this](video::ui::CChannelGrid* grid) {
        connect(grid, &video::ui::CChannelGrid::PaneContextMenu, this, &CClientDlg::PaneMenu);
        connect(grid, &video::ui::CChannelGrid::PaneClicked, this, &CClientDlg::PaneClicked);
        connect(grid, &video::ui::CChannelGrid::PaneWheel, m_maintenance,
                &maintenance::ui::CMaintenancePanel::Wheel);
        BindKeys(grid);
    };
    // The statistics read counters only (atomics of the connection's receive path and
    // decoders): nothing here waits on the network.
    ctx.stats = [this](int recorderId) {
        client::CRecorderLink* link = m_shell->Link(recorderId);
        client::CConnection* connection = link != nullptr ? link->Connection() : nullptr;
        return connection ? video::CollectCounters(&connection->Frames(),
                                                   &connection->Pipeline().Decoders())
                          : video::StreamCounters{};
    };
    m_live = new client::ui::CLiveViewPanel(std::move(ctx));
    m_live->CreateGrid(GridDrawMode(m_shell->Setup()));
    // What the grid showed when the connection was lost.
    m_shell->SetViewProbe(
        [this](client::ResumeState& state) { m_live->Controller().Probe(state); });
}

void CClientDlg::CreateRecordingsPanel() {
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, platform::kDisabled);
    client::ui::RecordingsPanelContext ctx;
    ctx.window = this;
    ctx.slider = Slider(kPositionSliderId);
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.localShown = [this] { return m_shell->GridMode() == protocol::kGridLocal; };
    ctx.downloadFolder = [this] {
        return SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kDownload);
    };
    ctx.freeSpace = m_shell->Options().freeSpace;
    ctx.dateFormat = [this] { return static_cast<int>(m_shell->Setup().dateFormat); };
    ctx.playbackShown = [this](bool shown) { OnPlaybackShown(shown); };
    ctx.titleChanged = [this] {
        ShowConnectionState();
        m_live->Refresh();  // the panes' playback icon
    };
    ctx.press = [this](std::uint32_t id) { OnCommand(id); };
    ctx.searchOpen = [this](bool open) { SetLamp(Button(kSearchButton), open); };
    m_recordings = new client::ui::CRecordingsPanel(std::move(ctx));
}

void CClientDlg::OnPlaybackShown(bool shown) {
    for (const std::uint32_t id : kTransportButtons)
        SetControlState(id, shown ? platform::kEnabled : platform::kDisabled);
    if (shown) {
        m_live->ShowPlayback(video::ViewMode::RemotePlayback);
    } else {
        ShowConnectionState();
        // Back to the 16-pane layout; live view comes back by its own answer.
        m_live->ShowFirstLayout();
    }
}

void CClientDlg::CreateLocalPanel() {
    client::ui::LocalPanelContext ctx;
    ctx.window = this;
    ctx.slider = Slider(kPositionSliderId);
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.folders = [this] {
        const std::filesystem::path location = m_shell->Setup().LocationPath();
        return client::ui::ArchiveFolders{SubFolderPath(location, StorageSubFolder::kDownload),
                                          SubFolderPath(location, StorageSubFolder::kLog),
                                          SubFolderPath(location, StorageSubFolder::kSaved)};
    };
    ctx.dateFormat = [this] { return static_cast<int>(m_shell->Setup().dateFormat); };
    ctx.play = [this](std::uint32_t time) {
        if (m_quitting)
            return;
        // The local pairs play in the panes of one recorder's grid; with several recorders
        // those panes are theirs, and the others' live pictures would go into them too.
        if (m_shell->Site().Count() > 1) {
            m_sink.ShowMessageBox(
                "Local playback needs the grid of one recorder: disconnect the other "
                "recorders first.");
            return;
        }
        m_shell->Local().Start(time, SelectedViews(),
                               m_shell->LocalSettings(Grid()->PictureFormat()));
    };
    ctx.archiveOpen = [this](bool open) { SetLamp(Button(kArchiveButton), open); };
    ctx.shown = [this](bool shown) { OnLocalShown(shown); };
    ctx.segment = [this](int layout, protocol::ChannelMask channels) {
        m_live->ShowSegment(layout, channels);
    };
    ctx.stateChanged = [this] {
        ShowConnectionState();
        m_live->Refresh();
    };
    m_local = new client::ui::CLocalPanel(m_shell->Local(), std::move(ctx));
}

void CClientDlg::OnLocalShown(bool on) {
    for (const std::uint32_t id : kLocalButtons)
        SetControlState(id, on ? platform::kEnabled : platform::kDisabled);
    const bool remote = m_recordings->Playback().Shown();
    m_recordings->SetKeysEnabled(on || remote);
    // The position slider seeks in the joined pairs while they play.
    if (auto* slider = Slider(kPositionSliderId))
        slider->SetSliderEnabled(on || remote);
    if (on) {
        m_live->ShowPlayback(video::ViewMode::LocalPlayback);
        return;
    }
    ShowConnectionState();
    // Live view comes back by itself when a recorder is connected (or connecting); without
    // one the panes stay empty, and say why.
    const ConnectionState state = m_shell->State();
    if (state == ConnectionState::kNone || state == ConnectionState::kClosing)
        Grid()->SetNotice(QStringLiteral("Not connected to a recorder: no live view"));
    m_live->ShowFirstLayout();
}

void CClientDlg::CreateSnapshotPanel() {
    snapshot::ui::SnapshotPanelContext ctx;
    ctx.window = this;
    ctx.sink = &m_sink;
    ctx.settings = [this] {
        snapshot::JobSettings settings;
        settings.pictureFormat = m_live ? Grid()->PictureFormat() : 0;
        settings.format = snapshot::SaveFormatFromSetting(m_shell->Setup().saveFormat);
        settings.dateOrder = m_shell->Setup().dateFormat;
        settings.savedFolder =
            SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kSaved);
        settings.localTime = snapshot::LocalTimeNow();
        settings.recorder = SelectedRecorderLabel().toStdString();
        return settings;
    };
    ctx.log = [this] { return m_shell->LocalLog(); };
    ctx.saveEnabled = [this](bool enabled) {
        if (auto* save = Button(kSaveButton))
            save->SetButtonEnabled(enabled);
    };
    // The busy flag blocks snapshots while the recorder's settings are being exchanged.
    ctx.busy = [this] {
        auto* session = m_shell->Session();
        return m_quitting || (session != nullptr && session->Live().Busy());
    };
    m_snapshots = new snapshot::ui::CSnapshotPanel(std::move(ctx));
}

void CClientDlg::CreateMaintenancePanel() {
    maintenance::ui::MaintenancePanelContext ctx;
    ctx.window = this;
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.ownWindow = [this](QWidget* widget) {
        return !m_quitting && (widget == this || widget->window() == this ||
                               (m_live && widget->window() == Grid()->window()));
    };
    ctx.changed = [this] { m_live->Refresh(); };
    ctx.lamps = [this](bool pan, bool zoom) {
        SetLamp(Button(355), pan);
        SetLamp(Button(356), zoom);
    };
    ctx.facts = [this]() -> std::optional<maintenance::ui::MaintenanceFacts> {
        client::CConnection* connection = m_shell->Connection();
        if (connection == nullptr || !connection->LoggedIn())
            return std::nullopt;
        const protocol::CClientSession& session = connection->Session();
        maintenance::ui::MaintenanceFacts facts{
            session.Live().Rights(), session.Live().Device().videoLoss, session.Login().Hello(),
            session.Live().Busy(), connection->ResolvedAddress()};
        facts.rights.liveOn = connection->LiveRunning();
        return facts;
    };
    m_maintenance = new maintenance::ui::CMaintenancePanel(std::move(ctx));
    for (const auto window : {platform::Window::Ptz, platform::Window::Firmware})
        m_sink.SetHandler(window, [this](const platform::PostedMessage& m) {
            if (!m_shell->OnMessage(m) || m_quitting)
                return;
            SyncLinks();
            m_maintenance->OnPosted(m);
        });
}

void CClientDlg::CreateReconnectBar() {
    // Over the right end of the title strip, where the connection state is.
    m_reconnectBar = platform::ui::Child<client::ui::CReconnectBar>(this);
    m_reconnectBar->setGeometry(430, 3, 460, 24);
    connect(m_reconnectBar, &client::ui::CReconnectBar::CancelPressed, this, [this] {
        m_shell->CancelReconnect();
        OnReconnectTick();
        ShowConnectionState();
    });
    auto* timer = platform::ui::Child<QTimer>(this);
    timer->setInterval(kReconnectTickMs);
    connect(timer, &QTimer::timeout, this, &CClientDlg::OnReconnectTick);
    timer->start();
}

void CClientDlg::OnReconnectTick() {
    if (m_quitting) {
        m_reconnectBar->hide();
        m_stateLabel->show();  // "Closing..."
        return;
    }
    const bool hadConnection = m_shell->HasSession();
    m_shell->ReconnectTick();
    // With several recorders the panes of one that is away count down its next attempt.
    if (m_shell->Site().Count() > 1)
        SyncLinks();
    RefreshSitePanel();
    if (!hadConnection && m_shell->HasSession())
        ShowConnectionState();  // an attempt started: "Connecting..."
    const auto line =
        m_reconnectBanner.Update(m_shell->Reconnect(), client::CReconnectController::Clock::now());
    // The bar takes the state's place while it is up.
    m_stateLabel->setVisible(!m_reconnectBar->Show(line));
}

}  // namespace taviro::app::ui
