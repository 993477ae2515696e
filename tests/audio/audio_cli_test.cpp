// taviro-cli live --audio-out end to end: the simulator sends a tone per channel, the real
// client switches the recorder's audio on, hears the chosen channel through the session,
// queue, audio thread and decoder, and the file device must hold that channel's tone.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "platform/wav_file.h"
#include "sim/live_audio.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/sanitizer_time.h"
#include "support/tone_analysis.h"

namespace taviro::cli {
namespace {

using namespace std::chrono_literals;

class AudioCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-audio-cli-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        sim::SimConfig config;
        config.live_stream = true;
        config.live_width = 352;
        config.live_height = 240;
        config.live_fps = 5;
        config.audio_channels = 0x0016;  // channels 1, 2 and 4
        config.live_available = 0x0016;  // no pictures beyond the channels with sound
        m_sim = std::make_unique<sim::CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();
    }
    void TearDown() override {
        m_sim->Stop();
        std::filesystem::remove_all(m_dir);
    }

    testing::ProgramResult Live(std::vector<std::string> extra) {
        std::vector<std::string> args = {"live",
                                         "--host",
                                         "127.0.0.1",
                                         "--port",
                                         std::to_string(m_sim->Port()),
                                         "--user",
                                         "admin",
                                         "--password",
                                         "1234",
                                         "--storage",
                                         (m_dir / "st").string(),
                                         "--seconds",
                                         std::to_string(3 * testing::kSanitizerSlowdown)};
        args.insert(args.end(), extra.begin(), extra.end());
        return testing::RunProgram(testing::BuiltProgram("src/cli/taviro-cli"), args, 60s);
    }

    // The strongest of the simulator's tones in the left samples of `wav`, after the first
    // chunk's worth.
    static double StrongestTone(const platform::WavData& wav) {
        std::vector<std::int16_t> left;
        for (std::size_t i = 0; i + 1 < wav.samples.size(); i += 2)
            left.push_back(wav.samples[i]);
        std::vector<double> candidates;
        for (int c = 0; c < 16; ++c)
            candidates.push_back(sim::LiveAudioToneHz(c));
        return testing::StrongestOf(left, candidates, 8000);
    }

    std::filesystem::path m_dir;
    std::unique_ptr<sim::CRecorderSim> m_sim;
};

TEST_F(AudioCliTest, TheFileHoldsTheChosenChannelsToneInWholeChunks) {
    const auto wavPath = m_dir / "ch2.wav";
    const auto result = Live({"--audio-channel", "2", "--audio-out", wavPath.string()});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    const platform::WavData wav = platform::ReadWavFile(wavPath);
    ASSERT_TRUE(wav.Ok()) << wav.error;
    EXPECT_EQ(wav.format.channels, 2);
    EXPECT_EQ(wav.format.framesPerSecond, 8000);
    // 3 s at 125 blocks a second give several 40-block chunks of 5,120 samples each.
    ASSERT_GE(wav.samples.size(), 5u * 5120u);
    EXPECT_EQ(wav.samples.size() % 5120u, 0u);
    EXPECT_EQ(StrongestTone(wav), sim::LiveAudioToneHz(1));
    // A real tone, not noise that happens to peak there.
    std::vector<std::int16_t> left;
    for (std::size_t i = 0; i < wav.samples.size(); i += 2)
        left.push_back(wav.samples[i]);
    EXPECT_GT(testing::Rms(left), 2000);
    const double on = testing::TonePower(left, sim::LiveAudioToneHz(1), 8000);
    const double off = testing::TonePower(left, sim::LiveAudioToneHz(2), 8000);
    EXPECT_GT(on, 100 * off);
    EXPECT_LT(testing::LongestQuietRun(left, 200), 40u);  // no gaps: a 500 Hz tone's zero
                                                          // crossings are short
}

TEST_F(AudioCliTest, AnotherChannelGivesAnotherTone) {
    const auto wavPath = m_dir / "ch5.wav";
    const auto result =
        Live({"--audio-channel", "5", "--audio-out", wavPath.string(), "--audio-buf", "0"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    const platform::WavData wav = platform::ReadWavFile(wavPath);
    ASSERT_TRUE(wav.Ok()) << wav.error;
    EXPECT_EQ(wav.samples.size() % 4096u, 0u);  // 32-block chunks
    EXPECT_EQ(StrongestTone(wav), sim::LiveAudioToneHz(4));
}

TEST_F(AudioCliTest, AChannelWithoutAudioWritesNothingAndOptionsGoTogether) {
    const auto wavPath = m_dir / "ch1.wav";
    const auto result = Live({"--audio-channel", "1", "--audio-out", wavPath.string()});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    const platform::WavData wav = platform::ReadWavFile(wavPath);
    ASSERT_TRUE(wav.Ok()) << wav.error;
    EXPECT_TRUE(wav.samples.empty());
    EXPECT_NE(Live({"--audio-channel", "1"}).exitStatus, 0);
    EXPECT_NE(Live({"--audio-out", wavPath.string()}).exitStatus, 0);
    EXPECT_NE(Live({"--audio-channel", "17", "--audio-out", wavPath.string()}).exitStatus, 0);
}

}  // namespace
}  // namespace taviro::cli
