// CReconnectBar: the small bar over the connection state in the main window's title strip
// while the client comes back after a loss: the banner's line and its Cancel button, in the
// state's colours so that it reads as part of the skin.
//
// Threads: the GUI thread only.
#pragma once

#include <QWidget>

#include "client/reconnect.h"

class QLabel;
class QPushButton;

namespace taviro::client::ui {

class CReconnectBar final : public QWidget {
    Q_OBJECT
  public:
    explicit CReconnectBar(QWidget* parent);

    // Shows the line (hidden when its text is empty); true when the bar is up.
    bool Show(const CReconnectBanner::Line& line);
    [[nodiscard]] QString Text() const;
    QPushButton* CancelButton() const { return m_cancel; }

  signals:
    void CancelPressed();

  private:
    QLabel* m_text = nullptr;
    QPushButton* m_cancel = nullptr;
};

}  // namespace taviro::client::ui
