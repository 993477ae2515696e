// The backup's progress in the main window: a bar of the bytes received against the size
// the recorder named, the bytes, the rate and the time left, and a Stop button. Shown from
// WM_BACKUP_STARTED to WM_BACKUP_FINISHED.
//
// Thread: the GUI thread. The owner feeds it the messages and reacts to Stop.
#pragma once

#include <QWidget>
#include <chrono>

#include "recordings/backup_progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace taviro::recordings::ui {

class CBackupPanel final : public QWidget {
    Q_OBJECT
  public:
    explicit CBackupPanel(QWidget* parent = nullptr);

    void Started(std::uint64_t totalKb);
    void Progress(std::uint64_t doneKb);
    void Finished();
    [[nodiscard]] QString Text() const;
    [[nodiscard]] int Value() const;

  signals:
    void StopPressed();

  private:
    std::int64_t NowMs() const;

    CBackupProgress m_progress;
    QProgressBar* m_bar = nullptr;
    QLabel* m_text = nullptr;
    QPushButton* m_stop = nullptr;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace taviro::recordings::ui
