// CMaintenancePanel: device maintenance in the main window. It holds the PTZ controller with
// its three windows, the wheel's stop timer and the arrow and +/- keys while the PTZ panel
// is open, and the firmware upgrade: the Upgrade folder scanned on a pool thread, the
// result offered by the (11, 0) or (11, 1) popup, and the upgrade window once confirmed.
//
// Threads: the GUI thread only; nothing here waits (the scan runs on a pool thread).
// Ownership: the panel owns the controller, the PTZ windows (deleted before it) and the
// upgrade window. The connection's services belong to the connection: Link() hands them over
// and Link({}) must come before they go.
#pragma once

#include <QObject>
#include <QPointer>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/firmware_scan.h"
#include "maintenance/firmware_service.h"
#include "maintenance/ptz_controller.h"
#include "maintenance/ptz_service.h"
#include "maintenance/ui/firmware_dlg.h"
#include "platform/message_sink.h"
#include "platform/texts.h"

class QTimer;
class QWidget;

namespace taviro::maintenance::ui {

class CPtzWindows;

// The connection's side of maintenance (all null: no connection, or one that is closing).
struct MaintenanceLink {
    CPtzService* ptz = nullptr;
    CFirmwareService* firmware = nullptr;
    std::uint32_t generation = 0;
};

// What the logged-in session says now, for the PTZ buttons, the upgrade and the web setup.
struct MaintenanceFacts {
    protocol::RightsContext rights;  // liveOn: live view runs
    protocol::ChannelMask videoLoss = 0;
    protocol::HelloAck hello;
    bool busy = false;    // the recorder's settings are being exchanged
    std::string address;  // the recorder's resolved address
};

struct MaintenancePanelContext {
    QWidget* window = nullptr;  // the main window: parent of the PTZ and upgrade windows
    platform::IMessageSink* sink = nullptr;
    platform::TextLookup text;
    // Whether a key pressed in this widget is meant for the main window's grid (never for a
    // text field or another dialog).
    std::function<bool(QWidget*)> ownWindow;
    // The PTZ panel opened, closed or changed: the pane icon follows.
    std::function<void()> changed;
    // The Pan (355) and Zoom (356) buttons' lamps.
    std::function<void(bool pan, bool zoom)> lamps;
    // The session's facts; nullopt without a logged-in connection.
    std::function<std::optional<MaintenanceFacts>()> facts;
};

class CMaintenancePanel final : public QObject {
    Q_OBJECT
  public:
    explicit CMaintenancePanel(MaintenancePanelContext context);
    ~CMaintenancePanel() override;

    // The services of the current connection; the upgrade window goes with the old ones.
    void Link(const MaintenanceLink& link);
    [[nodiscard]] std::uint32_t LinkedGeneration() const { return m_link.generation; }

    CPtzController& Ptz() { return *m_ptz; }
    CPtzWindows* PtzWindows() const { return m_ptzWindows.get(); }
    // The wheel over a pane while the PTZ panel is open.
    void Wheel(int channel, int steps);

    // Buttons 355 (Pan) and 356 (Zoom): the PTZ panel opened, switched or closed for the
    // channels `shown` (the panes of the page, in order).
    void PtzButton(PtzMode mode, const std::vector<int>& shown);
    // Button 374 after its rights check: the Upgrade folder is scanned for the recorder.
    // Ignored while a scan or an upgrade runs, or while the recorder is busy.
    void ScanUpgrades(const std::filesystem::path& folder);
    // Button 362 after its rights check: the recorder's web setup in the browser `chosen`
    // (empty: the desktop's), or the error box.
    void OpenWebSetup(const std::string& chosen);
    // The (11, 0) popup was confirmed: the upgrade window on the scan's result.
    void OpenUpgradeWindow();
    void CloseUpgradeWindow();
    CFirmwareDlg* UpgradeWindow() const { return m_firmwareDlg; }

    // A message for the PTZ or firmware windows, or protocol::WM_CLOSE_PTZ; true when it was the
    // panel's.
    bool OnPosted(const platform::PostedMessage& message);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowLamps();

    MaintenancePanelContext m_ctx;
    MaintenanceLink m_link;
    std::unique_ptr<CPtzController> m_ptz;
    std::unique_ptr<CPtzWindows> m_ptzWindows;
    QTimer* m_wheelTimer = nullptr;
    bool m_scanning = false;
    std::shared_ptr<const UpgradeScan> m_scan;  // waiting for its popup's answer
    QPointer<CFirmwareDlg> m_firmwareDlg;
};

}  // namespace taviro::maintenance::ui
