// Writes a decoded channel picture to files a person or a test can open: binary PPM (RGB)
// and, for planar pictures, the raw Y, U and V planes as decoded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "video/channel_views.h"

namespace taviro::cli {

// Planar YUV 4:2:0 (BT.601, studio range) to packed RGB, top-down.
std::vector<std::uint8_t> Yuv420ToRgb(std::span<const std::uint8_t> yuv, int width, int height);
// Bottom-up BGR rows (as the RGB decoder path leaves them for drawing) to top-down RGB.
std::vector<std::uint8_t> BottomUpBgrToRgb(std::span<const std::uint8_t> bgr, int width,
                                           int height);

bool WritePpm(const std::filesystem::path& file, std::span<const std::uint8_t> rgb, int width,
              int height);
bool WriteRaw(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);

// The last picture of `channel` (0..15) in `views`, decoded in `format`, as `chNN.ppm` in
// `dir` (and `chNN.yuv` with the planes as decoded, for planar pictures).
bool SaveChannelPicture(video::CChannelViews& views, int channel, std::uint32_t format,
                        const std::filesystem::path& dir);

}  // namespace taviro::cli
