#include "maintenance/ui/maintenance_panel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <utility>

#include "maintenance/ptz_service.h"
#include "maintenance/ui/ptz_windows.h"
#include "maintenance/web_setup.h"
#include "platform/process_launcher.h"
#include "protocol/session_messages.h"

namespace taviro::maintenance::ui {

namespace {

std::optional<PtzKey> PtzKeyOf(int key) {
    switch (key) {
        case Qt::Key_Up:
            return PtzKey::Up;
        case Qt::Key_Down:
            return PtzKey::Down;
        case Qt::Key_Left:
            return PtzKey::Left;
        case Qt::Key_Right:
            return PtzKey::Right;
        case Qt::Key_Plus:
        case Qt::Key_Equal:  // + without Shift on most layouts
            return PtzKey::ZoomIn;
        case Qt::Key_Minus:
            return PtzKey::ZoomOut;
        default:
            return std::nullopt;
    }
}

}  // namespace

CMaintenancePanel::CMaintenancePanel(MaintenancePanelContext context)
    : QObject(context.window), m_ctx(std::move(context)) {
    m_ptz = std::make_unique<CPtzController>(*m_ctx.sink);
    m_ptzWindows = std::make_unique<CPtzWindows>(*m_ptz, m_ctx.window);
    m_ptz->SetObserver([this] {
        m_ptzWindows->Sync();
        m_ptzWindows->Place();
        ShowLamps();
        m_ctx.changed();
    });
    m_wheelTimer = new QTimer(this);
    m_wheelTimer->setSingleShot(true);
    connect(m_wheelTimer, &QTimer::timeout, this, [this] { m_ptz->EndWheel(); });
    qApp->installEventFilter(this);
}

CMaintenancePanel::~CMaintenancePanel() {
    qApp->removeEventFilter(this);
    CloseUpgradeWindow();
    // The PTZ windows use the controller: they go first.
    m_ptzWindows.reset();
    m_ptz.reset();
}

void CMaintenancePanel::Link(const MaintenanceLink& link) {
    if (link.firmware != m_link.firmware)
        CloseUpgradeWindow();  // the window refers to the old connection's service
    if (link.ptz != m_link.ptz)
        m_ptz->SetLink(link.ptz);
    m_link = link;
}

void CMaintenancePanel::Wheel(int channel, int steps) {
    if (!m_ptz->PanelOpen())
        return;
    if (const auto time = m_ptz->Wheel(channel, steps))
        m_wheelTimer->start(static_cast<int>(time->count()));
}

bool CMaintenancePanel::eventFilter(QObject* watched, QEvent* event) {
    const bool press = event->type() == QEvent::KeyPress;
    if ((press || event->type() == QEvent::KeyRelease) && m_ptz && m_ptz->PanelOpen()) {
        auto* key = static_cast<QKeyEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        const auto ptzKey = PtzKeyOf(key->key());
        if (ptzKey && widget != nullptr && m_ctx.ownWindow(widget)) {
            if (key->isAutoRepeat())
                return true;  // held: the camera keeps moving until the release
            return press ? m_ptz->KeyDown(*ptzKey) : m_ptz->KeyUp(*ptzKey);
        }
    }
    return QObject::eventFilter(watched, event);
}

void CMaintenancePanel::ShowLamps() {
    const bool open = m_ptz->PanelOpen();
    const bool pan = m_ptz->Mode() == PtzMode::Pan;
    m_ctx.lamps(open && pan, open && !pan);
}

void CMaintenancePanel::PtzButton(PtzMode mode, const std::vector<int>& shown) {
    if (const auto facts = m_ctx.facts()) {
        PtzScene scene;
        scene.shown = shown;
        scene.videoLoss = facts->videoLoss;
        m_ptz->Command(mode, facts->rights, scene);
    }
    // The buttons show the panel's state, not the click.
    ShowLamps();
    m_ctx.changed();
}

void CMaintenancePanel::OpenWebSetup(const std::string& chosen) {
    const auto facts = m_ctx.facts();
    if (!facts)
        return;
    const auto url = WebSetupUrl(facts->address, facts->hello.webPort, facts->hello.Key);
    platform::CSpawnLauncher launcher;
    if (!url ||
        !maintenance::OpenWebSetup(BrowserCommands(*url, chosen, std::getenv("BROWSER")), launcher))
        m_ctx.sink->ShowMessageBox(std::string(kWebSetupError));
}

void CMaintenancePanel::ScanUpgrades(const std::filesystem::path& folder) {
    const auto facts = m_ctx.facts();
    // One upgrade at a time, and none while the recorder's settings are exchanged.
    if (!facts || m_firmwareDlg || m_scanning || facts->busy || m_link.firmware == nullptr)
        return;
    const protocol::HelloAck hello = facts->hello;
    m_scanning = true;
    const std::uint32_t generation = m_link.generation;
    QPointer<CMaintenancePanel> self(this);
    // The folder is read on a pool thread; the window only hears the result.
    QThreadPool::globalInstance()->start([self, folder, hello, generation] {
        auto scan = std::make_shared<const UpgradeScan>(ScanUpgradeFolder(folder, hello));
        QMetaObject::invokeMethod(
            qApp,
            [self, generation, scan] {
                CMaintenancePanel* panel = self.data();
                if (panel == nullptr)
                    return;
                panel->m_scanning = false;
                // A result for a connection that has gone meanwhile offers nothing.
                if (panel->m_link.firmware == nullptr || panel->m_link.generation != generation)
                    return;
                // The window is only made when the operator confirms (11, 0): a popup that
                // is cancelled, refused or dropped leaves nothing behind that would block
                // the next upgrade.
                panel->m_scan = scan;
                panel->m_ctx.sink->Notify(11, scan->Candidates() > 0 ? 0 : 1);
            },
            Qt::QueuedConnection);
    });
}

void CMaintenancePanel::OpenUpgradeWindow() {
    auto scan = std::move(m_scan);
    if (!scan || m_firmwareDlg || m_link.firmware == nullptr)
        return;
    auto* dialog = new CFirmwareDlg(*m_link.firmware, *m_ctx.sink, *scan, m_ctx.text, m_ctx.window);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowFlag(Qt::Window);
    m_firmwareDlg = dialog;
    dialog->show();
}

void CMaintenancePanel::CloseUpgradeWindow() {
    m_scan.reset();
    // The window refers to the connection's firmware service: it goes before the connection.
    delete m_firmwareDlg.data();
}

bool CMaintenancePanel::OnPosted(const platform::PostedMessage& m) {
    if (m.window == platform::Window::Firmware) {
        if (m_firmwareDlg)
            m_firmwareDlg->PostedMessage(m);
        return true;
    }
    if (m.window == platform::Window::Ptz) {
        if (m.message == maintenance::WM_PTZ_CHANNEL_ACK)
            m_ptz->OnChannelAck(static_cast<int>(m.wParam), static_cast<PtzAvailability>(m.lParam));
        return true;
    }
    if (m.message == protocol::WM_CLOSE_PTZ) {
        // Live view stopped or the PTZ right was withdrawn: a held move is stopped.
        m_ptz->Close();
        return true;
    }
    return false;
}

}  // namespace taviro::maintenance::ui
