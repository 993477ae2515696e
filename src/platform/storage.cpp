#include "platform/storage.h"

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

}  // namespace taviro::platform
