// Opening a saved picture for the viewer: which decoder a path goes to, and the TIFF
// decoder (BMP and JPEG are decoded by the desktop client's image reader). Every file is
// hostile: sizes are checked in 64 bits and the decoded picture is capped before anything
// is allocated for it.
//
// Any thread; libtiff objects live inside one call.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "snapshot/picture.h"

namespace taviro::snapshot {

enum class ImageKind { kNone, kTiff, kBmp, kJpeg };

// The path in lower case is looked at for ".tif" anywhere first, then ".bmp", then ".jpg"
// (so "a.TIF.jpg" is a TIFF).
ImageKind ImageKindOfPath(const std::filesystem::path& path);

// Files larger than this are not read at all.
inline constexpr std::uint64_t kMaxImageFileBytes = 256ull * 1024 * 1024;

struct ImageLimits {
    std::uint64_t maxPixels = 100'000'000;          // width x height of the decoded picture
    std::uint64_t maxBytes = 400ull * 1024 * 1024;  // the 4-byte-per-pixel raster
};

// Decodes a TIFF held in memory to top-down RGB, translucent pixels as over black (colours
// multiplied by their alpha once). nullopt with `error` for anything libtiff cannot read or
// that exceeds `limits`.
std::optional<RgbImage> DecodeTiff(std::span<const std::uint8_t> bytes, const ImageLimits& limits,
                                   std::string* error);

// Reads the file (at most kMaxImageFileBytes) and decodes it as TIFF.
std::optional<RgbImage> LoadTiffFile(const std::filesystem::path& path, std::string* error,
                                     const ImageLimits& limits = {});

// Reads a whole file of at most `maxBytes`; nullopt with `error` when it is larger or
// cannot be read.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path,
                                                       std::uint64_t maxBytes, std::string* error);

}  // namespace taviro::snapshot
