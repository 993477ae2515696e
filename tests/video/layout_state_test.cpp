// The grid's layout state: paging with wrap and lock, the visible-channel request, single
// channel and double-click zoom, drag and drop of panes with "Arrange", and full screen.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "protocol/catalogue.h"
#include "protocol/session_messages.h"
#include "video/layouts.h"
#include "video/site_channels.h"

namespace taviro::video {
namespace {

GridContext Live() {
    GridContext ctx;
    ctx.mode = protocol::kGridLive;
    return ctx;
}

// A grid as the main window places it, with `count` channels all offered.
void Offer(CGridLayout& grid, int count) {
    grid.SetChannelCount(count);
    grid.SetAvailableChannels(protocol::MaskOfFirst(count));
}

TEST(LayoutPaging, CreatedStateAndFourPaneWalkThroughSixteen) {
    CGridLayout grid;
    Offer(grid, 16);
    EXPECT_EQ(grid.Layout(), 14);
    EXPECT_EQ(grid.Page(), 0);
    EXPECT_TRUE(grid.PageLock());
    EXPECT_EQ(grid.VisibleChannels(), 0xFFFFu);
    EXPECT_EQ(grid.Buttons(), (PressedButtons{328, -1}));

    const GridContext idle;
    const std::array<protocol::ChannelMask, 5> expected = {0x000F, 0x00F0, 0x0F00, 0xF000, 0x000F};
    for (protocol::ChannelMask mask : expected) {
        const LayoutEffects e = grid.SelectLayout(1, idle);
        EXPECT_FALSE(e.ignored);
        EXPECT_TRUE(e.repaint);
        EXPECT_TRUE(e.clearHasPicture);
        EXPECT_TRUE(e.recheckAudio);
        EXPECT_TRUE(e.availableShown);
        EXPECT_EQ(e.visibleChannels, mask);
        EXPECT_FALSE(e.request.has_value());  // neither live nor playback
        ASSERT_TRUE(e.buttons.has_value());
        EXPECT_EQ(*e.buttons, (PressedButtons{321, -1}));
        EXPECT_FALSE(grid.PageLock());
    }
}

TEST(LayoutPaging, EightChannelsAndPageCounts) {
    CGridLayout grid;
    Offer(grid, 8);
    const GridContext idle;
    EXPECT_EQ(grid.PageCount(1), 2);
    EXPECT_EQ(grid.PageCount(7), 1);  // 0 pages behaves like 1
    EXPECT_EQ(grid.SelectLayout(1, idle).visibleChannels, 0x0Fu);
    EXPECT_EQ(grid.SelectLayout(1, idle).visibleChannels, 0xF0u);
    EXPECT_EQ(grid.SelectLayout(1, idle).visibleChannels, 0x0Fu);
    // The 16-pane layout shows the 8 offered channels and 8 empty panes.
    const LayoutEffects sixteen = grid.SelectLayout(14, idle);
    EXPECT_EQ(sixteen.visibleChannels, 0xFFFFu);
    EXPECT_EQ(sixteen.visibleChannels & grid.AvailableChannels(), 0xFFu);
    // The 10-pane layout shows only the slots below the channel count.
    EXPECT_EQ(grid.SelectLayout(7, idle).visibleChannels, 0xFFu);
    EXPECT_EQ(grid.SelectLayout(7, idle).visibleChannels, 0xFFu);
}

TEST(LayoutPaging, FourChannelsOnePaneAndLock) {
    CGridLayout grid;
    Offer(grid, 4);
    const GridContext idle;
    EXPECT_EQ(grid.PageCount(0), 4);
    EXPECT_EQ(grid.PageCount(2), 1);
    EXPECT_EQ(grid.SelectLayout(2, idle).visibleChannels, 0x0Fu);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x01u);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x02u);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x04u);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x08u);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x01u);
    // A channel button locks the page: the 1-pane button then keeps that channel once.
    const LayoutEffects one = grid.SelectChannel(2, idle);
    EXPECT_TRUE(grid.PageLock());
    EXPECT_EQ(one.visibleChannels, 0x04u);
    EXPECT_EQ(*one.buttons, (PressedButtons{320, 302}));
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x04u);
    EXPECT_EQ(grid.SelectLayout(0, idle).visibleChannels, 0x08u);
}

