#include "controls/skin_button.h"

#include "controls/control_events.h"
#include "platform/message_sink.h"

namespace taviro::controls {

CSkinButton::CSkinButton(std::uint32_t id, ButtonKind kind) : m_id(id), m_kind(kind) {}

void CSkinButton::SetKind(ButtonKind kind) {
    m_kind = kind;
    if (m_kind == ButtonKind::Push)
        m_checked = 0;
}

void CSkinButton::SetSize(int width, int height) {
    m_width = width < 0 ? 0 : width;
    m_height = height < 0 ? 0 : height;
}

bool CSkinButton::Inside(Point p) const {
    return p.x >= 0 && p.y >= 0 && p.x < m_width && p.y < m_height;
}

ButtonLook CSkinButton::Look() const {
    ButtonLook look;
    look.mask = m_mask;
    if (!m_enabled) {
        look.frame = ButtonFrame::Disabled;
        look.picture = m_pictures.disabled;
        look.edge = m_edge ? EdgeStyle::Raised : EdgeStyle::None;
        look.text = TextStyle::Embossed;
    } else if (m_selected || m_checked != 0) {
        look.frame = ButtonFrame::Pressed;
        look.picture = m_pictures.pressed;
        look.edge = m_edge ? EdgeStyle::Sunken : EdgeStyle::None;
        look.text = TextStyle::Shifted;
    } else {
        if (m_hover && m_pictures.hover) {
            look.frame = ButtonFrame::Hover;
            look.picture = m_pictures.hover;
        } else if (m_focus && m_pictures.focus) {
            look.frame = ButtonFrame::Focus;
            look.picture = m_pictures.focus;
        } else {
            look.frame = ButtonFrame::Normal;
            look.picture = m_pictures.normal;
        }
        look.stretch = m_stretch;
        look.edge = m_edge ? EdgeStyle::Raised : EdgeStyle::None;
    }
    // A disabled button cannot hold the focus, so it never shows the focus rectangle.
    if (m_enabled && m_focus && m_focusInset > 0)
        look.focusInset = m_focusInset;
    return look;
}

void CSkinButton::ApplyCheck(int checked, Reaction& r) {
    const int value = (m_kind == ButtonKind::Push || checked == 0) ? 0 : 1;
    if (value != m_checked) {
        m_checked = value;
        r.repaint = true;
    }
    // Each check of a radio button clears the others, even when this one already was
    // checked: a sibling may have been checked behind our back.
    if (m_kind == ButtonKind::Radio && value == 1 && m_group != nullptr) {
        for (std::uint32_t member : m_group->Members()) {
            if (member == m_id)
                continue;
            r.posts.push_back(
                ControlPost{Recipient::Control, member, controls::WM_UNCHECK_REQUEST, 0, 0});
        }
    }
}

Reaction CSkinButton::SetCheck(int checked) {
    Reaction r;
    ApplyCheck(checked, r);
    return r;
}

void CSkinButton::Activate(Reaction& r) {
    if (m_kind == ButtonKind::CheckBox) {
        ApplyCheck(m_checked != 0 ? 0 : 1, r);
    } else if (m_kind == ButtonKind::Radio) {
        ApplyCheck(1, r);
    }
    r.posts.push_back(ControlPost{Recipient::Parent, 0, kWmCommand, m_id, 0});
}

Reaction CSkinButton::SetEnabled(bool on) {
    Reaction r;
    if (on == m_enabled)
        return r;
    m_enabled = on;
    r.repaint = true;
    if (!on) {
        if (m_capture)
            r.capture = CaptureChange::Release;
        m_capture = false;
        m_tracking = false;
        m_selected = false;
        m_hover = false;
        m_focus = false;
    }
    return r;
}

Reaction CSkinButton::OnButtonDown(Point p) {
    Reaction r;
    if (!AcceptsInput() || !Inside(p))
        return r;
    // Hover ends with the press; the pressed look takes over until the release.
    m_hover = false;
    m_tracking = true;
    m_selected = true;
    if (!m_capture)
        r.capture = CaptureChange::Take;
    m_capture = true;
    r.repaint = true;
    return r;
}

Reaction CSkinButton::OnMouseMove(Point p) {
    Reaction r;
    if (!AcceptsInput())
        return r;
    if (m_tracking && m_capture) {
        const bool over = Inside(p);
        if (over != m_selected) {
            m_selected = over;
            r.repaint = true;
        }
        return r;
    }
    if (!m_hover && Inside(p)) {
        m_hover = true;
        r.repaint = true;
    }
    return r;
}

Reaction CSkinButton::OnButtonUp(Point p) {
    Reaction r;
    if (!AcceptsInput())
        return r;
    if (m_capture)
        r.capture = CaptureChange::Release;
    m_capture = false;
    const bool wasTracking = m_tracking;
    m_tracking = false;
    if (m_selected)
        r.repaint = true;
    m_selected = false;
    // Only a release that ends our own press is a click.
    if (wasTracking && Inside(p))
        Activate(r);
    return r;
}

Reaction CSkinButton::OnMouseLeave() {
    Reaction r;
    if (!AcceptsInput())
        return r;
    if (m_hover) {
        m_hover = false;
        r.repaint = true;
    }
    return r;
}

Reaction CSkinButton::OnSpaceKey() {
    Reaction r;
    if (!AcceptsInput())
        return r;
    Activate(r);
    return r;
}

Reaction CSkinButton::OnFocusIn() {
    Reaction r;
    if (!m_enabled || m_focus)
        return r;
    m_focus = true;
    r.repaint = true;
    return r;
}

Reaction CSkinButton::OnFocusOut() {
    Reaction r;
    if (m_capture)
        r.capture = CaptureChange::Release;
    if (m_focus || m_tracking || m_selected)
        r.repaint = true;
    m_capture = false;
    m_tracking = false;
    m_selected = false;
    m_focus = false;
    return r;
}

Reaction CSkinButton::OnUncheckRequest() {
    Reaction r;
    if (m_checked != 0) {
        m_checked = 0;
        r.repaint = true;
    }
    return r;
}

}  // namespace taviro::controls
