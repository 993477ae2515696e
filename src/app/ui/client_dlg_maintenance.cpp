// Device maintenance from the main window: the PTZ panels (buttons 355, 356, the keys, the
// wheel and the pane icon), the firmware upgrade (button 374 and its popups) and the web
// setup (button 362).
#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <cstdlib>

#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "maintenance/firmware_scan.h"
#include "maintenance/ptz_controller.h"
#include "maintenance/ui/firmware_dlg.h"
#include "maintenance/ui/ptz_windows.h"
#include "maintenance/web_setup.h"
#include "platform/process_launcher.h"
#include "platform/ui/qt_message_sink.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

std::optional<maintenance::PtzKey> PtzKeyOf(int key) {
    switch (key) {
        case Qt::Key_Up:
            return maintenance::PtzKey::Up;
        case Qt::Key_Down:
            return maintenance::PtzKey::Down;
        case Qt::Key_Left:
            return maintenance::PtzKey::Left;
        case Qt::Key_Right:
            return maintenance::PtzKey::Right;
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // + without Shift on most layouts
            return maintenance::PtzKey::ZoomIn;
        case Qt::Key_Minus:
            return maintenance::PtzKey::ZoomOut;
        default:
            return std::nullopt;
    }
}

}  // namespace

void CClientDlg::CreatePtz() {
    m_ptz = std::make_unique<maintenance::CPtzController>(m_sink);
    m_ptzWindows = std::make_unique<maintenance::ui::CPtzWindows>(*m_ptz, this);
    m_ptz->SetObserver([this] { OnPtzChanged(); });
    m_ptzWheelTimer = new QTimer(this);
    m_ptzWheelTimer->setSingleShot(true);
    connect(m_ptzWheelTimer, &QTimer::timeout, this, [this] { m_ptz->EndWheel(); });
    m_sink.SetHandler(platform::Window::Ptz, [this](const platform::PostedMessage& m) {
        if (!m_shell->OnMessage(m) || m_quitting)
            return;
        SyncLinks();
        if (m.message == platform::WM_PTZ_CHANNEL_ACK)
            m_ptz->OnChannelAck(static_cast<int>(m.wParam),
                                static_cast<maintenance::PtzAvailability>(m.lParam));
    });
    m_sink.SetHandler(platform::Window::Firmware,
                      [this](const platform::PostedMessage& m) { OnFirmwarePosted(m); });
    qApp->installEventFilter(this);
}

void CClientDlg::PtzCommand(std::uint32_t id) {
    SyncLinks();
    client::CConnection* connection = m_shell->Connection();
    const maintenance::PtzMode mode =
        id == 355 ? maintenance::PtzMode::Pan : maintenance::PtzMode::Zoom;
    if (connection == nullptr || !connection->LoggedIn() || !m_grid) {
        OnPtzChanged();  // the button shows the panel's state, not the click
        return;
    }
    protocol::RightsContext rights = connection->Session().Live().Rights();
    rights.liveOn = connection->LiveRunning();
    maintenance::PtzScene scene;
    const auto& layout = m_grid->Layout();
    for (int slot = 0; slot < protocol::kMaxChannels; ++slot)
        if (layout.SlotVisible(slot))
            scene.shown.push_back(layout.ChannelOfSlot(slot));
    scene.videoLoss = connection->Session().Live().Device().videoLoss;
    m_ptz->Command(mode, rights, scene);
    OnPtzChanged();
}

void CClientDlg::OnPtzChanged() {
    const bool open = m_ptz->PanelOpen();
    const bool pan = m_ptz->Mode() == maintenance::PtzMode::Pan;
    if (auto* b = Button(355))
        b->SetCheck(open && pan ? 1 : 0);
    if (auto* b = Button(356))
        b->SetCheck(open && !pan ? 1 : 0);
    if (m_ptzWindows) {
        m_ptzWindows->Sync();
        m_ptzWindows->Place();
    }
    RefreshGridStatus();
    if (m_grid)
        m_grid->RepaintAll();
}

void CClientDlg::OnPaneWheel(int channel, int steps) {
    if (!m_ptz->PanelOpen())
        return;
    if (const auto time = m_ptz->Wheel(channel, steps))
        m_ptzWheelTimer->start(static_cast<int>(time->count()));
}

