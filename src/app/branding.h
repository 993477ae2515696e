// The branding file "ClientCD.bin": four text lines (window title, product folder name,
// default date format, default draw mode) that re-brand the client without a rebuild.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace taviro::app {

inline constexpr const char* kBrandingFileName = "ClientCD.bin";
// A line keeps at most this many bytes; the rest of an over-long line is dropped.
inline constexpr std::size_t kBrandingLineMax = 259;
// Only this much of the file is read: four full lines with their separators fit many
// times over, and a huge or endless file cannot stall the start.
inline constexpr std::size_t kBrandingFileMax = 16 * 1024;

struct Branding {
    std::string title = "TAVIRO";
    std::string folderName = "TAVIRO";
    std::string dateFormat = "YYYY-MM-DD";
    std::string drawMode = "YUV";

    bool operator==(const Branding&) const = default;
};

// Lines end at CR (or the end of the bytes); LF bytes are skipped wherever they stand, so a
// file with LF alone as separator is one long first line. A NUL ends a line's text. Lines
// after the fourth are ignored. A non-empty line replaces the default of its slot.
Branding ParseBranding(std::span<const std::uint8_t> bytes);

// Where the file is looked for, in this order: the current directory, then the program's
// folder (the place a branded installation puts it).
std::vector<std::filesystem::path> BrandingCandidates(const std::filesystem::path& currentDir,
                                                      const std::filesystem::path& programDir);

// The first candidate that can be opened as a regular file is read (at most
// kBrandingFileMax bytes) and parsed; when none opens, the defaults.
Branding LoadBranding(std::span<const std::filesystem::path> candidates);

}  // namespace taviro::app
