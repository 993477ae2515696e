// The file-open dialog of the Load command: Qt's own (not the desktop's) file dialog in open
// mode with the snapshot filters, starting in the "Saved" folder, with a 360 x 240 preview
// of the selected picture and its size as "(%d x %d)". Pictures are decoded on a pool
// thread; only the newest selection's result is shown, so a slow file never blocks the
// window or shows up late over another.
//
// Thread: the GUI thread.
#pragma once

#include <QFileDialog>
#include <QImage>
#include <atomic>
#include <memory>

class QLabel;

namespace taviro::snapshot::ui {

class CPreviewFileDlg final : public QFileDialog {
    Q_OBJECT
  public:
    CPreviewFileDlg(const QString& savedFolder, QWidget* parent = nullptr);
    ~CPreviewFileDlg() override;

    QLabel* Preview() const { return m_preview; }
    QLabel* SizeText() const { return m_size; }
    // Waits (processing events) until the last requested preview arrived; for tests.
    bool WaitForPreview(int timeoutMs);

  private:
    void OnCurrentChanged(const QString& path);
    void Clear();
    void ShowPreview(unsigned generation, const QImage& image);

    QLabel* m_preview = nullptr;
    QLabel* m_size = nullptr;
    QImage m_image;
    // Which selection is current; shared with the pool tasks so stale ones skip their work.
    std::shared_ptr<std::atomic<unsigned>> m_generation;
    unsigned m_shown = 0;
};

}  // namespace taviro::snapshot::ui
