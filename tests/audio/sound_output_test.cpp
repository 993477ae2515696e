// The real sound path: the simulator's tone for one channel goes through the connection's
// session, stream layer, audio thread, the play ring and Qt Multimedia into a PulseAudio null
// sink; the sink's monitor is recorded with parec and must hold that channel's tone without
// gaps once playback has settled. Selecting another channel changes the tone; muting our
// stream silences it.
//
// Needs a PulseAudio server whose default sink is a null sink (label "sound"); skips when
// none answers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/sound_ring.h"
#include "client/connection.h"
#include "platform/message_sink.h"
#include "platform/qt_audio/qt_sound.h"
#include "protocol/session_messages.h"
#include "sim/live_audio.h"
#include "sim/recorder_sim.h"
#include "support/run_program.h"
#include "support/tone_analysis.h"
#include "video/channel_views.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;

constexpr double kRate = 8000;

std::string Trim(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// The left channel of `seconds` of the default sink's monitor at 8,000 frames/s.
std::vector<std::int16_t> RecordMonitor(const std::string& sink, std::chrono::milliseconds span) {
    const auto result = testing::RunProgram("/usr/bin/parec",
                                            {"-d", sink + ".monitor", "--raw", "--format=s16le",
                                             "--channels=2", "--rate=8000", "--latency-msec=20"},
                                            span);
    std::vector<std::int16_t> left;
    const std::string& raw = result.out;
    for (std::size_t i = 0; i + 3 < raw.size(); i += 4)
        left.push_back(static_cast<std::int16_t>(static_cast<std::uint8_t>(raw[i]) |
                                                 static_cast<std::uint8_t>(raw[i + 1]) << 8));
    return left;
}

// From the first loud sample on, skipping `settle` of it.
std::span<const std::int16_t> AfterStart(const std::vector<std::int16_t>& s, double settleSeconds) {
    std::size_t first = 0;
    while (first < s.size() && std::abs(static_cast<int>(s[first])) < 1000)
        ++first;
    const auto skip = first + static_cast<std::size_t>(settleSeconds * kRate);
    if (skip >= s.size())
        return {};
    return std::span(s).subspan(skip);
}

double Strongest(std::span<const std::int16_t> s) {
    std::vector<double> candidates;
    for (int c = 0; c < 16; ++c)
        candidates.push_back(sim::LiveAudioToneHz(c));
    return testing::StrongestOf(s, candidates, kRate);
}

class SoundOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto info = testing::RunProgram("/usr/bin/pactl", {"info"}, 5s);
        if (info.exitStatus != 0)
            GTEST_SKIP() << "no PulseAudio server answers";
        m_sink = Trim(testing::RunProgram("/usr/bin/pactl", {"get-default-sink"}, 5s).out);
        if (m_sink.empty() || !platform::SoundOutputPresent())
            GTEST_SKIP() << "no sound output device";
        sim::SimConfig config;
        config.live_stream = true;
        config.live_width = 352;
        config.live_height = 240;
        config.live_fps = 2;
        config.audio_channels = 0x0006;  // channels 1 (400 Hz) and 2 (500 Hz)
        config.audio_amplitude = 12000;
        m_sim = std::make_unique<sim::CRecorderSim>(config);
        ASSERT_TRUE(m_sim->Start()) << m_sim->LastError();

        protocol::SessionConfig session;
        session.address = "127.0.0.1";
        session.port = m_sim->Port();
        session.userId = "admin";
        session.password = "1234";
        session.closeGrace = 0ms;
        m_ring = std::make_unique<CSoundRing>(&m_device);
        client::ConnectionSettings settings;
        settings.audioBuffer = 0;
        settings.soundOut = m_ring.get();
        settings.soundOutputPresent = true;
        settings.heardChannel = 1;
        m_connection = std::make_unique<client::CConnection>(m_messages, 1, nullptr, m_views,
                                                             session, settings);
        m_connection->Start();
        ASSERT_TRUE(m_messages.WaitFor(
            [](const platform::PostedMessage& m) {
                return m.message == protocol::WM_SESSION_LOGGED_IN;
            },
            10s));
        for (int i = 0; i < 500 && !m_connection->LiveRunning(); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(m_connection->ToggleRecorderAudio(), client::CommandResult::kDone);
    }
    void TearDown() override {
        if (m_connection)
            m_connection->Close(client::CloseKind::kQuit);
        if (m_sim)
            m_sim->Stop();
    }

    std::string m_sink;
    std::unique_ptr<sim::CRecorderSim> m_sim;
    platform::CQueueSink m_messages;
    video::CChannelViews m_views;
    platform::CQtSoundOut m_device;
    std::unique_ptr<CSoundRing> m_ring;
    std::unique_ptr<client::CConnection> m_connection;
};

