// The main window's control table: where each skinned button and slider of the 928 x 712
// window sits, what kind it is, which skin strip it draws and its label, and the tool-tip
// each control shows. The window creates its controls from this table, and the skin
// generator draws the background's button wells from the same table, so the two never
// drift apart.
// Thread: any (constant data).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::app {

inline constexpr int kMainWindowWidth = 928;
inline constexpr int kMainWindowHeight = 712;

struct LayoutRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    constexpr int Right() const { return x + width; }    // exclusive
    constexpr int Bottom() const { return y + height; }  // exclusive
    constexpr bool Intersects(const LayoutRect& o) const {
        return x < o.Right() && o.x < Right() && y < o.Bottom() && o.y < Bottom();
    }
    constexpr bool Contains(const LayoutRect& o) const {
        return o.x >= x && o.y >= y && o.Right() <= Right() && o.Bottom() <= Bottom();
    }
};

// The channel grid: left 54, top 67, right 874, bottom 661 (820 x 594).
inline constexpr LayoutRect kChannelGridRect{54, 67, 820, 594};

enum class ControlKind { Push, Check, Radio, SliderHorizontal, SliderVertical };

// Groups of controls that sit together (the background draws one panel per group).
enum class ControlGroup { Channels, Layouts, Services, Tools, Playback, Window };

struct MainControl {
    std::uint32_t id = 0;
    ControlKind kind = ControlKind::Push;
    ControlGroup group = ControlGroup::Window;
    LayoutRect rect;
    int picture = 0;  // skin strip (buttons) or 0 for sliders, which take the slider pictures
    int frames = 5;   // frames in the strip
    std::string_view label;  // the control's label in the window template
};

inline constexpr std::uint32_t kMinButtonId = 377;
// The recorder panel's button (the recorders of the site and their channels).
inline constexpr std::uint32_t kSiteButton = 379;
inline constexpr std::uint32_t kPositionSliderId = 420;
inline constexpr std::uint32_t kVolumeSliderId = 421;

// Every control of the main window, in creation (and tab) order.
std::span<const MainControl> MainWindowControls();
const MainControl* FindMainControl(std::uint32_t id);

// The radio group of the channel and layout buttons, in group order.
std::span<const std::uint32_t> ViewButtonGroup();

// What a control's tool-tip shows: a skin text by number, optionally followed by a suffix
// (the channel buttons' " 1" .. " 16"), or a literal text.
struct ToolTip {
    int textNumber = 0;   // 0: no skin text, use `literal`
    std::string literal;  // the whole text when textNumber is 0, else the suffix
};

// The tool-tip of control `id`; nullopt for a control without one.
std::optional<ToolTip> MainToolTip(std::uint32_t id, bool loggedIn, bool recording);

// The controls a control-state report sets: kCtlLiveButtons (the buttons that only act on a
// running live view), kCtlChannelButtons (300..315), or the one control.
std::vector<std::uint32_t> ControlsOfState(std::uint64_t control);

}  // namespace taviro::app
