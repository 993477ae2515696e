#include "video/ui/pane_plan.h"

namespace taviro::video::ui {

namespace {

PaneKind KindOf(const PanePlan& p, const GridStatus& status) {
    if (p.views == nullptr)
        return PaneKind::Idle;
    const auto place = static_cast<std::size_t>(p.place);
    if (place < status.recorders.size() && !status.recorders[place].connected)
        return PaneKind::Lost;
    const CChannelViews& views = *p.views;
    const int own = p.recorderChannel;
    const bool blocked = HasPane(status.blocked, p.channel);
    if (protocol::HasChannel(views.HasPictureMask(), own)) {
        if ((p.mode == ViewMode::Live || p.mode == ViewMode::RemotePlayback) && blocked)
            return PaneKind::Blocked;
        // A picture is only drawn for a channel the recorder offers.
        if (protocol::HasChannel(views.HasDecodedMask(), own) &&
            protocol::HasChannel(views.AvailableMask(), own))
            return PaneKind::Picture;
        return PaneKind::Idle;
    }
    if (!status.session)
        return PaneKind::Idle;
    switch (p.mode) {
        case ViewMode::Live:
            if (HasPane(status.videoLoss, p.channel))
                return PaneKind::VideoLoss;
            return blocked ? PaneKind::Blocked : PaneKind::Idle;
        case ViewMode::RemotePlayback:
            return blocked ? PaneKind::Blocked : PaneKind::Idle;
        default:
            return PaneKind::Idle;
    }
}

}  // namespace

std::vector<PanePlan> PlanPanes(const CGridLayout& layout, const CSiteChannels& site,
                                const GridStatus& status) {
    std::vector<PanePlan> plans;
    const int positions = PanesPerPage(layout.Layout());
    std::vector<Rect> used;
    for (int slot = 0; slot < kMaxPanes; ++slot) {
        if (!layout.SlotVisible(slot))
            continue;
        PanePlan p;
        p.slot = slot;
        p.channel = layout.ChannelOfSlot(slot);
        p.rect = layout.SlotRect(slot);
        if (const auto at = site.At(p.channel)) {
            p.views = at->views;
            p.recorderChannel = at->channel;
            p.place = at->place;
            p.mode = at->views != nullptr ? at->views->Mode() : ViewMode::Idle;
        }
        p.kind = KindOf(p, status);
        used.push_back(p.rect);
        plans.push_back(p);
    }
    // A partially filled last page shows the idle picture in its empty positions.
    const Placement placement = layout.CurrentPlacement();
    for (int position = 0; position < positions; ++position) {
        const Rect r = PositionRect(layout.Layout(), position, placement.rect.Width(),
                                    placement.rect.Height(), placement.border);
        bool taken = false;
        for (const Rect& u : used)
            taken = taken || u == r;
        if (!taken) {
            PanePlan p;
            p.rect = r;
            plans.push_back(p);
        }
    }
    return plans;
}

std::vector<PanePlan> PlanPanes(const CGridLayout& layout, CChannelViews& views,
                                const GridStatus& status) {
    CSiteChannels site;
    site.Set({SiteRecorder{-1, &views, protocol::kMaxChannels}});
    return PlanPanes(layout, site, status);
}

Rect YuvSourceRect(int width, int height) {
    return Rect{12, 12, width - 12, height - 8};
}

Rect RgbSourceRect(int width, int height) {
    if (width == 720)
        return Rect{12, 12, 12 + 698, 12 + height - 20};
    if (width == 368)
        return Rect{6, 6, 6 + 349, 6 + height - 10};
    return Rect{6, 6, 6 + width - 11, 6 + height - 10};
}

}  // namespace taviro::video::ui
