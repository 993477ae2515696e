// The Clip… dialog of the marked range: the folder the clip's files go to (one per channel,
// chNN.mp4 or chNN.mkv) and their format. It only asks; the search window starts the clip.
//
// Thread: the GUI thread.
#pragma once

#include <QDialog>
#include <filesystem>

class QComboBox;
class QLineEdit;

namespace taviro::recordings::ui {

class CClipDialog final : public QDialog {
    Q_OBJECT
  public:
    // `what`: the range and channels in words; `folder`: the folder offered.
    CClipDialog(const QString& what, const std::filesystem::path& folder, QWidget* parent);

    [[nodiscard]] std::filesystem::path Folder() const;
    [[nodiscard]] bool Matroska() const;
    QLineEdit* FolderEdit() const { return m_folder; }
    QComboBox* FormatBox() const { return m_format; }

  private:
    QLineEdit* m_folder = nullptr;
    QComboBox* m_format = nullptr;
};

}  // namespace taviro::recordings::ui
