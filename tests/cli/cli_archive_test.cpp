// taviro-cli backup, verify and archive end to end against the simulated recorder: the
// JSON lines scripts rely on, split pairs that chain back into one recording, pictures of
// the local player that are the recorded frames, a tampered frame, a full disk, a refusal
// and a lost connection.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "archive/backup_reader.h"
#include "archive/backup_records.h"
#include "archive/backup_writer.h"
#include "sim/h264_test_pattern.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> Lines(const std::string& text, const std::string& event) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
        if (line.find("\"event\":\"" + event + "\"") != std::string::npos)
            out.push_back(line);
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return out;
}

class CliArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-arc-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    static sim::SimConfig Config() {
        sim::SimConfig config;
        config.channels = 4;
        config.live_fps = 25;
        config.live_gop = 25;
        return config;
    }
    testing::ProgramResult Backup(std::uint16_t port, std::vector<std::string> extra) {
        std::vector<std::string> args = {"backup",
                                         "--host",
                                         "127.0.0.1",
                                         "--port",
                                         std::to_string(port),
                                         "--user",
                                         "admin",
                                         "--password",
                                         "1234",
                                         "--storage",
                                         (m_dir / "st").string(),
                                         "--out",
                                         (m_dir / "dl").string(),
                                         "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    }
    static testing::ProgramResult Run(const std::vector<std::string>& args) {
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args,
                                   120s * testing::kSanitizerSlowdown);
    }

    std::filesystem::path m_dir;
};

