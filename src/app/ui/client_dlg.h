// CClientDlg: the main window, the composition root. A frameless, skinned 928 x 712 window
// dragged by its background, holding the skinned controls of the main-window table and the
// features' panels: live view (the channel grid at (54, 67)-(874, 661)), recordings, local
// archive, snapshots and maintenance, each drawing a controller without Qt. Buttons, keys
// and posted messages are routed to the shell (settings, log, the connection's lifetime)
// and to the panels; every connection and refusal notification becomes one skinned popup
// at a time.
//
// Threads: the GUI thread only, and nothing here waits: connecting, disconnecting, quitting
// and every dialog and popup run without a nested event loop (dialogs are window-modal and
// report through signals). Worker threads reach this window through the message sink,
// whose Main handler is this window's OnPosted; the messages of a connection that has ended
// are dropped there.
// Ownership: the window owns the shell (session, pipeline, local log), the channel views
// (which outlive the grid and the pipeline), the live sound controller (whose ring outlives
// the shell's connections) and, through Qt, its child widgets and panels; the panels go
// before the shell, the live view panel's grid before the views. The sink and the settings
// store belong to CClientApp and outlive the window.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/branding.h"
#include "app/client_shell.h"
#include "app/key_map.h"
#include "client/live_sound.h"
#include "client/site_views.h"
#include "client/ui/live_view_panel.h"
#include "client/ui/local_panel.h"
#include "client/ui/reconnect_bar.h"
#include "client/ui/recorder_panel.h"
#include "client/ui/recordings_panel.h"
#include "connect/ui/connect_dlg.h"
#include "maintenance/ui/maintenance_panel.h"
#include "notify/ui/notify_popup.h"
#include "platform/settings_store.h"
#include "snapshot/ui/snapshot_panel.h"

namespace taviro::platform::ui {
class CQtMessageSink;
class CScreenSaverInhibitor;
}  // namespace taviro::platform::ui
namespace taviro::controls::ui {
class CSkinButtonWidget;
class CSkinControlSet;
class CSkinSliderWidget;
}  // namespace taviro::controls::ui
namespace taviro::platform {
class CQtSoundOut;
}
class QImage;
class QPushButton;
class QLineEdit;

namespace taviro::app::ui {

using connect::ui::ConnectRequest;

class CClientDlg final : public QWidget {
    Q_OBJECT
  public:
    CClientDlg(platform::ui::CQtMessageSink& sink, platform::ISettingsStore& settings,
               Branding branding, ShellOptions options, QWidget* parent = nullptr);
    ~CClientDlg() override;

    // The window initialisation in its order; `connect` replaces the start-up connect
    // dialog's questions with these values (the dialog is still shown, filled and confirmed).
    // Further recorders in `more` are added with the first one's user and password once it
    // is confirmed.
    void Initialise(const std::optional<ConnectRequest>& connect = std::nullopt,
                    std::vector<ConnectRequest> more = {});

    // A control of the main window was pressed (button id 300..378).
    void OnCommand(std::uint32_t id);
    // Quit (button 365): services stopped in order and the session shut down on the
    // connection's worker; the window closes when that has ended (Closed() is emitted).
    void Quit();
    // Disconnect (button 360 with a connection, or notification category 2).
    void Disconnect();

    // What a screenshot shows: the window as on screen, the channel grid's OSD included.
    QImage Screenshot();

