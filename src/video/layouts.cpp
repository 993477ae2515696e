#include "video/layouts.h"

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"

namespace taviro::video {

namespace {

// The page `step` pages on from `page`, wrapping round both ends.
int StepPageIndex(int page, int step, int count) {
    if (count <= 0)
        return 0;
    return ((page + step) % count + count) % count;
}

// One pane of a page: the grid it sits in (2, 3 or 4 columns and rows, 1 = the whole inner
// rectangle) and the first and last column and row it covers.
struct Cell {
    int grid;
    int c0, c1, r0, r1;
};

constexpr Cell One(int grid, int c, int r) {
    return Cell{grid, c, c, r, r};
}

constexpr std::array<Cell, 1> kCells0 = {Cell{1, 0, 0, 0, 0}};
constexpr std::array<Cell, 4> kCells1 = {One(2, 0, 0), One(2, 1, 0), One(2, 0, 1), One(2, 1, 1)};
constexpr std::array<Cell, 6> kCells2 = {Cell{3, 0, 1, 0, 1}, One(3, 2, 0), One(3, 2, 1),
                                         One(3, 0, 2),        One(3, 1, 2), One(3, 2, 2)};
constexpr std::array<Cell, 7> kCells3 = {
    Cell{4, 0, 1, 0, 1}, Cell{4, 2, 3, 0, 1}, Cell{4, 0, 1, 2, 3}, One(4, 2, 2),
    One(4, 3, 2),        One(4, 2, 3),        One(4, 3, 3)};
constexpr std::array<Cell, 8> kCells5 = {Cell{4, 0, 2, 0, 2}, One(4, 3, 0), One(4, 3, 1),
                                         One(4, 3, 2),        One(4, 0, 3), One(4, 1, 3),
                                         One(4, 2, 3),        One(4, 3, 3)};
constexpr std::array<Cell, 9> kCells6 = {One(3, 0, 0), One(3, 1, 0), One(3, 2, 0),
                                         One(3, 0, 1), One(3, 1, 1), One(3, 2, 1),
                                         One(3, 0, 2), One(3, 1, 2), One(3, 2, 2)};
constexpr std::array<Cell, 10> kCells7 = {
    Cell{4, 0, 1, 0, 1}, Cell{4, 2, 3, 0, 1}, One(4, 0, 2), One(4, 1, 2), One(4, 2, 2),
    One(4, 3, 2),        One(4, 0, 3),        One(4, 1, 3), One(4, 2, 3), One(4, 3, 3)};
constexpr std::array<Cell, 13> kCells13 = {
    One(4, 0, 0), One(4, 1, 0),        One(4, 2, 0), One(4, 3, 0), One(4, 0, 1),
    One(4, 0, 2), Cell{4, 1, 2, 1, 2}, One(4, 3, 1), One(4, 3, 2), One(4, 0, 3),
    One(4, 1, 3), One(4, 2, 3),        One(4, 3, 3)};
constexpr std::array<Cell, 16> kCells14 = {One(4, 0, 0), One(4, 1, 0), One(4, 2, 0), One(4, 3, 0),
                                           One(4, 0, 1), One(4, 1, 1), One(4, 2, 1), One(4, 3, 1),
                                           One(4, 0, 2), One(4, 1, 2), One(4, 2, 2), One(4, 3, 2),
                                           One(4, 0, 3), One(4, 1, 3), One(4, 2, 3), One(4, 3, 3)};

std::span<const Cell> CellsOf(int layout) {
    switch (layout) {
        case 0:
            return kCells0;
        case 1:
            return kCells1;
        case 2:
            return kCells2;
        case 3:
            return kCells3;
        case 5:
            return kCells5;
        case 6:
            return kCells6;
        case 7:
            return kCells7;
        case 13:
            return kCells13;
        case 14:
            return kCells14;
        default:
            return {};
    }
}

// Start and end of column (or row) j of an n-way split of `extent`. The 4-way split takes
// its quarter by shifting, which lands the middle boundary apart from the 2-way split's.
int SpanStart(int n, int j, int extent, int border) {
    const int q = n == 4 ? (extent >> 2) : extent / n;
    return j == 0 ? 2 * border : j * q + border;
}
int SpanEnd(int n, int j, int extent, int border) {
    const int q = n == 4 ? (extent >> 2) : extent / n;
    return j == n - 1 ? extent - 2 * border : (j + 1) * q - border;
}

Rect CellRect(const Cell& c, int width, int height, int border) {
    if (c.grid == 1)
        return Rect{2 * border, 2 * border, width - 2 * border, height - 2 * border};
    return Rect{SpanStart(c.grid, c.c0, width, border), SpanStart(c.grid, c.r0, height, border),
                SpanEnd(c.grid, c.c1, width, border), SpanEnd(c.grid, c.r1, height, border)};
}

// Position of a slot in its layout: slot s sits at s mod n, except in the 9-pane layout
// whose second page repeats slots 7 and 8 at positions 0 and 1.
int PositionOfSlot(int layout, int page, int slot, int channelCount) {
    const int n = PanesPerPage(layout);
    if (n <= 0)
        return -1;
    if (channelCount > kSlotCount)
        return layout == 0 ? 0 : slot % n;  // a grid of several recorders: pages in order
    if (layout == 6) {
        if (slot >= 9)
            return slot - 7;
        if ((slot == 7 || slot == 8) && page == 1)
            return slot - 7;
        return slot;
    }
    if (layout == 0)
        return 0;
    return slot % n;
}

PaneMask SlotRun(int first, int count, int limit) {
    PaneMask mask = 0;
    for (int s = first; s < first + count && s < limit; ++s)
        mask |= PaneBit(s);
    return mask;
}

// Pages of each layout for a grid of more than one recorder's channels: in order.
PageTable PagesInOrder(int channelCount) {
    PageTable pages{};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        const int n = PanesPerPage(kLayoutIds[i]);
        pages[i] = (channelCount + n - 1) / n;
    }
    return pages;
}

LayoutEffects Ignored() {
    LayoutEffects e;
    e.ignored = true;
    return e;
}

FullScreenEffects IgnoredFullScreen() {
    FullScreenEffects f;
    f.ignored = true;
    return f;
}

Point Centre(const Rect& r) {
    return Point{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

}  // namespace

int LayoutOrdinal(int layout) {
    for (std::size_t i = 0; i < kLayoutIds.size(); ++i)
        if (kLayoutIds[i] == layout)
            return static_cast<int>(i);
    return -1;
}

int PanesPerPage(int layout) {
    return static_cast<int>(CellsOf(layout).size());
}

int LayoutButton(int layout) {
    const int ordinal = LayoutOrdinal(layout);
    return ordinal < 0 ? -1 : kLayoutButtonFirst + ordinal;
}

int LayoutOfButton(int controlId) {
    const int i = controlId - kLayoutButtonFirst;
    return (i >= 0 && i < kLayoutCount) ? kLayoutIds[static_cast<std::size_t>(i)] : -1;
}

int LayoutOfToolbarCommand(int command) {
    const int i = command - kToolbarLayoutFirst;
    return (i >= 0 && i < kLayoutCount) ? kLayoutIds[static_cast<std::size_t>(i)] : -1;
}

PageTable CreationPageTable(int channelCount) {
    if (channelCount > kSlotCount)
        return PagesInOrder(channelCount);
    if (channelCount <= 4)
        return {4, 1, 0, 0, 0, 0, 0, 0, 0};
    if (channelCount <= 8)
        return {8, 2, 2, 2, 1, 1, 0, 0, 0};
    return {16, 4, 3, 3, 2, 2, 2, 2, 1};
}

PageTable LivePageTable(int channelCount) {
    if (channelCount > kSlotCount)
        return PagesInOrder(channelCount);
    if (channelCount <= 4)
        return {4, 1, 1, 1, 1, 1, 1, 1, 1};
    if (channelCount <= 8)
        return {8, 2, 2, 2, 1, 1, 1, 1, 1};
    return {16, 4, 3, 3, 2, 2, 2, 2, 1};
}

int StartLayout(int channelCount) {
    if (channelCount > kSlotCount)
        return 14;
    if (channelCount <= 4)
        return 1;
    if (channelCount <= 8)
        return 6;
    return 14;
}

Rect PositionRect(int layout, int position, int width, int height, int border) {
    const auto cells = CellsOf(layout);
    if (position < 0 || static_cast<std::size_t>(position) >= cells.size())
        return Rect{};
    return CellRect(cells[static_cast<std::size_t>(position)], width, height, border);
}

std::array<Rect, kMaxPanes> PaneRects(int layout, int page, int width, int height, int border,
                                      int channelCount) {
    std::array<Rect, kMaxPanes> rects{};
    const int slots = std::clamp(channelCount, kSlotCount, kMaxPanes);
    for (int s = 0; s < slots; ++s)
        rects[static_cast<std::size_t>(s)] = PositionRect(
            layout, PositionOfSlot(layout, page, s, channelCount), width, height, border);
    return rects;
}

PaneMask VisibleSlots(int layout, int page, int channelCount) {
    if (channelCount > kSlotCount) {
        const int n = PanesPerPage(layout);
        return n > 0 ? SlotRun(n * page, n, std::min(channelCount, kMaxPanes)) : 0;
    }
    switch (layout) {
        case 0:
            return SlotRun(page, 1, kSlotCount);
        case 1:
            return SlotRun(4 * page, 4, kSlotCount);
        case 5:
            return SlotRun(8 * page, 8, kSlotCount);
        case 2:
        case 3:
        case 7:
        case 13: {
            const int n = PanesPerPage(layout);
            return SlotRun(n * page, n, std::min(channelCount, kSlotCount));
        }
        case 6:
            return page == 0 ? 0x01FFu : (page == 1 ? 0xFF80u : 0u);
        case 14:
            return 0xFFFFu;
        default:
            return 0;
    }
}

std::vector<MonitorInfo> RecordMonitors(std::span<const MonitorInfo> enumerated) {
    const std::size_t n = std::min<std::size_t>(enumerated.size(), kMaxMonitors);
    return {enumerated.begin(), enumerated.begin() + static_cast<std::ptrdiff_t>(n)};
}

CGridLayout::CGridLayout() : m_pages(CreationPageTable(kSlotCount)) {
    for (int s = 0; s < kMaxPanes; ++s)
        m_arrangement[static_cast<std::size_t>(s)].store(s);
    RecomputeVisible();
}

void CGridLayout::SetAllChannelsLock(std::function<void(const std::function<void()>&)> runner) {
    m_underAllLocks = std::move(runner);
}

int CGridLayout::PageCount(int layout) const {
    const int ordinal = LayoutOrdinal(layout);
    if (ordinal < 0)
        return 1;
    return std::max(1, m_pages[static_cast<std::size_t>(ordinal)]);
}

int CGridLayout::ChannelOfSlot(int slot) const {
    if (slot < 0 || slot >= SlotLimit())
        return -1;
    return m_arrangement[static_cast<std::size_t>(slot)].load();
}

int CGridLayout::SlotOfChannel(int channel) const {
    for (int s = 0; s < SlotLimit(); ++s)
        if (m_arrangement[static_cast<std::size_t>(s)].load() == channel)
            return s;
    return -1;
}

Rect CGridLayout::SlotRect(int slot) const {
    if (slot < 0 || slot >= SlotLimit())
        return Rect{};
    return PositionRect(m_layout, PositionOfSlot(m_layout, m_page, slot, m_channelCount),
                        m_placement.rect.Width(), m_placement.rect.Height(), m_placement.border);
}

std::vector<int> CGridLayout::ShownChannels() const {
    std::vector<int> channels;
    for (int slot = 0; slot < SlotLimit(); ++slot)
        if (SlotVisible(slot))
            channels.push_back(ChannelOfSlot(slot));
    return channels;
}

bool CGridLayout::SlotVisible(int slot) const {
    return slot >= 0 && slot < SlotLimit() && HasPane(m_visiblePanes, slot);
}

int CGridLayout::SlotAt(Point p) const {
    for (int s = 0; s < SlotLimit(); ++s)
        if (SlotVisible(s) && SlotRect(s).Contains(p.x, p.y))
            return s;
    return -1;
}

PaneMask CGridLayout::VisibleChannels() const {
    PaneMask mask = 0;
    for (int s = 0; s < SlotLimit(); ++s)
        if (SlotVisible(s))
            mask |= PaneBit(ChannelOfSlot(s));
    return mask;
}

void CGridLayout::SetChannelCount(int count) {
    m_channelCount = std::clamp(count, 0, kMaxPanes);
    m_pages = CreationPageTable(m_channelCount);
}

void CGridLayout::RecomputeVisible() {
    m_visiblePanes = VisibleSlots(m_layout, m_page, m_channelCount);
}

std::optional<int> CGridLayout::PtzResend(const GridContext& ctx) const {
    if (ctx.mode != protocol::kGridLive || !ctx.ptzOpen)
        return std::nullopt;
    // Slot 0 visible with channel 0 on the air keeps the PTZ channel as it is.
    if (SlotVisible(0) && HasPane(m_available, 0))
        return ctx.ptzChannel;
    for (int s = 0; s < SlotLimit(); ++s) {
        const int channel = ChannelOfSlot(s);
        if (SlotVisible(s) && HasPane(m_available, channel))
            return channel;
    }
    return std::nullopt;
}

LayoutEffects CGridLayout::Finish(PaneMask before, const GridContext& ctx) {
    LayoutEffects e;
    e.repaint = true;
    e.clearHasPicture = true;
    e.visibleChannels = VisibleChannels();
    e.visibleChanged = e.visibleChannels != before;
    e.availableShown = (e.visibleChannels & m_available) != 0;
    e.buttons = m_buttons;
    std::optional<std::uint16_t> code;
    protocol::ChannelMask sent = FirstRecorderMask(e.visibleChannels);
    if (ctx.mode == protocol::kGridLive) {
        code = protocol::msg::LIVE_REQ;
    } else if (ctx.mode == protocol::kGridPlayback) {
        code = protocol::msg::PLAY_VIEW_CH;
        sent &= ctx.playbackChannels;
    }
    if (code && m_channelCount <= kSlotCount) {
        VisibleRequest r;
        r.code = *code;
        r.mask = sent;
        protocol::StoreBE32(r.payload.data(), sent);
        e.request = r;
    }
    if (e.visibleChanged) {
        e.markPlaybackReposition =
            ctx.mode == protocol::kGridPlayback && (ctx.playState == 1 || ctx.playState == 7);
        e.tellLocalPlayer = ctx.mode == protocol::kGridLocal && ctx.localPlayState == 4;
    }
    return e;
}

LayoutEffects CGridLayout::SelectLayout(int layout, const GridContext& ctx, int step) {
    if (ctx.ptzDomeMenu || LayoutOrdinal(layout) < 0)
        return Ignored();
    const PaneMask before = VisibleChannels();
    m_zoomed = false;
    if (layout != m_layout) {
        m_layout = layout;
        m_page = 0;
    } else if (!m_pageLock) {
        m_page = StepPageIndex(m_page, step, PageCount(layout));
    }
    RecomputeVisible();
    // A page without a single available channel is skipped; after a round of tries (17
    // for one recorder's grid) the first page is shown whatever it holds.
    if ((VisibleChannels() & m_available) == 0) {
        bool found = false;
        const int rounds = std::max(17, PageCount(layout) + 1);
        for (int tries = 0; tries < rounds && !found; ++tries) {
            m_page = StepPageIndex(m_page, step < 0 ? -1 : 1, PageCount(layout));
            RecomputeVisible();
            found = (VisibleChannels() & m_available) != 0;
        }
        if (!found) {
            m_page = 0;
            RecomputeVisible();
        }
    }
    m_pageLock = false;
    m_buttons = PressedButtons{LayoutButton(layout), -1};
    LayoutEffects e = Finish(before, ctx);
    e.recheckAudio = true;
    e.ptzChannel = PtzResend(ctx);
    return e;
}

LayoutEffects CGridLayout::ShowChannelAlone(int channel, const GridContext& ctx, bool clearZoom) {
    const int slot = SlotOfChannel(channel);
    if (!HasPane(m_available, channel) || slot < 0)
        return Ignored();
    const PaneMask before = VisibleChannels();
    if (clearZoom)
        m_zoomed = false;
    m_layout = 0;
    m_page = slot;
    RecomputeVisible();
    m_pageLock = true;
    m_buttons = PressedButtons{LayoutButton(0), kChannelButtonFirst + channel};
    LayoutEffects e = Finish(before, ctx);
    // A channel without sound in the recorder's last element (which may still be that of
    // the layout before) drops a heard channel no longer shown at once; the next element
    // of this channel alone selects it.
    if (HasPane(ctx.audioMask, channel))
        e.audioChannel = channel;
    else
        e.recheckAudio = true;
    if (ctx.mode == protocol::kGridLive && ctx.ptzOpen && channel != ctx.ptzChannel)
        e.ptzChannel = channel;
    return e;
}

LayoutEffects CGridLayout::SelectChannel(int channel, const GridContext& ctx) {
    if (ctx.ptzDomeMenu)
        return Ignored();
    return ShowChannelAlone(channel, ctx, true);
}

LayoutEffects CGridLayout::DoubleClick(Point down, const GridContext& ctx) {
    if (ctx.ptzDomeMenu)
        return Ignored();
    LayoutEffects e;
    if (m_zoomed) {
        const PaneMask before = VisibleChannels();
        m_layout = m_savedLayout;
        m_page = m_savedPage;
        RecomputeVisible();
        m_zoomed = false;
        m_buttons = PressedButtons{LayoutButton(m_layout), -1};
        e = Finish(before, ctx);
    } else {
        const int slot = SlotAt(down);
        if (PanesPerPage(m_layout) <= 1 || slot < 0)
            return Ignored();
        const int savedLayout = m_layout;
        const int savedPage = m_page;
        e = ShowChannelAlone(ChannelOfSlot(slot), ctx, false);
        if (e.ignored)
            return e;
        m_savedLayout = savedLayout;
        m_savedPage = savedPage;
        m_zoomed = true;
    }
    m_pageLock = false;
    if (ctx.mode == protocol::kGridLive && ctx.liveFrozen)
        e.repaintAfterMs = 100;
    return e;
}

std::optional<DragStart> CGridLayout::BeginDrag(Point down, const GridContext& ctx) {
    m_dragSlot = -1;
    if (m_layout == 0 || ctx.ptzDomeMenu)
        return std::nullopt;
    const int slot = SlotAt(down);
    if (slot < 0 || !HasPane(m_available, ChannelOfSlot(slot)))
        return std::nullopt;
    DragStart d;
    d.slot = slot;
    d.pane = SlotRect(slot);
    d.image = Rect{d.pane.left + 1, d.pane.top + 1, d.pane.right - 1, d.pane.bottom - 1};
    const Point c = Centre(d.image);
    m_dragSlot = slot;
    m_dragOffset = Point{c.x - down.x, c.y - down.y};
    return d;
}

void CGridLayout::Swap(int slotA, int slotB) {
    const auto swap = [this, slotA, slotB] {
        auto& a = m_arrangement[static_cast<std::size_t>(slotA)];
        auto& b = m_arrangement[static_cast<std::size_t>(slotB)];
        const int channelA = a.load();
        a.store(b.load());
        b.store(channelA);
    };
    if (m_underAllLocks)
        m_underAllLocks(swap);
    else
        swap();
}

LayoutEffects CGridLayout::PlaceChannel(Point at, int channel, const GridContext& ctx) {
    const int target = SlotAt(at);
    const int from = SlotOfChannel(channel);
    if (ctx.ptzDomeMenu || target < 0 || from < 0 || target == from ||
        !HasPane(m_available, channel))
        return Ignored();
    const PaneMask before = VisibleChannels();
    Swap(from, target);
    LayoutEffects e = Finish(before, ctx);
    e.swapped = true;
    return e;
}

LayoutEffects CGridLayout::EndDrag(Point pointer, const GridContext& ctx) {
    const int from = m_dragSlot;
    m_dragSlot = -1;
    if (from < 0)
        return Ignored();
    const Point centre{pointer.x + m_dragOffset.x, pointer.y + m_dragOffset.y};
    const int target = SlotAt(centre);
    if (target < 0 || !HasPane(m_available, ChannelOfSlot(target)))
        return Ignored();
    LayoutEffects e;
    e.visibleChannels = VisibleChannels();
    e.availableShown = (e.visibleChannels & m_available) != 0;
    if (target == from) {
        // A plain click: in live view it points the PTZ control at that channel.
        const int channel = ChannelOfSlot(from);
        if (ctx.mode == protocol::kGridLive && ctx.ptzOpen && channel != ctx.ptzChannel)
            e.ptzChannel = channel;
        else
            e.ignored = true;
        return e;
    }
    Swap(from, target);
    e.swapped = true;
    e.repaint = true;
    return e;
}

LayoutEffects CGridLayout::ResetArrangement() {
    const PaneMask before = VisibleChannels();
    bool changed = false;
    const auto reset = [this, &changed] {
        for (int s = 0; s < kMaxPanes; ++s) {
            auto& entry = m_arrangement[static_cast<std::size_t>(s)];
            changed = changed || entry.load() != s;
            entry.store(s);
        }
    };
    if (m_underAllLocks)
        m_underAllLocks(reset);
    else
        reset();
    LayoutEffects e;
    e.repaint = true;
    e.swapped = changed;
    e.visibleChannels = VisibleChannels();
    e.visibleChanged = e.visibleChannels != before;
    e.availableShown = (e.visibleChannels & m_available) != 0;
    return e;
}

LayoutEffects CGridLayout::Arrange(std::span<const int> arrangement) {
    LayoutEffects e;
    std::array<bool, kMaxPanes> seen{};
    if (arrangement.size() != static_cast<std::size_t>(kMaxPanes)) {
        e.ignored = true;
        return e;
    }
    for (const int channel : arrangement) {
        if (channel < 0 || channel >= kMaxPanes || seen[static_cast<std::size_t>(channel)]) {
            e.ignored = true;
            return e;
        }
        seen[static_cast<std::size_t>(channel)] = true;
    }
    const PaneMask before = VisibleChannels();
    const auto apply = [this, arrangement, &e] {
        for (std::size_t s = 0; s < arrangement.size(); ++s)
            e.swapped = m_arrangement[s].exchange(arrangement[s]) != arrangement[s] || e.swapped;
    };
    if (m_underAllLocks)
        m_underAllLocks(apply);
    else
        apply();
    e.repaint = true;
    e.visibleChannels = VisibleChannels();
    e.visibleChanged = e.visibleChannels != before;
    e.availableShown = (e.visibleChannels & m_available) != 0;
    e.buttons = m_buttons;  // panes moved: each recorder is asked for what it now shows
    return e;
}

LayoutEffects CGridLayout::StartLive(int channelCount, const GridContext& ctx) {
    m_channelCount = std::clamp(channelCount, 0, kMaxPanes);
    m_pages = LivePageTable(m_channelCount);
    return SelectLayout(StartLayout(m_channelCount), ctx);
}

LayoutEffects CGridLayout::StartPlayback(const GridContext& ctx) {
    return SelectLayout(StartLayout(m_channelCount), ctx);
}

LayoutEffects CGridLayout::Place(const Rect& rect, int border, std::uint32_t colour) {
    m_placement = Placement{rect, std::max(0, border), colour};
    LayoutEffects e;
    e.repaint = true;
    e.visibleChannels = VisibleChannels();
    e.availableShown = (e.visibleChannels & m_available) != 0;
    return e;
}

FullScreenEffects CGridLayout::EnterFullScreen(std::span<const MonitorInfo> monitors,
                                               Point mainClientCentre) {
    const auto recorded = RecordMonitors(monitors);
    if (m_fullScreen || recorded.empty())
        return IgnoredFullScreen();
    // No work area holding the main window's centre: the first monitor, where the program
    // was started.
    std::size_t index = 0;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        if (recorded[i].workArea.Contains(mainClientCentre.x, mainClientCentre.y)) {
            index = i;
            break;
        }
    }
    const Rect& mon = recorded[index].monitor;
    FullScreenEffects f;
    f.monitorIndex = static_cast<int>(index);
    f.savedGridRect = m_placement.rect;
    m_savedGridRect = m_placement.rect;
    const int left = mon.left + (mon.Width() - kToolbarWidth) / 2;
    f.toolbar = Rect{left, mon.bottom - kToolbarHeight, left + kToolbarWidth, mon.bottom};
    Place(mon, m_placement.border, m_placement.colour);
    f.grid = m_placement;
    m_fullScreen = true;
    return f;
}

FullScreenEffects CGridLayout::LeaveFullScreen() {
    if (!m_fullScreen)
        return IgnoredFullScreen();
    FullScreenEffects f;
    Place(m_savedGridRect, kMainGridBorder, kMainGridColour);
    f.grid = m_placement;
    f.savedGridRect = m_savedGridRect;
    f.showMainWindow = true;
    m_fullScreen = false;
    return f;
}

}  // namespace taviro::video
