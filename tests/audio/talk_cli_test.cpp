// taviro-cli talk end to end: a WAV file of a tone goes through the real file microphone,
// talk object and session to the simulator, which decodes what arrives into its own WAV
// file; that file must hold the tone. A refused talk request must send no audio at all.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "platform/wav_file.h"
#include "protocol/catalogue.h"
#include "sim/options.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/tone_analysis.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;

class TalkCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-talk-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    // Three seconds of a 1 kHz tone in the microphone's format.
    std::filesystem::path MakeToneFile() {
        platform::SoundFormat format;
        std::vector<std::int16_t> samples(3 * 8000 * 2);
        for (std::size_t f = 0; f < samples.size() / 2; ++f) {
            const double v = 9000 * std::sin(2 * M_PI * 1000 * static_cast<double>(f) / 8000);
            samples[2 * f] = samples[2 * f + 1] = static_cast<std::int16_t>(std::lround(v));
        }
        const auto bytes = platform::MakeWavFile(format, samples);
        const auto path = m_dir / "tone.wav";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    testing::ProgramResult Talk(std::uint16_t port, const std::filesystem::path& input,
                                int seconds) {
        return testing::RunProgram(
            testing::BuiltProgram("src/cli/taviro-cli"),
            {"talk", "--host", "127.0.0.1", "--port", std::to_string(port), "--user", "admin",
             "--password", "1234", "--storage", (m_dir / "st").string(), "--input", input.string(),
             "--seconds", std::to_string(seconds)},
            60s);
    }

    std::filesystem::path m_dir;
};

std::size_t IndexOf(const std::vector<sim::JournalEntry>& journal, bool rx, int code) {
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (rx ? journal[i].IsRx(code) : journal[i].IsTx(code)) {
            return i;
        }
    }
    return journal.size();
}

TEST_F(TalkCliTest, TheRecorderHearsTheTone) {
    sim::SimConfig config;
    config.talk_wav = (m_dir / "heard.wav").string();
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result = Talk(recorder.Port(), MakeToneFile(), 2);
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("A_LISTEN_DATA messages sent"), std::string::npos) << result.out;
    recorder.Stop();  // the client's services are gone: the file is complete

    // The order on the wire: request, acknowledgement, audio, stop, then the goodbye.
    const auto journal = recorder.Journal();
    const std::size_t request = IndexOf(journal, true, protocol::msg::A_LISTEN_REQ);
    const std::size_t ack = IndexOf(journal, false, protocol::msg::A_LISTEN_ACK);
    const std::size_t stop = IndexOf(journal, true, protocol::msg::A_LISTEN_STOP_REQ);
    const std::size_t bye = IndexOf(journal, true, protocol::msg::BYE);
    ASSERT_LT(request, ack);
    ASSERT_LT(ack, stop);
    ASSERT_LT(stop, bye);
    ASSERT_LT(bye, journal.size());
    std::size_t data = 0;
    for (std::size_t i = 0; i < journal.size(); ++i) {
        if (journal[i].IsRx(protocol::msg::A_LISTEN_DATA)) {
            EXPECT_GT(i, ack);
            EXPECT_LT(i, stop);
            EXPECT_EQ(journal[i].payload.size(), 1536u);
            ++data;
        }
    }
    // Two seconds of 256 ms buffers, less the first one still filling.
    EXPECT_GE(data, 5u);
    EXPECT_LE(data, 9u);

    const auto heard = platform::ReadWavFile(m_dir / "heard.wav");
    ASSERT_TRUE(heard.Ok()) << heard.error;
    EXPECT_EQ(heard.format.channels, 2);
    EXPECT_EQ(heard.format.framesPerSecond, 8000);
    ASSERT_EQ(heard.samples.size(), data * 4096);
    std::vector<std::int16_t> left;
    for (std::size_t i = 2 * 2048; i < heard.samples.size(); i += 2) {
        left.push_back(heard.samples[i]);
    }
    const double candidates[] = {250, 500, 750, 1000, 1500, 2000, 3000};
    EXPECT_EQ(testing::StrongestOf(left, candidates, 8000), 1000);
    EXPECT_GT(testing::TonePower(left, 1000, 8000), 30 * testing::TonePower(left, 2000, 8000));
    EXPECT_NEAR(testing::Rms(left), 9000 / std::sqrt(2.0), 1500);
    EXPECT_LT(testing::LongestQuietRun(left, 200), 16u) << "the tone has gaps";
}

TEST_F(TalkCliTest, RefusedTalkSendsNoAudio) {
    sim::SimConfig config;
    config.talk_wav = (m_dir / "heard.wav").string();
    config.talk_reason = 54;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    const auto result = Talk(recorder.Port(), MakeToneFile(), 1);
    EXPECT_EQ(result.exitStatus, 1) << result.out << result.err;
    EXPECT_NE(result.err.find("(12, 0)"), std::string::npos) << result.err;
    recorder.Stop();

    const auto journal = recorder.Journal();
    EXPECT_LT(IndexOf(journal, false, protocol::msg::A_LISTEN_NACK), journal.size());
    EXPECT_EQ(IndexOf(journal, true, protocol::msg::A_LISTEN_DATA), journal.size());
    EXPECT_EQ(IndexOf(journal, true, protocol::msg::A_LISTEN_STOP_REQ), journal.size());
    EXPECT_LT(IndexOf(journal, true, protocol::msg::BYE), journal.size());
    EXPECT_FALSE(std::filesystem::exists(m_dir / "heard.wav"));
}

TEST_F(TalkCliTest, WrongInputIsRefusedBeforeConnecting) {
    platform::SoundFormat mono;
    mono.channels = 1;
    const std::vector<std::int16_t> samples(8000);
    const auto bytes = platform::MakeWavFile(mono, samples);
    const auto path = m_dir / "mono.wav";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    // Port 9 on the loopback: nothing listens, but the file is refused first.
    const auto result = Talk(9, path, 1);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("2 channels at 8000"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.find("logged in"), std::string::npos);

    const auto missing = Talk(9, m_dir / "none.wav", 1);
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("none.wav"), std::string::npos) << missing.err;
}

TEST(TalkSimOptions, RefusalAndFileAreTakenFromTheCommandLine) {
    const std::string_view args[] = {"--refuse-talk", "55", "--talk-wav", "/tmp/x.wav"};
    const auto line = sim::ParseCommandLine(args);
    ASSERT_TRUE(line.error.empty()) << line.error;
    EXPECT_EQ(line.config.talk_reason, 55);
    EXPECT_EQ(line.config.talk_wav, "/tmp/x.wav");
    const std::string_view bad[] = {"--refuse-talk", "x"};
    EXPECT_FALSE(sim::ParseCommandLine(bad).error.empty());
    EXPECT_FALSE(sim::ParseCommandLine(std::span<const std::string_view>{}).config.talk_reason);
}

}  // namespace
}  // namespace taviro::audio
