// The storage folder (the `Location` setting) and its sub-folders "Log", "Saved",
// "Download" and "Upgrade", created on demand with every missing parent.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/branding.h"

namespace taviro::app {

enum class StorageSubFolder {
    kLog,       // local log, address book, bookmarks
    kSaved,     // snapshots, exports
    kDownload,  // backups
    kUpgrade,   // firmware files
};

std::string_view SubFolderName(StorageSubFolder sub);
std::filesystem::path SubFolderPath(const std::filesystem::path& location, StorageSubFolder sub);
// Creates the sub-folder when missing; its path, or nullopt when it cannot be made.
std::optional<std::filesystem::path> EnsureSubFolder(const std::filesystem::path& location,
                                                     StorageSubFolder sub);

// The branding folder name as one folder below $HOME: a name that is empty, ".", "..", or
// holds a '/' would put the files somewhere else, so it gives "TAVIRO" instead.
std::string SafeFolderName(std::string_view folderName);
// The default storage folder: $HOME/<folder name of the branding file>.
std::filesystem::path DefaultLocation(const Branding& branding);

// At start "Upgrade" is created under the storage folder, except in player mode, where
// the client writes nothing. False only when the folder was wanted and could not be made.
bool PrepareStartFolders(const std::filesystem::path& location, bool playerMode);

// The folder of the running program (from /proc/self/exe); empty when it cannot be found.
std::filesystem::path ProgramFolder();

}  // namespace taviro::app
