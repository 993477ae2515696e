// What each pane of the channel grid shows on the current page, decided without any
// drawing: the decoded picture, the idle picture, the video-loss picture, the blocked
// picture or the state of a recorder that is not connected, and the source rectangles each
// renderer trims from a picture. The renderers draw
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
#include "video/site_channels.h"

namespace taviro::video::ui {

// Lost: the channel's recorder is not connected (a grid of several recorders); the pane
// names it and says why.
enum class PaneKind { Picture, Idle, VideoLoss, Blocked, Lost };

struct PanePlan {
    int slot = -1;     // -1 for an empty position of a partially filled last page
    int channel = -1;  // the slot's channel in the grid's numbering, -1 for an empty position
    Rect rect;
    PaneKind kind = PaneKind::Idle;
    // The channel's recorder: where its pictures are, its own number of the channel, its
    // place in the site, and the mode its views are in. Null views: no recorder has the
    // channel (an empty position, a grid of fewer channels).
    CChannelViews* views = nullptr;
    int recorderChannel = -1;
    int place = 0;
    ViewMode mode = ViewMode::Idle;
};

// Every position of the current page, in slot order, then the empty positions.
std::vector<PanePlan> PlanPanes(const CGridLayout& layout, const CSiteChannels& site,
                                const GridStatus& status);
// A grid of one recorder's views, its channels numbered as it numbers them.
std::vector<PanePlan> PlanPanes(const CGridLayout& layout, CChannelViews& views,
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
