// The three file formats of a snapshot, encoded in memory so that one checked path writes
// every file (write_file.h). Each takes an 800 x 600 (or any size) top-down RGB image.
// Any thread; no shared state (libjpeg and libtiff objects live inside one call).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "snapshot/picture.h"
#include "snapshot/snapshot_job.h"

namespace taviro::snapshot {

inline constexpr std::size_t kBmpHeaderSize = 54;

// BITMAPFILEHEADER + BITMAPINFOHEADER, then the rows bottom-up in blue, green, red order,
// each padded to a multiple of 4 bytes (800 x 3 needs none).
std::vector<std::uint8_t> EncodeBmp(const RgbImage& image);
// Baseline JPEG with the library's default parameters; false with `error` on failure.
bool EncodeJpeg(const RgbImage& image, std::vector<std::uint8_t>* out, std::string* error);
// RGB TIFF, PackBits, one row per strip, top-left orientation, no resolution unit.
bool EncodeTiff(const RgbImage& image, std::vector<std::uint8_t>* out, std::string* error);

// Encodes `image` in `format` and writes it to `file` (through a temporary name in the same
// folder, renamed on success). False with `error`; nothing is left behind on failure.
bool WriteSnapshotFile(const std::filesystem::path& file, const RgbImage& image, SaveFormat format,
                       std::string* error);

}  // namespace taviro::snapshot