    // For tests, the demo and the screenshot.
    recordings::ui::CSearchWindow* SearchWindow() const { return m_recordings->SearchWindow(); }
    recordings::ui::CPlaybackBar* PlaybackBar() const { return m_recordings->Bar(); }
    recordings::ui::CBackupPanel* BackupPanel() const { return m_recordings->BackupPanel(); }
    archive::ui::CArchiveWindow* ArchiveWindow() const { return m_local->ArchiveWindow(); }
    QPushButton* BookmarkButton() const { return m_local->BookmarkButton(); }
    QLineEdit* BookmarkNameEdit() const { return m_local->BookmarkNameEdit(); }
    snapshot::ui::CSnapshotViewer* SnapshotViewer() const { return m_snapshots->Viewer(); }
    CClientShell& Shell() { return *m_shell; }
    client::ui::CRecordingsPanel& Recordings() { return *m_recordings; }
    video::CChannelViews& Views() { return m_views; }
    // The recorder panel (from Initialise on; hidden until shown).
    client::ui::CRecorderPanel* SitePanel() const { return m_sitePanel; }
    // The grid (from Initialise on).
    video::ui::CChannelGrid* Grid() const { return m_live->Grid(); }
    controls::ui::CSkinButtonWidget* Button(std::uint32_t id) const;
    controls::ui::CSkinSliderWidget* Slider(std::uint32_t id) const;
    notify::ui::CNotifyPresenter& Presenter() { return *m_presenter; }
    // A recorder added to those connected, decoding into views of its own; false (and the
    // reason said in a message box) when it was refused.
    bool AddRecorder(const ConnectTarget& target);
    // The views of the recorder the window's services act on (the first views without one).
    video::CChannelViews& SelectedViews();
    // The connect or local setup dialog while it is open, or null.
    connect::ui::CConnectDlg* ConnectDialog() const { return m_connectDialog; }
    // The connection state as the window shows it ("Connecting...", ...).
    [[nodiscard]] QString StateText() const { return m_stateLabel->text(); }
    [[nodiscard]] std::array<std::uint16_t, 4> ProgramVersion() const { return m_version; }
    // The reconnect bar's text while it is shown (empty otherwise) and its Cancel button.
    [[nodiscard]] QString ReconnectText() const { return m_reconnectBar->Text(); }
    QPushButton* ReconnectCancelButton() const { return m_reconnectBar->CancelButton(); }
    maintenance::CPtzController& Ptz() { return m_maintenance->Ptz(); }
    maintenance::ui::CPtzWindows* PtzWindows() const { return m_maintenance->PtzWindows(); }
    maintenance::CFirmwareDlg* FirmwareWindow() const { return m_maintenance->UpgradeWindow(); }

  signals:
    // The session logged in (the demo and tests wait for it).
    void LoggedIn();
    // The notification for (category, code) was handled (its popup, if any, is up).
    void NotificationDone(int category, int code);
    // Quit has ended and the window is closing.
    void Closed();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    // client_dlg.cpp: look, controls and the title strip.
    void CreateControls();
    void UpdateToolTips();
    void SetControlState(std::uint64_t control, std::int64_t state);
    void ShowLayoutButtons(const video::PressedButtons& buttons);
    void ShowConnectionState();

    // client_dlg_commands.cpp: what each button and key does.
    // `add`: the dialog adds a recorder to those connected.
    void OpenConnectDialog(const std::optional<ConnectRequest>& request, bool add = false);
    void ConnectConfirmed(const std::optional<ConnectTarget>& target);
    void OpenLocalSetup();
    void ApplyLocalSetup(const LocalSetup& edited);
    void FinishQuit();
    void OnSliderMessage(std::uint32_t message, std::uint32_t id, int position);
    void BindKeys(video::ui::CChannelGrid* grid);
    void RunKey(const KeyBinding& key);
    void OpenAbout();

    // client_dlg_panels.cpp: the panels made with what they need of this window, the grid
    // arranged when a playback begins or ends, the reconnect bar, and the controllers kept
    // on the shell's connection.
    void CreateLivePanel();
    // The grid's draw mode for these settings: YUV drawing that the operator never chose
    // gives way to RGB by itself where OpenGL renders in software.
    static int GridDrawMode(const LocalSetup& setup);
    void CreateRecordingsPanel();
    void CreateLocalPanel();
    void CreateSnapshotPanel();
    void CreateMaintenancePanel();
    void CreateReconnectBar();
    void OnReconnectTick();
    void OnPlaybackShown(bool shown);
    void OnLocalShown(bool shown);
    void SyncLinks();

