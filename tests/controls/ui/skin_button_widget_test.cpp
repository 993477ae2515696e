#include "controls/ui/skin_button_widget.h"

#include <QSignalSpy>
#include <QTest>

#include "platform/skin_numbers.h"
#include "platform/ui/qt_owned.h"
#include "skin_widget_fixture.h"

namespace taviro::controls::ui {
namespace {

using platform::ui::Child;
namespace skin = platform::skin;

ButtonPictures Strip(int picture) {
    return ButtonPictures{picture, picture, picture, picture, picture};
}

class SkinButtonWidgetTest : public SkinWidgetTest {
  protected:
    CSkinButtonWidget* Make(std::uint32_t id, ButtonKind kind = ButtonKind::Push,
                            int picture = skin::kPicTextButtonSmall) {
        auto* b = Child<CSkinButtonWidget>(m_parent.get(), id, kind);
        b->SetPictures(Strip(picture));
        return b;
    }
    static QRgb Shown(CSkinButtonWidget* b) { return Centre(b->grab().toImage()); }
    static QPoint Inside(CSkinButtonWidget* b) { return b->rect().center(); }
};

TEST_F(SkinButtonWidgetTest, TakesTheFrameSizeOfItsStrip) {
    CSkinButtonWidget* b = Make(1);
    EXPECT_EQ(b->size(), QSize(64, 22));
    CSkinButtonWidget* min = Make(2, ButtonKind::Push, skin::kPicMinButton);
    min->SetFrameCount(skin::kMinButtonFrames);
    min->SetPictures(Strip(skin::kPicMinButton));
    EXPECT_EQ(min->size(), QSize(16, 13));
}

TEST_F(SkinButtonWidgetTest, ClickEmitsOneCommandAndDragOffCancels) {
    CSkinButtonWidget* b = Make(7);
    Show();
    QSignalSpy clicked(b, &CSkinButtonWidget::Clicked);
    QTest::mouseClick(b, Qt::LeftButton, {}, Inside(b));
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked.at(0).at(0).value<std::uint32_t>(), 7u);

    // Press inside, leave while held, release outside: no click, and the pressed look goes
    // as the pointer leaves.
    QTest::mousePress(b, Qt::LeftButton, {}, Inside(b));
    EXPECT_TRUE(b->Model().ShownPressed());
    EXPECT_EQ(Shown(b), Centre(Frame(skin::kPicTextButtonSmall, 5, 3)));
    QTest::mouseMove(b, QPoint(b->width() + 30, b->height() + 30));
    EXPECT_FALSE(b->Model().ShownPressed());
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(b->width() + 30, b->height() + 30));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(b->Model().Captured());
}

TEST_F(SkinButtonWidgetTest, HoverShowsTheHoverFrameUntilLeave) {
    CSkinButtonWidget* b = Make(3);
    b->move(100, 50);
    Show();
    const QRgb normal = Centre(Frame(skin::kPicTextButtonSmall, 5, 0));
    const QRgb hover = Centre(Frame(skin::kPicTextButtonSmall, 5, 1));
    ASSERT_NE(normal, hover);
    EXPECT_EQ(Shown(b), normal);
    QTest::mouseMove(b, Inside(b));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b->Model().Hover(); }));
    EXPECT_EQ(Shown(b), hover);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(b, &leave);
    EXPECT_FALSE(b->Model().Hover());
    EXPECT_EQ(Shown(b), normal);
}

TEST_F(SkinButtonWidgetTest, SpaceKeyClicksAndTogglesACheckBox) {
    CSkinButtonWidget* b = Make(4, ButtonKind::CheckBox, skin::kPicCheckBox);
    Show();
    QSignalSpy clicked(b, &CSkinButtonWidget::Clicked);
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(b->Check(), 1);
    EXPECT_EQ(Shown(b), Centre(Frame(skin::kPicCheckBox, 5, 3)));
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_EQ(b->Check(), 0);
    // Press and release outside leaves the check as it was.
    QTest::mousePress(b, Qt::LeftButton, {}, Inside(b));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(-20, -20));
    EXPECT_EQ(b->Check(), 0);
    EXPECT_EQ(clicked.count(), 2);
}

