// The About dialog: the program's name and version, the renderer that draws, and every key of the
// main window with its meaning, read from the one key table the window binds. A skinned box like
// the other dialogs, closed by its button, Enter or Escape. Thread: the GUI thread. Owner: the main
// window opens it window-modal and deletes it when it closes.
#pragma once

#include <QString>

#include "controls/ui/skin_dialog.h"

namespace taviro::app::ui {

class CAboutDlg final : public controls::ui::CSkinDialog {
    Q_OBJECT
  public:
    // `renderer`: which renderer draws the pictures, and why when it was chosen by itself.
    CAboutDlg(QWidget* parent, const QString& programName, const QString& version,
              const QString& renderer = QString());

    // The key column and the meaning column, row by row (for tests).
    [[nodiscard]] QStringList KeyRows() const { return m_rows; }
    [[nodiscard]] QString RendererLine() const { return m_renderer; }

  protected:
    void OnEnterKey() override { accept(); }

  private:
    QStringList m_rows;
    QString m_renderer;
};

}  // namespace taviro::app::ui
