#include "timeline/timeline.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <optional>
#include <utility>

namespace taviro::timeline {

namespace {

// A window of `span` seconds starting at `start`, kept inside the day.
TimelineView Window(std::int64_t start, int span, int secondsPerPixel) {
    const std::int64_t first = std::clamp<std::int64_t>(start, 0, kDaySeconds - span);
    return TimelineView{static_cast<int>(first), static_cast<int>(first) + span, secondsPerPixel};
}

}  // namespace

int PixelOfTime(const TimelineView& view, std::int64_t t) {
    const int perPixel = std::max(1, view.secondsPerPixel);
    const std::int64_t x = kTimelineLeft + (t - view.start) / perPixel;
    return static_cast<int>(std::clamp<std::int64_t>(x, kTimelineLeft, kTimelineRight));
}

int TimeOfPixel(const TimelineView& view, int x) {
    const std::int64_t t = view.start + static_cast<std::int64_t>(x - kTimelineLeft) *
                                            std::max(1, view.secondsPerPixel);
    return static_cast<int>(std::clamp<std::int64_t>(t, 0, kDaySeconds - 1));
}

TimelineView ZoomToDrag(const TimelineView& view, int x0, int x1) {
    if (view.end - view.start <= kTimelinePixels || x0 == x1) {
        return view;  // 1 s per pixel already, or a click
    }
    const bool rightwards = x1 > x0;
    // The ends of a drag may reach the end of the day (86400), unlike a selected time.
    const auto at = [&view](int x) {
        const std::int64_t t = view.start + static_cast<std::int64_t>(x - kTimelineLeft) *
                                                std::max(1, view.secondsPerPixel);
        return static_cast<int>(std::clamp<std::int64_t>(t, 0, kDaySeconds));
    };
    const int a = at(std::min(x0, x1));
    const int b = at(std::max(x0, x1));
    const int span = b - a;
    if (span >= 2 * kTimelinePixels) {
        return Window(a, span, span / kTimelinePixels);  // whole seconds per pixel
    }
    if (span < kTimelinePixels * 3 / 2) {
        // A 288 s window at 1 s per pixel, anchored where the drag began.
        return rightwards
                   ? Window(a, kTimelinePixels, 1)
                   : Window(static_cast<std::int64_t>(b) - kTimelinePixels, kTimelinePixels, 1);
    }
    return rightwards
               ? Window(a, 2 * kTimelinePixels, 2)
               : Window(static_cast<std::int64_t>(b) - 2 * kTimelinePixels, 2 * kTimelinePixels, 2);
}

TimelineView ZoomOut(const TimelineView& view) {
    const int span = view.end - view.start;
    if (view.start <= 0 && view.end >= kDaySeconds) {
        return view;
    }
    const int doubled = std::min(2 * span, kDaySeconds);
    if (doubled < 2 * kTimelinePixels) {
        return Window(view.start, kTimelinePixels, 1);
    }
    const std::int64_t centre = (static_cast<std::int64_t>(view.start) + view.end) / 2;
    return Window(centre - doubled / 2, doubled, doubled / kTimelinePixels);
}

TimelineView Shift(const TimelineView& view, int wheelDelta) {
    const int span = view.end - view.start;
    const int step = std::max(1, view.secondsPerPixel);
    const std::int64_t start = wheelDelta <= 0 ? static_cast<std::int64_t>(view.start) - step
                                               : static_cast<std::int64_t>(view.start) + step;
    return Window(start, span, view.secondsPerPixel);
}

int StepSelected(const TimelineView& view, int selected, bool forward) {
    const int step = std::max(1, view.secondsPerPixel);
    const std::int64_t t = static_cast<std::int64_t>(selected) + (forward ? step : -step);
    return static_cast<int>(std::clamp<std::int64_t>(t, 0, kDaySeconds - 1));
}

std::vector<TimelineStretch> LayoutStretches(std::span<const DayInfoRecord> records,
                                             std::int64_t dayStart, const TimelineView& view,
                                             protocol::ChannelMask shown) {
    std::vector<TimelineStretch> out;
    std::array<int, protocol::kMaxChannels> lastEnd;
    lastEnd.fill(-1);
    const std::int64_t dayEnd = dayStart + kDaySeconds;
    for (const DayInfoRecord& r : records) {
        if (r.start < 0 || r.end < 0 || r.end < r.start || r.end < dayStart || r.start >= dayEnd ||
            (r.kinds & (kKindContinuous | kKindEvent)) == 0) {
            continue;
        }
        const std::int64_t from = std::max<std::int64_t>(r.start - dayStart, 0);
        const std::int64_t to = std::min<std::int64_t>(r.end - dayStart, kDaySeconds - 1);
        if (to < view.start || from >= view.end) {
            continue;  // outside the part of the day shown
        }
        for (int c = 0; c < protocol::kMaxChannels; ++c) {
            if (!protocol::HasChannel(r.channels & shown, c)) {
                continue;
            }
            TimelineStretch s;
            s.channel = c;
            s.event = (r.kinds & kKindEvent) != 0;
            s.x0 = PixelOfTime(view, from);
            if (s.x0 >= kTimelineRight) {
                // A view's whole seconds per pixel may span a little more than the bar
                // shows; what lies past its last pixel is not drawn beside it.
                continue;
            }
            s.x1 = std::max(s.x0 + 1, PixelOfTime(view, to));
            int& previous = lastEnd[static_cast<std::size_t>(c)];
            if (previous >= 0 && s.x0 == previous + 1) {
                s.x0 = previous;  // no one-pixel gap between touching stretches
            }
            previous = s.x1;
            out.push_back(s);
        }
    }
    return out;
}

namespace {

// The recordings of the `mask` channels as stretches of the day that begins at `dayStart`
// (seconds of the day, both ends included, cut to the day), in the records' order. Records
// that end before they start, have negative times or no kind bit are skipped.
std::vector<std::pair<std::int64_t, std::int64_t>> DayParts(std::span<const DayInfoRecord> records,
                                                            std::int64_t dayStart,
                                                            protocol::ChannelMask mask) {
    constexpr std::int64_t kLast = kDaySeconds - 1;
    std::vector<std::pair<std::int64_t, std::int64_t>> parts;
    for (const DayInfoRecord& r : records) {
        if ((r.channels & mask) == 0 || r.end < r.start || r.start < 0 ||
            (r.kinds & (kKindEvent | kKindContinuous)) == 0)
            continue;
        const std::int64_t from = std::max<std::int64_t>(r.start - dayStart, 0);
        const std::int64_t to = std::min<std::int64_t>(r.end - dayStart, kLast);
        if (to < 0 || from > kLast || to < from)
            continue;
        parts.emplace_back(from, to);
    }
    return parts;
}

}  // namespace

int ClampToRecorded(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                    protocol::ChannelMask shown, int seconds) {
    std::optional<std::int64_t> best;
    for (const auto& [from, to] : DayParts(records, dayStart, shown)) {
        const std::int64_t nearest = std::clamp<std::int64_t>(seconds, from, to);
        if (!best || std::abs(nearest - seconds) < std::abs(*best - seconds) ||
            (std::abs(nearest - seconds) == std::abs(*best - seconds) && nearest < *best))
            best = nearest;
    }
    return static_cast<int>(best.value_or(seconds));
}

double RecordedShare(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                     protocol::ChannelMask mask) {
    auto parts = DayParts(records, dayStart, mask);
    std::sort(parts.begin(), parts.end());
    std::int64_t covered = 0;
    std::int64_t reached = -1;  // the last second counted
    for (const auto& [from, to] : parts) {
        const std::int64_t first = std::max(from, reached + 1);
        if (to >= first) {
            covered += to - first + 1;
            reached = to;
        }
    }
    return static_cast<double>(covered) / kDaySeconds;
}

SliderSpan PositionSliderSpan(std::span<const DayInfoRecord> records, std::int64_t dayStart,
                              protocol::ChannelMask played, int position) {
    constexpr int kLast = kDaySeconds - 1;
    position = std::clamp(position, 0, kLast);
    // The records of the played channels as stretches of this day, sorted by start.
    auto parts = DayParts(records, dayStart, played);
    std::sort(parts.begin(), parts.end());
    std::optional<std::pair<std::int64_t, std::int64_t>> holding;
    std::optional<std::pair<std::int64_t, std::int64_t>> current;
    const auto close = [&] {
        if (current && current->first <= position && position <= current->second)
            holding = current;
    };
    for (const auto& part : parts) {
        if (current && part.first <= current->second + 1) {
            current->second = std::max(current->second, part.second);
            continue;
        }
        close();
        current = part;
    }
    close();
    std::int64_t from = position - kSliderFallbackSeconds / 2;
    std::int64_t to = position + kSliderFallbackSeconds / 2;
    if (holding) {
        from = holding->first;
        to = holding->second;
    }
    // Too short a span grows around its middle, then is pushed back inside the day.
    if (to - from < kSliderMinSeconds) {
        const std::int64_t middle = (from + to) / 2;
        from = middle - kSliderMinSeconds / 2;
        to = from + kSliderMinSeconds;
    }
    if (from < 0) {
        to = std::min<std::int64_t>(to - from, kLast);
        from = 0;
    }
    if (to > kLast) {
        from = std::max<std::int64_t>(from - (to - kLast), 0);
        to = kLast;
    }
    return SliderSpan{static_cast<int>(from), static_cast<int>(to)};
}

}  // namespace taviro::timeline
