// Player mode: which mount holds the program, whether that is a disc or a removable device,
// and the sysfs walk from a mount's device number to its disk.
#include "app/player_mode.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace taviro::app {
namespace {

namespace fs = std::filesystem;

// A desktop with a fixed ext4 root, a USB stick and a disc, as the kernel lists them.
constexpr std::string_view kMountInfo =
    "22 1 259:2 / / rw,relatime shared:1 - ext4 /dev/nvme0n1p2 rw,errors=remount-ro\n"
    "23 22 0:21 / /proc rw,nosuid,nodev,noexec,relatime shared:12 - proc proc rw\n"
    "30 22 259:1 / /boot/efi rw,relatime shared:30 - vfat /dev/nvme0n1p1 rw,fmask=0077\n"
    "90 22 8:17 / /media/op/MY\\040STICK rw,nosuid,nodev,relatime shared:50 - vfat /dev/sdb1 "
    "rw,uid=1000,gid=1000\n"
    "95 22 11:0 / /media/op/BACKUP_0412 ro,nosuid,nodev,relatime shared:55 - iso9660 /dev/sr0 "
    "ro,nojoliet,check=s,map=n,blocksize=2048\n";

std::optional<bool> Removable(const MountEntry& mount) {
    if (mount.major == 8 && mount.minor == 17)
        return true;
    if (mount.major == 259)
        return false;
    return std::nullopt;
}

TEST(PlayerModeTest, MountInfoLinesAreSplitAndUnescaped) {
    const auto mounts = ParseMountInfo(kMountInfo);
    ASSERT_EQ(mounts.size(), 5u);
    EXPECT_EQ(mounts[3], (MountEntry{8, 17, "/media/op/MY STICK", "vfat", "/dev/sdb1"}));
    EXPECT_EQ(mounts[4].fsType, "iso9660");
    EXPECT_EQ(mounts[0].mountPoint, "/");
}

TEST(PlayerModeTest, BrokenLinesAreSkipped) {
    const std::string text =
        "garbage\n"
        "1 2 8:1 / /a rw - ext4\n"               // no source
        "1 2 8x1 / /b rw - ext4 /dev/sda1 rw\n"  // bad device number
        "1 2 8:99999999999 / /c rw - ext4 /dev/x rw\n"
        "1 2 8:1 / relative rw - ext4 /dev/x rw\n"
        "1 2 8:1 / /d rw shared:1 master:2 ext4 /dev/x rw\n"  // no separator
        "\n"
        "1 2 8:1 / /ok\\ rw - ext4 /dev/sda1\n";  // a lone backslash stays
    const auto mounts = ParseMountInfo(text);
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].mountPoint, "/ok\\");
}

TEST(PlayerModeTest, TheDeepestMountHoldingThePathWins) {
    const auto mounts = ParseMountInfo(kMountInfo);
    EXPECT_EQ(MountFor(mounts, "/usr/bin")->mountPoint, "/");
    EXPECT_EQ(MountFor(mounts, "/media/op/MY STICK/taviro")->source, "/dev/sdb1");
    EXPECT_EQ(MountFor(mounts, "/media/op/MY STICK/")->source, "/dev/sdb1");
    EXPECT_EQ(MountFor(mounts, "/media/op/MY STICKER")->mountPoint, "/");
    EXPECT_EQ(MountFor(mounts, "/boot/efi/../x")->mountPoint, "/");

    // Of two mounts on one folder the later lies on top.
    const auto stacked = ParseMountInfo(
        "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "2 1 8:17 / /mnt rw - vfat /dev/sdb1 rw\n"
        "3 1 11:0 / /mnt ro - udf /dev/sr0 ro\n");
    EXPECT_EQ(MountFor(stacked, "/mnt/x")->fsType, "udf");
    EXPECT_FALSE(MountFor(ParseMountInfo(""), "/"));
}

