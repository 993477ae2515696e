// taviro-cli recordings and play end to end against the simulated recorder: the JSON
// lines scripts rely on (months, stretches, channels), raw month flags as a recorder may
// send them, refusals, and a playback whose saved pictures are the recorded frames.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

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

class CliRecordingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-rec-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    testing::ProgramResult Run(const std::string& command, std::uint16_t port,
                               std::vector<std::string> extra) {
        std::vector<std::string> args = {
            command, "--host",     "127.0.0.1", "--port",    std::to_string(port),    "--user",
            "admin", "--password", "1234",      "--storage", (m_dir / "st").string(), "--json"};
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args,
                                   120s * testing::kSanitizerSlowdown);
    }

    // A 4-channel recorder whose recordings run at 25 pictures a second, a key frame every
    // `gop` of them.
    static sim::SimConfig Recording(int gop) {
        sim::SimConfig config;
        config.channels = 4;
        config.live_fps = 25;
        config.live_gop = gop;
        return config;
    }

    std::filesystem::path m_dir;
};

TEST_F(CliRecordingsTest, MonthsAndStretchesAsScriptsReadThem) {
    // A recorder's raw flags: the 31st of September (a 30-day month) and December 31.
    const auto archive = m_dir / "archive.txt";
    std::ofstream(archive) << "stretch 0x0005 both 2010-10-12T08:00:00 2010-10-12T09:30:00\n"
                              "stretch 0x0002 continuous 2010-10-11T23:00:00 2010-10-12T01:00:00\n"
                              "flag 2010-09-31\nflag 2012-12-31\n";
    sim::SimConfig config;
    config.channels = 4;
    config.archive_file = archive.string();
    config.info_fragment_size = 100;  // answers split inside records
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    auto result = Run("recordings", recorder.Port(), {});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(
        Lines(result.out, "month"),
        (std::vector<std::string>{R"({"event":"month","year":2010,"month":10,"days":[11,12]})",
                                  R"({"event":"month","year":2012,"month":12,"days":[31]})"}))
        << result.out;

    // The recorder's order (this one sends its stretches by start time).
    result = Run("recordings", recorder.Port(), {"--day", "2010-10-12", "--backup"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(
        Lines(result.out, "stretch"),
        (std::vector<std::string>{
            R"({"event":"stretch","channels":[2],"kinds":["continuous"],"start":"2010-10-11T23:00:00","end":"2010-10-12T01:00:00"})",
            R"({"event":"stretch","channels":[1,3],"kinds":["continuous","event"],"start":"2010-10-12T08:00:00","end":"2010-10-12T09:30:00"})"}))
        << result.out;
    const auto journal = recorder.Journal();
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const auto& e) {
        return e.IsRx(291);
    })) << "--backup asks with TRANS_INFO_DAY_REQ";

    // A refusal prints its notification and exits non-zero.
    sim::SimConfig refusing;
    refusing.month_reason = 53;
    sim::CRecorderSim refuser(refusing);
    ASSERT_TRUE(refuser.Start()) << refuser.LastError();
    result = Run("recordings", refuser.Port(), {});
    EXPECT_NE(result.exitStatus, 0);
    EXPECT_NE(result.out.find("\"category\":6,\"code\":4"), std::string::npos) << result.out;
}

// Key frames every five seconds: a playback from two seconds after one shows that second's
// picture first; the recorder's frames before it are decoded unseen.
TEST_F(CliRecordingsTest, PlayFromBetweenKeyFramesShowsThatSecondFirst) {
    sim::CRecorderSim recorder(Recording(125));
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto result =
        Run("play", recorder.Port(),
            {"--from", "2010-10-12T08:00:07", "--channels", "0x1", "--seconds", "1"});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto channels = Lines(result.out, "channel");
    ASSERT_EQ(channels.size(), 1u) << result.out;
    EXPECT_NE(channels[0].find(R"("first":"2010-10-12T08:00:07.000")"), std::string::npos)
        << channels[0];
}

TEST_F(CliRecordingsTest, PlayShowsTheRecordedFramesAndSteps) {
    sim::CRecorderSim recorder(Recording(25));
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result =
        Run("play", recorder.Port(),
            {"--from", "2010-10-12T08:00:00", "--channels", "0x5", "--seconds", "2", "--then-steps",
             "2", "--deinterlace", "--save-dir", (m_dir / "pictures").string()});
    ASSERT_EQ(result.exitStatus, 0) << result.err << result.out;
    const auto channels = Lines(result.out, "channel");
    ASSERT_EQ(channels.size(), 2u) << result.out;
    const std::regex line(
        R"re(\{"event":"channel","channel":(\d+),"shown":(\d+),"first":"2010-10-12T08:00:00\.000","last":"2010-10-12T08:00:(\d\d)\.(\d\d\d)"\})re");
    int index = 0;
    for (const int channel : {1, 3}) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(channels[static_cast<std::size_t>(index++)], m, line))
            << channels[0];
        EXPECT_EQ(std::stoi(m[1]), channel);
        EXPECT_GE(std::stoi(m[2]), 40) << "two seconds at 25 pictures a second";
        // The saved picture is the recorded frame of the time printed.
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
    const auto journal = recorder.Journal();
    const auto steps =
        std::count_if(journal.begin(), journal.end(), [](const auto& e) { return e.IsRx(46); });
    EXPECT_GE(steps, 2) << "two next steps";
    EXPECT_TRUE(std::any_of(journal.begin(), journal.end(), [](const auto& e) {
        return e.IsRx(55);
    })) << "playback stopped before the goodbye";
}

}  // namespace
}  // namespace taviro::cli
