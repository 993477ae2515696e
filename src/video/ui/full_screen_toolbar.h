// The toolbar of the full-screen grid: a small frameless window at the bottom edge of the
// monitor with one button per layout (commands 400..408) and one that leaves full screen.
//
// Threads: the user-interface thread. The grid owns it while it is in full screen.
#pragma once

#include <QWidget>

namespace taviro::video::ui {

// Any command outside 400..408 leaves full screen; the exit button sends this one.
inline constexpr int kToolbarExitCommand = 409;

class CFullScreenToolbar final : public QWidget {
    Q_OBJECT
  public:
    explicit CFullScreenToolbar(QWidget* parent = nullptr);

  signals:
    void Command(int command);
};

}  // namespace taviro::video::ui
