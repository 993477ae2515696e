// The storage folder and its sub-folders, and the trace output that stays silent unless
// asked for.
#include "platform/storage.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/trace.h"

#include "support/temp_folder_test.h"

namespace taviro::platform {
namespace {

namespace fs = std::filesystem;

class StorageTest : public testing::CTempFolderTest {
  protected:
    StorageTest() : CTempFolderTest("taviro_storage_") {}
};

TEST_F(StorageTest, EnsureFolderCreatesEveryMissingParent) {
    const fs::path deep = m_root / "a" / "b" / "Log";
    EXPECT_TRUE(EnsureFolder(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(EnsureFolder(deep));  // already there
}

TEST_F(StorageTest, FreeSpaceOfAFolderNotYetMadeIsThatOfItsNearestExistingParent) {
    fs::create_directories(m_root);
    struct Back {
        fs::path to = fs::current_path();
        ~Back() { fs::current_path(to); }
    } back;
    fs::current_path(m_root);
    const std::int64_t here = FreeMegabytes(".");
    ASSERT_GT(here, 0);
    // Relative and absolute, one or several levels missing: never "no space".
    for (const fs::path& folder : {fs::path("new"), fs::path("new/folder/deep"),
                                   fs::path("./new/folder"), m_root / "new" / "folder"}) {
        const std::int64_t free = FreeMegabytes(folder);
        EXPECT_GT(free, 0) << folder;
        EXPECT_LT(std::abs(free - here), 64) << folder;  // the same disk
    }
}

TEST_F(StorageTest, EnsureFolderFailsWhereAFileIsInTheWay) {
    fs::create_directories(m_root);
    std::ofstream(m_root / "file") << "x";
    EXPECT_FALSE(EnsureFolder(m_root / "file"));
    EXPECT_FALSE(EnsureFolder(m_root / "file" / "below"));
}

TEST_F(StorageTest, DefaultFolderLivesInHome) {
    setenv("HOME", "/home/operator", 1);
    EXPECT_EQ(DefaultStorageFolder(), fs::path("/home/operator/TAVIRO"));
    EXPECT_EQ(DefaultStorageFolder("Brand"), fs::path("/home/operator/Brand"));
    setenv("HOME", "", 1);
    EXPECT_EQ(DefaultStorageFolder(), fs::path("./TAVIRO"));
    unsetenv("HOME");
    EXPECT_EQ(DefaultStorageFolder(), fs::path("./TAVIRO"));
}

TEST(TraceTest, SilentUnlessEnabledAndLinesAreCut) {
    SetTraceEnabled(false);
    ::testing::internal::CaptureStderr();
    Trace("Recv...HELLO48_ACK...\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    SetTraceEnabled(true);
    EXPECT_TRUE(TraceEnabled());
    ::testing::internal::CaptureStderr();
    Trace("RecvFn_LiveNack... %d", 53);
    const std::string line = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(line, "RecvFn_LiveNack... 53\n");

    const std::string longText(3000, 'x');
    ::testing::internal::CaptureStderr();
    Trace("%s", longText.c_str());
    const std::string cut = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(cut, std::string(1023, 'x') + "\n");
    SetTraceEnabled(false);
    EXPECT_FALSE(TraceEnabled());
}

}  // namespace
}  // namespace taviro::platform
