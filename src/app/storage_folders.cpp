#include "app/storage_folders.h"

#include <system_error>

#include "platform/storage.h"

namespace taviro::app {

std::string_view SubFolderName(StorageSubFolder sub) {
    switch (sub) {
        case StorageSubFolder::kLog:
            return "Log";
        case StorageSubFolder::kSaved:
            return "Saved";
        case StorageSubFolder::kDownload:
            return "Download";
        case StorageSubFolder::kUpgrade:
            return "Upgrade";
    }
    return "Log";
}

std::filesystem::path SubFolderPath(const std::filesystem::path& location, StorageSubFolder sub) {
    return location / SubFolderName(sub);
}

std::optional<std::filesystem::path> EnsureSubFolder(const std::filesystem::path& location,
                                                     StorageSubFolder sub) {
    if (location.empty())
        return std::nullopt;
    std::filesystem::path folder = SubFolderPath(location, sub);
    if (!platform::EnsureFolder(folder))
        return std::nullopt;
    return folder;
}

std::string SafeFolderName(std::string_view folderName) {
    if (folderName.empty() || folderName == "." || folderName == ".." ||
        folderName.find('/') != std::string_view::npos ||
        folderName.find('\0') != std::string_view::npos)
        return "TAVIRO";
    return std::string(folderName);
}

std::filesystem::path DefaultLocation(const Branding& branding) {
    std::filesystem::path folder =
        platform::DefaultStorageFolder(SafeFolderName(branding.folderName));
    // Without HOME the folder lies in the current directory; keep it absolute so the
    // stored setting does not move with the next start's directory.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
    return ec ? folder : absolute.lexically_normal();
}

bool PrepareStartFolders(const std::filesystem::path& location, bool playerMode) {
    if (playerMode)
        return true;
    return EnsureSubFolder(location, StorageSubFolder::kUpgrade).has_value();
}

std::filesystem::path ProgramFolder() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || !exe.is_absolute())
        return {};
    return exe.parent_path();
}

}  // namespace taviro::app
