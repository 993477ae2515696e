// The storage folder's default and its sub-folders.
#include "app/storage_folders.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_folder_test.h"

namespace taviro::app {
namespace {

namespace fs = std::filesystem;

class StorageFoldersTest : public testing::CTempFolderTest {
  protected:
    StorageFoldersTest() : CTempFolderTest("taviro_app_storage_") {}
};

TEST_F(StorageFoldersTest, SubFoldersLieDirectlyBelowTheLocation) {
    EXPECT_EQ(SubFolderPath("/srv/t", StorageSubFolder::kLog), fs::path("/srv/t/Log"));
    EXPECT_EQ(SubFolderPath("/srv/t", StorageSubFolder::kSaved), fs::path("/srv/t/Saved"));
    EXPECT_EQ(SubFolderPath("/srv/t", StorageSubFolder::kDownload), fs::path("/srv/t/Download"));
    EXPECT_EQ(SubFolderPath("/srv/t", StorageSubFolder::kUpgrade), fs::path("/srv/t/Upgrade"));
}

TEST_F(StorageFoldersTest, SubFoldersAreCreatedOnDemandWithTheirParents) {
    const fs::path location = m_root / "new" / "place";
    const auto saved = EnsureSubFolder(location, StorageSubFolder::kSaved);
    ASSERT_TRUE(saved);
    EXPECT_TRUE(fs::is_directory(*saved));
    EXPECT_FALSE(EnsureSubFolder("", StorageSubFolder::kLog));
}

TEST_F(StorageFoldersTest, UpgradeIsMadeAtStartExceptInPlayerMode) {
    EXPECT_TRUE(PrepareStartFolders(m_root / "player", true));
    EXPECT_FALSE(fs::exists(m_root / "player"));
    EXPECT_TRUE(PrepareStartFolders(m_root / "normal", false));
    EXPECT_TRUE(fs::is_directory(m_root / "normal" / "Upgrade"));
}

TEST_F(StorageFoldersTest, DefaultLocationIsTheBrandingFolderInHome) {
    setenv("HOME", "/home/operator", 1);
    Branding branding;
    EXPECT_EQ(DefaultLocation(branding), fs::path("/home/operator/TAVIRO"));
    branding.folderName = "OrvoDVR";
    EXPECT_EQ(DefaultLocation(branding), fs::path("/home/operator/OrvoDVR"));
    // A name that would lead out of HOME is not taken.
    for (const char* escape : {"/etc", "..", ".", "a/../../b"}) {
        branding.folderName = escape;
        EXPECT_EQ(DefaultLocation(branding), fs::path("/home/operator/TAVIRO")) << escape;
    }
    unsetenv("HOME");
    EXPECT_TRUE(DefaultLocation(Branding{}).is_absolute());
}

}  // namespace
}  // namespace taviro::app
