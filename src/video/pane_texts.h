// The texts over a pane's picture, made where the pane is painted from what the decoder
// thread recorded in the channel's view: line 1 the camera title fitted to the pane (with
// the full OSD, and the picture size after it: "Front door 720x480"), line 2 the mode and
// the frame rate ("LIVE  25"), their colours, and where the status icons go behind line 2.
// Headless, so tests read the very texts the painter draws.
//
// Threads: whoever paints (the user-interface thread) or a test, holding the channel's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "video/channel_views.h"

namespace taviro::video {

struct PaneTexts {
    std::string line1;  // empty before the channel's first picture
    std::uint32_t colour1 = kColourGreen;
    std::string line2;  // empty before the channel's first picture
    std::uint32_t colour2 = kColourCyan;
    int audioIconX = 0;      // from the pane's left, behind line 2
    int integrityIconX = 0;  // local playback's integrity icon, further right
};

// What line 2 calls a mode: "LIVE", "R-PLAY", "L-PLAY"; empty for Idle.
[[nodiscard]] std::string_view ModeLabel(ViewMode mode);

// The texts of `view` in OSD mode `osdMode` (CChannelViews::OsdMode()); `views` measures
// the title. The caller holds view.lock; the fitted title is kept in the view.
[[nodiscard]] PaneTexts MakePaneTexts(const ChannelView& view, int osdMode,
                                      const CChannelViews& views);

}  // namespace taviro::video