TEST(LayoutPaging, LiveStartAndFirstPressChangesNothing) {
    CGridLayout grid;
    grid.SetAvailableChannels(0x0F);
    const LayoutEffects start = grid.StartLive(4, Live());
    EXPECT_EQ(grid.Layout(), 1);
    EXPECT_EQ(grid.PageCount(2), 1);  // the live table has no empty rows
    ASSERT_TRUE(start.request.has_value());
    EXPECT_EQ(start.request->code, protocol::msg::LIVE_REQ);
    EXPECT_EQ(start.request->payload, (std::array<std::uint8_t, 4>{0, 0, 0, 0x0F}));
    const LayoutEffects again = grid.SelectLayout(1, Live());
    EXPECT_EQ(grid.Page(), 0);
    EXPECT_EQ(again.visibleChannels, 0x0Fu);
    EXPECT_FALSE(again.visibleChanged);

    CGridLayout eight;
    eight.SetAvailableChannels(0xFF);
    eight.StartLive(8, Live());
    EXPECT_EQ(eight.Layout(), 6);
    CGridLayout sixteen;
    sixteen.SetAvailableChannels(0xFFFF);
    sixteen.StartLive(16, Live());
    EXPECT_EQ(sixteen.Layout(), 14);
}

TEST(LayoutPaging, PagesWithoutOfferedChannelsAreSkipped) {
    CGridLayout grid;
    grid.SetAvailableChannels(protocol::ChannelBit(9));
    const GridContext idle;
    LayoutEffects e = grid.SelectLayout(1, idle);
    EXPECT_EQ(grid.Page(), 2);
    EXPECT_TRUE(e.availableShown);
    EXPECT_EQ(e.visibleChannels, 0x0F00u);
    // Advancing past it wraps round to the same page.
    grid.SelectLayout(1, idle);
    EXPECT_EQ(grid.Page(), 2);
    // Nothing offered anywhere: the first page after all tries.
    grid.SetAvailableChannels(0);
    e = grid.SelectLayout(5, idle);
    EXPECT_EQ(grid.Page(), 0);
    EXPECT_FALSE(e.availableShown);
    EXPECT_EQ(e.visibleChannels, 0x00FFu);
}

TEST(LayoutRequest, LivePlaybackAndLocalPlayback) {
    CGridLayout grid;
    Offer(grid, 16);
    grid.SelectLayout(1, Live());
    const LayoutEffects page2 = grid.SelectLayout(1, Live());
    ASSERT_TRUE(page2.request.has_value());
    EXPECT_EQ(page2.request->code, protocol::msg::LIVE_REQ);
    EXPECT_EQ(page2.request->mask, 0xF0u);
    EXPECT_EQ(page2.request->payload, (std::array<std::uint8_t, 4>{0x00, 0x00, 0x00, 0xF0}));

    GridContext play;
    play.mode = protocol::kGridPlayback;
    play.playbackChannels = 0x0130;
    play.playState = 7;
    const LayoutEffects e = grid.SelectLayout(14, play);
    ASSERT_TRUE(e.request.has_value());
    EXPECT_EQ(e.request->code, protocol::msg::PLAY_VIEW_CH);
    EXPECT_EQ(e.request->mask, 0x0130u);
    EXPECT_EQ(e.request->payload, (std::array<std::uint8_t, 4>{0x00, 0x00, 0x01, 0x30}));
    EXPECT_TRUE(e.markPlaybackReposition);
    // The same set again marks nothing.
    EXPECT_FALSE(grid.SelectLayout(14, play).markPlaybackReposition);
    play.playState = 2;
    EXPECT_FALSE(grid.SelectLayout(1, play).markPlaybackReposition);

    GridContext local;
    local.mode = protocol::kGridLocal;
    local.localPlayState = 4;
    const LayoutEffects l = grid.SelectLayout(6, local);
    EXPECT_FALSE(l.request.has_value());
    EXPECT_TRUE(l.tellLocalPlayer);
}