TEST_F(CliArchiveTest, ABackupSplitIntoPairsPlaysBackAsTheRecordedFrames) {
    auto config = Config();
    config.backup_tamper = 3;  // the third marked frame of the transfer (a key frame)
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    auto result =
        Backup(recorder.Port(), {"--from", "2010-10-12T08:00:00", "--to", "2010-10-12T08:00:12",
                                 "--channels", "0x5", "--split-bytes", "1500000"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    EXPECT_FALSE(Lines(result.out, "progress").empty());
    const auto pairs = Lines(result.out, "pair");
    ASSERT_GE(pairs.size(), 2u) << result.out;
    const std::regex pair(
        R"re(\{"event":"pair","idx":"[^"]+\.idx","vid":"[^"]+\.vid","video_frames":(\d+),"blocks":(\d+),"events":(\d+).*)re");
    std::size_t frames = 0;
    std::size_t events = 0;
    for (const auto& line : pairs) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, pair)) << line;
        frames += std::stoul(m[1]);
        events += std::stoul(m[3]);
    }
    // Two channels, twelve seconds at 25 a second, and the copies before each new block.
    EXPECT_GE(frames, 600u);
    EXPECT_LE(frames, 610u);
    EXPECT_EQ(events, 1u) << "the audio event inside the range; the alarm before it is not";

    // The verifier finds the one tampered frame and nothing else.
    result = Run({"verify", "--dir", (m_dir / "dl").string(), "--json"});
    EXPECT_EQ(result.exitStatus, 1) << result.out << result.err;
    EXPECT_EQ(Lines(result.out, "pair").size(), pairs.size());
    const auto altered = result.out.find("\"result\":\"altered\"");
    ASSERT_NE(altered, std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("\"result\":\"altered\"", altered + 1), std::string::npos);
    EXPECT_EQ(result.out.find("damaged"), std::string::npos) << result.out;

    // The listing joins the pairs into one stretch.
    result = Run({"archive", "--dir", (m_dir / "dl").string(), "--list", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(Lines(result.out, "month")[0],
              R"({"event":"month","year":2010,"month":10,"days":[12]})");
    ASSERT_EQ(Lines(result.out, "stretch").size(), 1u) << result.out;
    EXPECT_EQ(Lines(result.out, "stretch")[0],
              R"({"event":"stretch","channels":[1,3],"kinds":["continuous"],)"
              R"("start":"2010-10-12T08:00:00","end":"2010-10-12T08:00:11"})");

    // The local player, across the splits: every saved picture is the recorded frame.
    result = Run({"archive", "--dir", (m_dir / "dl").string(), "--from", "2010-10-12T08:00:03",
                  "--seconds", "3", "--no-watermark", "--save-dir", (m_dir / "pictures").string(),
                  "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto channels = Lines(result.out, "channel");
    ASSERT_EQ(channels.size(), 2u) << result.out;
    const std::regex line(
        R"re(\{"event":"channel","channel":(\d+),"shown":(\d+),"first":"2010-10-12T08:00:03\.000","last":"2010-10-12T08:00:(\d\d)\.(\d\d\d)","integrity":"unchecked"\})re");
    int index = 0;
    for (const int channel : {1, 3}) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(channels[static_cast<std::size_t>(index++)], m, line))
            << channels[0];
        EXPECT_EQ(std::stoi(m[1]), channel);
        EXPECT_GE(std::stoi(m[2]), 50) << "about three seconds at 25 pictures a second";
        EXPECT_GE(std::stoi(m[3]), 5);
        const int second = 8 * 3600 + std::stoi(m[3]);
        const int frame = (std::stoi(m[4]) * 25 + 999) / 1000;
        const auto expected = sim::MakeH264TestPattern(
            channel - 1, static_cast<std::uint32_t>(second * 25 + frame), 704, 480);
        char name[16];
        std::snprintf(name, sizeof name, "ch%02d.yuv", channel);
        std::ifstream in(m_dir / "pictures" / name, std::ios::binary);
        const std::vector<std::uint8_t> yuv(std::istreambuf_iterator<char>(in), {});
        ASSERT_GE(yuv.size(), expected.y.size());
        EXPECT_TRUE(std::equal(expected.y.begin(), expected.y.end(), yuv.begin()))
            << "channel " << channel;
    }

    // With the watermark check on, the tampered key frame stops playback where it lies.
    result = Run({"archive", "--dir", (m_dir / "dl").string(), "--from", "2010-10-12T08:00:00",
                  "--seconds", "3", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("\"integrity\":\"tampered\""), std::string::npos) << result.out;
}

// Key frames every five seconds, a playback from two seconds after one: the first picture
// of each channel is that second's (its frames from the key frame on decoded unseen), and
// it is the recorded picture of that instant.
TEST_F(CliArchiveTest, APlaybackFromBetweenKeyFramesShowsThatSecondFirst) {
    auto config = Config();
    config.live_gop = 125;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    auto result = Backup(recorder.Port(), {"--from", "2010-10-12T08:00:00", "--to",
                                           "2010-10-12T08:00:12", "--channels", "0x1"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    result = Run({"archive", "--dir", (m_dir / "dl").string(), "--from", "2010-10-12T08:00:07",
                  "--seconds", "1", "--no-watermark", "--json"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto channels = Lines(result.out, "channel");
    ASSERT_EQ(channels.size(), 1u) << result.out;
    EXPECT_NE(channels[0].find(R"("first":"2010-10-12T08:00:07.000")"), std::string::npos)
        << channels[0];
}

// Frames of a picture size the player does not take: each channel of the playback still
// gets its line, with nothing shown, and the command fails with the reason.
TEST_F(CliArchiveTest, APlaybackThatShowsNoPictureListsItsChannelsAndFails) {
    constexpr std::uint32_t kStart = 1'286'870'400;  // 2010-10-12T08:00:00
    archive::WriterOptions options;
    options.folder = m_dir / "dl";
    options.clock = [] { return std::int64_t{kStart}; };
    archive::CBackupWriter writer(options);
    ASSERT_TRUE(writer.Open());
    for (std::uint32_t i = 0; i < 20; ++i) {
        for (const int channel : {0, 2}) {
            ASSERT_TRUE(writer.Write(
                archive::RecordKind::Video,
                testing::VideoRecord(
                    {.channel = channel, .time = kStart + i / 5, .width = 640, .height = 480})));
        }
    }
    ASSERT_TRUE(writer.Close());
    for (const bool json : {true, false}) {
        std::vector<std::string> args = {
            "archive",   "--dir", (m_dir / "dl").string(), "--from", "2010-10-12T08:00:01",
            "--seconds", "1"};
        if (json)
            args.push_back("--json");
        const auto result = Run(args);
        EXPECT_EQ(result.exitStatus, 1) << result.out;
        EXPECT_NE(result.err.find("no picture could be shown"), std::string::npos) << result.err;
        if (json) {
            EXPECT_EQ(
                Lines(result.out, "channel"),
                (std::vector<std::string>{
                    R"({"event":"channel","channel":1,"shown":0,"first":null,"last":null,"integrity":"unchecked"})",
                    R"({"event":"channel","channel":3,"shown":0,"first":null,"last":null,"integrity":"unchecked"})"}));
        } else {
            EXPECT_EQ(result.out,
                      "ch01  shown 0  first -  last -  unchecked\n"
                      "ch03  shown 0  first -  last -  unchecked\n");
        }
    }
}

TEST_F(CliArchiveTest, RefusalsAFullDiskAndALostConnectionExitWithTheirReason) {
    {
        auto config = Config();
        config.backup_refuse = 87;
        config.backup_refuse_sizes = std::make_pair(5000u, 1000u);
        sim::CRecorderSim recorder(config);
        ASSERT_TRUE(recorder.Start());
        const auto result = Backup(
            recorder.Port(), {"--from", "2010-10-12T08:00:00", "--to", "2010-10-12T08:00:05"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.out.find("\"category\":6,\"code\":5"), std::string::npos) << result.out;
    }
    {
        // More than the disk can hold: the local check refuses before anything is sent.
        auto config = Config();
        config.backup_size_kb = 0xFFFFFFF0u;
        sim::CRecorderSim recorder(config);
        ASSERT_TRUE(recorder.Start());
        const auto result = Backup(
            recorder.Port(), {"--from", "2010-10-12T08:00:00", "--to", "2010-10-12T08:00:05"});
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_NE(result.out.find("\"category\":13,\"code\":0"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("MB needed"), std::string::npos) << result.out;
        EXPECT_FALSE(std::filesystem::exists(m_dir / "dl"));
    }
    {
        auto config = Config();
        config.backup_drop_after = 40;
        sim::CRecorderSim recorder(config);
        ASSERT_TRUE(recorder.Start());
        const auto result = Backup(
            recorder.Port(), {"--from", "2010-10-12T08:00:00", "--to", "2010-10-12T08:00:10"});
        EXPECT_EQ(result.exitStatus, 7) << result.out;
        // What arrived before the loss is a closed, readable pair.
        ASSERT_EQ(Lines(result.out, "pair").size(), 1u) << result.out;
        const auto verify = Run({"verify", "--dir", (m_dir / "dl").string()});
        EXPECT_EQ(verify.exitStatus, 0) << verify.out;
    }
}

// A disk that fills up during the transfer (a small file system of the test's own in a
// mount namespace of its own, filled by another writer once the pair is open): the command
// stops at once with the system's reason, and the pair written so far is kept and listed.
// The filler gives up after 20 s and is ended with the command, so a backup that never opens
// its pair leaves nothing running behind the test.
TEST_F(CliArchiveTest, ADiskThatFillsUpEndsTheBackupAtOnceWithThePairKept) {
    const std::string unshare = "/usr/bin/unshare";
    if (testing::RunProgram(unshare, {"-rm", "true"}, 10s).exitStatus != 0)
        GTEST_SKIP() << "no mount namespace for a small file system here";
    auto config = Config();
    config.backup_size_kb = 1024;    // the size check passes
    config.backup_rate_kbps = 2000;  // the transfer lasts well past the filling
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start());
    const auto small = m_dir / "small";
    std::filesystem::create_directories(small);
    const std::string script =
        R"(mount -t tmpfs -o size=110m tmpfs "$1" || exit 90
dir=$1; shift
(i=0; until ls "$dir"/*.vid || [ $i -ge 400 ]; do sleep 0.05; i=$((i+1)); done
dd if=/dev/zero of="$dir/other" bs=64k) >/dev/null 2>&1 </dev/null &
filler=$!
"$@"; status=$?
kill $filler 2>/dev/null; wait $filler 2>/dev/null
exit $status)";
    const std::vector<std::string> args = {"-rm",
                                           "sh",
                                           "-c",
                                           script,
                                           "sh",
                                           small.string(),
                                           testing::BuiltProgram("src/cli/taviro-cli"),
                                           "backup",
                                           "--host",
                                           "127.0.0.1",
                                           "--port",
                                           std::to_string(recorder.Port()),
                                           "--user",
                                           "admin",
                                           "--password",
                                           "1234",
                                           "--storage",
                                           (m_dir / "st").string(),
                                           "--out",
                                           small.string(),
                                           "--from",
                                           "2010-10-12T08:00:00",
                                           "--to",
                                           "2010-10-12T08:01:00",
                                           "--json"};
    const auto result = testing::RunProgram(unshare, args, 60s * testing::kSanitizerSlowdown);
    EXPECT_EQ(result.exitStatus, 1) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find("No space left on device"), std::string::npos)
        << result.out << result.err;
    const auto pairs = Lines(result.out, "pair");
    ASSERT_EQ(pairs.size(), 1u) << result.out;
    EXPECT_NE(pairs[0].find("\"complete\":false"), std::string::npos) << pairs[0];
    EXPECT_LT(result.took, 10s * testing::kSanitizerSlowdown) << "not the 30-second stall";
}

// A folder given relative that does not exist yet is measured on the disk that will hold it
// and made.
TEST_F(CliArchiveTest, ABackupIntoANewRelativeFolder) {
    sim::CRecorderSim recorder(Config());
    ASSERT_TRUE(recorder.Start());
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir);
    auto args = testing::CliArgs("backup", recorder.Port(), (m_dir / "st").string(),
                                 {"--out", "new/folder", "--from", "2010-10-12T08:00:00", "--to",
                                  "2010-10-12T08:00:02", "--json"});
    const auto result = Run(args);
    std::filesystem::current_path(before);
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_EQ(Lines(result.out, "pair").size(), 1u) << result.out;
    EXPECT_EQ(archive::ScanFolder(m_dir / "new" / "folder").size(), 1u);
}

}  // namespace
}  // namespace taviro::cli
