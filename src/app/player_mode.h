// Player mode: started from a backup disc or stick, the client only plays local archives
// (no connection, no files written). It applies when the program's folder lies on an
// optical file system or on a removable block device, or when "--player" is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::app {

// The main window to itself once it exists: in player mode the archive window opens.
inline constexpr std::uint32_t WM_START_PLAYER = 0x5253;

inline constexpr std::string_view kPlayerOption = "--player";
// /proc/self/mountinfo is read up to this size; a system with more mounts than fit is
// judged on the ones read.
inline constexpr std::size_t kMountInfoMax = 4 * 1024 * 1024;

// One line of /proc/<pid>/mountinfo, with the octal escapes (\040 ...) undone.
struct MountEntry {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string mountPoint;
    std::string fsType;
    std::string source;  // "/dev/sdb1", "tmpfs", ...

    bool operator==(const MountEntry&) const = default;
};

// Lines that do not have the fields of a mount are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mount that holds `path` (absolute, symbolic links resolved): the longest mount point
// that is `path` or a parent of it; of equal ones the last listed, which lies on top.
std::optional<MountEntry> MountFor(std::span<const MountEntry> mounts,
                                   const std::filesystem::path& path);

// Answers whether the block device under a mount is removable; nullopt when unknown.
using RemovableLookup = std::function<std::optional<bool>(const MountEntry&)>;

bool IsOpticalFileSystem(std::string_view fsType);  // iso9660, udf

// True when `programFolder` lies on an optical file system, or on a device the lookup
// reports removable. An unknown folder or device counts as a fixed disk.
bool IsPlayerLocation(std::string_view mountInfo, const std::filesystem::path& programFolder,
                      const RemovableLookup& removable);

bool HasPlayerOption(std::span<const std::string_view> args);

// The running system's answer: "<sysRoot>/dev/block/<major>:<minor>" (or, for a mount
// without a real device number, "<sysRoot>/class/block/<name>" of a "/dev/<name>" source)
// resolved to its disk (a partition's parent), then that disk's "removable" file.
std::optional<bool> SysfsRemovable(const MountEntry& mount,
                                   const std::filesystem::path& sysRoot = "/sys");

// Player mode of this run: the option, or the program's folder (from /proc/self/exe)
// checked against /proc/self/mountinfo.
bool DetectPlayerMode(std::span<const std::string_view> args);

}  // namespace taviro::app
