#include "app/player_mode.h"

#include <charconv>
#include <fstream>
#include <system_error>

#include "app/storage_folders.h"

namespace taviro::app {

namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ooo.
std::string Unescaped(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1];
            const char b = field[i + 2];
            const char c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>(((a - '0') << 6) | ((b - '0') << 3) | (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        const std::size_t start = pos;
        while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t')
            ++pos;
        if (pos > start)
            fields.push_back(line.substr(start, pos - start));
    }
    return fields;
}

bool ParseNumber(std::string_view text, std::uint32_t& value) {
    if (text.empty())
        return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::optional<MountEntry> ParseMountLine(std::string_view line) {
    const std::vector<std::string_view> fields = SplitFields(line);
    // id parent major:minor root mount-point options [optional fields...] - type source ...
    constexpr std::size_t kFixedBefore = 6;
    if (fields.size() < kFixedBefore + 3)
        return std::nullopt;
    std::size_t separator = kFixedBefore;
    while (separator < fields.size() && fields[separator] != "-")
        ++separator;
    if (separator + 2 >= fields.size())
        return std::nullopt;

    MountEntry entry;
    const std::string_view device = fields[2];
    const std::size_t colon = device.find(':');
    if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), entry.major) ||
        !ParseNumber(device.substr(colon + 1), entry.minor))
        return std::nullopt;
    entry.mountPoint = Unescaped(fields[4]);
    if (entry.mountPoint.empty() || entry.mountPoint.front() != '/')
        return std::nullopt;
    entry.fsType = Unescaped(fields[separator + 1]);
    entry.source = Unescaped(fields[separator + 2]);
    return entry;
}

// "/a/b/" and "/a/b" are the same folder; "/" stays "/".
std::string Normalised(const std::filesystem::path& path) {
    std::string text = path.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool IsSameOrBelow(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/")
        return !path.empty() && path.front() == '/';
    return path == mountPoint ||
           (path.size() > mountPoint.size() &&
            path.compare(0, mountPoint.size(), mountPoint) == 0 && path[mountPoint.size()] == '/');
}

std::optional<bool> ReadRemovableFlag(const std::filesystem::path& disk) {
    std::ifstream in(disk / "removable");
    if (!in)
        return std::nullopt;
    char c = 0;
    if (!in.get(c))
        return std::nullopt;
    if (c == '1')
        return true;
    if (c == '0')
        return false;
    return std::nullopt;
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        if (std::optional<MountEntry> entry = ParseMountLine(text.substr(pos, end - pos)))
            mounts.push_back(std::move(*entry));
        pos = end + 1;
    }
    return mounts;
}

std::optional<MountEntry> MountFor(std::span<const MountEntry> mounts,
                                   const std::filesystem::path& path) {
    const std::string target = Normalised(path);
    const MountEntry* best = nullptr;
    std::size_t bestLength = 0;
    for (const MountEntry& mount : mounts) {
        const std::string point = Normalised(mount.mountPoint);
        if (!IsSameOrBelow(target, point))
            continue;
        if (best == nullptr || point.size() >= bestLength) {
            best = &mount;
            bestLength = point.size();
        }
    }
    if (best == nullptr)
        return std::nullopt;
    return *best;
}

bool IsOpticalFileSystem(std::string_view fsType) {
    return fsType == "iso9660" || fsType == "udf";
}

bool IsPlayerLocation(std::string_view mountInfo, const std::filesystem::path& programFolder,
                      const RemovableLookup& removable) {
    if (programFolder.empty() || !programFolder.is_absolute())
        return false;
    const std::vector<MountEntry> mounts = ParseMountInfo(mountInfo);
    const std::optional<MountEntry> mount = MountFor(mounts, programFolder);
    if (!mount)
        return false;
    if (IsOpticalFileSystem(mount->fsType))
        return true;
    if (!removable)
        return false;
    return removable(*mount).value_or(false);
}

bool HasPlayerOption(std::span<const std::string_view> args) {
    for (std::string_view arg : args) {
        if (arg == kPlayerOption)
            return true;
    }
    return false;
}

std::optional<bool> SysfsRemovable(const MountEntry& mount, const std::filesystem::path& sysRoot) {
    std::filesystem::path node;
    if (mount.major != 0) {
        node = sysRoot / "dev" / "block" /
               (std::to_string(mount.major) + ":" + std::to_string(mount.minor));
    } else {
        // btrfs and the like report an anonymous device number; the source names the disk.
        constexpr std::string_view kDev = "/dev/";
        const std::string_view source = mount.source;
        if (source.size() <= kDev.size() || source.substr(0, kDev.size()) != kDev)
            return std::nullopt;
        const std::string_view name = source.substr(kDev.size());
        if (name.find('/') != std::string_view::npos || name == "." || name == "..")
            return std::nullopt;
        node = sysRoot / "class" / "block" / std::string(name);
    }
    std::error_code ec;
    std::filesystem::path device = std::filesystem::canonical(node, ec);
    if (ec)
        return std::nullopt;
    // A partition's folder lies inside its disk's folder and carries a "partition" file.
    if (std::filesystem::exists(device / "partition", ec))
        device = device.parent_path();
    return ReadRemovableFlag(device);
}

bool DetectPlayerMode(std::span<const std::string_view> args) {
    if (HasPlayerOption(args))
        return true;
    const std::filesystem::path programFolder = ProgramFolder();
    if (programFolder.empty())
        return false;
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in)
        return false;
    std::string text;
    // /proc files report no size; read in blocks up to the cap.
    char block[8192];
    while (text.size() < kMountInfoMax && in.read(block, sizeof block).gcount() > 0) {
        text.append(block, static_cast<std::size_t>(in.gcount()));
        if (!in)
            break;
    }
    if (text.size() >= kMountInfoMax) {
        // Cut back to the last whole line: a line cut short could name a wrong device.
        const std::size_t lastLine = text.rfind('\n', kMountInfoMax - 1);
        text.resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    }
    return IsPlayerLocation(text, programFolder,
                            [](const MountEntry& mount) { return SysfsRemovable(mount); });
}

}  // namespace taviro::app
