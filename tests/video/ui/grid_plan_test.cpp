// What each pane shows (picture, idle, video loss, blocked) by view mode and channel state,
// the empty positions of a partial last page, the renderers' source rectangles, and the
// grid's pictures as the skin pack provides them.
#include <gtest/gtest.h>

#include <QTest>

#include "platform/skin_numbers.h"
#include "platform/ui/skin_library.h"
#include "video/ui/grid_pictures.h"
#include "video/ui/pane_plan.h"

namespace taviro::video::ui {
namespace {

PaneKind KindOfSlot(const std::vector<PanePlan>& plans, int slot) {
    for (const PanePlan& p : plans)
        if (p.slot == slot)
            return p.kind;
    ADD_FAILURE() << "slot " << slot << " not planned";
    return PaneKind::Idle;
}

class PanePlanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        views.SetAvailableMask(protocol::kAllChannels);
        layout.SetAvailableChannels(protocol::kAllChannels);
        status.session = true;
    }
    std::vector<PanePlan> Plan() { return PlanPanes(layout, views, status); }

    CChannelViews views;
    CGridLayout layout;
    GridStatus status;
};

TEST_F(PanePlanTest, LiveViewKindsByChannelState) {
    views.SetViewMode(ViewMode::Live);
    status.videoLoss = protocol::ChannelBit(1) | protocol::ChannelBit(3);
    status.blocked = protocol::ChannelBit(2) | protocol::ChannelBit(3) | protocol::ChannelBit(4);
    views.MarkPicture(0);
    views.MarkPicture(4);
    const auto plans = Plan();
    ASSERT_EQ(plans.size(), 16u);  // the 16-pane layout has no empty positions
    EXPECT_EQ(KindOfSlot(plans, 0), PaneKind::Picture);
    EXPECT_EQ(KindOfSlot(plans, 1), PaneKind::VideoLoss);
    EXPECT_EQ(KindOfSlot(plans, 2), PaneKind::Blocked);
    EXPECT_EQ(KindOfSlot(plans, 3), PaneKind::VideoLoss);  // video loss before blocked
    EXPECT_EQ(KindOfSlot(plans, 4), PaneKind::Blocked);    // blocked wins over a picture
    EXPECT_EQ(KindOfSlot(plans, 5), PaneKind::Idle);

    // After a layout change the panes wait for their next picture; a channel that decoded
    // before but has no picture since shows idle, or video loss when lost.
    views.ClearHasPicture();
    EXPECT_EQ(KindOfSlot(Plan(), 0), PaneKind::Idle);
    EXPECT_EQ(KindOfSlot(Plan(), 1), PaneKind::VideoLoss);
    // A picture of a channel the recorder no longer offers is not drawn.
    views.MarkPicture(0);
    views.SetAvailableMask(protocol::kAllChannels & ~protocol::ChannelBit(0));
    EXPECT_EQ(KindOfSlot(Plan(), 0), PaneKind::Idle);
}

TEST_F(PanePlanTest, OtherModesShowIdleOrBlocked) {
    status.videoLoss = protocol::ChannelBit(1);
    status.blocked = protocol::ChannelBit(2);
    views.SetViewMode(ViewMode::RemotePlayback);
    EXPECT_EQ(KindOfSlot(Plan(), 1), PaneKind::Idle);
    EXPECT_EQ(KindOfSlot(Plan(), 2), PaneKind::Blocked);
    views.SetViewMode(ViewMode::LocalPlayback);
    EXPECT_EQ(KindOfSlot(Plan(), 2), PaneKind::Idle);
    views.MarkPicture(2);
    EXPECT_EQ(KindOfSlot(Plan(), 2), PaneKind::Picture);  // blocked only matters on the air
    views.SetViewMode(ViewMode::Live);
    views.ClearHasPicture();
    status.session = false;
    EXPECT_EQ(KindOfSlot(Plan(), 1), PaneKind::Idle);
    EXPECT_EQ(KindOfSlot(Plan(), 2), PaneKind::Idle);
}

TEST_F(PanePlanTest, PartialLastPageFillsItsEmptyPositionsWithIdle) {
    // The 6-pane layout's third page shows slots 12..15 at positions 0..3.
    layout.SelectLayout(2, {});
    layout.SelectLayout(2, {});
    layout.SelectLayout(2, {});
    ASSERT_EQ(layout.Page(), 2);
    const auto plans = Plan();
    ASSERT_EQ(plans.size(), 6u);
    int empty = 0;
    for (const PanePlan& p : plans) {
        if (p.slot < 0) {
            ++empty;
            EXPECT_EQ(p.kind, PaneKind::Idle);
            EXPECT_EQ(p.channel, -1);
        }
    }
    EXPECT_EQ(empty, 2);
    EXPECT_EQ(plans[4].rect, PositionRect(2, 4, 820, 594, 1));
    EXPECT_EQ(plans[5].rect, PositionRect(2, 5, 820, 594, 1));
    // The 9-pane layout's second page repeats slots 7 and 8: no position is empty.
    layout.SelectLayout(6, {});
    layout.SelectLayout(6, {});
    ASSERT_EQ(layout.Page(), 1);
    EXPECT_EQ(Plan().size(), 9u);
}

TEST(SourceRects, TrimTheEncoderEdges) {
    EXPECT_EQ(YuvSourceRect(704, 480), (Rect{12, 12, 692, 472}));
    EXPECT_EQ(RgbSourceRect(720, 480), (Rect{12, 12, 710, 472}));
    EXPECT_EQ(RgbSourceRect(368, 240), (Rect{6, 6, 355, 236}));
    EXPECT_EQ(RgbSourceRect(704, 576), (Rect{6, 6, 699, 572}));
    EXPECT_EQ(RgbSourceRect(352, 240), (Rect{6, 6, 347, 236}));
}

TEST(SkinPictures, IconsAreCutOutByTheirMasks) {
    platform::ui::CSkinLibrary skin;
    ASSERT_TRUE(skin.Load(qEnvironmentVariable("TAVIRO_SKIN")));
    const GridPictures p = LoadGridPictures(skin);
    EXPECT_EQ(p.idle.size(), QSize(720, 480));
    EXPECT_EQ(p.videoLoss.size(), QSize(720, 480));
    EXPECT_EQ(p.blocked, p.videoLoss);
    for (const QImage* icon :
         {&p.audio[0], &p.audio[1], &p.ptz[0], &p.ptz[1], &p.pause, &p.play, &p.forwardSlice,
          &p.backwardSlice, &p.integrity[0], &p.integrity[1]}) {
        ASSERT_FALSE(icon->isNull());
        EXPECT_EQ(icon->size(), QSize(16, 16));
    }
    EXPECT_EQ(p.stepForward.size(), QSize(11, 16));
    // Each icon is opaque exactly where its mask is black.
    const QImage mask = skin.Image(platform::skin::kPicIconPlayMask);
    int opaque = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const bool black = qGray(mask.pixel(x, y)) < 128;
            EXPECT_EQ(qAlpha(p.play.pixel(x, y)) == 255, black) << x << "," << y;
            opaque += black ? 1 : 0;
        }
    EXPECT_GT(opaque, 0);
    EXPECT_LT(opaque, 256);
}

}  // namespace
}  // namespace taviro::video::ui
