#include "controls/skin_slider.h"

#include <gtest/gtest.h>

#include <vector>

#include "controls/control_events.h"
#include "platform/message_sink.h"

namespace taviro::controls {
namespace {

using controls::WM_SLIDER_BEGIN;
using controls::WM_SLIDER_END;
using controls::WM_SLIDER_MOVE;

ControlPost Msg(std::uint32_t message, std::int64_t pos) {
    return ControlPost{Recipient::Parent, 0, message, 420, pos};
}

// 200 x 20 control, 10 x 16 thumb, margins 5/5/2/2: the thumb centre runs over
// 10..190 and the usable span is 200 - 5 - 10 - 5 = 180 pixels.
CSkinSlider Horizontal(int minimum, int maximum) {
    CSkinSlider s(420);
    s.SetSize(200, 20);
    s.SetThumbSize(10, 16);
    s.SetMargins(SliderMargins{5, 5, 2, 2});
    EXPECT_TRUE(s.SetRange(minimum, maximum));
    return s;
}

TEST(SkinSliderGeometry, HorizontalPixelAndValue) {
    CSkinSlider s = Horizontal(0, 100);
    // 5 + 180 * v / 100 + 5, truncated.
    EXPECT_EQ(s.PixelOfValue(0), 10);
    EXPECT_EQ(s.PixelOfValue(1), 11);   // 1.8 -> 1
    EXPECT_EQ(s.PixelOfValue(33), 69);  // 59.4 -> 59
    EXPECT_EQ(s.PixelOfValue(50), 100);
    EXPECT_EQ(s.PixelOfValue(100), 190);
    // (p - 5 - 5) / 180 * 100, truncated.
    EXPECT_EQ(s.ValueOfPixel(10), 0);
    EXPECT_EQ(s.ValueOfPixel(69), 32);  // 32.77 -> 32
    EXPECT_EQ(s.ValueOfPixel(100), 50);
    EXPECT_EQ(s.ValueOfPixel(190), 100);

    EXPECT_EQ(s.TrackRect(), (Rect{5, 2, 190, 16}));
    s.SetPosition(50);
    EXPECT_EQ(s.ThumbRect(), (Rect{95, 2, 10, 16}));
}

TEST(SkinSliderGeometry, NegativeRangeTruncatesTowardZero) {
    CSkinSlider s = Horizontal(-50, 50);
    EXPECT_EQ(s.PixelOfValue(-50), 10);
    EXPECT_EQ(s.PixelOfValue(-49), 11);
    EXPECT_EQ(s.PixelOfValue(0), 100);
    // One pixel left of the start: -1 * 100 / 180 = -0.55 truncates to 0, not -1.
    EXPECT_EQ(s.ValueOfPixel(9), -50);
    EXPECT_EQ(s.ValueOfPixel(11), -50);
    EXPECT_EQ(s.ValueOfPixel(12), -49);  // 2 * 100 / 180 = 1.1
}

TEST(SkinSliderGeometry, VerticalUsesTopBottomAndHeight) {
    CSkinSlider s(421, Orientation::Vertical);
    s.SetSize(20, 120);
    s.SetThumbSize(20, 8);
    s.SetMargins(SliderMargins{0, 0, 4, 6});
    ASSERT_TRUE(s.SetRange(0, 10));
    // 4 + (120 - 6 - 8 - 4) * v / 10 + 4 = 8 + 10.2 v.
    EXPECT_EQ(s.PixelOfValue(0), 8);
    EXPECT_EQ(s.PixelOfValue(3), 38);
    EXPECT_EQ(s.PixelOfValue(10), 110);
    EXPECT_EQ(s.ValueOfPixel(38), 2);  // 30 / 102 * 10 = 2.94
    EXPECT_EQ(s.ValueOfPixel(110), 10);
    s.SetPosition(3);
    EXPECT_EQ(s.ThumbRect(), (Rect{0, 34, 20, 8}));
    // The pointer's x does not matter for a vertical slider.
    Reaction r = s.OnButtonDown(Point{500, 110});
    EXPECT_EQ(s.Position(), 10);
    EXPECT_EQ(r.posts.size(), 2u);
}

TEST(SkinSliderGeometry, DegenerateSizesDoNotDivideByZero) {
    CSkinSlider s(420);
    s.SetSize(10, 10);
    s.SetThumbSize(10, 10);
    ASSERT_TRUE(s.SetRange(5, 5));
    EXPECT_EQ(s.PixelOfValue(5), 5);
    EXPECT_EQ(s.ValueOfPixel(7), 5);
    ASSERT_TRUE(s.SetRange(0, 9));
    EXPECT_EQ(s.ValueOfPixel(7), 0);  // no span at all
    EXPECT_EQ(s.Position(), 5);       // kept from the old range, which still fits
    // No room to move: a press begins a drag but cannot move the thumb.
    EXPECT_EQ(s.OnButtonDown(Point{3, 3}).posts.size(), 1u);
    EXPECT_EQ(s.Position(), 5);
}

TEST(SkinSliderRange, PositionIsClampedAndBadRangeRefused) {
    CSkinSlider s = Horizontal(0, 100);
    s.SetPosition(150);
    EXPECT_EQ(s.Position(), 100);
    s.SetPosition(-3);
    EXPECT_EQ(s.Position(), 0);
    EXPECT_FALSE(s.SetRange(10, 5));
    EXPECT_EQ(s.Maximum(), 100);
    s.SetPosition(80);
    EXPECT_TRUE(s.SetRange(0, 40));
    EXPECT_EQ(s.Position(), 40);
}

TEST(SkinSliderDrag, ClickOnTrackJumpsThenBeginsThenEnds) {
    CSkinSlider s = Horizontal(0, 1000);
    Reaction down = s.OnButtonDown(Point{145, 10});
    // Far from the thumb at pixel 10: no grab offset, centre under the pointer.
    EXPECT_EQ(s.GrabOffset(), 0);
    EXPECT_EQ(s.Position(), 750);  // 135 * 1000 / 180
    EXPECT_EQ(s.PixelOfValue(s.Position()), 145);
    EXPECT_EQ(down.capture, CaptureChange::Take);
    EXPECT_TRUE(down.takeFocus);
    EXPECT_TRUE(down.repaint);
    EXPECT_EQ(down.posts, (std::vector{Msg(controls::WM_SLIDER_MOVE, 750),
                                       Msg(controls::WM_SLIDER_BEGIN, 750)}));
    EXPECT_TRUE(s.Dragging());

    Reaction up = s.OnButtonUp(Point{145, 10});
    EXPECT_EQ(up.capture, CaptureChange::Release);
    EXPECT_EQ(up.posts, (std::vector{Msg(controls::WM_SLIDER_END, 750)}));
    EXPECT_FALSE(s.Dragging());
}

TEST(SkinSliderDrag, GrabbingTheThumbKeepsTheOffset) {
    CSkinSlider s = Horizontal(0, 1000);
    s.SetPosition(500);  // centre 100
    Reaction down = s.OnButtonDown(Point{103, 10});
    EXPECT_EQ(s.GrabOffset(), 3);
    EXPECT_EQ(down.posts, (std::vector{Msg(controls::WM_SLIDER_BEGIN, 500)}));

    Reaction m1 = s.OnMouseMove(Point{113, 0});  // target 110 -> 100 * 1000 / 180
    EXPECT_EQ(m1.posts, (std::vector{Msg(controls::WM_SLIDER_MOVE, 555)}));
    Reaction m2 = s.OnMouseMove(Point{114, 40});  // target 111; y is ignored
    EXPECT_EQ(m2.posts, (std::vector{Msg(controls::WM_SLIDER_MOVE, 561)}));

    // Beyond either end the target sticks to the end pixels 190 and 10.
    EXPECT_EQ(s.OnMouseMove(Point{900, 0}).posts,
              (std::vector{Msg(controls::WM_SLIDER_MOVE, 1000)}));
    EXPECT_TRUE(s.OnMouseMove(Point{950, 0}).posts.empty());
    EXPECT_EQ(s.OnMouseMove(Point{-900, 0}).posts, (std::vector{Msg(controls::WM_SLIDER_MOVE, 0)}));

    EXPECT_EQ(s.OnButtonUp(Point{0, 0}).posts, (std::vector{Msg(controls::WM_SLIDER_END, 0)}));
    // No drag any more: moves and a second release say nothing.
    EXPECT_TRUE(s.OnMouseMove(Point{150, 0}).posts.empty());
    EXPECT_TRUE(s.OnButtonUp(Point{150, 0}).posts.empty());
    EXPECT_EQ(s.Position(), 0);
}

TEST(SkinSliderDrag, PixelStepInsideTheSameValuePostsNoMove) {
    CSkinSlider s = Horizontal(0, 10);
    s.SetPosition(5);  // centre 100; each value covers 18 pixels
    EXPECT_EQ(s.OnButtonDown(Point{100, 5}).posts,
              (std::vector{Msg(controls::WM_SLIDER_BEGIN, 5)}));
    Reaction same = s.OnMouseMove(Point{101, 5});
    EXPECT_TRUE(same.posts.empty());
    EXPECT_FALSE(same.repaint);
    EXPECT_EQ(s.Position(), 5);
    EXPECT_EQ(s.OnMouseMove(Point{118, 5}).posts, (std::vector{Msg(controls::WM_SLIDER_MOVE, 6)}));
}

TEST(SkinSliderDrag, DisabledSliderIgnoresTheMouse) {
    CSkinSlider s = Horizontal(0, 100);
    s.SetEnabled(false);
    Reaction down = s.OnButtonDown(Point{150, 5});
    EXPECT_TRUE(down.posts.empty());
    EXPECT_EQ(down.capture, CaptureChange::None);
    EXPECT_FALSE(s.Dragging());
    EXPECT_EQ(s.Position(), 0);

    // Disabled in the middle of a drag: the capture goes, later events are ignored.
    s.SetEnabled(true);
    s.OnButtonDown(Point{10, 5});
    Reaction off = s.SetEnabled(false);
    EXPECT_EQ(off.capture, CaptureChange::Release);
    EXPECT_TRUE(s.OnMouseMove(Point{150, 5}).posts.empty());
    EXPECT_TRUE(s.OnButtonUp(Point{150, 5}).posts.empty());
    EXPECT_EQ(s.Position(), 0);
}

}  // namespace
}  // namespace taviro::controls
