// taviro-cli snapshot against the simulated recorder: live view, then one file per
// requested channel named by the local time and the channel, as the Save button writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

class CliSnapshotTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-snapshot-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
};

TEST_F(CliSnapshotTest, SavesEveryRequestedChannelIntoTheSavedFolder) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.live_gop = 5;
    config.live_available = 0x000F;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const std::vector<std::string> args =
        testing::CliArgs("snapshot", recorder.Port(), (m_dir / "st").string(),
                         {"--channels", "0x0005", "--format", "bmp", "--seconds",
                          std::to_string(2 * testing::kSanitizerSlowdown)});
    const auto result =
        testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args, 120s);
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;

    // One line per file: <storage>/Saved/YYYYMMDDhhmmss_00CC.bmp for channels 1 and 3.
    const std::regex name(R"(.*/st/Saved/(\d{14})_00(\d\d)\.bmp)");
    std::istringstream lines(result.out);
    std::set<std::string> channels;
    std::set<std::string> stamps;
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, name)) {
            continue;
        }
        channels.insert(match[2]);
        stamps.insert(match[1]);
        EXPECT_EQ(std::filesystem::file_size(line), 1'440'054u) << line;
    }
    EXPECT_EQ(channels, (std::set<std::string>{"01", "03"})) << result.out;
    EXPECT_EQ(stamps.size(), 1u);  // one command, one time in every name

    // A channel the recorder does not have cannot be saved: the command fails.
    const auto missing = testing::RunProgram(
        testing::BuiltProgram("src/cli/taviro-cli"),
        testing::CliArgs(
            "snapshot", recorder.Port(), (m_dir / "st").string(),
            {"--channels", "0x0100", "--seconds", "1", "--out", (m_dir / "other").string()}),
        120s);
    EXPECT_NE(missing.exitStatus, 0) << missing.out << missing.err;
    EXPECT_FALSE(std::filesystem::exists(m_dir / "other"));
}

}  // namespace
}  // namespace taviro::cli