TEST(LayoutRequest, DomeMenuAndBadInputsAreIgnored) {
    CGridLayout grid;
    Offer(grid, 16);
    GridContext dome = Live();
    dome.ptzDomeMenu = true;
    EXPECT_TRUE(grid.SelectLayout(1, dome).ignored);
    EXPECT_TRUE(grid.SelectChannel(3, dome).ignored);
    EXPECT_TRUE(grid.DoubleClick(Point{100, 100}, dome).ignored);
    EXPECT_FALSE(grid.BeginDrag(Point{100, 100}, dome).has_value());
    EXPECT_EQ(grid.Layout(), 14);
    EXPECT_TRUE(grid.SelectLayout(4, Live()).ignored);
    EXPECT_TRUE(grid.SelectChannel(-1, Live()).ignored);
    EXPECT_TRUE(grid.SelectChannel(16, Live()).ignored);
    grid.SetAvailableChannels(0x00FF);
    const LayoutEffects off = grid.SelectChannel(12, Live());
    EXPECT_TRUE(off.ignored);
    EXPECT_FALSE(off.request.has_value());
    EXPECT_EQ(grid.Layout(), 14);
    grid.SetChannelCount(1000);  // no more than the channels of a full site
    EXPECT_EQ(grid.ChannelCount(), kMaxPanes);
    grid.SetChannelCount(-5);
    EXPECT_EQ(grid.ChannelCount(), 0);
    EXPECT_EQ(grid.SlotRect(99), Rect{});
    EXPECT_EQ(grid.ChannelOfSlot(-1), -1);
}

TEST(LayoutPages, NineAndSixPaneLastPages) {
    CGridLayout grid;
    Offer(grid, 16);
    const GridContext idle;
    grid.SelectLayout(6, idle);
    grid.SelectLayout(6, idle);
    ASSERT_EQ(grid.Page(), 1);
    EXPECT_EQ(grid.VisibleChannels(), 0xFF80u);
    // Channels 8 and 9 (counting from 1) in the top-left and top-middle cells.
    EXPECT_EQ(grid.SlotAt(Point{100, 100}), 7);
    EXPECT_EQ(grid.SlotAt(Point{400, 100}), 8);
    EXPECT_EQ(grid.SlotAt(Point{700, 100}), 9);
    EXPECT_EQ(grid.SlotAt(Point{700, 500}), 15);
    EXPECT_EQ(grid.SlotRect(7), (Rect{2, 2, 272, 197}));

    grid.SelectLayout(2, idle);
    grid.SelectLayout(2, idle);
    grid.SelectLayout(2, idle);
    ASSERT_EQ(grid.Page(), 2);
    EXPECT_EQ(grid.VisibleChannels(), 0xF000u);
    EXPECT_EQ(grid.SlotAt(Point{100, 100}), 12);  // the large pane
    EXPECT_EQ(grid.SlotAt(Point{700, 100}), 13);
    EXPECT_EQ(grid.SlotAt(Point{100, 500}), 15);
    EXPECT_EQ(grid.SlotAt(Point{400, 500}), -1);  // positions 4 and 5 stay empty
    EXPECT_EQ(grid.SlotAt(Point{700, 500}), -1);
    EXPECT_EQ(grid.SlotAt(Point{273, 500}), -1);  // the border between panes
}

TEST(LayoutZoom, DoubleClickShowsAloneAndReturns) {
    CGridLayout grid;
    Offer(grid, 16);
    GridContext ctx = Live();
    ctx.audioMask = protocol::ChannelBit(5);
    grid.SelectLayout(6, ctx);
    // Channel 6 (counting from 1) sits in the middle row's right cell.
    const LayoutEffects in = grid.DoubleClick(Point{600, 300}, ctx);
    EXPECT_FALSE(in.ignored);
    EXPECT_TRUE(grid.Zoomed());
    EXPECT_FALSE(grid.PageLock());
    EXPECT_EQ(grid.Layout(), 0);
    EXPECT_EQ(grid.Page(), 5);
    EXPECT_EQ(in.visibleChannels, 0x20u);
    EXPECT_EQ(in.request->payload, (std::array<std::uint8_t, 4>{0, 0, 0, 0x20}));
    EXPECT_EQ(*in.buttons, (PressedButtons{320, 305}));
    EXPECT_EQ(in.audioChannel, 5);
    EXPECT_EQ(in.repaintAfterMs, 0);

    ctx.liveFrozen = true;
    const LayoutEffects out = grid.DoubleClick(Point{10, 10}, ctx);
    EXPECT_FALSE(grid.Zoomed());
    EXPECT_EQ(grid.Layout(), 6);
    EXPECT_EQ(grid.Page(), 0);
    EXPECT_EQ(out.visibleChannels, 0x01FFu);
    EXPECT_EQ(*out.buttons, (PressedButtons{325, -1}));
    EXPECT_EQ(out.repaintAfterMs, 100);

    // Zoom from the second page comes back to the second page.
    ctx.liveFrozen = false;
    grid.SelectLayout(6, ctx);
    ASSERT_EQ(grid.Page(), 1);
    grid.DoubleClick(Point{100, 100}, ctx);
    EXPECT_EQ(grid.Page(), 7);
    grid.DoubleClick(Point{100, 100}, ctx);
    EXPECT_EQ(grid.Layout(), 6);
    EXPECT_EQ(grid.Page(), 1);
}

