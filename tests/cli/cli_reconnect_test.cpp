// taviro-cli live --reconnect against a recorder whose network breaks: the client is back
// within the first waits with the same channel selection, and a goodbye is answered as
// always, never with an attempt.
#include <gtest/gtest.h>

#include <unistd.h>
#include <algorithm>
#include <filesystem>

#include "protocol/catalogue.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

class CliReconnectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-reconnect-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    testing::ProgramResult Live(std::uint16_t port, const std::vector<std::string>& extra) {
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"),
                                   testing::CliArgs("live", port, (m_dir / "st").string(), extra),
                                   90s);
    }

    std::filesystem::path m_dir;
};

// The live selections the recorder was asked for, in order.
std::vector<std::vector<std::uint8_t>> Selections(const sim::CRecorderSim& recorder) {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& e : recorder.Journal())
        if (e.dir == sim::JournalDir::Rx && e.code == protocol::msg::LIVE_REQ)
            out.push_back(e.payload);
    return out;
}

TEST_F(CliReconnectTest, DroppedDuringLiveViewComesBackWithTheSameSelection) {
    sim::SimConfig config;
    // The first connection only, once it has narrowed its selection (a sanitizer build
    // takes seconds to get there).
    config.drop_after = 1500ms * testing::kSanitizerSlowdown;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.live_fps = 10;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto result =
        Live(recorder.Port(),
             {"--json", "--reconnect", "--reconnect-unit-ms", "100", "--seconds",
              std::to_string(4 * testing::kSanitizerSlowdown), "--channels", "0x0005",
              "--audio-channel", "3", "--audio-out", (m_dir / "heard.wav").string(), "--stats"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    const auto& out = result.out;
    const auto lost = out.find("{\"event\":\"connection-lost\"");
    const auto waiting = out.find("{\"event\":\"reconnecting\",\"attempt\":1,\"wait_s\":1}");
    const auto back = out.find("{\"event\":\"reconnected\",\"attempts\":1,\"audio_channel\":3}");
    ASSERT_NE(lost, std::string::npos) << out;
    ASSERT_NE(waiting, std::string::npos) << out;
    ASSERT_NE(back, std::string::npos) << out;
    EXPECT_LT(lost, waiting);
    EXPECT_LT(waiting, back);
    // The statistics go on over the new connection.
    EXPECT_NE(out.find("{\"event\":\"stats\"", back), std::string::npos) << out;
    EXPECT_EQ(recorder.Drops(), 1u);
    EXPECT_EQ(recorder.ClientsAccepted(), 2u);
    // Each connection: the login's request for every channel, then the narrowed one; the
    // second connection asks for the same channels as the first.
    const auto selections = Selections(recorder);
    std::string asked;
    for (const auto& s : selections)
        for (const std::uint8_t b : s)
            asked += std::to_string(b) + (&b == &s.back() ? "\n" : " ");
    ASSERT_GE(selections.size(), 4u) << asked << out;
    EXPECT_EQ(selections[1], selections.back());
    EXPECT_NE(selections[0], selections[1]);
}

TEST_F(CliReconnectTest, AGoodbyeIsNeverAnsweredWithAnAttempt) {
    sim::SimConfig config;
    config.bye_reason = 3;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const auto result =
        Live(recorder.Port(), {"--json", "--reconnect", "--reconnect-unit-ms", "50", "--seconds",
                               std::to_string(3 * testing::kSanitizerSlowdown)});
    EXPECT_EQ(result.exitStatus, 6) << result.out << result.err;  // goodbye
    EXPECT_EQ(result.out.find("reconnecting"), std::string::npos) << result.out;
    EXPECT_EQ(recorder.ClientsAccepted(), 1u);
}

}  // namespace
}  // namespace taviro::cli