TEST_F(SoundOutputTest, TheHeardChannelsToneReachesTheSinkWithoutGaps) {
    const auto recorded = RecordMonitor(m_sink, 7000ms);
    ASSERT_TRUE(m_connection->Session().Transport().AudioOn());  // the recorder's flag came back
    const auto settled = AfterStart(recorded, 1.0);
    ASSERT_GE(settled.size(), static_cast<std::size_t>(2 * kRate))
        << "too little sound: " << recorded.size() << " frames recorded";
    EXPECT_EQ(Strongest(settled), sim::LiveAudioToneHz(1));
    EXPECT_GT(testing::Rms(settled), 3000);
    // A 400 Hz tone crosses zero every 10 frames; 20 ms of near-silence is a dropout.
    const auto ring = m_ring->State();
    EXPECT_LT(testing::LongestQuietRun(settled, 300), 160u)
        << "ring restarts " << ring.restarts << ", silent bytes " << ring.silentBytes;

    // Another channel: another tone.
    m_connection->State().SetSelectedAudioChannel(2);
    const auto other = RecordMonitor(m_sink, 4500ms);
    ASSERT_GE(other.size(), static_cast<std::size_t>(2 * kRate));
    const auto tail = std::span(other).subspan(other.size() - static_cast<std::size_t>(kRate));
    EXPECT_EQ(Strongest(tail), sim::LiveAudioToneHz(2)) << other.size() << " frames recorded";

    // Mute acts on our stream: silence at the sink.
    m_ring->SetMuted(true);
    std::this_thread::sleep_for(300ms);
    const auto muted = RecordMonitor(m_sink, 1500ms);
    ASSERT_FALSE(muted.empty());
    EXPECT_LT(testing::Rms(muted), 50);
    m_ring->SetMuted(false);
}

// The capture side the talk object uses: whole buffers of the requested size from the
// default input device (with a null sink, usually its monitor), at the real-time rate.
TEST(SoundInput, DeliversFixedBuffersFromTheDefaultSource) {
    if (testing::RunProgram("/usr/bin/pactl", {"info"}, 5s).exitStatus != 0)
        GTEST_SKIP() << "no PulseAudio server answers";
    if (!platform::SoundInputPresent())
        GTEST_SKIP() << "no sound input device";
    platform::CQtSoundIn in;
    std::mutex lock;
    std::vector<std::size_t> sizes;
    ASSERT_TRUE(in.Start(platform::SoundFormat{}, 2048, [&](std::span<const std::uint8_t> pcm) {
        std::lock_guard guard(lock);
        sizes.push_back(pcm.size());
    }));
    std::this_thread::sleep_for(2000ms);
    in.Stop();
    std::lock_guard guard(lock);
    // 2 s hold 7.8 buffers of 256 ms; the server's start-up may cost one or two.
    EXPECT_GE(sizes.size(), 5u);
    EXPECT_LE(sizes.size(), 9u);
    for (const std::size_t n : sizes)
        EXPECT_EQ(n, 2048u * 4u);
}

}  // namespace
}  // namespace taviro::audio

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
