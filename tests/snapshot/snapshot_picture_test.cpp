// The picture of a snapshot: conversion, crop, stretch, caption place, display depths, and
// the jobs taken from the channel views.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/h264_decoder.h"
#include "snapshot/picture.h"
#include "snapshot/snapshot_job.h"
#include "video/channel_views.h"

namespace taviro::snapshot {
namespace {

std::array<int, 3> Bgr(int y, int u, int v) {
    std::uint8_t out[3];
    YuvToBgr(y, u, v, out);
    return {out[0], out[1], out[2]};
}

SnapshotJob YuvJob(int width, int height, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
    SnapshotJob job;
    job.width = width;
    job.height = height;
    job.pictureFormat = platform::kH264FormatYuv420;
    job.picture = std::make_unique<std::uint8_t[]>(video::kPictureBufferSize);
    const auto luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::memset(job.picture.get(), y, luma);
    std::memset(job.picture.get() + luma, u, luma / 4);
    std::memset(job.picture.get() + luma + luma / 4, v, luma / 4);
    return job;
}

TEST(SnapshotPicture, ConvertsYuvWithFixedPointBt601) {
    EXPECT_EQ(Bgr(16, 128, 128), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(Bgr(235, 128, 128), (std::array<int, 3>{253, 253, 253}));  // 74*219 >> 6
    EXPECT_EQ(Bgr(81, 90, 240), (std::array<int, 3>{0, 0, 253}));        // red
    // Intermediates beyond 16 bits saturate instead of wrapping to dark values.
    EXPECT_EQ(Bgr(255, 255, 128)[0], 255);
    EXPECT_EQ(Bgr(255, 128, 255)[2], 255);
    EXPECT_EQ(Bgr(0, 0, 255)[1], 0);
}

TEST(SnapshotPicture, ChromaServesTwoByTwoPixelsInEitherPlaneOrder) {
    SnapshotJob job = YuvJob(24, 24, 128, 128, 128);
    const std::size_t luma = 24 * 24;
    // Chroma sample (1, 0) of the first plane is blue-ish; the second plane stays neutral.
    job.picture[luma + 1] = 255;
    std::string error;
    auto image = SourceImage(job, &error);
    ASSERT_TRUE(image) << error;
    auto pixel = [&](const BgrImage& img, int x, int y) {
        const std::uint8_t* p = img.bytes.data() + static_cast<std::size_t>((y * 24 + x) * 3);
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(*image, 2, 0), Bgr(128, 255, 128));
    EXPECT_EQ(pixel(*image, 3, 1), Bgr(128, 255, 128));
    EXPECT_EQ(pixel(*image, 1, 1), Bgr(128, 128, 128));
    EXPECT_EQ(pixel(*image, 4, 0), Bgr(128, 128, 128));
    job.planeOrder = PlaneOrder::kVThenU;
    image = SourceImage(job, &error);
    ASSERT_TRUE(image);
    EXPECT_EQ(pixel(*image, 2, 0), Bgr(128, 128, 255));
}

TEST(SnapshotPicture, RgbPictureRowsComeBackTopDown) {
    SnapshotJob job;
    job.width = 24;
    job.height = 24;
    job.pictureFormat = platform::kH264FormatRgb24;
    job.picture = std::make_unique<std::uint8_t[]>(video::kPictureBufferSize);
    // The view keeps RGB rows bottom-up: the last row in memory is the top of the picture.
    std::uint8_t* lastRow = job.picture.get() + 23 * 24 * 3;
    lastRow[0] = 1;
    lastRow[1] = 2;
    lastRow[2] = 3;
    auto image = SourceImage(job, nullptr);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->bytes[0], 1);
    EXPECT_EQ(image->bytes[1], 2);
    EXPECT_EQ(image->bytes[2], 3);
}

TEST(SnapshotPicture, CropsTheBorderAndRefusesUnusableSources) {
    const Rect narrow = CropRect(352, 240);
    EXPECT_EQ((std::array<int, 4>{narrow.x, narrow.y, narrow.width, narrow.height}),
              (std::array<int, 4>{6, 6, 341, 230}));
    const Rect wide = CropRect(704, 480);
    EXPECT_EQ((std::array<int, 4>{wide.x, wide.y, wide.width, wide.height}),
              (std::array<int, 4>{12, 12, 682, 460}));

    const auto yuv = platform::kH264FormatYuv420;
    const auto rgb = platform::kH264FormatRgb24;
    EXPECT_FALSE(CheckSource(352, 240, yuv));
    EXPECT_FALSE(CheckSource(720, 576, rgb));
    EXPECT_TRUE(CheckSource(353, 240, yuv));  // odd
    EXPECT_TRUE(CheckSource(10, 10, yuv));    // tiny: no crop left
    EXPECT_TRUE(CheckSource(0, 240, yuv));
    EXPECT_TRUE(CheckSource(-352, 240, yuv));
    EXPECT_TRUE(CheckSource(800, 600, rgb));  // larger than the copy
    EXPECT_TRUE(CheckSource(2048, 2048, yuv));
    EXPECT_TRUE(CheckSource(352, 240, 7));  // unknown format

    std::string error;
    SnapshotJob odd = YuvJob(24, 24, 128, 128, 128);
    odd.width = 25;
    EXPECT_FALSE(ComposeSnapshot(odd, *std::make_unique<CNullCaptionPainter>(), {}, &error));
    EXPECT_FALSE(error.empty());
}

// A source whose border is red and inside blue: nothing of the border reaches the picture.
void ExpectBorderCut(int width, int height, int border, int keptWidth, int keptHeight) {
    BgrImage source;
    source.width = width;
    source.height = height;
    source.bytes.resize(static_cast<std::size_t>(width * height * 3));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inside =
                x >= border && y >= border && x < border + keptWidth && y < border + keptHeight;
            std::uint8_t* p = source.bytes.data() + static_cast<std::size_t>((y * width + x) * 3);
            p[0] = inside ? 255 : 0;
            p[2] = inside ? 0 : 255;
        }
    }
    const BgrImage out = Stretch(source, CropRect(width, height), kOutputWidth, kOutputHeight);
    ASSERT_EQ(out.bytes.size(), 800u * 600u * 3u);
    for (std::size_t i : {std::size_t{0}, std::size_t{799}, std::size_t{600 * 400 + 3},
                          std::size_t{599 * 800}, std::size_t{599 * 800 + 799}}) {
        EXPECT_EQ(out.bytes[i * 3], 255) << width << " pixel " << i;
        EXPECT_EQ(out.bytes[i * 3 + 2], 0) << width << " pixel " << i;
    }
}

