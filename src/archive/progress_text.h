// How big and how long, as the progress lines of backups and exports say it.
#pragma once

#include <cstdint>
#include <string>

namespace taviro::archive {

// "512 KB", "12.3 MB", "1.25 GB".
std::string SizeText(std::uint64_t kilobytes);
// "45 s", "3 min 05 s", "1 h 02 min".
std::string DurationText(std::int64_t seconds);

}  // namespace taviro::archive
