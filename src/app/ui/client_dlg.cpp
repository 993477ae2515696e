#include "app/ui/client_dlg.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "client/ui/recordings_panel.h"
#include "connect/ui/connect_dlg.h"
#include "recordings/ui/backup_panel.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "app/main_window_layout.h"
#include "app/player_mode.h"
#include "audio/sound_ring.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_control_set.h"
#include "controls/ui/skin_slider_widget.h"
#include "maintenance/ptz_controller.h"
#include "maintenance/ui/firmware_dlg.h"
#include "maintenance/ui/ptz_windows.h"
#include "platform/qt_audio/qt_sound.h"
#include "platform/skin_numbers.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "platform/ui/screen_saver.h"
#include "platform/ui/skin_library.h"
#include "protocol/session_messages.h"
#include "snapshot/snapshot_writers.h"
#include "snapshot/ui/snapshot_qt.h"
#include "snapshot/ui/snapshot_viewer.h"
#include "video/ui/channel_grid.h"
#include "video/ui/grid_pictures.h"

#ifndef TAVIRO_VERSION_NUMBERS
#define TAVIRO_VERSION_NUMBERS 0, 0, 0, 0
#endif

namespace taviro::app::ui {

using controls::ButtonKind;
using controls::ui::CSkinButtonWidget;
using controls::ui::CSkinSliderWidget;
using platform::ui::Child;
using platform::ui::Skin;

namespace {

// The volume slider's position at start (0..65535).
constexpr int kStartVolume = 40'000;
// How often the heard channel is checked against the audio mask and the page.
constexpr int kAudioRecheckMs = 250;

// Behind everything when the skin has no background: the skin's own charcoal.
constexpr QRgb kFallbackBackground = 0xFF1E2126;

ButtonKind KindOf(ControlKind kind) {
    switch (kind) {
        case ControlKind::Check:
            return ButtonKind::CheckBox;
        case ControlKind::Radio:
            return ButtonKind::Radio;
        default:
            return ButtonKind::Push;
    }
}

std::vector<video::MonitorInfo> EnumerateMonitors() {
    std::vector<video::MonitorInfo> all;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const QRect w = screen->availableGeometry();
        all.push_back({{g.left(), g.top(), g.right() + 1, g.bottom() + 1},
                       {w.left(), w.top(), w.right() + 1, w.bottom() + 1}});
    }
    return video::RecordMonitors(all);
}

}  // namespace

CClientDlg::CClientDlg(platform::ui::CQtMessageSink& sink, platform::ISettingsStore& settings,
                       Branding branding, ShellOptions options, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Window),
      m_sink(sink),
      m_settings(settings),
      m_shell(std::make_unique<CClientShell>(settings, sink, std::move(branding), options)),
      m_version{TAVIRO_VERSION_NUMBERS} {
    setObjectName("CClientDlg");
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(kMainWindowWidth, kMainWindowHeight);
    m_sink.SetHandler(platform::Window::Main,
                      [this](const platform::PostedMessage& m) { OnPosted(m); });
    for (const auto window : {platform::Window::Search, platform::Window::Backup})
        m_sink.SetHandler(window, [this](const platform::PostedMessage& m) {
            if (m_shell->OnMessage(m) && !m_quitting && m_recordings)
                m_recordings->OnPosted(m);
        });
    m_sink.SetMessageBoxParent(this);
    // The connection's state in the title strip, right of the product name.
    m_stateLabel = Child<QLabel>(this);
    m_stateLabel->setGeometry(300, 4, 590, 22);
    m_stateLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_stateLabel->setStyleSheet("color: #9aa3ad;");
    m_stateLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    CreateReconnectBar();
    // Talk captures the default input device once the recorder accepts it.
    m_shell->SetCaptureFactory([] { return std::make_unique<platform::CQtSoundIn>(); });
    // Live audio plays into our own stream; without an output device there is none and no
    // audio thread is ever made.
    if (m_shell->AudioOutput())
        m_soundDevice = std::make_unique<platform::CQtSoundOut>();
    m_sound = std::make_unique<client::CLiveSoundController>(m_views, m_soundDevice.get(),
                                                             kStartVolume / 65535.0);
    m_shell->SetSoundOut(m_sound->Output());
    CreatePresenter();
    CreateMaintenancePanel();
    CreateSnapshotPanel();
    m_audioTimer = Child<QTimer>(this);
    m_audioTimer->setInterval(kAudioRecheckMs);
    connect(m_audioTimer, &QTimer::timeout, this, &CClientDlg::RecheckAudio);
}