TEST(LayoutZoom, WhatDoesNotZoom) {
    CGridLayout grid;
    Offer(grid, 16);
    const GridContext idle;
    grid.SelectChannel(4, idle);
    EXPECT_TRUE(grid.DoubleClick(Point{100, 100}, idle).ignored);  // one pane already
    grid.SelectLayout(1, idle);
    EXPECT_TRUE(grid.DoubleClick(Point{410, 100}, idle).ignored);  // between panes
    grid.SetAvailableChannels(0xFFFE);
    EXPECT_TRUE(grid.DoubleClick(Point{100, 100}, idle).ignored);  // channel 0 not offered
    EXPECT_FALSE(grid.Zoomed());
    // A layout button ends a zoom.
    grid.DoubleClick(Point{600, 100}, idle);
    EXPECT_TRUE(grid.Zoomed());
    grid.SelectLayout(14, idle);
    EXPECT_FALSE(grid.Zoomed());
}

TEST(LayoutDrag, SwapUnderAllLocksAndArrange) {
    CGridLayout grid;
    Offer(grid, 16);
    int lockedRuns = 0;
    grid.SetAllChannelsLock([&lockedRuns](const std::function<void()>& work) {
        ++lockedRuns;
        work();
    });
    const GridContext idle;
    // Channel 3's pane (slot 2) onto channel 10's pane (slot 9), counting from 1.
    const auto drag = grid.BeginDrag(Point{420, 10}, idle);
    ASSERT_TRUE(drag.has_value());
    EXPECT_EQ(drag->slot, 2);
    EXPECT_EQ(drag->pane, (Rect{411, 2, 614, 147}));
    EXPECT_EQ(drag->image, (Rect{412, 3, 613, 146}));
    EXPECT_TRUE(grid.Dragging());
    // The image's centre (512, 74) starts 92, 64 from the pointer; it lands at (300, 370).
    const LayoutEffects drop = grid.EndDrag(Point{208, 306}, idle);
    EXPECT_FALSE(grid.Dragging());
    EXPECT_TRUE(drop.swapped);
    EXPECT_TRUE(drop.repaint);
    EXPECT_EQ(lockedRuns, 1);
    EXPECT_EQ(grid.ChannelOfSlot(2), 9);
    EXPECT_EQ(grid.ChannelOfSlot(9), 2);
    EXPECT_EQ(grid.SlotOfChannel(9), 2);
    // Pages and single-channel view follow the arrangement.
    EXPECT_EQ(grid.SelectLayout(1, idle).visibleChannels, 0x020Bu);
    EXPECT_EQ(grid.SelectChannel(9, idle).visibleChannels, 0x0200u);
    EXPECT_EQ(grid.Page(), 2);

    const LayoutEffects arranged = grid.ResetArrangement();
    EXPECT_TRUE(arranged.swapped);
    EXPECT_TRUE(arranged.repaint);
    EXPECT_EQ(lockedRuns, 2);
    for (int s = 0; s < kSlotCount; ++s)
        EXPECT_EQ(grid.ChannelOfSlot(s), s);
    EXPECT_FALSE(grid.ResetArrangement().swapped);
}

TEST(LayoutDrag, ClicksOutsideDropsAndRefusedStarts) {
    CGridLayout grid;
    Offer(grid, 16);
    GridContext ctx = Live();
    ctx.ptzOpen = true;
    ctx.ptzChannel = 0;
    // A plain click points the PTZ control at the pane's channel.
    ASSERT_TRUE(grid.BeginDrag(Point{300, 200}, ctx).has_value());
    LayoutEffects e = grid.EndDrag(Point{300, 200}, ctx);
    EXPECT_FALSE(e.swapped);
    EXPECT_EQ(e.ptzChannel, 5);
    ctx.ptzChannel = 5;
    ASSERT_TRUE(grid.BeginDrag(Point{300, 200}, ctx).has_value());
    EXPECT_TRUE(grid.EndDrag(Point{300, 200}, ctx).ignored);
    // Outside every pane.
    ASSERT_TRUE(grid.BeginDrag(Point{300, 200}, ctx).has_value());
    EXPECT_TRUE(grid.EndDrag(Point{-900, -900}, ctx).ignored);
    // Onto a channel the recorder does not offer.
    grid.SetAvailableChannels(0x7FFF);
    ASSERT_TRUE(grid.BeginDrag(Point{300, 200}, ctx).has_value());
    EXPECT_TRUE(grid.EndDrag(Point{700, 500}, ctx).ignored);
    EXPECT_FALSE(grid.BeginDrag(Point{700, 500}, ctx).has_value());
    EXPECT_TRUE(grid.EndDrag(Point{300, 200}, ctx).ignored);  // no drag running
    for (int s = 0; s < kSlotCount; ++s)
        EXPECT_EQ(grid.ChannelOfSlot(s), s);
    // Never in the one-pane layout.
    grid.SelectChannel(1, ctx);
    EXPECT_FALSE(grid.BeginDrag(Point{300, 200}, ctx).has_value());
}

