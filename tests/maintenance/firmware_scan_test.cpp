// The Upgrade folder scan: which image each slot gets (newest, and only when newer than
// what the recorder runs), the three image kinds with every check bounded by what a file
// holds, the boot build date, and the slot tables of the two recorder kinds.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "firmware_images.h"
#include "maintenance/firmware_scan.h"
#include "platform/message_sink.h"
#include "support/temp_folder_test.h"

namespace taviro::maintenance::test {
namespace {

constexpr std::uint32_t kRunning = 1'000'000;
// 2011-03-02 01:02:03 UTC: what "Feb 30 2011 - 01:02:03" means.
constexpr std::uint32_t kFeb30 = 1'299'027'723;

protocol::HelloAck Hello(bool newerKind) {
    protocol::HelloAck h;
    h.product_major_ver = newerKind ? 2 : 0;
    h.product_minor_ver = 1;
    const char* names[] = {"Boot-v1.2.3", "", "KERNEL", "APP", "FS", "UI", "LOGO"};
    for (std::size_t k = 0; k < std::size(names); ++k) {
        std::strncpy(h.FirmName[k].data(), names[k], h.FirmName[k].size());
        h.FirmVer[k] = static_cast<protocol::RecorderTime>(kRunning);
    }
    return h;
}

Bytes Text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

class FirmwareScanTest : public taviro::testing::CTempFolderTest {
  protected:
    FirmwareScanTest() : CTempFolderTest("taviro_fw_scan_") {}
    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
    }
    void Put(const std::string& name, const Bytes& bytes) { WriteFile(m_root / name, bytes); }
};

TEST_F(FirmwareScanTest, NewestImageNewerThanTheRecorderWinsEachSlot) {
    Put("app_old.bin", ComponentImage("APP", kRunning + 10, 500));
    Put("app_new.bin", ComponentImage("APP", kRunning + 20, 300));
    Put("fs_same.bin", ComponentImage("FS", kRunning, 500));  // what runs: never offered
    Put("fs_older.bin", ComponentImage("FS", kRunning - 1, 500));
    Put("boot.bin", BootImage("VBoot-v1.2.3 (Feb 30 2011 - 01:02:03)"));
    Put("empty.bin", {});
    Put("short_header.bin", ComponentImage("UI", kRunning + 5, 63));
    Put("unnamed.bin", ComponentImage("", kRunning + 5, 100));  // entry 1 has no name
    Put("unknown.bin", ComponentImage("OTHER", kRunning + 5, 100));
    std::filesystem::create_directory(m_root / "a_folder");

    const protocol::HelloAck hello = Hello(true);
    const UpgradeScan scan = ScanUpgradeFolder(m_root, hello);
    ASSERT_EQ(scan.slotCount, 6u);

    const UpgradeSlot& app = scan.upgradeSlots[1];  // component 3
    ASSERT_TRUE(app.bCandidate);
    EXPECT_EQ(app.path.filename(), "app_new.bin");
    EXPECT_EQ(app.request[16], 3);
    EXPECT_EQ(protocol::LoadBE32(app.request.data() + 4), kRunning + 20);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(app.request.data() + 21)), "APP");
    EXPECT_EQ(protocol::LoadBE32(app.request.data()), 0u);
    EXPECT_EQ(app.request[20], 0);

    const UpgradeSlot& boot = scan.upgradeSlots[0];
    ASSERT_TRUE(boot.bCandidate);
    EXPECT_EQ(boot.version, kFeb30);
    EXPECT_EQ(boot.request[16], 0);
    // A boot image announces its first 15 bytes as its name.
    EXPECT_EQ(Bytes(boot.request.begin() + 21, boot.request.begin() + 36), Text("XYZVBoot-v1.2.3"));
    EXPECT_EQ(boot.request[36], 0);

    for (const std::size_t slot : {2u, 3u, 4u, 5u}) {
        EXPECT_FALSE(scan.upgradeSlots[slot].bCandidate) << "slot " << slot;
    }
    EXPECT_EQ(scan.Candidates(), 2u);
}

