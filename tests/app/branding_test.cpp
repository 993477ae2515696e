// The branding file: line rules on raw bytes and the order the file is looked up in.
#include "app/branding.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace taviro::app {
namespace {

namespace fs = std::filesystem;

Branding Parse(std::string_view text) {
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return ParseBranding(bytes);
}

TEST(BrandingTest, EmptyFileKeepsEveryDefault) {
    EXPECT_EQ(Parse(""), Branding{});
    EXPECT_EQ(Parse("\r\n\r\n\r\n\r\n"), Branding{});
}

TEST(BrandingTest, TwoLinesChangeTitleAndFolderOnly) {
    const Branding b = Parse("Orvo Viewer\r\nOrvoDVR\r\n");
    EXPECT_EQ(b.title, "Orvo Viewer");
    EXPECT_EQ(b.folderName, "OrvoDVR");
    EXPECT_EQ(b.dateFormat, "YYYY-MM-DD");
    EXPECT_EQ(b.drawMode, "YUV");
    // The last line needs no separator.
    EXPECT_EQ(Parse("T\r\nF").folderName, "F");
}

TEST(BrandingTest, EmptyLineKeepsItsSlotsDefaultAndTheOthersStillCount) {
    const Branding b = Parse("\r\nFolder\r\n\r\nRGB\r\nignored fifth\r\n");
    EXPECT_EQ(b.title, "TAVIRO");
    EXPECT_EQ(b.folderName, "Folder");
    EXPECT_EQ(b.dateFormat, "YYYY-MM-DD");
    EXPECT_EQ(b.drawMode, "RGB");
}

TEST(BrandingTest, LineFeedsAreSkippedWhereverTheyStand) {
    EXPECT_EQ(Parse("Ti\ntle\r\n\nFol\nder\r").title, "Title");
    EXPECT_EQ(Parse("Ti\ntle\r\n\nFol\nder\r").folderName, "Folder");
    // LF alone separates nothing: the whole file is the title.
    const Branding b = Parse("A\nB\nC\n");
    EXPECT_EQ(b.title, "ABC");
    EXPECT_EQ(b.folderName, "TAVIRO");
    // A line of LFs only is empty.
    EXPECT_EQ(Parse("\n\n\rF").title, "TAVIRO");
    EXPECT_EQ(Parse("\n\n\rF").folderName, "F");
}

TEST(BrandingTest, OverLongLineIsCutAndItsRestDropped) {
    const std::string longLine(kBrandingLineMax + 100, 'x');
    const Branding b = Parse(longLine + "\r\nFolder\r\n");
    EXPECT_EQ(b.title, std::string(kBrandingLineMax, 'x'));
    EXPECT_EQ(b.folderName, "Folder");
    // Exactly the limit is kept whole.
    EXPECT_EQ(Parse(std::string(kBrandingLineMax, 'y')).title.size(), kBrandingLineMax);
}

TEST(BrandingTest, NulEndsTheTextOfItsLine) {
    const Branding b = Parse(std::string_view("Ti\0junk\r\nF", 10));
    EXPECT_EQ(b.title, "Ti");
    EXPECT_EQ(b.folderName, "F");
    EXPECT_EQ(Parse(std::string_view("\0abc\r\nF", 7)).title, "TAVIRO");
}

class BrandingFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root = fs::temp_directory_path() / ("taviro_branding_" + std::to_string(::getpid()));
        fs::remove_all(m_root);
        fs::create_directories(m_root / "cwd");
        fs::create_directories(m_root / "bin");
    }
    void TearDown() override { fs::remove_all(m_root); }
    void Write(const fs::path& file, std::string_view text) {
        std::ofstream(file, std::ios::binary)
            .write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    std::vector<fs::path> Candidates() const {
        return BrandingCandidates(m_root / "cwd", m_root / "bin");
    }
    fs::path m_root;
};

TEST_F(BrandingFileTest, CurrentDirectoryComesBeforeTheProgramFolder) {
    EXPECT_EQ(LoadBranding(Candidates()), Branding{});
    Write(m_root / "bin" / kBrandingFileName, "FromBin\r\n");
    EXPECT_EQ(LoadBranding(Candidates()).title, "FromBin");
    Write(m_root / "cwd" / kBrandingFileName, "FromCwd\r\n");
    EXPECT_EQ(LoadBranding(Candidates()).title, "FromCwd");
    // An empty file found first still ends the search: its defaults hold.
    Write(m_root / "cwd" / kBrandingFileName, "");
    EXPECT_EQ(LoadBranding(Candidates()).title, "TAVIRO");
}

TEST_F(BrandingFileTest, AFolderOfThatNameIsPassedOver) {
    fs::create_directories(m_root / "cwd" / kBrandingFileName);
    Write(m_root / "bin" / kBrandingFileName, "FromBin");
    EXPECT_EQ(LoadBranding(Candidates()).title, "FromBin");
}

TEST_F(BrandingFileTest, OnlyTheStartOfAHugeFileIsRead) {
    std::string text = "T\r\nF\r\n";
    text += std::string(kBrandingFileMax, 'z');
    text += "\r\nnever read\r\n";
    Write(m_root / "cwd" / kBrandingFileName, text);
    const Branding b = LoadBranding(Candidates());
    EXPECT_EQ(b.title, "T");
    EXPECT_EQ(b.folderName, "F");
    EXPECT_EQ(b.dateFormat, std::string(kBrandingLineMax, 'z'));
    EXPECT_EQ(b.drawMode, "YUV");
}

}  // namespace
}  // namespace taviro::app
