// CSkinControlSet: the skinned buttons and sliders of one window, made from a table of
// (id, place, kind, picture strip) and found again by id. A window routes their clicks and
// slider messages by id and sets their states (up, down, enabled, disabled) by id; tool-tips
// come from a function of the id, so they follow the window's state.
//
// Threads: the GUI thread only. Ownership: the widgets are children of the window given.
#pragma once

#include <QRect>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <span>

#include "controls/skin_button.h"

class QWidget;

namespace taviro::controls::ui {

class CSkinButtonWidget;
class CSkinSliderWidget;

struct SkinControlEntry {
    enum class Type { Button, HorizontalSlider, VerticalSlider };
    std::uint32_t id = 0;
    Type type = Type::Button;
    ButtonKind kind = ButtonKind::Push;
    QRect rect;
    int picture = 0;  // the skin's strip of the button's looks, one frame per look
    int frames = 5;
};

// The states a window sets (the numbers its controllers report).
enum class SkinControlState { kReleased = 0, kPressed = 1, kEnabled = 2, kDisabled = 3 };

class CSkinControlSet {
  public:
    using Pressed = std::function<void(std::uint32_t id)>;
    using Slid = std::function<void(std::uint32_t message, std::uint32_t id, int position)>;
    // Makes and shows every control of `table` in `window`.
    CSkinControlSet(QWidget* window, std::span<const SkinControlEntry> table, Pressed pressed,
                    Slid slid);

    [[nodiscard]] CSkinButtonWidget* Button(std::uint32_t id) const;
    [[nodiscard]] CSkinSliderWidget* Slider(std::uint32_t id) const;
    // Unknown ids are ignored.
    void SetState(std::uint32_t id, SkinControlState state) const;
    void SetCheck(std::uint32_t id, bool down) const;
    // Every control's tool-tip from `text` (empty: none).
    void SetToolTips(const std::function<QString(std::uint32_t id)>& text) const;

  private:
    std::map<std::uint32_t, CSkinButtonWidget*> m_buttons;
    std::map<std::uint32_t, CSkinSliderWidget*> m_sliders;
};

}  // namespace taviro::controls::ui
