// Snapshots of the shown channels, the pane menu and the saved-picture viewer.
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>

#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "controls/ui/skin_button_widget.h"
#include "platform/trace.h"
#include "platform/ui/qt_message_sink.h"
#include "snapshot/snapshot_writers.h"
#include "snapshot/ui/preview_file_dialog.h"
#include "snapshot/ui/snapshot_qt.h"
#include "snapshot/ui/snapshot_viewer.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {

namespace {

constexpr std::uint32_t kSaveButton = 372;
constexpr int kSnapshotTimerMs = 1'000;

}  // namespace

std::filesystem::path CClientDlg::SavedFolder() const {
    return SubFolderPath(m_shell->Setup().LocationPath(), StorageSubFolder::kSaved);
}

void CClientDlg::TakeSnapshot(protocol::ChannelMask channels) {
    if (!m_grid || m_quitting)
        return;
    // The busy flag blocks snapshots while the recorder's settings are being exchanged.
    if (auto* session = m_shell->Session(); session && session->Live().Busy())
        return;
    if (!m_captionPainter) {
        m_captionPainter = std::make_unique<snapshot::ui::CQtCaptionPainter>();
        m_snapshots = std::make_unique<snapshot::CSnapshotWriters>(
            &m_sink, *m_captionPainter, snapshot::ui::ScreenDisplayFormat());
        m_snapshotTimer = new QTimer(this);
        m_snapshotTimer->setInterval(kSnapshotTimerMs);
        connect(m_snapshotTimer, &QTimer::timeout, this, &CClientDlg::ReapSnapshots);
    }
    snapshot::JobSettings settings;
    settings.pictureFormat = m_grid->PictureFormat();
    settings.format = snapshot::SaveFormatFromSetting(m_shell->Setup().saveFormat);
    settings.dateOrder = m_shell->Setup().dateFormat;
    settings.savedFolder = SavedFolder();
    settings.localTime = snapshot::LocalTimeNow();
    // Only panes that hold a picture: the grid must show one for each.
    auto jobs = snapshot::MakeSnapshotJobs(m_views, channels & m_views.HasDecodedMask(), settings);
    if (jobs.empty())
        return;
    if (m_snapshots->Start(std::move(jobs)) == 0)
        return;
    if (auto* save = Button(kSaveButton))
        save->SetButtonEnabled(false);
    m_snapshotTimer->start();
    if (auto log = m_shell->LocalLog())
        snapshot::WriteSnapshotLogEntry(*log);
}

void CClientDlg::ReapSnapshots() {
    if (!m_snapshots || m_snapshots->Reap() > 0)
        return;
    m_snapshotTimer->stop();
    if (auto* save = Button(kSaveButton))
        save->SetButtonEnabled(true);
}

void CClientDlg::StopSnapshots() {
    // A worker writes its own copy of the picture; quitting waits for it, so no file is left
    // half written.
    if (m_snapshots)
        m_snapshots->Stop();
    if (m_snapshotTimer)
        m_snapshotTimer->stop();
}

void CClientDlg::OnSnapshotDone(const platform::PostedMessage& m) {
    if (m.lParam == snapshot::kSnapshotSaved)
        return;
    platform::Trace("main window: snapshot of channel %d failed (%lld)\n",
                    static_cast<int>(m.wParam) + 1, static_cast<long long>(m.lParam));
    m_sink.ShowMessageBox("The snapshot of CH" + std::to_string(m.wParam + 1) +
                          " could not be saved.");
}

void CClientDlg::OpenSnapshot() {
    if (m_quitting)
        return;
    snapshot::ui::CPreviewFileDlg dialog(QString::fromStdString(SavedFolder().string()), this);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (auto* session = m_shell->Session(); session && session->Live().Busy())
        return;
    // The file is read and decoded on a pool thread; the viewer opens when it is ready.
    const QString path = dialog.selectedFiles().front();
    QPointer<CClientDlg> self(this);
    QThreadPool::globalInstance()->start([self, path] {
        QString error;
        QImage image = snapshot::ui::LoadSnapshotImage(path, &error);
        QMetaObject::invokeMethod(
            qApp,
            [self, path, image = std::move(image), error] {
                if (CClientDlg* window = self.data())
                    window->ShowSnapshot(path, image, error);
            },
            Qt::QueuedConnection);
    });
}

void CClientDlg::ShowSnapshot(const QString& path, const QImage& image, const QString& error) {
    if (m_quitting)
        return;
    m_viewer = snapshot::ui::CSnapshotViewer::Show(image, path, this);
    if (!m_viewer) {
        m_sink.ShowMessageBox(error.isEmpty() ? std::string("The picture could not be loaded.")
                                              : error.toStdString());
        return;
    }
    m_viewer->show();
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
        TakeSnapshot(protocol::ChannelBit(channel));
    else if (chosen == copy)
        CopyPicture(channel);
    else if (chosen == about)
        OpenAbout();
}

void CClientDlg::CopyPicture(int channel) {
    if (!m_grid)
        return;
    snapshot::JobSettings settings;
    settings.pictureFormat = m_grid->PictureFormat();
    settings.dateOrder = m_shell->Setup().dateFormat;
    const snapshot::SnapshotJob job =
        snapshot::MakeSnapshotJob(m_views.Channel(channel), channel, settings);
    if (!m_captionPainter)
        m_captionPainter = std::make_unique<snapshot::ui::CQtCaptionPainter>();
    // The picture exactly as a snapshot saves it (800 x 600 with its caption), built here:
    // it is a few milliseconds of arithmetic and nothing waits on a disk.
    std::string error;
    const auto rgb =
        snapshot::ComposeSnapshot(job, *m_captionPainter, snapshot::DisplayFormat{32, {}}, &error);
    if (!rgb) {
        m_sink.ShowMessageBox("The picture of CH" + std::to_string(channel + 1) +
                              " could not be copied: " + error);
        return;
    }
    QImage image(rgb->bytes.data(), rgb->width, rgb->height, rgb->width * 3, QImage::Format_RGB888);
    snapshot::ui::CopyImageToClipboard(image.copy());
}

}  // namespace taviro::app::ui
