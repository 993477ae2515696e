#include "cli/picture_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/h264_decoder.h"

namespace taviro::cli {

namespace {

std::uint8_t Clamp(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

}  // namespace

std::vector<std::uint8_t> Yuv420ToRgb(std::span<const std::uint8_t> yuv, int width, int height) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    // Odd sizes round the chroma planes up, as the decoder packs them.
    const std::size_t cw = (w + 1) / 2;
    if (width <= 0 || height <= 0 || yuv.size() < w * h + 2 * cw * ((h + 1) / 2)) {
        return {};
    }
    const std::uint8_t* y = yuv.data();
    const std::uint8_t* u = y + w * h;
    const std::uint8_t* v = u + cw * ((h + 1) / 2);
    std::vector<std::uint8_t> rgb(w * h * 3);
    for (std::size_t r = 0; r < h; ++r) {
        for (std::size_t c = 0; c < w; ++c) {
            const double luma = 1.164 * (y[r * w + c] - 16);
            const double cb = u[(r / 2) * cw + c / 2] - 128.0;
            const double cr = v[(r / 2) * cw + c / 2] - 128.0;
            std::uint8_t* out = rgb.data() + (r * w + c) * 3;
            out[0] = Clamp(luma + 1.596 * cr);
            out[1] = Clamp(luma - 0.392 * cb - 0.813 * cr);
            out[2] = Clamp(luma + 2.017 * cb);
        }
    }
    return rgb;
}

std::vector<std::uint8_t> BottomUpBgrToRgb(std::span<const std::uint8_t> bgr, int width,
                                           int height) {
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (width <= 0 || height <= 0 || bgr.size() < w * h * 3) {
        return {};
    }
    std::vector<std::uint8_t> rgb(w * h * 3);
    for (std::size_t r = 0; r < h; ++r) {
        const std::uint8_t* in = bgr.data() + (h - 1 - r) * w * 3;
        std::uint8_t* out = rgb.data() + r * w * 3;
        for (std::size_t c = 0; c < w; ++c) {
            out[3 * c] = in[3 * c + 2];
            out[3 * c + 1] = in[3 * c + 1];
            out[3 * c + 2] = in[3 * c];
        }
    }
    return rgb;
}

bool WritePpm(const std::filesystem::path& file, std::span<const std::uint8_t> rgb, int width,
              int height) {
    if (rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3) {
        return false;
    }
    std::ofstream out(file, std::ios::binary);
    const std::string head =
        "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    return static_cast<bool>(out);
}

bool WriteRaw(const std::filesystem::path& file, std::span<const std::uint8_t> bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool SaveChannelPicture(video::CChannelViews& views, int channel, std::uint32_t format,
                        const std::filesystem::path& dir) {
    const video::ChannelView& view = views.Channel(channel);
    platform::PictureRef shown;
    bool doubleLines = false;
    {
        std::lock_guard lock(view.lock);
        shown = view.frame;
        doubleLines = view.doubleLines;
    }
    if (!shown || shown->format != format) {
        return false;
    }
    const int width = shown->width;
    const int height = shown->height;
    std::vector<std::uint8_t> picture(platform::PackedPictureBytes(width, height, format));
    if (picture.empty() ||
        video::PackPicture(*shown, doubleLines, picture.data(), picture.size()) != picture.size()) {
        return false;
    }
    char name[16];
    std::snprintf(name, sizeof name, "ch%02d", channel + 1);
    const auto rgb = format == platform::kH264FormatRgb24 ? BottomUpBgrToRgb(picture, width, height)
                                                          : Yuv420ToRgb(picture, width, height);
    bool ok = WritePpm(dir / (std::string(name) + ".ppm"), rgb, width, height);
    if (format == platform::kH264FormatYuv420) {
        ok = WriteRaw(dir / (std::string(name) + ".yuv"), picture) && ok;
    }
    return ok;
}

}  // namespace taviro::cli
