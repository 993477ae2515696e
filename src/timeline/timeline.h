// The day timeline without its window: the 288-pixel bar over a view of the day, the
// pixel of a time and the time of a pixel, zooming in by a drag, out by the right button,
// shifting by the wheel and the step buttons, and the per-channel stretches to draw from
// the recorder's day records. Pure functions; the window only draws and forwards the mouse.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "protocol/channel_mask.h"
#include "timeline/calendar.h"

namespace taviro::timeline {

inline constexpr int kDaySeconds = 86'400;
inline constexpr int kTimelineLeft = 113;
inline constexpr int kTimelinePixels = 288;
inline constexpr int kTimelineRight = kTimelineLeft + kTimelinePixels;  // 401
inline constexpr int kTimelineTop = 70;
inline constexpr int kTimelineBottom = 359;

// The part of the day the bar shows, in seconds of the day.
struct TimelineView {
    int start = 0;
    int end = kDaySeconds;
    int secondsPerPixel = 300;
    friend bool operator==(const TimelineView&, const TimelineView&) = default;
};

// The pixel (window x) of second `t` of the day, clamped to the bar.
int PixelOfTime(const TimelineView& view, std::int64_t t);
// The second of the day a click at window x selects, clamped to 0..86399.
int TimeOfPixel(const TimelineView& view, int x);

// A drag from x0 to x1 (button down and up on different pixels). Only a view wider than
// 288 s zooms; see the spans in the implementation.
TimelineView ZoomToDrag(const TimelineView& view, int x0, int x1);
// The right button: twice the span around its centre, within the day.
TimelineView ZoomOut(const TimelineView& view);
// The wheel: one pixel's worth of seconds back (delta <= 0) or forward, within the day.
TimelineView Shift(const TimelineView& view, int wheelDelta);
// A step button: the selected second moved by one pixel's worth, within 0..86399.
int StepSelected(const TimelineView& view, int selected, bool forward);

// One stretch of one channel as the bar draws it: from pixel x0 up to (not including) x1 on
// the row of `channel`.
struct TimelineStretch {
    int channel = 0;
    int x0 = 0;
    int x1 = 0;
    bool event = false;  // the event pattern; the continuous one otherwise
};
// The stretches of the day that begins at `dayStart` (recorder time), for the channels of
// `shown`. Records that miss the day, end before they start, have negative times or no
// kind bit are skipped; a stretch from an earlier day starts at 00:00:00, one into a later
// day ends at 23:59:59; every stretch is at least one pixel wide, and one that would leave
// a one-pixel gap after the channel's previous stretch starts where that one ended.
std::vector<TimelineStretch> LayoutStretches(std::span<const DayInfoRecord> records,
                                             std::int64_t dayStart, const TimelineView& view,
                                             protocol::ChannelMask shown);

// The part of the day the playback position slider spans, in seconds of the day: the
// recorded stretch of the played channels that holds `position` (touching and overlapping
// records joined into one, cut to the day), so that a pixel of the slider is seconds, not
// the minutes a whole day would give. Where no record holds the position (none known yet,
// or between stretches) the slider spans kSliderFallbackSeconds around it. The span is at
// least kSliderMinSeconds wide, so that a short stretch is not a handful of seconds over
// hundreds of pixels, and always lies within 0..86399.
struct SliderSpan {
    int from = 0;
    int to = kDaySeconds - 1;
    friend bool operator==(const SliderSpan&, const SliderSpan&) = default;
};
inline constexpr int kSliderFallbackSeconds = 3'600;
inline constexpr int kSliderMinSeconds = 600;
SliderSpan PositionSliderSpan(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                              protocol::ChannelMask played, int position);

// A mark (In or Out of a clip) at second `seconds` of the day, moved into the recorded
// stretches of the `shown` channels: unchanged inside one, else to the nearest end of one
// (the earlier on a tie). Unchanged when the day holds no recording of them.
int ClampToRecorded(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                    protocol::ChannelMask shown, int seconds);

// How much of the day that begins at `dayStart` the `mask` channels recorded, 0 to 1: the
// seconds covered by any of their records (overlaps counted once) over the day's seconds.
double RecordedShare(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                     protocol::ChannelMask mask);

// The row of channel n: its bar from y = 18 n + 76 to 18 n + 84, its label at 75 + 18 n.
inline constexpr int StretchTop(int channel) {
    return 18 * channel + 76;
}
inline constexpr int StretchBottom(int channel) {
    return 18 * channel + 84;
}

}  // namespace taviro::timeline