TEST(PlayerModeTest, StickAndDiscArePlayerLocationsTheFixedRootIsNot) {
    EXPECT_TRUE(IsPlayerLocation(kMountInfo, "/media/op/MY STICK/taviro", Removable));
    EXPECT_TRUE(IsPlayerLocation(kMountInfo, "/media/op/BACKUP_0412/bin", Removable));
    EXPECT_TRUE(IsPlayerLocation(kMountInfo, "/media/op/BACKUP_0412", nullptr));  // optical
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "/usr/local/bin", Removable));
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "/boot/efi", Removable));
    // Unknown device, no lookup, no folder: a fixed disk.
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "/proc/self", Removable));
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "/media/op/MY STICK", nullptr));
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "", Removable));
    EXPECT_FALSE(IsPlayerLocation(kMountInfo, "relative/bin", Removable));
    const std::string_view rootOnly = "22 1 8:2 / / rw,relatime - ext4 /dev/sda2 rw\n";
    EXPECT_FALSE(IsPlayerLocation(rootOnly, "/opt/taviro",
                                  [](const MountEntry&) { return std::optional<bool>(false); }));
}

TEST(PlayerModeTest, ThePlayerOptionAloneSwitchesItOn) {
    const std::string_view with[] = {"taviro", "--player"};
    const std::string_view without[] = {"taviro", "--play", "player"};
    EXPECT_TRUE(HasPlayerOption(with));
    EXPECT_FALSE(HasPlayerOption(without));
    EXPECT_TRUE(DetectPlayerMode(with));
}

TEST(PlayerModeTest, ThisSystemsMountsHoldTheRunningProgram) {
    std::ifstream in("/proc/self/mountinfo");
    ASSERT_TRUE(in);
    std::string text;
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        text.append(block, static_cast<std::size_t>(in.gcount()));
    const auto mounts = ParseMountInfo(text);
    ASSERT_FALSE(mounts.empty());
    EXPECT_TRUE(MountFor(mounts, fs::read_symlink("/proc/self/exe").parent_path()));
}

class SysfsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_sys = fs::temp_directory_path() / ("taviro_sysfs_" + std::to_string(::getpid()));
        fs::remove_all(m_sys);
        // A USB stick sdb with partition sdb1 and a fixed disk sda without partitions.
        const fs::path usb = m_sys / "devices" / "pci0000:00" / "usb1" / "block" / "sdb";
        const fs::path sata = m_sys / "devices" / "pci0000:00" / "ata1" / "block" / "sda";
        fs::create_directories(usb / "sdb1");
        fs::create_directories(sata);
        fs::create_directories(m_sys / "dev" / "block");
        fs::create_directories(m_sys / "class" / "block");
        std::ofstream(usb / "removable") << "1\n";
        std::ofstream(usb / "sdb1" / "partition") << "1\n";
        std::ofstream(sata / "removable") << "0\n";
        fs::create_directory_symlink(usb / "sdb1", m_sys / "dev" / "block" / "8:17");
        fs::create_directory_symlink(usb, m_sys / "dev" / "block" / "8:16");
        fs::create_directory_symlink(sata, m_sys / "dev" / "block" / "8:0");
        fs::create_directory_symlink(usb / "sdb1", m_sys / "class" / "block" / "sdb1");
    }
    void TearDown() override { fs::remove_all(m_sys); }
    fs::path m_sys;
};

TEST_F(SysfsTest, APartitionIsJudgedByItsDisk) {
    EXPECT_EQ(SysfsRemovable({8, 17, "/media/x", "vfat", "/dev/sdb1"}, m_sys), true);
    EXPECT_EQ(SysfsRemovable({8, 16, "/media/x", "vfat", "/dev/sdb"}, m_sys), true);
    EXPECT_EQ(SysfsRemovable({8, 0, "/", "ext4", "/dev/sda"}, m_sys), false);
    EXPECT_EQ(SysfsRemovable({8, 32, "/", "ext4", "/dev/sdc"}, m_sys), std::nullopt);
}

TEST_F(SysfsTest, AnAnonymousDeviceNumberFallsBackToTheSourceName) {
    EXPECT_EQ(SysfsRemovable({0, 45, "/media/x", "btrfs", "/dev/sdb1"}, m_sys), true);
    EXPECT_EQ(SysfsRemovable({0, 21, "/proc", "proc", "proc"}, m_sys), std::nullopt);
    EXPECT_EQ(SysfsRemovable({0, 45, "/x", "btrfs", "/dev/../sdb1"}, m_sys), std::nullopt);
    EXPECT_EQ(SysfsRemovable({0, 45, "/x", "btrfs", "/dev/"}, m_sys), std::nullopt);
}

}  // namespace
}  // namespace taviro::app
