// The grid window drives the layouts: buttons, mouse and keys give the transitions and the
// visible-channel requests the recorder must get; the panes the widget paints sit where the
// layout puts them; pictures repaint only their own pane, at most once per batch.
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <thread>

#include "grid_test_support.h"
#include "protocol/session_messages.h"

namespace taviro::video::ui {
namespace {

using namespace testing;

std::array<std::uint8_t, 4> Payload(std::uint32_t mask) {
    return {static_cast<std::uint8_t>(mask >> 24), static_cast<std::uint8_t>(mask >> 16),
            static_cast<std::uint8_t>(mask >> 8), static_cast<std::uint8_t>(mask)};
}

class GridLayoutTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (GetParam() == 0 && !OpenGlAvailable())
            GTEST_SKIP() << "no OpenGL context on this display";
        views.SetViewMode(ViewMode::Live);
        window = std::make_unique<GridWindow>(views, GetParam());
        grid().SetAvailableChannels(protocol::kAllChannels);
        grid().SetContextProvider([this] { return context; });
        context.mode = protocol::kGridLive;
        QObject::connect(window->grid, &CChannelGrid::LayoutApplied,
                         [this](const LayoutEffects& e) { applied.push_back(e); });
        ASSERT_TRUE(window->Show());
    }
    CChannelGrid& grid() { return *window->grid; }
    QPoint Centre(int slot) { return grid().PaneRect(slot).center(); }
    void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(at), grid().mapToGlobal(QPointF(at)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(&grid(), &event);
    }
    const VisibleRequest& LastRequest() {
        EXPECT_FALSE(applied.empty());
        EXPECT_TRUE(applied.back().request.has_value());
        return *applied.back().request;
    }

    CChannelViews views;
    GridContext context;
    std::vector<LayoutEffects> applied;
    std::unique_ptr<GridWindow> window;
};

TEST_P(GridLayoutTest, LayoutButtonsPageAndSendTheVisibleChannels) {
    grid().SelectLayout(1);
    EXPECT_EQ(LastRequest().code, 16);
    EXPECT_EQ(LastRequest().payload, Payload(0x000F));
    grid().SelectLayout(1);
    EXPECT_EQ(LastRequest().payload, Payload(0x00F0));
    EXPECT_EQ(applied.back().buttons->layoutButton, 321);
    // The panes the widget draws are the layout's rectangles for this page.
    const auto rects = PaneRects(1, 1, 820, 594, 1);
    for (int slot = 4; slot < 8; ++slot)
        EXPECT_EQ(grid().PaneRect(slot), ToQRect(rects[static_cast<std::size_t>(slot)]));
    EXPECT_EQ(grid().PaneRect(4), QRect(2, 2, 407, 294));

    grid().SelectChannel(5);
    EXPECT_EQ(LastRequest().payload, Payload(0x0020));
    EXPECT_EQ(applied.back().buttons->channelButton, 305);
    // Outside live view nothing is sent, but the transition is still reported.
    context.mode = protocol::kGridNone;
    grid().SelectLayout(14);
    EXPECT_FALSE(applied.back().request.has_value());
    EXPECT_EQ(applied.back().visibleChannels, 0xFFFFu);
}

TEST_P(GridLayoutTest, GridFillsItsPlaceAndFollowsPlacement) {
    EXPECT_EQ(grid().geometry(), QRect(54, 67, 820, 594));
    const auto rects = PaneRects(14, 0, 820, 594, 1);
    for (int slot = 0; slot < 16; ++slot)
        EXPECT_EQ(grid().PaneRect(slot), ToQRect(rects[static_cast<std::size_t>(slot)]));
    grid().Place(Rect{0, 0, 1024, 768}, 2, kMainGridColour);
    grid().SelectLayout(1);
    EXPECT_EQ(grid().size(), QSize(1024, 768));
    EXPECT_EQ(grid().PaneRect(3), QRect(514, 386, 506, 378));
}

