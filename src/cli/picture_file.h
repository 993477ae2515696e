// Writes a decoded channel picture to files a person or a test can open: binary PPM (RGB)
// and, for planar pictures, the raw Y, U and V planes as decoded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace taviro::cli {

// Planar YUV 4:2:0 (BT.601, studio range) to packed RGB, top-down.
std::vector<std::uint8_t> Yuv420ToRgb(std::span<const std::uint8_t> yuv, int width, int height);
// Bottom-up BGR rows (as the RGB decoder path leaves them for drawing) to top-down RGB.
std::vector<std::uint8_t> BottomUpBgrToRgb(std::span<const std::uint8_t> bgr, int width,
                                           int height);

bool WritePpm(const std::filesystem::path& file, std::span<const std::uint8_t> rgb, int width,
              int height);
bool WriteRaw(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);

}  // namespace taviro::cli
