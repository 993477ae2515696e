#include "app/ui/client_dlg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include <QLineEdit>
#include <QPushButton>
#include "app/main_window_layout.h"
#include "app/player_mode.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_control_set.h"
#include "controls/ui/skin_slider_widget.h"
#include "platform/qt_audio/qt_sound.h"
#include "platform/skin_numbers.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/qt_owned.h"
#include "platform/ui/screen_saver.h"
#include "platform/ui/skin_library.h"
#include "protocol/session_messages.h"
#include "recordings/ui/backup_panel.h"

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

}  // namespace

CClientDlg::CClientDlg(platform::ui::CQtMessageSink& sink, platform::ISettingsStore& settings,
                       Branding branding, ShellOptions options, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Window),
      m_sink(sink),
      m_settings(settings),
      m_shell(std::make_unique<CClientShell>(settings, sink, std::move(branding), options)),
      m_vault(std::make_unique<connect::CCredentialVault>(
          options.secretStore ? options.secretStore() : nullptr)),
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
    // The PTZ windows and controller use the connection's PTZ service: they go first; the
    // recordings panel's search window and controllers use the connection's services; the
    // local panel is the view of the shell's local playback controller.
    if (m_recordings)
        m_recordings->Attach(nullptr);
    for (QObject* panel : std::initializer_list<QObject*>{m_maintenance, m_recordings, m_local})
        delete panel;
    m_maintenance = nullptr;
    m_recordings = nullptr;
    m_local = nullptr;
    // The session's threads post into the sink until they are joined; the shell joins
    // them before the views and the grid go. The grid refers to the views, which are
    // members and go before Qt deletes children: the live view panel takes it first.
    m_shell.reset();
    delete m_live;
    m_live = nullptr;
    m_sound.reset();
    m_soundDevice.reset();
    m_screenSaver.reset();
}

void CClientDlg::Initialise(const std::optional<ConnectRequest>& connect,
                            std::vector<ConnectRequest> more) {
    if (m_initialised)
        return;
    m_initialised = true;
    m_moreAtStart = std::move(more);
    setWindowIcon(QIcon(Skin().Picture(platform::skin::kPicConnect)));
    // No screen saver over live video; released with the window, never left behind.
    m_screenSaver = std::make_unique<platform::ui::CScreenSaverInhibitor>(
        QString::fromStdString(m_shell->BrandingTexts().title));
    m_shell->StartUp();
    // The skin is the resource source while the controls are made.
    CreateControls();
    CreateRecordingsPanel();
    CreateLocalPanel();
    CreateLivePanel();
    CreateSitePanel();
    // The 16-pane layout with its button down, Live disabled until a session logs in.
    Grid()->SelectLayout(video::kInitialLayout);
    SetControlState(protocol::kCtlLive, platform::kDisabled);
    setWindowTitle(QString::fromStdString(m_shell->BrandingTexts().title));
    m_sink.Post(platform::Window::Main, app::WM_START_PLAYER, 0, 0);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kMainWindowWidth / 2, kMainWindowHeight / 2));
    }
    UpdateToolTips();
    // The command line names the recorders; else the site in use at the last quit comes
    // back, and without one the connect dialog asks.
    if (!m_shell->PlayerMode() && (connect || !RestoreSite()))
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
        return text + QString::fromStdString(tip->literal);
    });
}

void CClientDlg::SetControlState(std::uint64_t control, std::int64_t state) {
    const auto set = [this, state](std::uint32_t id) {
        m_controls->SetState(id, static_cast<controls::ui::SkinControlState>(state));
    };
    for (const std::uint32_t id : ControlsOfState(control))
        set(id);
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
        m_live->Refresh();  // the capture ended
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
    // The grid's renderer paints pictures and OSD into its own surface (an OpenGL
    // framebuffer for the YUV renderer), which grabbing the window does not redraw.
    if (m_live->PaintPanes(shot, this)) {
        // What lies over the grid (the backup's progress, the bookmark name) goes on top.
        QPainter painter(&shot);
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
    if (m_quitting)
        m_stateLabel->setText(QStringLiteral("Closing\u2026"));
    else if (m_recordings)
        m_stateLabel->setText(
            QString::fromStdString(m_shell->StatusLine(m_recordings->Playback().Title())));
}

}  // namespace taviro::app::ui
