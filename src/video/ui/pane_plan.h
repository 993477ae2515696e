// What each pane of the channel grid shows on the current page, decided without any
// drawing: the decoded picture, the idle picture, the video-loss picture or the blocked
// picture, and the source rectangles each renderer trims from a picture. The renderers draw
// whatever this plan says; tests check the plan and the pixels separately.
//
// Threads: the user-interface thread builds plans; it reads the layout (UI-thread state) and
// the views' atomics, and never takes a channel lock.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "video/channel_views.h"
#include "video/layouts.h"

namespace taviro::video::ui {

enum class PaneKind { Picture, Idle, VideoLoss, Blocked };

struct PanePlan {
    int slot = -1;     // -1 for an empty position of a partially filled last page
    int channel = -1;  // the slot's channel, -1 for an empty position
    Rect rect;
    PaneKind kind = PaneKind::Idle;
};

// Every position of the current page, in slot order, then the empty positions.
std::vector<PanePlan> PlanPanes(const CGridLayout& layout, const CChannelViews& views,
                                const GridStatus& status);

// The inner rectangle of a picture the YUV renderer shows: the encoder's dirty edges left out.
Rect YuvSourceRect(int width, int height);
// The source rectangle the RGB renderer stretches over the pane, by picture width.
Rect RgbSourceRect(int width, int height);

// Icon positions inside a pane (x from the pane's left; y is the pane height less 18).
inline constexpr int kIconRowFromBottom = 18;
inline constexpr int kPlaybackIconX = 117;
inline constexpr int kPlaybackIconMinPaneWidth = 190;
inline constexpr int kStepIconShift = 4;
// The PTZ icon sits right of where the audio icon goes.
inline constexpr int kPtzIconGap = 20;

}  // namespace taviro::video::ui
