#include "controls/ui/skin_slider_widget.h"

#include <QSignalSpy>
#include <QTest>

#include "controls/control_events.h"
#include "platform/message_sink.h"
#include "platform/skin_numbers.h"
#include "platform/ui/qt_owned.h"
#include "skin_widget_fixture.h"

namespace taviro::controls::ui {
namespace {

using platform::ui::Child;

struct Message {
    std::uint32_t message;
    std::uint32_t id;
    int position;
    friend bool operator==(const Message&, const Message&) = default;
};

std::vector<Message> Messages(const QSignalSpy& spy) {
    std::vector<Message> out;
    for (const QList<QVariant>& args : spy)
        out.push_back(Message{args.at(0).value<std::uint32_t>(), args.at(1).value<std::uint32_t>(),
                              args.at(2).toInt()});
    return out;
}

class SkinSliderWidgetTest : public SkinWidgetTest {};

// A 200 px slider over 0..100 with the pack's 11 px thumb: the thumb centre of value v is
// 189 * v / 100 + 5, and pixel p means (p - 5) * 100 / 189.
TEST_F(SkinSliderWidgetTest, DragPostsBeginMovesAndEndWithThePositions) {
    auto* s = Child<CSkinSliderWidget>(m_parent.get(), 420u, Orientation::Horizontal);
    s->setGeometry(10, 10, 200, 16);
    s->SetRange(0, 100);
    s->SetPosition(50);
    Show();
    ASSERT_EQ(s->Model().ThumbRect().width, 11);
    ASSERT_EQ(s->Model().PixelOfValue(50), 99);
    QSignalSpy spy(s, &CSkinSliderWidget::SliderMessage);
    QTest::mousePress(s, Qt::LeftButton, {}, QPoint(99, 8));  // on the thumb
    QTest::mouseMove(s, QPoint(150, 8));
    QTest::mouseMove(s, QPoint(150, 3));  // across the axis only: no message
    QTest::mouseMove(s, QPoint(260, 8));  // past the end: clamped to the last pixel
    QTest::mouseRelease(s, Qt::LeftButton, {}, QPoint(260, 8));
    const std::vector<Message> expected = {
        {controls::WM_SLIDER_BEGIN, 420, 50},
        {controls::WM_SLIDER_MOVE, 420, 76},  // (150 - 5) * 100 / 189
        {controls::WM_SLIDER_MOVE, 420, 100},
        {controls::WM_SLIDER_END, 420, 100},
    };
    EXPECT_EQ(Messages(spy), expected);
    EXPECT_EQ(s->Position(), 100);
    EXPECT_FALSE(s->Model().Dragging());
}

TEST_F(SkinSliderWidgetTest, TrackClickJumpsAndDrawsTheThumbThere) {
    auto* s = Child<CSkinSliderWidget>(m_parent.get(), 421u, Orientation::Vertical);
    s->setGeometry(10, 10, 16, 200);
    s->SetRange(0, 100);
    Show();
    QSignalSpy spy(s, &CSkinSliderWidget::SliderMessage);
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(8, 150));
    const std::vector<Message> expected = {
        {controls::WM_SLIDER_MOVE, 421, 76},
        {controls::WM_SLIDER_BEGIN, 421, 76},
        {controls::WM_SLIDER_END, 421, 76},
    };
    EXPECT_EQ(Messages(spy), expected);
    // The thumb is painted where the model says.
    const Rect t = s->Model().ThumbRect();
    const QImage shot = s->grab().toImage();
    const QImage thumb = platform::ui::Skin().Image(platform::skin::kPicSliderThumbV);
    EXPECT_EQ(shot.pixel(t.left + t.width / 2, t.top + 1) | 0xFF000000u,
              thumb.pixel(t.width / 2, 1) | 0xFF000000u);
}

TEST_F(SkinSliderWidgetTest, DisabledSliderIgnoresTheMouse) {
    auto* s = Child<CSkinSliderWidget>(m_parent.get(), 421u, Orientation::Horizontal);
    s->setGeometry(10, 10, 200, 16);
    Show();
    s->SetSliderEnabled(false);
    QSignalSpy spy(s, &CSkinSliderWidget::SliderMessage);
    QTest::mouseClick(s, Qt::LeftButton, {}, QPoint(150, 8));
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(s->Position(), 0);
    s->SetSliderEnabled(true);
    s->SetPosition(500);  // clamped
    EXPECT_EQ(s->Position(), 100);
}

}  // namespace
}  // namespace taviro::controls::ui
