// The backup's progress in the main window: a bar of the bytes received against the size
// the recorder named, the bytes, the rate and the time left, and a Stop button. Shown from
// recordings::WM_BACKUP_STARTED; at recordings::WM_BACKUP_FINISHED it says how the backup ended
// (done, or stopped and why, with what was kept) and where, with a button that opens the folder,
// until the user closes it or the next backup starts.
//
// Thread: the GUI thread. The owner feeds it the messages and reacts to Stop.
#pragma once

#include <QWidget>
#include <chrono>
#include <functional>
#include <optional>

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
    // The backup has ended; without an outcome (nothing is known of it) the panel hides.
    void Finished(const std::optional<BackupOutcome>& outcome);
    [[nodiscard]] QString Text() const;
    [[nodiscard]] int Value() const;
    // Whether the backup runs (false once it has ended).
    [[nodiscard]] bool Running() const { return m_bRunning; }
    // The folder the ended backup wrote to, and what opens it (the desktop's file manager
    // by default; tests replace it).
    [[nodiscard]] QString Folder() const { return m_folder; }
    void SetFolderOpener(std::function<void(const QString&)> opener);
    QWidget* OpenFolderButton() const;
    QWidget* CloseButton() const;
    QWidget* StopButton() const;

  signals:
    void StopPressed();

  private:
    std::int64_t NowMs() const;

    CBackupProgress m_progress;
    QProgressBar* m_bar = nullptr;
    QLabel* m_text = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_close = nullptr;
    QString m_folder;
    bool m_bRunning = false;
    std::function<void(const QString&)> m_opener;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace taviro::recordings::ui