TEST(LayoutPtz, ResentChannelAfterPaging) {
    CGridLayout grid;
    Offer(grid, 16);
    GridContext ctx = Live();
    ctx.ptzOpen = true;
    ctx.ptzChannel = 3;
    EXPECT_EQ(grid.SelectLayout(1, ctx).ptzChannel, 3);  // slot 0 shown, channel 0 on air
    EXPECT_EQ(grid.SelectLayout(1, ctx).ptzChannel, 4);
    grid.SetAvailableChannels(0xFFFE);
    EXPECT_EQ(grid.SelectLayout(14, ctx).ptzChannel, 1);
    EXPECT_EQ(grid.SelectChannel(7, ctx).ptzChannel, 7);
    ctx.ptzOpen = false;
    EXPECT_FALSE(grid.SelectLayout(1, ctx).ptzChannel.has_value());
}

TEST(LayoutFullScreen, MonitorToolbarAndReturn) {
    CGridLayout grid;
    Offer(grid, 16);
    grid.Place(kMainGridRect, kMainGridBorder, kMainGridColour);
    const std::vector<MonitorInfo> monitors = {
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1040}},
        {{1920, 0, 3200, 1024}, {1920, 0, 3200, 1024}},
    };
    const FullScreenEffects in = grid.EnterFullScreen(monitors, Point{2500, 500});
    EXPECT_FALSE(in.ignored);
    EXPECT_TRUE(grid.FullScreen());
    EXPECT_EQ(in.monitorIndex, 1);
    EXPECT_EQ(in.grid.rect, (Rect{1920, 0, 3200, 1024}));
    EXPECT_EQ(in.grid.border, 1);
    EXPECT_EQ(in.grid.colour, kMainGridColour);
    EXPECT_EQ(in.toolbar, (Rect{2359, 980, 2760, 1024}));
    EXPECT_EQ(in.savedGridRect, kMainGridRect);
    // The panes now span the monitor: 1280 x 1024 in 4 x 4.
    EXPECT_EQ(grid.SlotRect(0), (Rect{2, 2, 319, 255}));
    EXPECT_EQ(grid.SlotRect(15), (Rect{961, 769, 1278, 1022}));
    EXPECT_TRUE(grid.EnterFullScreen(monitors, Point{100, 100}).ignored);

    const FullScreenEffects out = grid.LeaveFullScreen();
    EXPECT_FALSE(grid.FullScreen());
    EXPECT_TRUE(out.showMainWindow);
    EXPECT_EQ(out.grid.rect, kMainGridRect);
    EXPECT_EQ(grid.SlotRect(15), (Rect{616, 445, 818, 592}));
    EXPECT_TRUE(grid.LeaveFullScreen().ignored);
}

TEST(LayoutFullScreen, FallbacksAndBorderKept) {
    CGridLayout grid;
    EXPECT_TRUE(grid.EnterFullScreen({}, Point{0, 0}).ignored);
    std::vector<MonitorInfo> five;
    for (int i = 0; i < 5; ++i)
        five.push_back({{i * 1000, 0, i * 1000 + 800, 600}, {i * 1000, 0, i * 1000 + 800, 560}});
    EXPECT_EQ(RecordMonitors(five).size(), 4u);
    // The centre is only on the fifth monitor, which is not recorded: the first one.
    grid.Place(Rect{10, 10, 410, 310}, 2, 0x123456);
    const FullScreenEffects in = grid.EnterFullScreen(five, Point{4400, 300});
    EXPECT_EQ(in.monitorIndex, 0);
    EXPECT_EQ(in.grid.rect, (Rect{0, 0, 800, 600}));
    EXPECT_EQ(in.grid.border, 2);
    EXPECT_EQ(in.grid.colour, 0x123456u);
    EXPECT_EQ(in.toolbar, (Rect{199, 556, 600, 600}));
    // Back with the main window's border and background.
    const FullScreenEffects out = grid.LeaveFullScreen();
    EXPECT_EQ(out.grid.rect, (Rect{10, 10, 410, 310}));
    EXPECT_EQ(out.grid.border, 1);
    EXPECT_EQ(out.grid.colour, kMainGridColour);
}

