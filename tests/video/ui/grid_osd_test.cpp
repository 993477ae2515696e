// The on-screen display as it lands in the pixels: label lines by OSD mode, the
// "Tampered!" mark, the video-loss text by camera flag, status icons, and title fitting
// with the real font.
#include <QFontMetrics>

#include "grid_test_support.h"

namespace taviro::video::ui {
namespace {

using namespace testing;

bool IsGreen(QColor c) {
    return c.green() > 180 && c.red() < 90 && c.blue() < 90;
}
bool IsCyan(QColor c) {
    return c.green() > 180 && c.blue() > 180 && c.red() < 90;
}
bool IsYellow(QColor c) {
    return c.red() > 200 && c.green() > 200 && c.blue() < 90;
}
bool IsRed(QColor c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
}

class GridOsdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        views.SetViewMode(ViewMode::Live);
        window = std::make_unique<GridWindow>(views, 1);
        grid().SetAvailableChannels(protocol::kAllChannels);
        GridStatus status;
        status.session = true;
        grid().SetStatus(status);
        ASSERT_TRUE(window->Show());
    }
    CChannelGrid& grid() { return *window->grid; }
    // A 704 x 480 picture of bytes 0x30 in the grid's picture format.
    platform::PictureRef GreyPicture() {
        auto picture = std::make_shared<platform::CPackedPicture>(704, 480, grid().PictureFormat());
        std::memset(picture->Data(), 0x30, picture->Size());
        return picture;
    }

    // A dark grey picture with what both label lines tell, as the decoder leaves it for
    // channel 0.
    void ShowLabelledPicture(int integrity = -1) {
        const std::uint64_t before = grid().PicturesDrawn(0);
        HandOver(views, 0, [&](ChannelView& v) {
            v.width = 704;
            v.height = 480;
            v.frame = GreyPicture();
            v.title = "CAM1";  // line 1 "CAM1 720x480"
            v.labelMode = ViewMode::Live;
            v.frameRate = 25;  // line 2 "LIVE  25"
            v.integrity = integrity;
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return grid().PicturesDrawn(0) > before; }, 5000));
    }
    QRect Line1Area(int slot) const {
        const QRect p = window->grid->PaneRect(slot);
        return QRect(p.left() + 7, p.top() + 3, 100, 18);
    }
    // Under the title line, where the statistics lines go.
    QRect StatsArea(int slot) const {
        const QRect p = window->grid->PaneRect(slot);
        return QRect(p.left() + 6, p.top() + 24, p.width() - 12, 60);
    }
    QRect Line2Area(int slot) const {
        const QRect p = window->grid->PaneRect(slot);
        return QRect(p.left() + 7, p.top() + p.height() - 22, 80, 18);
    }

    CChannelViews views;
    std::unique_ptr<GridWindow> window;
};

TEST_F(GridOsdTest, LabelLinesFollowTheOsdMode) {
    struct Case {
        int mode;
        bool line1, line2, stats;
    };
    // The OSD button cycles 0 -> 1 -> 2 -> 3 (statistics under the title) -> 0.
    for (const Case c : {Case{1, true, false, false}, Case{2, false, false, false},
                         Case{3, true, false, true}, Case{0, true, true, false}}) {
        SCOPED_TRACE(c.mode);
        grid().CycleOsdMode();
        ASSERT_EQ(views.OsdMode(), c.mode);
        ShowLabelledPicture();
        const QImage image = grid().GrabPanes();
        EXPECT_EQ(CountPixels(image, Line1Area(0), IsGreen) > 10, c.line1);
        EXPECT_EQ(CountPixels(image, Line2Area(0), IsCyan) > 10, c.line2);
        EXPECT_EQ(CountPixels(image, StatsArea(0), IsYellow) > 10, c.stats);
        // The picture itself shows between the lines.
        const QRect pane = grid().PaneRect(0);
        EXPECT_TRUE(Near(image.pixelColor(pane.center()), 0x30, 0x30, 0x30, 2));
    }
}

TEST_F(GridOsdTest, APictureCountsAsShownOnceHoweverOftenItIsPainted) {
    ShowLabelledPicture();
    const std::uint64_t shown = grid().PicturesShown(0);
    EXPECT_GE(shown, 1u);
    const std::uint64_t drawn = grid().PicturesDrawn(0);
    grid().RepaintAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid().PicturesDrawn(0) > drawn; }, 5000));
    EXPECT_EQ(grid().PicturesShown(0), shown) << "a repaint shows no new picture";
    ShowLabelledPicture();
    EXPECT_EQ(grid().PicturesShown(0), shown + 1);
}

