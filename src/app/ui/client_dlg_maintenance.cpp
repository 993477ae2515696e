// Device maintenance from the main window: the maintenance panel made with what it needs of
// this window, the PTZ buttons 355 ("Pan") and 356 ("Zoom") with the panes they may steer,
// the firmware upgrade's button 374 and the web setup's button 362.
#include <cstdlib>

#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "maintenance/ui/maintenance_panel.h"
#include "maintenance/web_setup.h"
#include "platform/process_launcher.h"
#include "platform/ui/qt_message_sink.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

void CClientDlg::CreateMaintenancePanel() {
    maintenance::ui::MaintenancePanelContext ctx;
    ctx.window = this;
    ctx.sink = &m_sink;
    ctx.text = notify::ui::SkinTextLookup();
    ctx.ownWindow = [this](QWidget* widget) {
        return !m_quitting && (widget == this || widget->window() == this ||
                               (m_grid && widget->window() == m_grid->window()));
    };
    ctx.changed = [this] { OnPtzChanged(); };
    m_maintenance = new maintenance::ui::CMaintenancePanel(std::move(ctx));
    for (const auto window : {platform::Window::Ptz, platform::Window::Firmware})
        m_sink.SetHandler(window, [this](const platform::PostedMessage& m) {
            if (!m_shell->OnMessage(m) || m_quitting)
                return;
            SyncLinks();
            m_maintenance->OnPosted(m);
        });
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
    m_maintenance->Ptz().Command(mode, rights, scene);
    OnPtzChanged();
}

void CClientDlg::OnPtzChanged() {
    maintenance::CPtzController& ptz = m_maintenance->Ptz();
    const bool pan = ptz.Mode() == maintenance::PtzMode::Pan;
    if (auto* b = Button(355))
        b->SetCheck(ptz.PanelOpen() && pan ? 1 : 0);
    if (auto* b = Button(356))
        b->SetCheck(ptz.PanelOpen() && !pan ? 1 : 0);
    RefreshGridStatus();
    if (m_grid)
        m_grid->RepaintAll();
}

void CClientDlg::StartFirmwareScan() {
    client::CConnection* connection = m_shell->Connection();
    if (connection == nullptr || !connection->LoggedIn())
        return;
    if (m_shell->CheckRights(protocol::Feature::FirmwareUpgrade) != client::CommandResult::kDone)
        return;
    SyncLinks();
    m_maintenance->ScanUpgrades(
        SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kUpgrade),
        connection->Session().Login().Hello(), connection->Session().Live().Busy());
}

void CClientDlg::OpenWebSetup() {
    auto* connection = m_shell->Connection();
    if (connection == nullptr || !connection->LoggedIn())
        return;
    const protocol::HelloAck hello = connection->Session().Login().Hello();
    const auto url =
        maintenance::WebSetupUrl(connection->ResolvedAddress(), hello.webPort, hello.Key);
    const auto chosen = m_settings.GetString(maintenance::kBrowserSettingPath);
    platform::CSpawnLauncher launcher;
    if (!url || !maintenance::OpenWebSetup(
                    maintenance::BrowserCommands(*url, chosen.value_or(""), std::getenv("BROWSER")),
                    launcher))
        m_sink.ShowMessageBox(std::string(maintenance::kWebSetupError));
}

}  // namespace taviro::app::ui
