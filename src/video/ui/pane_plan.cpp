#include "video/ui/pane_plan.h"

namespace taviro::video::ui {

namespace {

bool Has(protocol::ChannelMask mask, int channel) {
    return protocol::HasChannel(mask, channel);
}

PaneKind KindOf(int channel, const CChannelViews& views, const GridStatus& status) {
    const ViewMode mode = views.Mode();
    const bool blocked = Has(status.blocked, channel);
    if (Has(views.HasPictureMask(), channel)) {
        if ((mode == ViewMode::Live || mode == ViewMode::RemotePlayback) && blocked)
            return PaneKind::Blocked;
        // A picture is only drawn for a channel the recorder offers.
        if (Has(views.HasDecodedMask(), channel) && Has(views.AvailableMask(), channel))
            return PaneKind::Picture;
        return PaneKind::Idle;
    }
    if (!status.session)
        return PaneKind::Idle;
    switch (mode) {
        case ViewMode::Live:
            if (Has(status.videoLoss, channel))
                return PaneKind::VideoLoss;
            return blocked ? PaneKind::Blocked : PaneKind::Idle;
        case ViewMode::RemotePlayback:
            return blocked ? PaneKind::Blocked : PaneKind::Idle;
        default:
            return PaneKind::Idle;
    }
}

}  // namespace

std::vector<PanePlan> PlanPanes(const CGridLayout& layout, const CChannelViews& views,
                                const GridStatus& status) {
    std::vector<PanePlan> plans;
    const int positions = PanesPerPage(layout.Layout());
    std::vector<Rect> used;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (!layout.SlotVisible(slot))
            continue;
        PanePlan p;
        p.slot = slot;
        p.channel = layout.ChannelOfSlot(slot);
        p.rect = layout.SlotRect(slot);
        p.kind = KindOf(p.channel, views, status);
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
