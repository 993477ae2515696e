// Snapshots in the main window: the snapshot panel made with what it needs of this window,
// and the pane menu (a snapshot of one channel, its picture copied, the keys).
#include <QMenu>

#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "platform/ui/qt_message_sink.h"
#include "snapshot/ui/snapshot_panel.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kSaveButton = 372;

}  // namespace

void CClientDlg::CreateSnapshotPanel() {
    snapshot::ui::SnapshotPanelContext ctx;
    ctx.window = this;
    ctx.sink = &m_sink;
    ctx.settings = [this] {
        snapshot::JobSettings settings;
        settings.pictureFormat = m_grid ? m_grid->PictureFormat() : 0;
        settings.format = snapshot::SaveFormatFromSetting(m_shell->Setup().saveFormat);
        settings.dateOrder = m_shell->Setup().dateFormat;
        settings.savedFolder =
            SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kSaved);
        settings.localTime = snapshot::LocalTimeNow();
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

void CClientDlg::ShowPaneMenu(int channel, QPoint globalPosition) {
    if (!(m_views.HasDecodedMask() & protocol::ChannelBit(channel)))
        return;
    QMenu menu(this);
    QAction* save = menu.addAction(QStringLiteral("Save snapshot of CH%1").arg(channel + 1));
    save->setEnabled(!Button(kSaveButton) || Button(kSaveButton)->ButtonEnabled());
    QAction* copy = menu.addAction(QStringLiteral("Copy picture to clipboard"));
    menu.addSeparator();
    QAction* about = menu.addAction(QStringLiteral("About and keys..."));
    QAction* chosen = menu.exec(globalPosition);
    if (chosen == save)
        m_snapshots->Take(m_views, protocol::ChannelBit(channel));
    else if (chosen == copy)
        m_snapshots->Copy(m_views, channel);
    else if (chosen == about)
        OpenAbout();
}

}  // namespace taviro::app::ui