TEST_P(GridLayoutTest, DoubleClickZoomsAndRestores) {
    grid().SelectLayout(6);
    const QPoint at = Centre(5);
    QTest::mouseDClick(&grid(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(grid().Layout().Layout(), 0);
    EXPECT_TRUE(grid().Layout().Zoomed());
    EXPECT_EQ(LastRequest().payload, Payload(0x0020));
    EXPECT_FALSE(grid().DragImage()->isVisible());
    QTest::mouseDClick(&grid(), Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(grid().Layout().Layout(), 6);
    EXPECT_FALSE(grid().Layout().Zoomed());
    EXPECT_EQ(LastRequest().payload, Payload(0x01FF));
    // The arrangement was not touched by the clicks around the double clicks.
    for (int slot = 0; slot < 16; ++slot)
        EXPECT_EQ(grid().Layout().ChannelOfSlot(slot), slot);
}

TEST_P(GridLayoutTest, DragAndDropSwapsPanesAndArrangeRestores) {
    SendMouse(QEvent::MouseButtonPress, Centre(2), Qt::LeftButton, Qt::LeftButton);
    ASSERT_TRUE(grid().DragImage()->isVisible());
    EXPECT_EQ(grid().DragImage()->geometry(), grid().PaneRect(2).adjusted(1, 1, -1, -1));
    const QPoint target = Centre(9);
    SendMouse(QEvent::MouseMove, target, Qt::NoButton, Qt::LeftButton);
    const QRect image = grid().DragImage()->geometry();
    EXPECT_EQ(image.center(),
              grid().PaneRect(2).adjusted(1, 1, -1, -1).center() - Centre(2) + target);
    // The frame of the drag image, over the panes.
    const QImage shot = grid().grab().toImage();
    EXPECT_TRUE(Near(shot.pixelColor(image.left() + 1, image.top() + 1), 150, 80, 80, 3))
        << Describe(shot.pixelColor(image.left() + 1, image.top() + 1));
    SendMouse(QEvent::MouseButtonRelease, target, Qt::LeftButton, Qt::NoButton);
    EXPECT_FALSE(grid().DragImage()->isVisible());
    ASSERT_FALSE(applied.empty());
    EXPECT_TRUE(applied.back().swapped);
    EXPECT_EQ(grid().Layout().ChannelOfSlot(2), 9);
    EXPECT_EQ(grid().Layout().ChannelOfSlot(9), 2);

    // A click that ends where it started swaps nothing.
    const std::size_t reports = applied.size();
    SendMouse(QEvent::MouseButtonPress, Centre(4), Qt::LeftButton, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, Centre(4), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(applied.size(), reports);
    EXPECT_EQ(grid().Layout().ChannelOfSlot(4), 4);

    grid().Arrange();
    EXPECT_TRUE(applied.back().swapped);
    EXPECT_EQ(grid().Layout().ChannelOfSlot(2), 2);
    EXPECT_EQ(grid().Layout().ChannelOfSlot(9), 9);
}

TEST_P(GridLayoutTest, FullScreenCoversTheScreenAndTheKeysLeaveIt) {
    QScreen* screen = window->main->screen();
    grid().SetFullScreen(true);
    ASSERT_TRUE(grid().IsFullScreen());
    EXPECT_TRUE(grid().isWindow());
    EXPECT_EQ(grid().geometry(), screen->geometry());
    ASSERT_NE(grid().Toolbar(), nullptr);
    const QRect s = screen->geometry();
    EXPECT_EQ(grid().Toolbar()->geometry(),
              QRect(s.left() + (s.width() - 401) / 2, s.bottom() + 1 - 44, 401, 44));
    // The toolbar's layout buttons select layouts; its other button leaves.
    auto* four = grid().Toolbar()->findChild<QWidget*>(QStringLiteral("toolbar401"));
    ASSERT_NE(four, nullptr);
    QTest::mouseClick(four, Qt::LeftButton);
    EXPECT_EQ(grid().Layout().Layout(), 1);
    EXPECT_EQ(grid().PaneRect(3).size(), QSize(s.width() / 2 - 3, s.height() - s.height() / 2 - 3));

    QTest::keyClick(&grid(), Qt::Key_Escape);
    EXPECT_FALSE(grid().IsFullScreen());
    EXPECT_FALSE(grid().isWindow());
    EXPECT_EQ(grid().parentWidget(), window->main.get());
    EXPECT_EQ(grid().geometry(), QRect(54, 67, 820, 594));
    EXPECT_EQ(grid().Toolbar(), nullptr);

    grid().SetFullScreen(true);
    SendMouse(QEvent::MouseButtonRelease, QPoint(10, 10), Qt::RightButton, Qt::NoButton);
    EXPECT_FALSE(grid().IsFullScreen());
    grid().SetFullScreen(true);
    QTest::keyClick(&grid(), Qt::Key_Return);
    EXPECT_FALSE(grid().IsFullScreen());
}

TEST_P(GridLayoutTest, PicturesRepaintOnlyTheirPaneAtMostOncePerBatch) {
    window->Settle(300);
    const std::uint64_t total = grid().TotalPaneDraws();
    // An idle grid paints nothing.
    QTest::qWait(400);
    EXPECT_EQ(grid().TotalPaneDraws(), total);

    const std::uint64_t pane3 = grid().PaneDraws(3);
    std::thread decoder([this] {
        for (int i = 0; i < 100; ++i)
            HandOver(views, 3, [](ChannelView& v) { ++v.decodedCount; });
    });
    decoder.join();
    window->Settle(300);
    EXPECT_EQ(grid().PaneDraws(3), pane3 + 1);
    EXPECT_EQ(grid().TotalPaneDraws(), total + 1);
    EXPECT_EQ(grid().PicturesDrawn(3), 1u);

    // A channel on no visible pane costs no paint.
    grid().SelectChannel(0);
    window->Settle(300);
    const std::uint64_t settled = grid().TotalPaneDraws();
    HandOver(views, 7, [](ChannelView&) {});
    window->Settle(300);
    EXPECT_EQ(grid().TotalPaneDraws(), settled);
}

INSTANTIATE_TEST_SUITE_P(DrawModes, GridLayoutTest, ::testing::Values(0, 1),
                         [](const auto& param) { return param.param == 0 ? "Yuv" : "Rgb"; });

}  // namespace
}  // namespace taviro::video::ui