CClientDlg::~CClientDlg() {
    m_sink.SetHandler(platform::Window::Main, {});
    m_sink.SetHandler(platform::Window::Search, {});
    m_sink.SetHandler(platform::Window::Backup, {});
    m_sink.SetHandler(platform::Window::Ptz, {});
    m_sink.SetHandler(platform::Window::Firmware, {});
    m_sink.SetMessageBoxParent(nullptr);
    m_presenter.reset();
    m_snapshots->Stop();
    // The PTZ windows and controller use the connection's PTZ service: they go first.
    delete m_maintenance;
    m_maintenance = nullptr;
    // The recordings panel's search window and controllers use the connection's services.
    if (m_recordings) {
        m_recordings->Attach(nullptr);
        delete m_recordings;
        m_recordings = nullptr;
    }
    // The local panel is the view of the shell's local playback controller.
    delete m_local;
    m_local = nullptr;
    // The session's threads post into the sink until they are joined; the shell joins
    // them before the views and the grid go.
    m_shell.reset();
    m_sound.reset();
    m_soundDevice.reset();
    m_screenSaver.reset();
    // The grid refers to the views, which are members and go before Qt deletes children.
    platform::ui::DestroyChild(m_grid);
    m_grid = nullptr;
}

void CClientDlg::Initialise(const std::optional<ConnectRequest>& connect) {
    if (m_initialised)
        return;
    m_initialised = true;
    setWindowIcon(QIcon(Skin().Picture(platform::skin::kPicConnect)));
    // No screen saver over live video; released with the window, never left behind.
    m_screenSaver = std::make_unique<platform::ui::CScreenSaverInhibitor>(
        QString::fromStdString(m_shell->BrandingTexts().title));
    m_shell->StartUp();
    // The skin is the resource source while the controls are made.
    CreateControls();
    CreateRecordingsPanel();
    CreateLocalPanel();
    m_monitors = EnumerateMonitors();
    CreateGrid(GridDrawMode(m_shell->Setup()), std::nullopt);
    // The 16-pane layout with its button down, Live disabled until a session logs in.
    m_grid->SelectLayout(video::kInitialLayout);
    SetControlState(protocol::kCtlLive, platform::kDisabled);
    setWindowTitle(QString::fromStdString(m_shell->BrandingTexts().title));
    m_sink.Post(platform::Window::Main, app::WM_START_PLAYER, 0, 0);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kMainWindowWidth / 2, kMainWindowHeight / 2));
    }
    UpdateToolTips();
    if (!m_shell->PlayerMode())
        OpenConnectDialog(connect);
}

void CClientDlg::CreateControls() {
    std::vector<controls::ui::SkinControlEntry> table;
    for (const MainControl& control : MainWindowControls()) {
        using Type = controls::ui::SkinControlEntry::Type;
        const Type type = control.kind == ControlKind::SliderHorizontal ? Type::HorizontalSlider
                          : control.kind == ControlKind::SliderVertical ? Type::VerticalSlider
                                                                        : Type::Button;
        table.push_back(
            {control.id, type, KindOf(control.kind),
             QRect(control.rect.x, control.rect.y, control.rect.width, control.rect.height),
             control.picture, control.frames});
    }
    // The channel and layout buttons are not one radio group: a single channel shows both
    // its button and the 1-pane button down. The window sets them from the grid's layout.
    m_controls = std::make_unique<controls::ui::CSkinControlSet>(
        this, table, [this](std::uint32_t id) { OnCommand(id); },
        [this](std::uint32_t message, std::uint32_t id, int position) {
            OnSliderMessage(message, id, position);
        });
    if (auto* volume = Slider(kVolumeSliderId)) {
        volume->SetRange(0, 65535);
        volume->SetPosition(kStartVolume);
    }
    if (auto* position = Slider(kPositionSliderId)) {
        position->SetRange(0, 1000);
        position->SetSliderEnabled(false);  // enabled while a playback runs
    }
}

