// Both renderers draw the simulator's pictures as the real decoder delivers them: a picture
// of four colour blocks inside a black frame is encoded, decoded into the view in the
// renderer's format, drawn in the 1-pane layout and read back. The block centres must show
// the blocks' colours; the frame must be trimmed away (YUV) or mostly away (RGB).
#include <QOpenGLContext>
#include <algorithm>
#include <cmath>

#include "grid_test_support.h"
#include "video/ui/yuv_renderer.h"

namespace taviro::video::ui {
namespace {

using namespace testing;

struct Yuv {
    std::uint8_t y, u, v;
};
// Red, green, blue and light grey in limited-range YUV.
constexpr std::array<Yuv, 4> kBlocks = {
    {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {180, 128, 128}}};
constexpr int kW = 704;
constexpr int kH = 480;

// BT.601 limited range.
QColor ExpectedRgb(const Yuv& c) {
    const double y = 1.164383 * (c.y - 16);
    const double u = c.u - 128.0;
    const double v = c.v - 128.0;
    auto clamp = [](double x) { return static_cast<int>(std::lround(std::clamp(x, 0.0, 255.0))); };
    return QColor(clamp(y + 1.596027 * v), clamp(y - 0.391762 * u - 0.812968 * v),
                  clamp(y + 2.017232 * u));
}

// Blocks in the quadrants of the inner rectangle (12, 12)-(w - 12, h - 8); black outside.
sim::YuvPicture BlockPicture() {
    sim::YuvPicture p = sim::YuvPicture::Filled(kW, kH, 16, 128, 128);
    for (int y = 12; y < kH - 8; ++y) {
        for (int x = 12; x < kW - 12; ++x) {
            const int block = (x < kW / 2 ? 0 : 1) + (y < kH / 2 ? 0 : 2);
            const Yuv& c = kBlocks[static_cast<std::size_t>(block)];
            p.y[static_cast<std::size_t>(y * kW + x)] = c.y;
            if (x % 2 == 0 && y % 2 == 0) {
                const auto ci = static_cast<std::size_t>((y / 2) * (kW / 2) + x / 2);
                p.u[ci] = c.u;
                p.v[ci] = c.v;
            }
        }
    }
    return p;
}

class GridRenderTest : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (GetParam() == 0 && !OpenGlAvailable())
            GTEST_SKIP() << "no OpenGL context on this display";
        views.SetViewMode(ViewMode::Live);
        window = std::make_unique<GridWindow>(views, GetParam());
        window->grid->SetAvailableChannels(protocol::kAllChannels);
        GridStatus status;
        status.session = true;
        window->grid->SetStatus(status);
        window->grid->SelectChannel(0);  // the 1-pane layout
        ASSERT_TRUE(window->Show());
    }
    // Decodes the block picture into channel 0 and waits until the pane shows it.
    void ShowBlocks() {
        const std::uint64_t before = window->grid->PicturesDrawn(0);
        ASSERT_TRUE(DecodeIntoView(views, 0, window->grid->PictureFormat(), BlockPicture()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window->grid->PicturesDrawn(0) > before; }, 5000));
    }

    CChannelViews views;
    std::unique_ptr<GridWindow> window;
};

TEST_P(GridRenderTest, RendererMatchesDrawModeAndDecoderFormat) {
    CChannelGrid& grid = *window->grid;
    if (GetParam() == 0) {
        EXPECT_EQ(grid.Renderer(), RendererKind::Yuv);
        EXPECT_EQ(grid.PictureFormat(), platform::kH264FormatYuv420);
    } else {
        EXPECT_EQ(grid.Renderer(), RendererKind::Rgb);
        EXPECT_EQ(grid.PictureFormat(), platform::kH264FormatRgb24);
    }
}

TEST_P(GridRenderTest, BlockCentresShowTheirColours) {
    ShowBlocks();
    CChannelGrid& grid = *window->grid;
    const QImage image = grid.GrabPanes();
    const QRect pane = grid.PaneRect(0);
    ASSERT_EQ(pane, QRect(2, 2, 816, 590));
    ASSERT_EQ(image.size(), grid.size());
    const std::array<QPoint, 4> centres = {
        QPoint(pane.left() + pane.width() / 4, pane.top() + pane.height() / 4),
        QPoint(pane.left() + 3 * pane.width() / 4, pane.top() + pane.height() / 4),
        QPoint(pane.left() + pane.width() / 4, pane.top() + 3 * pane.height() / 4),
        QPoint(pane.left() + 3 * pane.width() / 4, pane.top() + 3 * pane.height() / 4)};
    for (std::size_t i = 0; i < 4; ++i) {
        const QColor want = ExpectedRgb(kBlocks[i]);
        const QColor got = image.pixelColor(centres[i]);
        EXPECT_TRUE(Near(got, want.red(), want.green(), want.blue(), 10))
            << "block " << i << " got " << Describe(got) << " want " << Describe(want);
    }
    // Outside the pane: the grid's background.
    EXPECT_TRUE(Near(image.pixelColor(0, 0), 150, 150, 150, 2)) << Describe(image.pixelColor(0, 0));
}

