#include "snapshot/ui/snapshot_viewer.h"

#include <QAction>
#include <QFileInfo>
#include <QPainter>

#include "snapshot/ui/snapshot_qt.h"

namespace taviro::snapshot::ui {

std::unique_ptr<CSnapshotViewer> CSnapshotViewer::Open(const QString& path, QWidget* parent,
                                                       QString* error) {
    QImage image = LoadSnapshotImage(path, error);
    if (image.isNull()) {
        return nullptr;
    }
    return std::unique_ptr<CSnapshotViewer>(new CSnapshotViewer(std::move(image), path, parent));
}

std::unique_ptr<CSnapshotViewer> CSnapshotViewer::Show(QImage image, const QString& path,
                                                       QWidget* parent) {
    if (image.isNull())
        return nullptr;
    return std::unique_ptr<CSnapshotViewer>(new CSnapshotViewer(std::move(image), path, parent));
}

CSnapshotViewer::CSnapshotViewer(QImage image, const QString& path, QWidget* parent)
    : QDialog(parent), m_image(std::move(image)) {
    setWindowTitle(QFileInfo(path).fileName());
    resize(m_image.width() + 44, m_image.height() + 76);
    auto* copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    connect(copy, &QAction::triggered, this, &CSnapshotViewer::Copy);
    addAction(copy);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CSnapshotViewer::Copy() {
    CopyImageToClipboard(m_image);
}

void CSnapshotViewer::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), m_image);
}

}  // namespace taviro::snapshot::ui