void CClientDlg::CreateGrid(int drawMode, const std::optional<video::Rect>& geometry) {
    std::optional<int> previousLayout;
    if (m_grid) {
        previousLayout = m_grid->Layout().Layout();
        // The old grid must be gone (and no longer the views' listener) before the new one
        // is made, so no decoder hands a picture to a window that is being destroyed.
        platform::ui::DestroyChild(m_grid);
        m_grid = nullptr;
    }
    m_grid = Child<video::ui::CChannelGrid>(this, m_views, drawMode);
    m_grid->SetPictures(video::ui::LoadGridPictures(Skin()));
    m_grid->SetContextProvider([this] { return Context(); });
    connect(m_grid, &video::ui::CChannelGrid::LayoutApplied, this, &CClientDlg::OnLayoutApplied);
    connect(m_grid, &video::ui::CChannelGrid::PaneContextMenu, this, &CClientDlg::ShowPaneMenu);
    connect(m_grid, &video::ui::CChannelGrid::PaneWheel, m_maintenance,
            &maintenance::ui::CMaintenancePanel::Wheel);
    BindKeys();
    const video::Rect rect = geometry.value_or(video::kMainGridRect);
    m_grid->Place(rect, video::kMainGridBorder, video::kMainGridColour);
    m_grid->SetOsdMode(m_views.OsdMode());  // the views keep it across grids
    if (auto* session = m_shell->Session(); session && m_shell->LoggedIn())
        m_grid->SetChannelCount(session->Login().ChannelCount());
    if (previousLayout)
        m_grid->SelectLayout(*previousLayout);
    RefreshGridStatus();
    m_grid->show();
    m_grid->RepaintAll();
}

int CClientDlg::GridDrawMode(const LocalSetup& setup) {
    if (setup.drawMode == kDrawModeYuv && setup.drawModeChosen == 0)
        return video::ui::kDrawModeAuto;
    return setup.drawMode;
}

video::GridContext CClientDlg::Context() const {
    video::GridContext ctx;
    ctx.mode = m_shell->GridMode();
    if (auto* session = m_shell->Session())
        ctx.liveFrozen = session->Live().Frozen();
    // The channels whose sound the recorder sends: the mask of its last audio element.
    if (auto* connection = m_shell->Connection())
        ctx.audioMask = connection->State().LastAudioMask();
    if (m_maintenance) {
        const maintenance::CPtzController& ptz = m_maintenance->Ptz();
        ctx.ptzOpen = ptz.PanelOpen();
        ctx.ptzChannel = ptz.SteeredChannel();
        ctx.ptzDomeMenu = ptz.DomeMenuOpen();
    }
    return ctx;
}

void CClientDlg::RefreshGridStatus() {
    if (!m_grid)
        return;
    video::ui::GridStatus status;
    status.audioOutput = m_shell->AudioOutput();
    status.playerSpeed = m_shell->GridMode() == protocol::kGridLocal
                             ? m_shell->Local().IconSpeed()
                             : (m_recordings ? m_recordings->Playback().IconSpeed() : 0);
    if (m_maintenance) {
        status.ptzChannel = m_maintenance->Ptz().Icon().channel;
        status.ptzState = m_maintenance->Ptz().Icon().state;
    }
    if (auto* session = m_shell->Session()) {
        status.session = true;
        const protocol::DeviceState device = session->Live().Device();
        status.videoLoss = device.videoLoss;
        status.blocked = device.hidden;
        for (std::size_t c = 0; c < status.cameraFlags.size() && c < device.camInfo.size(); ++c)
            status.cameraFlags[c] = device.camInfo[c];
    }
    m_grid->SetStatus(status);
}

CSkinButtonWidget* CClientDlg::Button(std::uint32_t id) const {
    return m_controls ? m_controls->Button(id) : nullptr;
}

CSkinSliderWidget* CClientDlg::Slider(std::uint32_t id) const {
    return m_controls ? m_controls->Slider(id) : nullptr;
}

void CClientDlg::UpdateToolTips() {
    const bool loggedIn = m_shell->LoggedIn();
    const bool recording = loggedIn && m_shell->Session()->Live().Recording();
    m_controls->SetToolTips([&](std::uint32_t id) {
        const auto tip = MainToolTip(id, loggedIn, recording);
        if (!tip)
            return QString();
        QString text = tip->textNumber != 0 ? Skin().Text(tip->textNumber) : QString();
        text += QString::fromStdString(tip->literal);
        // The keys that work the playback buttons while playback runs.
        const char* key = id == 343   ? "Space"
                          : id == 346 ? "Right"
                          : id == 340 ? "Left"
                          : id == 345 ? "Esc"
                                      : nullptr;
        if (key != nullptr)
            text += QStringLiteral(" (%1)").arg(QString::fromLatin1(key));
        return text;
    });
}

