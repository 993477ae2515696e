#include "archive/progress_text.h"

#include <algorithm>
#include <cstdio>

namespace taviro::archive {

std::string SizeText(std::uint64_t kilobytes) {
    char text[32];
    if (kilobytes < 1024) {
        std::snprintf(text, sizeof text, "%llu KB", static_cast<unsigned long long>(kilobytes));
    } else if (kilobytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(kilobytes) / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB",
                      static_cast<double>(kilobytes) / (1024.0 * 1024.0));
    }
    return text;
}

std::string DurationText(std::int64_t seconds) {
    seconds = std::max<std::int64_t>(seconds, 0);
    char text[32];
    if (seconds < 60) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(seconds));
    } else if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min",
                      static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60));
    }
    return text;
}

}  // namespace taviro::archive
