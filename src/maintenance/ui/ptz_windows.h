// The three PTZ windows as thin views over CPtzController: the panel (direction pad with
// the preset button in its centre, Pan, Zoom and X), the preset window (modes, actions, a
// keypad and the number) and the dome menu window (Sel, Prev, X). Every press goes to the
// controller; the windows show and hide themselves from its state whenever it changes.
//
// Thread: the GUI thread. Ownership: CPtzWindows belongs to the main window and must not
// outlive the controller it observes; the three windows are its children.
#pragma once

#include <QPushButton>
#include <QWidget>
#include <array>

#include "maintenance/ptz_controller.h"

namespace taviro::maintenance::ui {

// The panel: 147 x 171. A direction button's press starts a move and its release ends it;
// losing the pointer (the window hidden or deactivated while held) ends it too.
class CPtzPanel final : public QWidget {
    Q_OBJECT
  public:
    CPtzPanel(CPtzController& controller, QWidget* parent);
    void Sync();

  protected:
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    CPtzController& m_ptz;
    std::array<QPushButton*, 4> m_directions{};  // Up, Down, Left, Right
    QPushButton* m_presetPan = nullptr;
    QPushButton* m_presetZoom = nullptr;
    QPushButton* m_pan = nullptr;
    QPushButton* m_zoom = nullptr;
};

// The preset window: 320 x 200; the number is drawn in (110, 173)-(160, 193).
class CPtzPresetWindow final : public QWidget {
    Q_OBJECT
  public:
    CPtzPresetWindow(CPtzController& controller, QWidget* parent);
    void Sync();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    CPtzController& m_ptz;
    QPushButton* m_tour = nullptr;
    QPushButton* m_zero = nullptr;
    std::array<QPushButton*, 5> m_modes{};  // Preset, Learn, Set, Call, Tour: shown pressed
};

// The dome menu window: 54 wide.
class CPtzDomeWindow final : public QWidget {
    Q_OBJECT
  public:
    CPtzDomeWindow(CPtzController& controller, QWidget* parent);
};

// The three windows, kept in step with the controller. The main window creates this once
// (after the controller) and calls Place() when it moves or resizes.
class CPtzWindows final : public QObject {
    Q_OBJECT
  public:
    CPtzWindows(CPtzController& controller, QWidget* mainWindow);
    ~CPtzWindows() override;
    CPtzWindows(const CPtzWindows&) = delete;
    CPtzWindows& operator=(const CPtzWindows&) = delete;

    // The panel at (730, 550) of the main window's client area, the preset window at its
    // bottom-left, the dome menu window at its right.
    void Place();
    void Sync();
    [[nodiscard]] QWidget* Panel() const { return m_panel; }
    [[nodiscard]] QWidget* PresetWindow() const { return m_preset; }
    [[nodiscard]] QWidget* DomeWindow() const { return m_dome; }

  private:
    CPtzController& m_ptz;
    QWidget* m_main;
    CPtzPanel* m_panel;
    CPtzPresetWindow* m_preset;
    CPtzDomeWindow* m_dome;
};

}  // namespace taviro::maintenance::ui