TEST_F(FirmwareScanTest, EmptyFolderReportsNoCandidates) {
    platform::CQueueSink sink;
    const UpgradeScan scan = ScanAndNotify(m_root, Hello(true), sink);
    EXPECT_EQ(scan.accepted, 0u);
    EXPECT_EQ(sink.Notifications(), (std::vector<std::pair<int, int>>{{11, 1}}));

    Put("app.bin", ComponentImage("APP", kRunning + 1, 64));
    platform::CQueueSink found;
    EXPECT_EQ(ScanAndNotify(m_root, Hello(true), found).Candidates(), 1u);
    EXPECT_EQ(found.Notifications(), (std::vector<std::pair<int, int>>{{11, 0}}));
}

TEST(FirmwareImage, SlotsOfTheTwoRecorderKinds) {
    const protocol::HelloAck older = Hello(false);
    const protocol::HelloAck newer = Hello(true);
    EXPECT_EQ(SlotCount(older), 5u);
    EXPECT_EQ(SlotCount(newer), 6u);
    protocol::HelloAck minor = older;
    minor.product_minor_ver = 2;
    EXPECT_EQ(SlotCount(minor), 6u);

    // Component 2 only has a slot on the newer kind; component 6 moves from 4 to 5.
    const Bytes kernel = ComponentImage("KERNEL", kRunning + 1, 64);
    EXPECT_FALSE(ExamineImage(kernel, older));
    EXPECT_EQ(ExamineImage(kernel, newer)->slot, 3u);
    const Bytes logo = ComponentImage("LOGO", kRunning + 1, 64);
    EXPECT_EQ(ExamineImage(logo, older)->slot, 4u);
    EXPECT_EQ(ExamineImage(logo, newer)->slot, 5u);
    EXPECT_FALSE(SlotToComponent(5, false));
    EXPECT_EQ(SlotToComponent(5, true), 6u);

    // An image for a slot the recorder does not have is never offered.
    UpgradeScan scan;
    scan.slotCount = SlotCount(older);
    FwImage image;
    image.slot = 5;
    image.component = 6;
    image.version = kRunning + 1;
    EXPECT_FALSE(OfferImage(scan, image, "x", older));
}

TEST(FirmwareImage, ChecksAreBoundedByTheBytesRead) {
    const protocol::HelloAck hello = Hello(true);
    // "VBoot" cut short falls through to the other kinds, which are too short as well.
    EXPECT_FALSE(ExamineImage(Text("XYZVBo"), hello));
    // The name is there but the date is cut inside the seconds' field's position.
    const Bytes boot = Text("XYZVBoot-v1.2.3 (Feb 30 2011 - 01:02:03)");
    EXPECT_TRUE(ExamineImage(boot, hello));
    EXPECT_FALSE(ExamineImage(std::span(boot).first(boot.size() - 3), hello));
    // Behind the 64-byte prefix the name is at most 10 characters.
    protocol::HelloAck prefixed = hello;
    prefixed.FirmName[0] = {};
    std::strncpy(prefixed.FirmName[0].data(), "Boot-v1.2.", 32);
    const Bytes behind = BootImage("VBoot-v1.2.3 (Jan  5 2012 - 10:00:00)", true);
    const auto image = ExamineImage(behind, prefixed);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->version, 1'325'757'600u);  // 2012-01-05 10:00:00 UTC, blank-padded day
    EXPECT_FALSE(ExamineImage(behind, hello));  // 11 characters never match 10
    // A recorder that lists no boot name matches no boot image.
    protocol::HelloAck noBoot = hello;
    noBoot.FirmName[0] = {};
    EXPECT_FALSE(ExamineImage(boot, noBoot));
}

TEST(FirmwareImage, BootDate) {
    EXPECT_EQ(ParseBootDate(Text("x (Feb 30 2011 - 01:02:03)")), kFeb30);
    EXPECT_EQ(ParseBootDate(Text("(Dec 31 1969 - 23:59:59)")), std::nullopt);  // before 1970
    EXPECT_EQ(ParseBootDate(Text("no bracket")), std::nullopt);
    EXPECT_EQ(ParseBootDate(Text("(feb 30 2011 - 01:02:03)")), std::nullopt);  // case matters
    EXPECT_EQ(ParseBootDate(Text("(Feb 30 2011 - 01:02:")), std::nullopt);
    // The text ends at its terminator: a date after it is not the image's.
    Bytes split = Text("(Feb 30 2011 - 01:02:03)");
    split[10] = 0;
    EXPECT_EQ(ParseBootDate(split), std::nullopt);
    EXPECT_EQ(ParseBootDate(Text("(Feb 30 9999999999 - 01:02:03)")), std::nullopt);
}

}  // namespace
}  // namespace taviro::maintenance::test