TEST_F(GridOsdTest, TamperedMarkOnlyInLocalPlaybackForTamperedChannels) {
    views.SetViewMode(ViewMode::LocalPlayback);
    grid().SetOsdMode(2);  // the mark does not depend on the OSD mode
    GridStatus status;
    status.session = false;
    grid().SetStatus(status);
    const QRect pane = grid().PaneRect(0);
    const QRect middle(pane.left(), pane.center().y() - pane.width() / 16, pane.width(),
                       pane.width() / 8);
    ShowLabelledPicture(2);
    EXPECT_GT(CountPixels(grid().GrabPanes(), middle, IsRed), 30);
    ShowLabelledPicture(1);
    EXPECT_EQ(CountPixels(grid().GrabPanes(), middle, IsRed), 0);
    views.SetViewMode(ViewMode::Live);
    ShowLabelledPicture(2);
    EXPECT_EQ(CountPixels(grid().GrabPanes(), middle, IsRed), 0);
}

TEST_F(GridOsdTest, VideoLossTextOnlyWhenTheCameraFlagIsSet) {
    GridPictures pictures;
    pictures.videoLoss = Solid(720, 480, QColor(0, 0, 160));
    pictures.idle = Solid(720, 480, QColor(90, 90, 90));
    grid().SetPictures(pictures);
    GridStatus status;
    status.session = true;
    status.videoLoss = protocol::ChannelBit(2);
    status.cameraFlags[2] = 1;
    grid().SetStatus(status);
    window->Settle();
    QImage image = grid().GrabPanes();
    // Channel 2 (slot 2 in the 16-pane layout) shows the video-loss picture and its text;
    // channel 1 the idle picture without text.
    EXPECT_TRUE(Near(image.pixelColor(grid().PaneRect(2).center()), 0, 0, 160, 4));
    EXPECT_TRUE(Near(image.pixelColor(grid().PaneRect(1).center()), 90, 90, 90, 4));
    // "CH3  Video Loss" is wider than "CH3": mode 0 reaches further right than mode 1.
    const QRect p = grid().PaneRect(2);
    const QRect far(p.left() + 60, p.top() + 3, 80, 18);
    EXPECT_GT(CountPixels(image, Line1Area(2), IsGreen), 10);
    EXPECT_GT(CountPixels(image, far, IsGreen), 10);
    EXPECT_EQ(CountPixels(image, Line1Area(1), IsGreen), 0);

    grid().SetOsdMode(1);
    window->Settle();
    image = grid().GrabPanes();
    EXPECT_GT(CountPixels(image, Line1Area(2), IsGreen), 10);
    EXPECT_EQ(CountPixels(image, far, IsGreen), 0);

    grid().SetOsdMode(0);
    status.cameraFlags[2] = 0;
    grid().SetStatus(status);
    window->Settle();
    image = grid().GrabPanes();
    EXPECT_EQ(CountPixels(image, Line1Area(2), IsGreen), 0);
    EXPECT_TRUE(Near(image.pixelColor(grid().PaneRect(2).center()), 0, 0, 160, 4));
}

TEST_F(GridOsdTest, AudioIconNeedsAnOutputDeviceAndDrawsThroughItsMask) {
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::black);
    QImage mask(16, 16, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (int y = 4; y < 12; ++y)
        for (int x = 4; x < 12; ++x) {
            image.setPixelColor(x, y, QColor(255, 0, 255));
            mask.setPixelColor(x, y, Qt::black);
        }
    GridPictures pictures;
    pictures.audio[0] = MaskedIcon(image, mask);
    grid().SetPictures(pictures);
    auto iconArea = [&] {
        const QRect p = grid().PaneRect(0);
        // Behind line 2 ("LIVE  00", 8 label characters of 10 pixels) and 45 pixels more.
        return QRect(p.left() + 125, p.top() + p.height() - 18, 16, 16);
    };
    auto magenta = [](QColor c) { return c.red() > 240 && c.blue() > 240 && c.green() < 20; };
    auto show = [&](bool output) {
        GridStatus status = grid().Status();
        status.audioOutput = output;
        grid().SetStatus(status);
        const std::uint64_t before = grid().PicturesDrawn(0);
        HandOver(views, 0, [&](ChannelView& v) {
            v.width = 704;
            v.height = 480;
            v.frame = GreyPicture();
            v.audioIcon = 0;
            v.labelMode = ViewMode::Live;
            v.frameRate = 0;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return grid().PicturesDrawn(0) > before; }, 5000));
        return grid().GrabPanes();
    };
    QImage shot = show(true);
    EXPECT_EQ(CountPixels(shot, iconArea(), magenta), 64);
    // Where the mask is white the picture shows through.
    const QRect area = iconArea();
    EXPECT_TRUE(Near(shot.pixelColor(area.topLeft()), 0x30, 0x30, 0x30, 2));
    shot = show(false);
    EXPECT_EQ(CountPixels(shot, iconArea(), magenta), 0);
}

