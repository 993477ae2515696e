#include "snapshot/ui/snapshot_panel.h"

#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <map>
#include <utility>

#include "snapshot/snapshot_writers.h"
#include "snapshot/ui/preview_file_dialog.h"
#include "snapshot/ui/snapshot_qt.h"
#include "snapshot/ui/snapshot_viewer.h"

namespace taviro::snapshot::ui {

namespace {

constexpr int kReapMs = 1'000;

}  // namespace

CSnapshotPanel::CSnapshotPanel(SnapshotPanelContext context)
    : QObject(context.window), m_ctx(std::move(context)) {
    m_timer = new QTimer(this);
    m_timer->setInterval(kReapMs);
    connect(m_timer, &QTimer::timeout, this, &CSnapshotPanel::Reap);
}

CSnapshotPanel::~CSnapshotPanel() {
    Stop();
}

void CSnapshotPanel::Take(const video::CChannelViews& views, protocol::ChannelMask channels) {
    if (m_stopped || (m_ctx.busy && m_ctx.busy()))
        return;
    if (!m_controller) {
        m_painter = std::make_unique<CQtCaptionPainter>();
        m_controller =
            std::make_unique<CSnapshotController>(*m_ctx.sink, *m_painter, ScreenDisplayFormat());
    }
    const auto log = m_ctx.log();
    if (!m_controller->Take(views, channels, m_ctx.settings(), log.get()))
        return;
    m_ctx.saveEnabled(false);
    m_timer->start();
}

void CSnapshotPanel::Reap() {
    if (m_controller && m_controller->Reap())
        return;
    m_timer->stop();
    m_ctx.saveEnabled(true);
}

void CSnapshotPanel::Stop() {
    // A worker writes its own copy of the picture; quitting waits for it, so no file is left
    // half written.
    m_stopped = true;
    if (m_controller)
        m_controller->Stop();
    m_timer->stop();
}

bool CSnapshotPanel::OnPosted(const platform::PostedMessage& m) {
    if (m.message != snapshot::WM_SNAPSHOT_DONE)
        return false;
    if (const auto text = SnapshotDoneMessage(m))
        m_ctx.sink->ShowMessageBox(*text);
    return true;
}

void CSnapshotPanel::Copy(const video::CChannelViews& views, int channel) {
    if (!m_painter)
        m_painter = std::make_unique<CQtCaptionPainter>();
    if (!m_controller)
        m_controller =
            std::make_unique<CSnapshotController>(*m_ctx.sink, *m_painter, ScreenDisplayFormat());
    std::string error;
    const auto rgb = m_controller->Compose(views, channel, m_ctx.settings(), &error);
    if (!rgb) {
        m_ctx.sink->ShowMessageBox("The picture of CH" + std::to_string(channel + 1) +
                                   " could not be copied: " + error);
        return;
    }
    QImage image(rgb->bytes.data(), rgb->width, rgb->height, rgb->width * 3, QImage::Format_RGB888);
    CopyImageToClipboard(image.copy());
}

void CSnapshotPanel::OpenSaved() {
    if (m_stopped)
        return;
    const std::filesystem::path folder = m_ctx.settings().savedFolder;
    CPreviewFileDlg dialog(QString::fromStdString(folder.string()), m_ctx.window);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    if (m_ctx.busy && m_ctx.busy())
        return;
    // The file is read and decoded on a pool thread; the viewer opens when it is ready.
    const QString path = dialog.selectedFiles().front();
    QPointer<CSnapshotPanel> self(this);
    QThreadPool::globalInstance()->start([self, path] {
        QString error;
        QImage image = LoadSnapshotImage(path, &error);
        QMetaObject::invokeMethod(
            qApp,
            [self, path, image = std::move(image), error] {
                if (CSnapshotPanel* panel = self.data())
                    panel->ShowPicture(path, image, error);
            },
            Qt::QueuedConnection);
    });
}

void CSnapshotPanel::ShowPicture(const QString& path, const QImage& image, const QString& error) {
    if (m_stopped)
        return;
    m_viewer = CSnapshotViewer::Show(image, path, m_ctx.window);
    if (!m_viewer) {
        m_ctx.sink->ShowMessageBox(error.isEmpty() ? std::string("The picture could not be loaded.")
                                                   : error.toStdString());
        return;
    }
    m_viewer->show();
}

void CSnapshotPanel::PaneMenu(const video::CChannelViews& views, int channel, QPoint at,
                              bool saveEnabled, const std::function<void()>& about,
                              const std::vector<PaneAction>& actions) {
    const bool picture = (views.HasDecodedMask() & protocol::ChannelBit(channel)) != 0;
    if (!picture && actions.empty())
        return;
    QMenu menu(m_ctx.window);
    QAction* save = nullptr;
    QAction* copy = nullptr;
    if (picture) {
        save = menu.addAction(QStringLiteral("Save snapshot of CH%1").arg(channel + 1));
        save->setEnabled(saveEnabled);
        copy = menu.addAction(QStringLiteral("Copy picture to clipboard"));
        menu.addSeparator();
    }
    std::vector<QAction*> added;
    std::map<QString, QMenu*> submenus;
    for (const PaneAction& action : actions) {
        QMenu* into = &menu;
        if (!action.menu.isEmpty()) {
            QMenu*& sub = submenus[action.menu];
            if (sub == nullptr)
                sub = menu.addMenu(action.menu);
            into = sub;
        }
        added.push_back(into->addAction(action.text));
    }
    if (!actions.empty())
        menu.addSeparator();
    QAction* keys = menu.addAction(QStringLiteral("About and keys..."));
    QAction* chosen = menu.exec(at);
    for (std::size_t i = 0; i < added.size(); ++i)
        if (chosen != nullptr && chosen == added[i])
            actions[i].run();
    if (chosen == nullptr)
        return;
    if (chosen == save)
        Take(views, protocol::ChannelBit(channel));
    else if (chosen == copy)
        Copy(views, channel);
    else if (chosen == keys)
        about();
}

}  // namespace taviro::snapshot::ui
