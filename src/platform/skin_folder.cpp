#include "platform/skin_folder.h"

#include <cstdlib>
#include <system_error>

namespace taviro::platform {

namespace fs = std::filesystem;

bool HoldsSkinPack(const fs::path& folder) {
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec))
        return false;
    if (fs::is_regular_file(folder / "texts.txt", ec))
        return true;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (it->path().extension() == ".png" && it->is_regular_file(ec))
            return true;
    }
    return false;
}

std::string FindSkinFolder(const std::string& variable, const fs::path& programFolder) {
    if (!variable.empty())
        return variable;
    if (programFolder.empty())
        return {};
    for (const fs::path& candidate : {programFolder / "skin", programFolder / ".." / "skin",
                                      programFolder / ".." / "share" / "taviro" / "skin"}) {
        if (HoldsSkinPack(candidate))
            return candidate.lexically_normal().string();
    }
    // A program run from a build tree (tests, the demo): the generator writes the pack to
    // <build>/skin, and the build's root is the folder with CMakeCache.txt. Only the nearest
    // build tree counts, so a tree nested in another never borrows the outer one's pack.
    std::error_code ec;
    fs::path dir = programFolder;
    for (int depth = 0; depth < 8; ++depth) {
        if (fs::exists(dir / "CMakeCache.txt", ec)) {
            if (HoldsSkinPack(dir / "skin"))
                return (dir / "skin").lexically_normal().string();
            break;
        }
        if (!dir.has_relative_path())
            break;
        dir = dir.parent_path();
    }
    return (programFolder / "skin").lexically_normal().string();
}

std::string DefaultSkinFolder() {
    const char* variable = std::getenv("TAVIRO_SKIN");
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    const fs::path programFolder = ec || !exe.is_absolute() ? fs::path() : exe.parent_path();
    return FindSkinFolder(variable != nullptr ? variable : "", programFolder);
}

}  // namespace taviro::platform