void CClientDlg::SetControlState(std::uint64_t control, std::int64_t state) {
    const auto set = [this, state](std::uint32_t id) {
        m_controls->SetState(id, static_cast<controls::ui::SkinControlState>(state));
    };
    if (control == protocol::kCtlLiveButtons) {
        // The buttons that only act on a running live view.
        for (const std::uint32_t id : {343u, 355u, 356u, 368u, 372u, 378u})
            set(id);
    } else if (control == protocol::kCtlChannelButtons) {
        for (std::uint32_t id = 300; id <= 315; ++id)
            set(id);
    } else {
        set(static_cast<std::uint32_t>(control));
    }
    if (control == protocol::kCtlRecord || control == protocol::kCtlConnect)
        UpdateToolTips();
}

void CClientDlg::ShowLayoutButtons(const video::PressedButtons& buttons) {
    for (const std::uint32_t id : ViewButtonGroup())
        m_controls->SetCheck(id, static_cast<int>(id) == buttons.layoutButton ||
                                     static_cast<int>(id) == buttons.channelButton);
}

void CClientDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPixmap background = Skin().Picture(platform::skin::kPicMainBackground);
    if (background.isNull())
        painter.fillRect(rect(), QColor::fromRgba(kFallbackBackground));
    else
        painter.drawPixmap(0, 0, background);
}

void CClientDlg::mousePressEvent(QMouseEvent* event) {
    // The window has no frame: any background point drags it.
    if (event->button() != Qt::LeftButton)
        return;
    if (QWindow* window = windowHandle(); window && window->startSystemMove())
        return;
    m_dragFrom = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void CClientDlg::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragFrom && (event->buttons() & Qt::LeftButton))
        move(event->globalPosition().toPoint() - *m_dragFrom);
}

void CClientDlg::mouseReleaseEvent(QMouseEvent*) {
    if (m_dragFrom) {
        m_dragFrom.reset();
        if (m_grid)
            m_grid->RepaintAll();  // the capture ended
    }
}

void CClientDlg::closeEvent(QCloseEvent* event) {
    if (!m_closing) {
        // The window goes once the quit has ended on the connection's worker.
        event->ignore();
        Quit();
        return;
    }
    QWidget::closeEvent(event);
}

QImage CClientDlg::Screenshot() {
    QImage shot = grab().toImage();
    if (m_grid && m_grid->isVisible() && !m_grid->IsFullScreen()) {
        // The grid's renderer paints pictures and OSD into its own surface (an OpenGL
        // framebuffer for the YUV renderer), which grabbing the window does not redraw.
        QPainter painter(&shot);
        const QPoint at = m_grid->Surface()->mapTo(this, QPoint(0, 0));
        painter.drawImage(QRect(at, m_grid->Surface()->size()), m_grid->GrabPanes());
        // What lies over the grid (the backup's progress, the bookmark name) goes on top.
        for (QWidget* over : {static_cast<QWidget*>(m_recordings->BackupPanel()),
                              static_cast<QWidget*>(m_local->BookmarkButton()),
                              static_cast<QWidget*>(m_local->BookmarkNameEdit())}) {
            if (over != nullptr && over->isVisible())
                painter.drawPixmap(over->geometry().topLeft(), over->grab());
        }
    }
    return shot;
}

void CClientDlg::ShowConnectionState() {
    if (!m_stateLabel)
        return;
    QString text;
    switch (m_shell->State()) {
        case ConnectionState::kNone:
            break;
        case ConnectionState::kConnecting:
            text = QStringLiteral("Connecting\u2026");
            break;
        case ConnectionState::kConnected:
            if (auto* connection = m_shell->Connection())
                text = QString::fromStdString(connection->LoginLine());
            break;
        case ConnectionState::kClosing:
            text = QStringLiteral("Disconnecting\u2026");
            break;
    }
    if (m_quitting)
        text = QStringLiteral("Closing\u2026");
    else if (m_recordings && !m_recordings->Playback().Title().empty())
        text =
            QString::fromStdString(m_recordings->Playback().Title()) + QStringLiteral("   ") + text;
    else if (m_shell->Local().Shown() && !m_shell->Local().Title().empty())
        text = QString::fromStdString(m_shell->Local().Title()) + QStringLiteral("   ") + text;
    m_stateLabel->setText(text);
}

}  // namespace taviro::app::ui
