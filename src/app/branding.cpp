#include "app/branding.h"

#include <array>
#include <fstream>
#include <system_error>

namespace taviro::app {

namespace {

constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;

}  // namespace

Branding ParseBranding(std::span<const std::uint8_t> bytes) {
    Branding branding;
    std::array<std::string*, 4> slots = {&branding.title, &branding.folderName,
                                         &branding.dateFormat, &branding.drawMode};
    std::size_t pos = 0;
    for (std::string* slot : slots) {
        if (pos >= bytes.size())
            break;
        std::string line;
        bool ended = false;  // a NUL was seen: the rest of the line is not text
        for (; pos < bytes.size() && bytes[pos] != kCr; ++pos) {
            const std::uint8_t b = bytes[pos];
            if (b == kLf)
                continue;
            if (b == 0)
                ended = true;
            if (!ended && line.size() < kBrandingLineMax)
                line.push_back(static_cast<char>(b));
        }
        ++pos;  // past the CR (or past the end, which stops the next slot)
        if (!line.empty())
            *slot = std::move(line);
    }
    return branding;
}

std::vector<std::filesystem::path> BrandingCandidates(const std::filesystem::path& currentDir,
                                                      const std::filesystem::path& programDir) {
    std::vector<std::filesystem::path> candidates;
    candidates.push_back(currentDir / kBrandingFileName);
    if (!programDir.empty())
        candidates.push_back(programDir / kBrandingFileName);
    return candidates;
}

Branding LoadBranding(std::span<const std::filesystem::path> candidates) {
    for (const std::filesystem::path& candidate : candidates) {
        std::error_code ec;
        // A folder or a device named like the file is not the file; look further.
        if (!std::filesystem::is_regular_file(candidate, ec))
            continue;
        std::ifstream in(candidate, std::ios::binary);
        if (!in)
            continue;
        std::vector<std::uint8_t> bytes(kBrandingFileMax);
        in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return ParseBranding(bytes);
    }
    return Branding{};
}

}  // namespace taviro::app