TEST(SnapshotPicture, StretchesTheCroppedRectangleTo800x600) {
    ExpectBorderCut(352, 240, 6, 341, 230);
    ExpectBorderCut(704, 480, 12, 682, 460);
}

struct RecordingPainter final : ICaptionPainter {
    void Paint(BgrImage& image, int px, int py, std::string_view t, std::uint32_t c) override {
        width = image.width;
        height = image.height;
        x = px;
        y = py;
        text = std::string(t);
        colour = c;
    }
    int width = 0, height = 0, x = 0, y = 0;
    std::string text;
    std::uint32_t colour = 0;
};

TEST(SnapshotPicture, CaptionGoesNearTheBottomInCyan) {
    SnapshotJob job = YuvJob(352, 240, 128, 128, 128);
    job.caption = CaptionText(0, 0);
    ASSERT_EQ(job.caption, "1970-01-01  00:00:00");
    RecordingPainter painter;
    auto image = ComposeSnapshot(job, painter, {32, Pixel16Layout::kNone}, nullptr);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 800);
    EXPECT_EQ(image->height, 600);
    EXPECT_EQ(painter.width, 800);
    EXPECT_EQ(painter.x, 295);
    EXPECT_EQ(painter.y, 569);
    EXPECT_EQ(painter.text, job.caption);
    EXPECT_EQ(painter.colour, 0x00FFFF00u);
    EXPECT_EQ(CaptionX(19), 300);  // -399 / 2 truncates toward zero
}

