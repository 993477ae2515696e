// Where the client keeps its files: the storage folder (the `Location` setting) and its
// sub-folders "Log", "Saved", "Download" and "Upgrade", created on demand.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace taviro::platform {

// $HOME/<folderName>; falls back to the current directory when HOME is unset.
std::filesystem::path DefaultStorageFolder(std::string_view folderName = "TAVIRO");

// Creates `folder` with all missing parents; true when it exists afterwards.
bool EnsureFolder(const std::filesystem::path& folder);

// Megabytes free for this user on the file system that holds `folder` (or its nearest
// existing parent). A read-only mount (a disc) has none; -1 when nothing can be asked.
std::int64_t FreeMegabytes(const std::filesystem::path& folder);

}  // namespace taviro::platform