// A grid of several recorders' channels (40: recorders of 16, 16 and 8): every layout pages
// through them in order, pages without an available channel are skipped, a channel shown
// alone is any of the 40, and no single recorder's request is made (the owner asks each
// recorder for its part).
TEST(LayoutPaging, MoreThanOneRecordersChannelsPageInOrder) {
    CGridLayout grid;
    const PaneMask all = (PaneMask{1} << 40) - 1;
    grid.SetAvailableChannels(all);
    LayoutEffects e = grid.StartLive(40, Live());
    EXPECT_EQ(grid.Layout(), 14);
    EXPECT_EQ(e.visibleChannels, 0xFFFFu);
    EXPECT_FALSE(e.request.has_value());
    for (const PaneMask expected : {PaneMask{0xFFFF} << 16, PaneMask{0xFF} << 32, PaneMask{0xFFFF}})
        EXPECT_EQ(grid.SelectLayout(14, Live()).visibleChannels, expected);
    e = grid.SelectLayout(6, Live());  // 9 panes: 5 pages, the last of 4
    EXPECT_EQ(grid.PageCount(6), 5);
    for (int page = 1; page < 5; ++page)
        e = grid.SelectLayout(6, Live());
    EXPECT_EQ(e.visibleChannels, PaneMask{0xF} << 36);
    EXPECT_EQ(grid.ShownChannels(), (std::vector<int>{36, 37, 38, 39}));

    // The second recorder gone: its page is skipped.
    grid.SetAvailableChannels(all & ~(PaneMask{0xFFFF} << 16));
    grid.SelectLayout(14, Live());
    EXPECT_EQ(grid.Page(), 0);
    EXPECT_EQ(grid.SelectLayout(14, Live()).visibleChannels, PaneMask{0xFF} << 32);

    e = grid.SelectChannel(35, Live());
    EXPECT_FALSE(e.ignored);
    EXPECT_EQ(e.visibleChannels, PaneBit(35));
    EXPECT_TRUE(grid.SelectChannel(20, Live()).ignored) << "a channel of the recorder gone";
}

// The grid's numbering over three recorders of 16, 4 and 16 channels (ids 7, 3, 9): each
// one's channels in a row, a recorder's part of a grid mask and back, and a recorder
// whose channels would pass 64 in all keeps none.
TEST(SiteChannels, RecordersFollowEachOtherInTheGridsNumbering) {
    CSiteChannels site;
    site.Set({{7, nullptr, 16}, {3, nullptr, 4}, {9, nullptr, 16}});
    EXPECT_EQ(site.Count(), 36);
    EXPECT_EQ(site.GridChannel(3, 2), 18);
    EXPECT_EQ(site.GridChannel(3, 4), -1) << "recorder 3 has 4 channels";
    EXPECT_EQ(site.GridChannel(5, 0), -1) << "no such recorder";
    const auto at = site.At(21);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->recorderId, 9);
    EXPECT_EQ(at->place, 2);
    EXPECT_EQ(at->channel, 1);
    EXPECT_FALSE(site.At(36).has_value());

    const PaneMask shown = PaneMask{0xF} << 14;  // 14..17: recorder 7's last two, 3's first two
    EXPECT_EQ(site.RecorderMask(shown, 7), 0xC000u);
    EXPECT_EQ(site.RecorderMask(shown, 3), 0x0003u);
    EXPECT_EQ(site.RecorderMask(shown, 9), 0u);
    EXPECT_EQ(site.GridMask(0x0003, 9), PaneMask{0x3} << 20);
    EXPECT_EQ(site.GridMask(0xFFFF, 3), PaneMask{0xF} << 16) << "only the channels it has";

    site.Set({{1, nullptr, 16},
              {2, nullptr, 16},
              {3, nullptr, 16},
              {4, nullptr, 8},
              {5, nullptr, 16},
              {6, nullptr, 8}});
    EXPECT_EQ(site.Count(), 64);
    EXPECT_EQ(site.GridChannel(5, 0), -1) << "past 64 channels";
    EXPECT_EQ(site.GridChannel(6, 7), 63);
}

}  // namespace
}  // namespace taviro::video