TEST_F(GridOsdTest, TitlesAreFittedWithTheRealFont) {
    const std::string title(36, 'W');
    const std::string fitted = views.FitTitle(title, 200);
    ASSERT_GE(fitted.size(), 3u);
    EXPECT_EQ(fitted.substr(fitted.size() - 3), "...");
    const std::string kept = fitted.substr(0, fitted.size() - 3);
    const QFontMetrics metrics(OsdFont());
    EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(kept)), 105);
    EXPECT_GT(metrics.horizontalAdvance(QString::fromStdString(kept + "W")), 105);
    // A proportional font: narrow letters fit more of them than wide ones.
    EXPECT_GT(views.FitTitle(std::string(36, 'i'), 200).size(), fitted.size());
    EXPECT_EQ(views.FitTitle("CAM", 200), "CAM");
    EXPECT_EQ(views.FitTitle("CAM", 90), "...");
}

TEST_F(GridOsdTest, PaneWidthsFollowTheLayout) {
    EXPECT_EQ(views.Channel(5).paneWidth, grid().PaneRect(5).width());
    grid().SelectChannel(5);
    std::lock_guard lock(views.Channel(5).lock);
    EXPECT_EQ(views.Channel(5).paneWidth, 816);
}

TEST_F(GridOsdTest, PlaybackIconFollowsTheSpeedCode) {
    // A 2-pixel magenta bar stands for every playback icon: the columns it lands on tell
    // which icon went where.
    QImage bar(16, 16, QImage::Format_ARGB32);
    bar.fill(Qt::transparent);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 2; ++x)
            bar.setPixelColor(x, y, QColor(255, 0, 255));
    GridPictures pictures;
    pictures.forwardSlice = bar;
    pictures.backwardSlice = bar;
    pictures.play = bar;
    pictures.stepForward = bar;
    grid().SetPictures(pictures);
    views.SetViewMode(ViewMode::RemotePlayback);
    grid().SelectChannel(0);  // a pane wider than 190 pixels
    auto columns = [&](int speed) {
        GridStatus status = grid().Status();
        status.playerSpeed = speed;
        grid().SetStatus(status);
        ShowLabelledPicture();
        const QImage shot = grid().GrabPanes();
        const QRect p = grid().PaneRect(0);
        std::vector<int> found;
        for (int x = 100; x < 200; ++x) {
            const QColor c = shot.pixelColor(p.left() + x, p.top() + p.height() - 10);
            if (c.red() > 240 && c.blue() > 240 && c.green() < 20)
                found.push_back(x);
        }
        return found;
    };
    EXPECT_EQ(columns(1), (std::vector<int>{117, 118}));
    EXPECT_EQ(columns(3), (std::vector<int>{117, 118, 124, 125, 131, 132}));
    EXPECT_EQ(columns(-2), (std::vector<int>{117, 118, 124, 125}));
    EXPECT_EQ(columns(10), (std::vector<int>{121, 122}));
    EXPECT_TRUE(columns(7).empty());
    // Live view shows no playback icon.
    views.SetViewMode(ViewMode::Live);
    EXPECT_TRUE(columns(1).empty());
}

TEST_F(GridOsdTest, FrameRateTickCountsOverTwoSecondsAndAPausedPaneFallsToZero) {
    HandOver(views, 4, [](ChannelView& v) { v.labelMode = ViewMode::LocalPlayback; });
    for (int i = 0; i < 25; ++i)
        HandOver(views, 4, [](ChannelView& v) { ++v.decodedCount; });
    const auto line2 = [&] {
        std::lock_guard lock(views.Channel(4).lock);
        return MakePaneTexts(views.Channel(4), views.OsdMode(), views).line2;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::lock_guard lock(views.Channel(4).lock);
            return views.Channel(4).decodedCount == 0;
        },
        5000));
    {
        std::lock_guard lock(views.Channel(4).lock);
        EXPECT_EQ(views.Channel(4).frameRate, 13);
        EXPECT_EQ(views.Channel(5).frameRate, 0);
    }
    EXPECT_EQ(line2(), "L-PLAY  13");
    // No picture follows (a paused playback): the next tick changes the line by itself and
    // paints the pane again.
    const std::uint64_t draws = grid().PaneDraws(4);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return line2() == "L-PLAY  00" && grid().PaneDraws(4) > draws; }, 5000))
        << line2();
}

TEST(GridPictureHelpers, ColourRefsAreBlueGreenRed) {
    EXPECT_EQ(FromColorRef(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(FromColorRef(0xFFFF00), QColor(0, 255, 255));
    EXPECT_EQ(FromColorRef(kDragFrameColour), QColor(150, 80, 80));
}

}  // namespace
}  // namespace taviro::video::ui
