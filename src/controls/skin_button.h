// A skinned owner-drawn button: push button, check box or radio button. This object holds
// the state and decides; the widget draws the look it returns and forwards mouse, keyboard
// and focus events with the pointer in the button's own coordinates.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "controls/control_events.h"

namespace taviro::controls {

enum class ButtonKind : int { Push = 0, CheckBox = 2, Radio = 4 };

// Skin picture numbers; a missing picture falls back as described at ButtonLook.
struct ButtonPictures {
    std::optional<int> normal;
    std::optional<int> hover;
    std::optional<int> focus;
    std::optional<int> pressed;
    std::optional<int> disabled;
};

enum class ButtonFrame { Normal, Hover, Focus, Pressed, Disabled };
enum class EdgeStyle { None, Raised, Sunken };
enum class TextStyle {
    Plain,     // at its place
    Shifted,   // one pixel down and right (pressed or checked)
    Embossed,  // highlight colour, then grey text one pixel up and left (disabled)
};

// Everything the widget needs for one paint.
struct ButtonLook {
    ButtonFrame frame = ButtonFrame::Normal;
    std::optional<int> picture;  // none: plain fill
    std::optional<int> mask;     // draw the picture transparently through this mask
    bool stretch = false;
    EdgeStyle edge = EdgeStyle::None;
    TextStyle text = TextStyle::Plain;
    std::optional<int> focusInset;  // draw a focus rectangle this far inside the border
};

// The controls of one dialog group, in group order (the order the uncheck requests go out).
class CButtonGroup {
  public:
    CButtonGroup() = default;
    explicit CButtonGroup(std::vector<std::uint32_t> members) : m_members(std::move(members)) {}
    void Add(std::uint32_t control) { m_members.push_back(control); }
    const std::vector<std::uint32_t>& Members() const { return m_members; }

  private:
    std::vector<std::uint32_t> m_members;
};

class CSkinButton {
  public:
    explicit CSkinButton(std::uint32_t id, ButtonKind kind = ButtonKind::Push);

    std::uint32_t Id() const { return m_id; }
    ButtonKind Kind() const { return m_kind; }
    // A push button has no check; switching to it clears the check.
    void SetKind(ButtonKind kind);

    void SetPictures(const ButtonPictures& pictures) { m_pictures = pictures; }
    void SetMask(std::optional<int> mask) { m_mask = mask; }
    void SetStretch(bool on) { m_stretch = on; }
    void SetEdge(bool on) { m_edge = on; }
    void SetFocusInset(int inset) { m_focusInset = inset; }
    void SetSize(int width, int height);
    // The dialog group this button belongs to; the group must outlive the button.
    void SetGroup(const CButtonGroup* group) { m_group = group; }

    // An inert button ignores mouse and keyboard (used for lamps that only show a state).
    void SetInert(bool on) { m_inert = on; }
    bool Inert() const { return m_inert; }
    // Disabling drops hover and any press in progress (the widget loses the capture).
    Reaction SetEnabled(bool on);
    bool Enabled() const { return m_enabled; }

    int Checked() const { return m_checked; }
    // The platform's set-check message. A push button stays unchecked; checking a radio
    // button posts the uncheck request to the other members of its group.
    Reaction SetCheck(int checked);

    bool Hover() const { return m_hover; }
    bool Tracking() const { return m_tracking; }
    bool ShownPressed() const { return m_selected; }
    bool Focused() const { return m_focus; }
    bool Captured() const { return m_capture; }

    ButtonLook Look() const;

    Reaction OnButtonDown(Point p);
    Reaction OnMouseMove(Point p);
    Reaction OnButtonUp(Point p);
    Reaction OnMouseLeave();
    Reaction OnSpaceKey();
    Reaction OnFocusIn();
    Reaction OnFocusOut();
    // The uncheck request (0x0500) from a group member.
    Reaction OnUncheckRequest();

  private:
    bool Inside(Point p) const;
    bool AcceptsInput() const { return m_enabled && !m_inert; }
    // The check change a click or the space key makes, plus the click command.
    void Activate(Reaction& r);
    void ApplyCheck(int checked, Reaction& r);

    std::uint32_t m_id;
    ButtonKind m_kind;
    ButtonPictures m_pictures;
    std::optional<int> m_mask;
    bool m_stretch = false;
    bool m_edge = false;
    int m_focusInset = 0;
    int m_width = 0;
    int m_height = 0;
    const CButtonGroup* m_group = nullptr;

    bool m_inert = false;
    bool m_enabled = true;
    int m_checked = 0;
    bool m_hover = false;
    bool m_tracking = false;  // pressed tracking: from button-down until button-up
    bool m_selected = false;  // the platform shows the button pressed
    bool m_focus = false;
    bool m_capture = false;
};

}  // namespace taviro::controls