    // client_dlg_messages.cpp: posted messages and notifications.
    void OnPosted(const platform::PostedMessage& message);
    void CreatePresenter();
    void OnConnectionClosed(int recorderId);
    // Views no recorder of the site decodes into.
    video::CChannelViews* FreeViews();
    void PaneMenu(int gridChannel, QPoint at);
    void PaneClicked(int gridChannel);
    // The recorder panel: made hidden; shown by its button, and by itself once a second
    // recorder joins; refreshed while shown.
    void CreateSitePanel();
    void ShowSitePanel(bool on);
    void RefreshSitePanel();
    void ChooseRecorder(int recorderId);
    // With several recorders: the chosen recorder's description or address (empty with one),
    // which the service windows' titles and the snapshots' file names carry.
    QString SelectedRecorderLabel() const;
    void NameServiceWindows();
    // Saved views: one shown (held while the recorders come and go), the current one saved
    // under the name the operator types.
    void ShowView(const client::SiteView& view);
    void OpenSaveViewDialog();
    // The recorders and view in use at quit, written at quit and brought back at start: the
    // recorders join unconnected (their panes named) and each is connected through the
    // connect dialog, which confirms by itself with a remembered password. False when
    // there is no site of several recorders to bring back.
    bool RestoreSite();
    void AskNextRecorder();
    void RememberSite();

    platform::ui::CQtMessageSink& m_sink;
    platform::ISettingsStore& m_settings;
    video::CChannelViews m_views;
    // The views of the further recorders (made when first needed); every one outlives the
    // grid and the connections that decode into it.
    std::array<std::unique_ptr<video::CChannelViews>, client::kMaxRecorders - 1> m_moreViews;
    // The recorders given at start after the first (taviro --connect ...), added once the
    // first one's dialog is confirmed.
    std::vector<ConnectRequest> m_moreAtStart;
    // The remembered recorders still to be connected at start, one dialog at a time.
    std::deque<ConnectRequest> m_askAtStart;
    // "host:port" -> channel count, known from a log-in or remembered: a recorder that is
    // away keeps that many panes.
    std::map<std::string, int> m_knownChannels;
    QPointer<QWidget> m_viewNameDialog;
    // The arrangement of the one recorder in use at the last quit: shown when the first
    // recorder connected is that one.
    std::optional<client::SiteView> m_startView;
    // Our own sound stream and the ring the audio thread writes; both outlive the shell's
    // pipeline (the destructor resets the shell first).
    std::unique_ptr<platform::CQtSoundOut> m_soundDevice;
    std::unique_ptr<client::CLiveSoundController> m_sound;
    std::unique_ptr<CClientShell> m_shell;
    std::unique_ptr<connect::CCredentialVault> m_vault;  // the connect dialog's passwords
    std::unique_ptr<controls::ui::CSkinControlSet> m_controls;
    std::unique_ptr<notify::ui::CNotifyPresenter> m_presenter;
    std::unique_ptr<platform::ui::CScreenSaverInhibitor> m_screenSaver;  // while the window lives
    QPointer<connect::ui::CConnectDlg> m_connectDialog;
    QPointer<QWidget> m_setupDialog;
    QPointer<QWidget> m_aboutDialog;  // the About dialog while it is open
    QLabel* m_stateLabel = nullptr;
    // The reconnect bar (shown while the client waits to connect again by itself).
    client::ui::CReconnectBar* m_reconnectBar = nullptr;
    client::CReconnectBanner m_reconnectBanner;
    std::array<std::uint16_t, 4> m_version{};
    bool m_initialised = false;
    bool m_quitting = false;
    bool m_closing = false;            // Quit has ended; close() is under way
    std::optional<QPoint> m_dragFrom;  // dragging the window by its background
    // The panels (children of this window): live view with the grid, remote search,
    // playback and backup, the local archive and playback, snapshots, PTZ and the upgrade.
    client::ui::CLiveViewPanel* m_live = nullptr;
    client::ui::CRecorderPanel* m_sitePanel = nullptr;
    bool m_sitePanelShownOnce = false;  // shown by itself when a second recorder joined
    client::ui::CRecordingsPanel* m_recordings = nullptr;
    client::ui::CLocalPanel* m_local = nullptr;
    snapshot::ui::CSnapshotPanel* m_snapshots = nullptr;
    maintenance::ui::CMaintenancePanel* m_maintenance = nullptr;
};

}  // namespace taviro::app::ui
