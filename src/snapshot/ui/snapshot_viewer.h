// The window that shows a saved picture: sized to the picture plus 44 x 76 pixels, the
// picture stretched over its client area; "Copy" (context menu and the copy shortcut) puts
// it on the clipboard.
//
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <QImage>
#include <memory>

namespace taviro::snapshot::ui {

class CSnapshotViewer final : public QDialog {
    Q_OBJECT
  public:
    // Loads `path`; a viewer only when the picture could be loaded (else null, `error` set).
    static std::unique_ptr<CSnapshotViewer> Open(const QString& path, QWidget* parent = nullptr,
                                                 QString* error = nullptr);
    // A viewer on a picture already loaded (LoadSnapshotImage on a pool thread); null for a
    // null image.
    static std::unique_ptr<CSnapshotViewer> Show(QImage image, const QString& path,
                                                 QWidget* parent = nullptr);

    [[nodiscard]] const QImage& Image() const { return m_image; }
    void Copy();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    CSnapshotViewer(QImage image, const QString& path, QWidget* parent);

    QImage m_image;
};

}  // namespace taviro::snapshot::ui
