// What the skinned controls hand back to the widget that hosts them: messages to post and
// the small bits of platform work (capture, focus, repaint) the widget has to do.
#pragma once

#include <cstdint>
#include <vector>

namespace taviro::controls {

// The uncheck request a skinned radio button sends the other members of its group, and the
// slider's messages to its parent (wParam = the slider's id, lParam = the position).
inline constexpr std::uint32_t WM_UNCHECK_REQUEST = 0x0500;
inline constexpr std::uint32_t WM_SLIDER_BEGIN = 0x0D60;
inline constexpr std::uint32_t WM_SLIDER_MOVE = 0x0D61;
inline constexpr std::uint32_t WM_SLIDER_END = 0x0D62;

struct Point {
    int x = 0;
    int y = 0;
};

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const Rect&, const Rect&) = default;
};

// The click command a button sends its parent when released over itself (the platform's
// command message; the notification code for a click is 0, so wParam is the control id).
inline constexpr std::uint32_t kWmCommand = 0x0111;

// Who a control's message is for: its parent window, or a sibling control by id.
enum class Recipient { Parent, Control };

struct ControlPost {
    Recipient recipient = Recipient::Parent;
    std::uint32_t control = 0;  // the sibling's id; 0 when the parent receives it
    std::uint32_t message = 0;
    std::uint64_t wParam = 0;
    std::int64_t lParam = 0;

    friend bool operator==(const ControlPost&, const ControlPost&) = default;
};

// Mouse capture: the widget grabs or releases the mouse when told to.
enum class CaptureChange { None, Take, Release };

struct Reaction {
    bool repaint = false;
    CaptureChange capture = CaptureChange::None;
    bool takeFocus = false;
    std::vector<ControlPost> posts;
};

}  // namespace taviro::controls