TEST(SnapshotPicture, CaptionFollowsTheDateOrder) {
    EXPECT_EQ(CaptionText(1700000000, 0), "2023-11-14  22:13:20");
    EXPECT_EQ(CaptionText(1700000000, 1), "11-14-2023  22:13:20");
    EXPECT_EQ(CaptionText(1700000000, 2), "14-11-2023  22:13:20");
    EXPECT_EQ(CaptionText(-5, 1), "01-01-1970  00:00:00");
}

TEST(SnapshotPicture, ReadsBackInTheDisplaysDepth) {
    BgrImage white;
    white.width = 2;
    white.height = 1;
    white.bytes.assign(6, 255);
    white.bytes[3] = 10;  // second pixel: blue 10, green 255, red 255
    auto rgb = [](const std::optional<RgbImage>& image, std::size_t pixel) {
        const std::uint8_t* p = image->bytes.data() + pixel * 3;
        return std::array<int, 3>{p[0], p[1], p[2]};
    };
    const auto r565 = ReadBack(white, {16, Pixel16Layout::k565});
    ASSERT_TRUE(r565);
    EXPECT_EQ(rgb(r565, 0), (std::array<int, 3>{248, 252, 248}));
    EXPECT_EQ(rgb(r565, 1), (std::array<int, 3>{248, 252, 8}));
    const auto r555 = ReadBack(white, {16, Pixel16Layout::k555});
    ASSERT_TRUE(r555);
    EXPECT_EQ(rgb(r555, 0), (std::array<int, 3>{248, 248, 248}));
    for (int depth : {24, 32}) {
        const auto full = ReadBack(white, {depth, Pixel16Layout::kNone});
        ASSERT_TRUE(full);
        EXPECT_EQ(rgb(full, 1), (std::array<int, 3>{255, 255, 10}));
    }
    EXPECT_FALSE(ReadBack(white, {16, Pixel16Layout::kNone}));
    EXPECT_FALSE(ReadBack(white, {8, Pixel16Layout::kNone}));
}

TEST(SnapshotJobs, OneJobPerChannelWithItsOwnCopyAndName) {
    video::CChannelViews views;
    for (int c : {0, 2}) {
        video::ChannelView& view = views.Channel(c);
        std::lock_guard lock(view.lock);
        view.width = 352;
        view.height = 240;
        view.clock = 1700000000;
        auto picture = std::make_shared<platform::CPackedPicture>(352, 240, 0);
        picture->Data()[0] = static_cast<std::uint8_t>(c + 7);
        view.frame = std::move(picture);
    }
    JobSettings settings;
    settings.format = SaveFormat::kBmp;
    settings.savedFolder = "/store/Saved";
    settings.localTime.tm_year = 124;
    settings.localTime.tm_mon = 0;
    settings.localTime.tm_mday = 2;
    settings.localTime.tm_hour = 3;
    settings.localTime.tm_min = 4;
    settings.localTime.tm_sec = 5;
    auto jobs = MakeSnapshotJobs(views, 0b101, settings);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0].file, "/store/Saved/20240102030405_0001.bmp");
    EXPECT_EQ(jobs[1].file, "/store/Saved/20240102030405_0003.bmp");
    EXPECT_EQ(jobs[1].caption, "2023-11-14  22:13:20");
    EXPECT_EQ(jobs[1].width, 352);
    // The job's copy is its own: the view may go on to the next picture.
    views.Channel(2).frame.reset();
    EXPECT_EQ(jobs[1].picture[0], 9);

    EXPECT_EQ(MakeSnapshotJobs(views, 0xFFFFFFFFu, settings).size(), 16u);
    EXPECT_EQ(SaveFormatFromSetting(2), SaveFormat::kTiff);
    EXPECT_EQ(SaveFormatFromSetting(9), SaveFormat::kJpeg);
}

}  // namespace
}  // namespace taviro::snapshot
