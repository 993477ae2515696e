// The main window's keys (the one key table of key_map.h), the About dialog that lists them,
// and where the grid's stream statistics come from.
#include <QKeySequence>
#include <QShortcut>

#include "app/ui/about_dlg.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "platform/ui/qt_owned.h"
#include "video/stream_stats.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

void CClientDlg::BindKeys() {
    // The shortcuts belong to the grid with the window context: while the grid sits in this
    // window they act when this window is active, and in full screen, where the grid is a
    // window of its own, they act there. Made again with every grid.
    for (const KeyBinding& binding : KeyBindings()) {
        const QKeySequence sequence(
            QString::fromLatin1(binding.key.data(), static_cast<qsizetype>(binding.key.size())));
        auto* shortcut = platform::ui::Child<QShortcut>(m_grid, sequence);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, binding] { RunKey(binding); });
    }
    // The statistics read counters only (atomics of the connection's receive path and
    // decoders): nothing here waits on the network.
    m_grid->SetStatsSource([this] {
        client::CConnection* connection = m_shell->Connection();
        return connection ? video::CollectCounters(&connection->Frames(),
                                                   &connection->Pipeline().Decoders())
                          : video::StreamCounters{};
    });
}

void CClientDlg::RunKey(const KeyBinding& key) {
    if (m_quitting || !m_grid)
        return;
    // A key is its button: the same command, and nothing while the button is disabled.
    const auto press = [this](int id) {
        if (id < 0)
            return;
        if (auto* button = Button(static_cast<std::uint32_t>(id));
            button && !button->ButtonEnabled())
            return;
        OnCommand(static_cast<std::uint32_t>(id));
    };
    switch (key.command) {
        case KeyCommand::kLayout:
            press(key.argument);
            break;
        case KeyCommand::kNextPage:
            // The current layout's button pressed again shows its next page.
            press(video::LayoutButton(m_grid->Layout().Layout()));
            break;
        case KeyCommand::kPreviousPage:
            // No button of its own: it follows the current layout's button, like Page Down.
            if (auto* button = Button(
                    static_cast<std::uint32_t>(video::LayoutButton(m_grid->Layout().Layout())));
                button && !button->ButtonEnabled())
                break;
            m_grid->StepPage(-1);
            ShowLayoutButtons(m_grid->Layout().Buttons());
            break;
        case KeyCommand::kFullScreen:
            if (m_grid->IsFullScreen())
                m_grid->SetFullScreen(false);
            else
                press(329);
            break;
        case KeyCommand::kCycleOsd:
            press(370);
            break;
        case KeyCommand::kStatisticsOsd:
            m_grid->ToggleStatisticsOsd();
            break;
        case KeyCommand::kSnapshot:
            press(372);
            break;
        case KeyCommand::kNextAudio:
            press(368);
            break;
        case KeyCommand::kMute:
            press(366);
            break;
        case KeyCommand::kAbout:
            OpenAbout();
            break;
    }
}

void CClientDlg::OpenAbout() {
    if (m_aboutDialog) {
        m_aboutDialog->raise();
        m_aboutDialog->activateWindow();
        return;
    }
    const QString version = QStringLiteral("%1.%2.%3.%4")
                                .arg(m_version[0])
                                .arg(m_version[1])
                                .arg(m_version[2])
                                .arg(m_version[3]);
    // Over the full-screen grid when it is up, else over this window; window-modal without a
    // loop of its own.
    QWidget* parent = m_grid && m_grid->IsFullScreen() ? static_cast<QWidget*>(m_grid) : this;
    auto* dialog = new CAboutDlg(parent, QString::fromStdString(m_shell->BrandingTexts().title),
                                 version, m_grid ? m_grid->RendererText() : QString());
    m_aboutDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

}  // namespace taviro::app::ui
