#include "platform/storage.h"

#include <sys/statvfs.h>

#include <cstdlib>
#include <system_error>

namespace taviro::platform {

std::filesystem::path DefaultStorageFolder(std::string_view folderName) {
    const char* home = std::getenv("HOME");
    std::filesystem::path base = (home != nullptr && *home != '\0') ? std::filesystem::path(home)
                                                                    : std::filesystem::path(".");
    return base / std::filesystem::path(folderName);
}

bool EnsureFolder(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

std::int64_t FreeMegabytes(const std::filesystem::path& folder) {
    std::error_code ec;
    // A relative folder is below the current one: "new/folder" is measured on the disk of
    // "." (the walk up would end at an empty path otherwise).
    std::filesystem::path probe = std::filesystem::absolute(folder, ec);
    if (ec) {
        probe = folder;
    }
    while (!probe.empty() && !std::filesystem::exists(probe, ec)) {
        if (probe == probe.parent_path()) {
            break;
        }
        probe = probe.parent_path();
    }
    struct statvfs st {};
    if (probe.empty() || ::statvfs(probe.c_str(), &st) != 0) {
        return -1;
    }
    if ((st.f_flag & ST_RDONLY) != 0) {
        return 0;
    }
    // Blocks times their size can pass 2^63 only on a file system no one has; the division
    // comes first so nothing overflows.
    const std::uint64_t perMegabyte = st.f_frsize > 0 ? (1u << 20) / st.f_frsize : 0;
    if (perMegabyte > 0) {
        return static_cast<std::int64_t>(st.f_bavail / perMegabyte);
    }
    return static_cast<std::int64_t>(st.f_bavail * (st.f_frsize >> 20));
}

}  // namespace taviro::platform