// Two recorders of four channels in one grid: a picture of the second recorder's channel 2
// is the grid's channel 6, drawn in that pane only; when that recorder is lost its panes
// say so while the first recorder's keep their pictures.
TEST_P(GridRenderTest, SecondRecordersPictureLandsInItsOwnPane) {
    CChannelGrid& grid = *window->grid;
    CChannelViews second;
    second.SetViewMode(ViewMode::Live);
    second.SetAvailableMask(0xF);
    views.SetAvailableMask(0xF);
    grid.SetSite({SiteRecorder{1, &views, 4}, SiteRecorder{2, &second, 4}});
    grid.SetChannelCount(8);
    grid.SetAvailableChannels(0xFF);
    grid.SelectLayout(6);  // 9 panes: channels 0..7 on one page
    ASSERT_EQ(grid.Layout().VisibleChannels() & 0xFF, 0xFFu);
    EXPECT_EQ(second.Listener() != nullptr && views.Listener() != nullptr, true);

    const std::uint64_t before = grid.PicturesDrawn(6);
    ASSERT_TRUE(DecodeIntoView(second, 2, grid.PictureFormat(), BlockPicture()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.PicturesDrawn(6) > before; }, 5000));
    EXPECT_EQ(grid.PicturesDrawn(2), 0u);  // the first recorder's channel 2 has no picture
    const QImage image = grid.GrabPanes();
    const QRect pane = grid.PaneRect(grid.Layout().SlotOfChannel(6));
    const QColor red = ExpectedRgb(kBlocks[0]);
    const QColor got =
        image.pixelColor(pane.left() + pane.width() / 4, pane.top() + pane.height() / 4);
    EXPECT_TRUE(Near(got, red.red(), red.green(), red.blue(), 12)) << Describe(got);

    GridStatus status = grid.Status();
    status.recorders = {PaneRecorder{"Gate", "", true},
                        PaneRecorder{"Yard", "reconnecting in 4 s", false}};
    grid.SetStatus(status);
    std::vector<PanePlan> plans = grid.Plan();
    for (const PanePlan& plan : plans) {
        EXPECT_EQ(plan.views == nullptr, plan.channel < 0 || plan.channel >= 8) << plan.channel;
        if (plan.views == nullptr)
            continue;
        EXPECT_EQ(plan.place, plan.channel / 4);
        EXPECT_EQ(plan.recorderChannel, plan.channel % 4);
        EXPECT_EQ(plan.kind == PaneKind::Lost, plan.channel >= 4) << plan.channel;
    }
    // The second recorder's views are let go when the grid shows the first one alone.
    grid.SetSite({SiteRecorder{1, &views, 4}});
    EXPECT_EQ(second.Listener(), nullptr);
    EXPECT_NE(views.Listener(), nullptr);
}

TEST_P(GridRenderTest, EdgesAreTrimmedAsTheRendererDoes) {
    ShowBlocks();
    CChannelGrid& grid = *window->grid;
    const QImage image = grid.GrabPanes();
    const QRect pane = grid.PaneRect(0);
    const QColor red = ExpectedRgb(kBlocks[0]);
    const QColor blue = ExpectedRgb(kBlocks[2]);
    const QColor corner = image.pixelColor(pane.left() + 1, pane.top() + 1);
    const QColor bottomLeft = image.pixelColor(pane.left() + 1, pane.bottom() - 1);
    if (GetParam() == 0) {
        // The inner rectangle (12, 12)-(w - 12, h - 8) fills the pane: no black frame.
        EXPECT_TRUE(Near(corner, red.red(), red.green(), red.blue(), 24)) << Describe(corner);
        EXPECT_TRUE(Near(bottomLeft, blue.red(), blue.green(), blue.blue(), 24))
            << Describe(bottomLeft);
    } else {
        // From (6, 6), 693 x 470: six source pixels of the frame show at the top left
        // (about seven pane pixels), four at the bottom.
        EXPECT_TRUE(Near(corner, 0, 0, 0, 12)) << Describe(corner);
        EXPECT_TRUE(Near(bottomLeft, 0, 0, 0, 12)) << Describe(bottomLeft);
        const QColor inside = image.pixelColor(pane.left() + 20, pane.top() + 20);
        EXPECT_TRUE(Near(inside, red.red(), red.green(), red.blue(), 10)) << Describe(inside);
    }
}

TEST_P(GridRenderTest, RepaintWithoutNewPictureDrawsTheSamePicture) {
    ShowBlocks();
    CChannelGrid& grid = *window->grid;
    const QImage first = grid.GrabPanes();
    auto* yuv = grid.findChild<CYuvRenderer*>();
    const std::uint64_t uploads = yuv ? yuv->Uploads() : 0;
    const std::uint64_t drawn = grid.PicturesDrawn(0);
    grid.RepaintAll();
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid.PicturesDrawn(0) > drawn; }, 5000));
    EXPECT_EQ(grid.GrabPanes(), first);
    if (yuv) {
        EXPECT_EQ(yuv->Uploads(), uploads) << "textures uploaded again without a new picture";
    }
}

