#include "controls/skin_slider.h"

#include <algorithm>
#include <limits>

#include "controls/control_events.h"
#include "platform/message_sink.h"

namespace taviro::controls {
namespace {

int ClampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

int NonNegative(int v) {
    return v < 0 ? 0 : v;
}

}  // namespace

CSkinSlider::CSkinSlider(std::uint32_t id, Orientation orientation)
    : m_id(id), m_orientation(orientation) {}

void CSkinSlider::SetSize(int width, int height) {
    m_width = NonNegative(width);
    m_height = NonNegative(height);
}

void CSkinSlider::SetThumbSize(int width, int height) {
    m_thumbWidth = NonNegative(width);
    m_thumbHeight = NonNegative(height);
}

bool CSkinSlider::SetRange(int minimum, int maximum) {
    if (maximum < minimum)
        return false;
    m_min = minimum;
    m_max = maximum;
    m_pos = std::clamp(m_pos, m_min, m_max);
    return true;
}

bool CSkinSlider::SetPosition(int value) {
    const int before = PixelOfValue(m_pos);
    m_pos = std::clamp(value, m_min, m_max);
    return PixelOfValue(m_pos) != before;
}

CSkinSlider::Axis CSkinSlider::AlongAxis() const {
    if (m_orientation == Orientation::Horizontal) {
        return Axis{m_width, m_thumbWidth, m_margins.left, m_margins.right};
    }
    return Axis{m_height, m_thumbHeight, m_margins.top, m_margins.bottom};
}

int CSkinSlider::PixelOfValue(int value) const {
    const Axis a = AlongAxis();
    const std::int64_t half = a.thumb / 2;
    const std::int64_t range = static_cast<std::int64_t>(m_max) - m_min;
    if (range <= 0)
        return ClampToInt(a.nearMargin + half);
    const std::int64_t span =
        static_cast<std::int64_t>(a.length) - a.farMargin - a.thumb - a.nearMargin;
    // Integer division truncates toward zero, as the pixel formula wants.
    const std::int64_t fraction = span * (static_cast<std::int64_t>(value) - m_min) / range;
    return ClampToInt(a.nearMargin + fraction + half);
}

int CSkinSlider::ValueOfPixel(int p) const {
    const Axis a = AlongAxis();
    const std::int64_t span =
        static_cast<std::int64_t>(a.length) - a.farMargin - a.nearMargin - a.thumb;
    if (span == 0)
        return m_min;
    const std::int64_t range = static_cast<std::int64_t>(m_max) - m_min;
    const std::int64_t offset = static_cast<std::int64_t>(p) - a.thumb / 2 - a.nearMargin;
    return ClampToInt(offset * range / span + m_min);
}

Rect CSkinSlider::TrackRect() const {
    return Rect{m_margins.left, m_margins.top,
                NonNegative(m_width - m_margins.left - m_margins.right),
                NonNegative(m_height - m_margins.top - m_margins.bottom)};
}

Rect CSkinSlider::ThumbRect() const {
    const int centre = PixelOfValue(m_pos);
    const Rect track = TrackRect();
    if (m_orientation == Orientation::Horizontal) {
        const int top = track.top + (track.height - m_thumbHeight) / 2;
        return Rect{centre - m_thumbWidth / 2, top, m_thumbWidth, m_thumbHeight};
    }
    const int left = track.left + (track.width - m_thumbWidth) / 2;
    return Rect{left, centre - m_thumbHeight / 2, m_thumbWidth, m_thumbHeight};
}

ControlPost CSkinSlider::ToParent(std::uint32_t message) const {
    return ControlPost{Recipient::Parent, 0, message, m_id, m_pos};
}

Reaction CSkinSlider::SetEnabled(bool on) {
    Reaction r;
    if (on == m_enabled)
        return r;
    m_enabled = on;
    r.repaint = true;
    if (!on && m_dragging) {
        m_dragging = false;
        m_grabOffset = 0;
        r.capture = CaptureChange::Release;
    }
    return r;
}

void CSkinSlider::Move(int pointer, Reaction& r) {
    const Axis a = AlongAxis();
    const int low = a.nearMargin + a.thumb / 2;
    const int high = std::max(low, a.length - a.farMargin - a.thumb / 2);
    const int target = ClampToInt(
        std::clamp<std::int64_t>(static_cast<std::int64_t>(pointer) - m_grabOffset, low, high));
    if (target == PixelOfValue(m_pos))
        return;
    // A pixel step that stays inside the same value does not move the thumb: no message.
    const int value = std::clamp(ValueOfPixel(target), m_min, m_max);
    if (value == m_pos)
        return;
    m_pos = value;
    r.repaint = true;
    r.posts.push_back(ToParent(controls::WM_SLIDER_MOVE));
}

Reaction CSkinSlider::OnButtonDown(Point p) {
    Reaction r;
    if (!m_enabled)
        return r;
    if (!m_dragging)
        r.capture = CaptureChange::Take;
    r.takeFocus = true;
    m_dragging = true;
    const int pointer = Along(p);
    const std::int64_t distance = static_cast<std::int64_t>(pointer) - PixelOfValue(m_pos);
    const int half = AlongAxis().thumb / 2;
    // Grabbed on the thumb: keep the grab point under the pointer. On the track: the thumb
    // jumps so that its centre lies under the pointer.
    m_grabOffset = (distance > half || distance < -half) ? 0 : static_cast<int>(distance);
    Move(pointer, r);
    r.repaint = true;
    r.posts.push_back(ToParent(controls::WM_SLIDER_BEGIN));
    return r;
}

Reaction CSkinSlider::OnMouseMove(Point p) {
    Reaction r;
    if (!m_enabled || !m_dragging)
        return r;
    Move(Along(p), r);
    return r;
}

Reaction CSkinSlider::OnButtonUp(Point) {
    Reaction r;
    // A release without our own press (pressed elsewhere, released here) ends nothing.
    if (!m_enabled || !m_dragging)
        return r;
    m_dragging = false;
    m_grabOffset = 0;
    r.capture = CaptureChange::Release;
    r.repaint = true;
    r.posts.push_back(ToParent(controls::WM_SLIDER_END));
    return r;
}

}  // namespace taviro::controls
