// One snapshot job per saved channel: a private copy of the channel's picture taken on the
// window thread, with everything its worker needs to write the file (size, picture format,
// chroma plane order, caption, output format, target path). The worker owns the job once it
// starts; nothing in it is shared.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/channel_mask.h"
#include "video/channel_views.h"

namespace taviro::snapshot {

// The `SaveFormat` setting: 0 JPEG, 1 BMP, 2 TIFF (the order of the file filter).
enum class SaveFormat : int { kJpeg = 0, kBmp = 1, kTiff = 2 };

// The setting's value as a format; anything unknown is JPEG, the default.
SaveFormat SaveFormatFromSetting(int value);
// ".jpg", ".bmp" or ".tif".
std::string_view Extension(SaveFormat format);

// Planar YUV 4:2:0 pictures: which chroma plane follows the Y plane first.
enum class PlaneOrder : int { kUThenV = 0, kVThenU = 1 };

inline constexpr std::size_t kMaxCaptionLength = 259;
inline constexpr int kMaxJobs = protocol::kMaxChannels;

struct SnapshotJob {
    int channel = 0;  // 0..15
    int width = 0;
    int height = 0;
    // platform::kH264FormatYuv420 (Y, then the chroma planes, rows top-down) or
    // platform::kH264FormatRgb24 (blue, green, red, rows bottom-up), as the view holds it.
    std::uint32_t pictureFormat = 0;
    PlaneOrder planeOrder = PlaneOrder::kUThenV;
    SaveFormat format = SaveFormat::kJpeg;
    std::string caption;         // at most kMaxCaptionLength characters
    std::filesystem::path file;  // the file to write (its folder is created by the worker)
    std::unique_ptr<std::uint8_t[]> picture;  // video::kPictureBufferSize bytes
};

// The caption of a picture time (seconds since 1970 in recorder time; negative counts as 0)
// in the date order of the local settings: 0 year-month-day, 1 month-day-year,
// 2 day-month-year (anything else as 0); two blanks between date and time.
std::string CaptionText(std::int64_t clock, int dateOrder);

// "YYYYMMDDhhmmss_00CC" + extension, CC the 1-based channel, from the command's local time.
// With several recorders `recorder` (its description or address) goes in front, its
// characters other than letters, digits, '-' and '.' made '_'.
std::string SnapshotFileName(const std::tm& localTime, int channel, SaveFormat format,
                             std::string_view recorder = {});

// The command's local time now (localtime_r).
std::tm LocalTimeNow();

struct JobSettings {
    std::uint32_t pictureFormat = 0;  // the renderer's picture format of the views
    PlaneOrder planeOrder = PlaneOrder::kUThenV;
    SaveFormat format = SaveFormat::kJpeg;
    int dateOrder = 0;
    std::filesystem::path savedFolder;  // the storage folder's "Saved" sub-folder
    std::tm localTime{};                // the command's local time (names every file)
    std::string recorder;  // the recorder's name in front of the file names; empty: none
};

// Copies one channel's picture under the view's lock. Thread: the window thread (any thread
// that may take the view's lock without holding another one).
SnapshotJob MakeSnapshotJob(const video::ChannelView& view, int channel,
                            const JobSettings& settings);

// One job per channel of `channels` (the channels of the shown panes that hold a picture),
// at most one per channel and kMaxJobs in all, in channel order.
std::vector<SnapshotJob> MakeSnapshotJobs(const video::CChannelViews& views,
                                          protocol::ChannelMask channels,
                                          const JobSettings& settings);

}  // namespace taviro::snapshot
