// CFirmwareDlg: the firmware upgrade window. Seven rows (check box, label, progress bar
// 0..100, status text), Start / Stop / Close; a thin view over CFirmwareUpgrade, which
// holds every rule. The main window hands it each message posted for Window::Firmware
// (PostedMessage) and opens it with the result of the Upgrade folder's scan.
//
// Threads: the window's thread only. Ownership: the service belongs to the connection and
// outlives the window; the main window owns the window and closes it before the
// connection goes.
#pragma once

#include <QDialog>
#include <array>

#include "maintenance/firmware_upgrade.h"
#include "platform/texts.h"

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace taviro::maintenance {

class CFirmwareDlg final : public QDialog {
    Q_OBJECT

  public:
    CFirmwareDlg(CFirmwareService& service, platform::IMessageSink& sink, UpgradeScan scan,
                 platform::TextLookup texts, QWidget* parent = nullptr);

    // A message posted for Window::Firmware.
    void PostedMessage(const platform::PostedMessage& message);
    [[nodiscard]] const CFirmwareUpgrade& Logic() const { return m_logic; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    struct Row {
        QCheckBox* check = nullptr;
        QLabel* label = nullptr;
        QProgressBar* progress = nullptr;
        QLabel* status = nullptr;
    };
    void Refresh();

    CFirmwareUpgrade m_logic;
    platform::TextLookup m_texts;
    std::array<Row, kFwRows> m_rows{};
    QPushButton* m_start = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_close = nullptr;
};

}  // namespace taviro::maintenance
