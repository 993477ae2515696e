// Where the windows and the command-line client look for the skin pack: the variable, the
// folders beside an installed or unpacked program, and the build tree.
#include "platform/skin_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_folder_test.h"

namespace taviro::platform {
namespace {

namespace fs = std::filesystem;

class SkinFolderTest : public testing::CTempFolderTest {
  protected:
    SkinFolderTest() : CTempFolderTest("taviro_skin_folder_") {}

    static void Touch(const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
    }
    // A folder with a pack in it (a text table).
    static fs::path Pack(const fs::path& folder) {
        Touch(folder / "texts.txt");
        return folder;
    }
};

TEST_F(SkinFolderTest, AFolderHoldsAPackWithTextsOrPictures) {
    EXPECT_FALSE(HoldsSkinPack(m_root / "missing"));
    EXPECT_FALSE(HoldsSkinPack({}));
    fs::create_directories(m_root / "empty");
    EXPECT_FALSE(HoldsSkinPack(m_root / "empty"));
    Touch(m_root / "other" / "readme.txt");
    fs::create_directories(m_root / "other" / "dir.png");  // a folder named like a picture
    EXPECT_FALSE(HoldsSkinPack(m_root / "other"));
    Touch(m_root / "pictures" / "1190.png");
    EXPECT_TRUE(HoldsSkinPack(m_root / "pictures"));
    EXPECT_TRUE(HoldsSkinPack(Pack(m_root / "texts")));
    Touch(m_root / "file");
    EXPECT_FALSE(HoldsSkinPack(m_root / "file"));  // a file is no folder
}

TEST_F(SkinFolderTest, TheVariableWinsEvenOverAnInstalledPack) {
    Pack(m_root / "usr" / "share" / "taviro" / "skin");
    EXPECT_EQ(FindSkinFolder("/elsewhere/skin", m_root / "usr" / "bin"), "/elsewhere/skin");
}

TEST_F(SkinFolderTest, AnInstalledProgramFindsThePackUnderShare) {
    const fs::path bin = m_root / "usr" / "bin";
    fs::create_directories(bin);
    Pack(m_root / "usr" / "share" / "taviro" / "skin");
    EXPECT_EQ(FindSkinFolder("", bin), (m_root / "usr" / "share" / "taviro" / "skin").string());
}

TEST_F(SkinFolderTest, FoldersBesideTheProgramComeInOrderAndEmptyOnesAreSkipped) {
    const fs::path bin = m_root / "app" / "bin";
    Pack(m_root / "app" / "share" / "taviro" / "skin");
    Pack(m_root / "app" / "skin");
    fs::create_directories(bin / "skin");  // empty: no pack
    EXPECT_EQ(FindSkinFolder("", bin), (m_root / "app" / "skin").string());
    Pack(bin / "skin");
    EXPECT_EQ(FindSkinFolder("", bin), (bin / "skin").string());
}

TEST_F(SkinFolderTest, AProgramInABuildTreeUsesThatTreesPack) {
    const fs::path build = m_root / "build";
    Touch(build / "CMakeCache.txt");
    Pack(build / "skin");
    const fs::path program = build / "src" / "app" / "ui";
    fs::create_directories(program);
    EXPECT_EQ(FindSkinFolder("", program), (build / "skin").string());

    // A build tree nested in another one, without a pack of its own, does not borrow the
    // outer tree's pack: the answer is where this program would look first.
    const fs::path inner = build / "inner";
    Touch(inner / "CMakeCache.txt");
    fs::create_directories(inner / "tools");
    EXPECT_EQ(FindSkinFolder("", inner / "tools"), (inner / "tools" / "skin").string());
}

TEST_F(SkinFolderTest, WithoutAnyPackTheFirstPlaceIsNamed) {
    const fs::path bin = m_root / "nowhere" / "bin";
    fs::create_directories(bin);
    EXPECT_EQ(FindSkinFolder("", bin), (bin / "skin").string());
    EXPECT_EQ(FindSkinFolder("", {}), "");
}

}  // namespace
}  // namespace taviro::platform