bool CClientDlg::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) && m_ptz && m_ptz->PanelOpen() &&
        !m_quitting) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Only keys meant for our own windows, never for a text field or another dialog.
        auto* widget = qobject_cast<QWidget*>(watched);
        const bool ours = widget != nullptr && (widget->window() == this || widget == this ||
                                                (m_grid && widget->window() == m_grid->window()));
        if (const auto ptzKey = PtzKeyOf(key->key()); ptzKey && ours) {
            if (key->isAutoRepeat())
                return true;  // held: the camera keeps moving until the release
            return press ? m_ptz->KeyDown(*ptzKey) : m_ptz->KeyUp(*ptzKey);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CClientDlg::StartFirmwareScan() {
    client::CConnection* connection = m_shell->Connection();
    if (connection == nullptr || !connection->LoggedIn())
        return;
    if (m_shell->CheckRights(protocol::Feature::FirmwareUpgrade) != client::CommandResult::kDone)
        return;
    // One upgrade at a time, and none while the recorder's settings are exchanged.
    if (m_firmwareDlg || m_firmwareScanning || connection->Session().Live().Busy())
        return;
    m_firmwareScanning = true;
    const auto folder = SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kUpgrade);
    const protocol::HelloAck hello = connection->Session().Login().Hello();
    const std::uint32_t generation = connection->Generation();
    QPointer<CClientDlg> self(this);
    // The folder is read on a pool thread; the window only hears the result.
    QThreadPool::globalInstance()->start([self, folder, hello, generation] {
        auto scan = std::make_shared<const maintenance::UpgradeScan>(
            maintenance::ScanUpgradeFolder(folder, hello));
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, scan] {
                if (self)
                    self->OnFirmwareScanned(generation, scan);
            },
            Qt::QueuedConnection);
    });
}

void CClientDlg::OnFirmwareScanned(std::uint32_t generation,
                                   std::shared_ptr<const maintenance::UpgradeScan> scan) {
    m_firmwareScanning = false;
    client::CConnection* connection = m_shell->Connection();
    if (m_quitting || connection == nullptr || connection->Closing() ||
        connection->Generation() != generation)
        return;
    // The window is only made when the operator confirms (11, 0): a popup that is cancelled,
    // refused or dropped leaves nothing behind that would block the next FirmUp.
    m_firmwareScan = scan;
    m_sink.Notify(11, scan->Candidates() > 0 ? 0 : 1);
}

void CClientDlg::OpenFirmwareWindow() {
    client::CConnection* connection = m_shell->Connection();
    auto scan = std::move(m_firmwareScan);
    if (!scan || m_firmwareDlg || connection == nullptr || !connection->LoggedIn())
        return;
    auto* dialog = new maintenance::CFirmwareDlg(connection->Firmware(), m_sink, *scan,
                                                 notify::ui::SkinTextLookup(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowFlag(Qt::Window);
    m_firmwareDlg = dialog;
    dialog->show();
}

void CClientDlg::CloseFirmwareWindow() {
    m_firmwareScan.reset();
    // The window refers to the connection's firmware service: it goes before the connection.
    delete m_firmwareDlg.data();
}

void CClientDlg::OnFirmwarePosted(const platform::PostedMessage& m) {
    if (!m_shell->OnMessage(m) || m_quitting)
        return;
    if (m_firmwareDlg)
        m_firmwareDlg->PostedMessage(m);
}

void CClientDlg::OpenWebSetup() {
    auto* connection = m_shell->Connection();
    if (connection == nullptr || !connection->LoggedIn())
        return;
    const protocol::HelloAck hello = connection->Session().Login().Hello();
    const auto url = maintenance::WebSetupUrl(connection->Session().Transport().AddressText(),
                                              hello.webPort, hello.Key);
    const auto chosen = m_settings.GetString(maintenance::kBrowserSettingPath);
    platform::CSpawnLauncher launcher;
    if (!url || !maintenance::OpenWebSetup(
                    maintenance::BrowserCommands(*url, chosen.value_or(""), std::getenv("BROWSER")),
                    launcher))
        m_sink.ShowMessageBox(std::string(maintenance::kWebSetupError));
}

}  // namespace taviro::app::ui
