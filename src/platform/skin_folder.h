// Where the skin pack lies, for the windows (CSkinLibrary) and for the command-line client's
// texts alike, so an installed program and one run from a build tree find the same pack.
// Thread: any.
#pragma once

#include <filesystem>
#include <string>

namespace taviro::platform {

// A folder holds a pack when it has "texts.txt" or at least one "*.png".
bool HoldsSkinPack(const std::filesystem::path& folder);

// The pack folder: `variable` (the value of $TAVIRO_SKIN) when not empty; else the first of
// <program>/skin, <program>/../skin, <program>/../share/taviro/skin that holds a pack (an
// installed program uses the last); else the skin folder beside the CMakeCache.txt of a
// build tree above the program; else <program>/skin, where a pack would be looked for
// first. `programFolder` is the running program's folder (empty when unknown).
std::string FindSkinFolder(const std::string& variable, const std::filesystem::path& programFolder);

// FindSkinFolder for this process: $TAVIRO_SKIN and the folder of /proc/self/exe.
std::string DefaultSkinFolder();

}  // namespace taviro::platform