TEST_F(SkinButtonWidgetTest, DisabledButtonIgnoresInputAndShowsTheDisabledFrame) {
    CSkinButtonWidget* b = Make(5);
    Show();
    QSignalSpy clicked(b, &CSkinButtonWidget::Clicked);
    b->SetButtonEnabled(false);
    QTest::mouseClick(b, Qt::LeftButton, {}, Inside(b));
    QTest::keyClick(b, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(Shown(b), Centre(Frame(skin::kPicTextButtonSmall, 5, 4)));
    b->SetButtonEnabled(true);
    QTest::mouseClick(b, Qt::LeftButton, {}, Inside(b));
    EXPECT_EQ(clicked.count(), 1);
}

TEST_F(SkinButtonWidgetTest, RadioGroupUnchecksTheOthersThroughTheParent) {
    CButtonGroup group({11, 12, 13, 14});
    std::vector<CSkinButtonWidget*> radios;
    for (std::uint32_t id : group.Members()) {
        CSkinButtonWidget* r = Make(id, ButtonKind::Radio, skin::kPicRadio);
        r->move(static_cast<int>(id - 11) * 30, 0);
        r->Model().SetGroup(&group);
        radios.push_back(r);
    }
    // A button with a member's id under another parent is no sibling: it keeps its check.
    QWidget elsewhere;
    auto* stranger = Child<CSkinButtonWidget>(&elsewhere, 12u, ButtonKind::Radio);
    stranger->SetCheck(1);
    Show();
    QSignalSpy posted(radios[2], &CSkinButtonWidget::Posted);
    radios[0]->SetCheck(1);
    radios[1]->SetCheck(1);
    EXPECT_EQ(radios[0]->Check(), 0);
    QTest::mouseClick(radios[2], Qt::LeftButton, {}, Inside(radios[2]));
    EXPECT_EQ(radios[0]->Check(), 0);
    EXPECT_EQ(radios[1]->Check(), 0);
    EXPECT_EQ(radios[2]->Check(), 1);
    EXPECT_EQ(radios[3]->Check(), 0);
    EXPECT_EQ(Shown(radios[1]), Centre(Frame(skin::kPicRadio, 5, 0)));
    EXPECT_EQ(Shown(radios[2]), Centre(Frame(skin::kPicRadio, 5, 3)));
    EXPECT_EQ(stranger->Check(), 1);
    EXPECT_EQ(posted.count(), 0);  // the requests went to the siblings, not to the parent
}

// The Min button's strip has no focus frame: pressed is its third frame, disabled its
// fourth. Square strips (frame count 0) cut frames as wide as the strip is high.
TEST_F(SkinButtonWidgetTest, FourFrameAndSquareStripsPickTheirFrames) {
    auto* min = Child<CSkinButtonWidget>(m_parent.get(), 377u, ButtonKind::Push);
    min->SetFrameCount(skin::kMinButtonFrames);
    min->SetPictures(Strip(skin::kPicMinButton));
    auto* square = Child<CSkinButtonWidget>(m_parent.get(), 8u, ButtonKind::CheckBox);
    square->SetFrameCount(0);
    square->SetPictures(Strip(skin::kPicCheckBox));
    square->move(50, 50);
    Show();
    EXPECT_EQ(square->size(), QSize(16, 16));
    const auto frameOf = [](int picture, int frames, int i) {
        return Frame(picture, frames, i).convertToFormat(QImage::Format_RGB32);
    };
    // The flat Min strip is transparent when idle; compare where the pressed face shows.
    QTest::mousePress(min, Qt::LeftButton, {}, QPoint(8, 6));
    EXPECT_EQ(Shown(min), Centre(frameOf(skin::kPicMinButton, 4, 2)));
    QTest::mouseRelease(min, Qt::LeftButton, {}, QPoint(8, 6));
    square->SetCheck(1);
    EXPECT_EQ(Shown(square), Centre(frameOf(skin::kPicCheckBox, 0, 3)));
    EXPECT_NE(Centre(frameOf(skin::kPicCheckBox, 0, 3)), Centre(frameOf(skin::kPicCheckBox, 0, 0)));
    square->SetButtonEnabled(false);
    EXPECT_EQ(Shown(square), Centre(frameOf(skin::kPicCheckBox, 0, 4)));
}

TEST_F(SkinButtonWidgetTest, MissingPictureLeavesTheControlBlankAtItsSize) {
    auto* b = Child<CSkinButtonWidget>(m_parent.get(), 9u, ButtonKind::Push);
    b->setGeometry(20, 20, 50, 20);
    b->SetPictures(Strip(9999));
    Show();
    EXPECT_EQ(b->size(), QSize(50, 20));
    const QImage shot = m_parent->grab(b->geometry()).toImage();
    const QRgb background = m_parent->palette().color(QPalette::Window).rgb();
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            ASSERT_EQ(shot.pixel(x, y) | 0xFF000000u, background) << x << "," << y;
    QSignalSpy clicked(b, &CSkinButtonWidget::Clicked);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(25, 10));
    EXPECT_EQ(clicked.count(), 1);  // blank, but still a button
}

}  // namespace
}  // namespace taviro::controls::ui