// Interlaced pictures: the renderer shows one row of each pair twice (the upper in planar
// pictures, the lower in RGB ones). Even rows bright, odd rows dark: doubled, a column of
// the pane is all one or the other; deinterlaced, both show.
TEST_P(GridRenderTest, LineDoublingShowsOneFieldOnly) {
    sim::YuvPicture striped = sim::YuvPicture::Filled(kW, kH, 200, 128, 128);
    for (int y = 1; y < kH; y += 2)
        std::fill_n(striped.y.begin() + static_cast<std::ptrdiff_t>(y * kW), kW, 40);
    CChannelGrid& grid = *window->grid;
    const QRect pane = grid.PaneRect(0);
    struct Rows {
        int dark = 0;
        int bright = 0;
    };
    const auto rows = [&](bool deinterlace) {
        const std::uint64_t before = grid.PicturesDrawn(0);
        EXPECT_TRUE(DecodeIntoView(views, 0, grid.PictureFormat(), striped, deinterlace));
        EXPECT_TRUE(QTest::qWaitFor([&] { return grid.PicturesDrawn(0) > before; }, 5000));
        const QImage image = grid.GrabPanes();
        Rows count;
        for (int y = pane.top() + 40; y < pane.bottom() - 40; ++y) {
            const int green = image.pixelColor(pane.center().x(), y).green();
            count.dark += green < 90 ? 1 : 0;
            count.bright += green > 180 ? 1 : 0;
        }
        return count;
    };
    const Rows doubled = rows(false);
    EXPECT_EQ(GetParam() == 0 ? doubled.dark : doubled.bright, 0);
    const Rows both = rows(true);
    EXPECT_GT(both.dark + both.bright, 0);
    EXPECT_LT(GetParam() == 0 ? both.bright : both.dark, pane.height() - 80);
    const Rows again = rows(false);  // and back: a texture of the other height again
    EXPECT_EQ(GetParam() == 0 ? again.dark : again.bright, 0);
}

INSTANTIATE_TEST_SUITE_P(DrawModes, GridRenderTest, ::testing::Values(0, 1),
                         [](const auto& param) { return param.param == 0 ? "Yuv" : "Rgb"; });

TEST(GridRendererChoice, ForcedFallbackGivesTheRgbRenderer) {
    qputenv("TAVIRO_NO_OPENGL", "1");
    CChannelViews views;
    {
        GridWindow window(views, 0);
        EXPECT_EQ(window.grid->Renderer(), RendererKind::Rgb);
        EXPECT_EQ(window.grid->PictureFormat(), platform::kH264FormatRgb24);
    }
    qunsetenv("TAVIRO_NO_OPENGL");
    {
        GridWindow window(views, 1);
        EXPECT_EQ(window.grid->Renderer(), RendererKind::Rgb);
        EXPECT_NE(views.Listener(), nullptr);
    }
    // A grid that has gone hears no decoder.
    EXPECT_EQ(views.Listener(), nullptr);
}

TEST(GridRendererChoice, SoftwareOpenGlIsRecognisedByItsRendererString) {
    struct Case {
        const char* renderer;
        bool software;
    };
    const Case cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Mesa DRI Intel(R) HD Graphics 620 (KBL GT2)", false},
        {"Software Rasterizer", true},
        {"GDI Generic", true},
        {"SWR (LLVM 11.0.1, 256 bits)", true},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0)", false},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", false},
        {"Mesa Intel(R) UHD Graphics (TGL GT2)", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsSoftwareGlRenderer(c.renderer), c.software) << c.renderer;
}

TEST(GridRendererChoice, AutoTakesTheRgbRendererWhereOpenGlRendersInSoftware) {
    CChannelViews views;
    const OpenGlProbe& gl = ProbeOpenGl();
    GridWindow window(views, kDrawModeAuto);
    const RendererKind expected = gl.usable && !gl.software ? RendererKind::Yuv : RendererKind::Rgb;
    EXPECT_EQ(window.grid->Renderer(), expected) << gl.renderer.toStdString();
    // The statistics overlay and the About dialog say which one draws.
    EXPECT_EQ(window.grid->Osd().renderer, expected == RendererKind::Yuv
                                               ? QStringLiteral("renderer: OpenGL YUV")
                                               : QStringLiteral("renderer: RGB"));
    if (gl.usable && gl.software) {
        EXPECT_TRUE(window.grid->RendererText().contains(gl.renderer));
        EXPECT_TRUE(window.grid->RendererText().contains("software"));
    }
    // Chosen by the operator (draw mode 0), YUV runs wherever OpenGL works at all.
    GridWindow chosen(views, 0);
    EXPECT_EQ(chosen.grid->Renderer(), gl.usable ? RendererKind::Yuv : RendererKind::Rgb);
}

}  // namespace
}  // namespace taviro::video::ui
