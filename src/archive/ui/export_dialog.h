// The local archive's export: a range (from, to), the channels and the format chosen, the
// file name, then the export in the background with a bar of the bytes read, the time left
// and Cancel. A file that could not be finished is never left under its final name (the
// export writes temporary files and renames them at the end). The default file lies in the
// storage folder's "Saved", which is made when the export starts there.
//
// Thread: the GUI thread; the export runs on a thread of its own (CLongJob) and reports by
// queued calls.
#pragma once

#include <QDialog>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include "archive/export.h"
#include "archive/ui/long_job.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace taviro::archive::ui {

class CExportDialog final : public QDialog {
    Q_OBJECT
  public:
    // `folder` holds the pairs; the file goes to `saveFolder` unless the user names another.
    CExportDialog(std::filesystem::path folder, std::filesystem::path saveFolder,
                  std::uint32_t from, std::uint32_t to, std::uint32_t channels, QWidget* parent);
    ~CExportDialog() override;

    // For tests: start as the Export button does, and what came of it.
    void StartExport();
    // A running export stops at its next record and removes what it wrote; the dialog stays.
    void CancelExport();
    [[nodiscard]] bool Running() const { return m_running; }
    [[nodiscard]] const std::optional<ExportResult>& Result() const { return m_result; }
    [[nodiscard]] int ProgressValue() const;
    [[nodiscard]] QString ProgressText() const;
    QLineEdit* FileEdit() const { return m_file; }

  signals:
    void Finished();

  protected:
    void reject() override;

  private:
    void OnProgress(std::uint64_t bytes, std::uint64_t total);
    void OnDone(ExportResult result);

    std::filesystem::path m_folder;
    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    std::array<QCheckBox*, 16> m_channels{};
    QComboBox* m_format = nullptr;
    QLineEdit* m_file = nullptr;
    QProgressBar* m_bar = nullptr;
    QLabel* m_text = nullptr;
    QPushButton* m_export = nullptr;
    std::filesystem::path m_saveFolder;
    std::chrono::steady_clock::time_point m_started{};
    bool m_running = false;
    std::optional<ExportResult> m_result;
    CLongJob m_job;  // the dialog's end cancels the export and joins its thread
};

}  // namespace taviro::archive::ui
