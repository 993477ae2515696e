// Where the client keeps its files: the storage folder (the `Location` setting) and its
// sub-folders "Log", "Saved", "Download" and "Upgrade", created on demand.
#pragma once

#include <filesystem>
#include <string_view>

namespace taviro::platform {

// $HOME/<folderName>; falls back to the current directory when HOME is unset.
std::filesystem::path DefaultStorageFolder(std::string_view folderName = "TAVIRO");

// Creates `folder` with all missing parents; true when it exists afterwards.
bool EnsureFolder(const std::filesystem::path& folder);

}  // namespace taviro::platform
