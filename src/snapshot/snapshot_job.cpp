#include "snapshot/snapshot_job.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace taviro::snapshot {

SaveFormat SaveFormatFromSetting(int value) {
    switch (value) {
        case 1:
            return SaveFormat::kBmp;
        case 2:
            return SaveFormat::kTiff;
        default:
            return SaveFormat::kJpeg;
    }
}

std::string_view Extension(SaveFormat format) {
    switch (format) {
        case SaveFormat::kBmp:
            return ".bmp";
        case SaveFormat::kTiff:
            return ".tif";
        case SaveFormat::kJpeg:
            break;
    }
    return ".jpg";
}

std::string CaptionText(std::int64_t clock, int dateOrder) {
    const std::time_t seconds = static_cast<std::time_t>(clock < 0 ? 0 : clock);
    std::tm t{};
    if (gmtime_r(&seconds, &t) == nullptr) {
        t = std::tm{};
        t.tm_year = 70;
        t.tm_mday = 1;
    }
    const int year = t.tm_year + 1900;
    const int month = t.tm_mon + 1;
    char text[kMaxCaptionLength + 1];
    if (dateOrder == 1) {
        std::snprintf(text, sizeof text, "%02d-%02d-%04d  %02d:%02d:%02d", month, t.tm_mday, year,
                      t.tm_hour, t.tm_min, t.tm_sec);
    } else if (dateOrder == 2) {
        std::snprintf(text, sizeof text, "%02d-%02d-%04d  %02d:%02d:%02d", t.tm_mday, month, year,
                      t.tm_hour, t.tm_min, t.tm_sec);
    } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d  %02d:%02d:%02d", year, month, t.tm_mday,
                      t.tm_hour, t.tm_min, t.tm_sec);
    }
    return text;
}

std::string SnapshotFileName(const std::tm& localTime, int channel, SaveFormat format,
                             std::string_view recorder) {
    std::string prefix;
    for (const char c : recorder.substr(0, 64)) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.';
        prefix += keep ? c : '_';
    }
    if (!prefix.empty())
        prefix += '_';
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d%02d%02d%02d_00%02d", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, localTime.tm_hour, localTime.tm_min,
                  localTime.tm_sec, channel + 1);
    return prefix + std::string(name) + std::string(Extension(format));
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return t;
}

SnapshotJob MakeSnapshotJob(const video::ChannelView& view, int channel,
                            const JobSettings& settings) {
    SnapshotJob job;
    job.channel = channel;
    job.pictureFormat = settings.pictureFormat;
    job.planeOrder = settings.planeOrder;
    job.format = settings.format;
    job.file = settings.savedFolder /
               SnapshotFileName(settings.localTime, channel, settings.format, settings.recorder);
    job.picture = std::make_unique<std::uint8_t[]>(video::kPictureBufferSize);
    std::int64_t clock = 0;
    platform::PictureRef picture;
    bool doubleLines = false;
    {
        std::lock_guard lock(view.lock);
        job.width = view.width;
        job.height = view.height;
        clock = view.clock;
        picture = view.frame;
        doubleLines = view.doubleLines;
    }
    // Packed outside the lock (the picture is never written once shown), as the screen
    // shows it. A picture in another format than the views' is left out.
    if (picture && picture->format == settings.pictureFormat &&
        video::PackPicture(*picture, doubleLines, job.picture.get(), video::kPictureBufferSize) >
            0) {
        job.width = picture->width;
        job.height = picture->height;
    }
    job.caption = CaptionText(clock, settings.dateOrder);
    return job;
}

std::vector<SnapshotJob> MakeSnapshotJobs(const video::CChannelViews& views,
                                          protocol::ChannelMask channels,
                                          const JobSettings& settings) {
    std::vector<SnapshotJob> jobs;
    for (int c = 0; c < protocol::kMaxChannels && static_cast<int>(jobs.size()) < kMaxJobs; ++c) {
        if (protocol::HasChannel(channels, c)) {
            jobs.push_back(MakeSnapshotJob(views.Channel(c), c, settings));
        }
    }
    return jobs;
}

}  // namespace taviro::snapshot
