// Remote playback as the operator drives it, against the simulated recorder and without a
// window: the day's stretches and the slider's span once the day answer is in, the title
// line following the position and the pause, a held slider that playback does not move
// and that seeks where it is let go, the stop, and a connection that goes.
#include "client/remote_playback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "controls/control_events.h"
#include "platform/message_sink.h"
#include "protocol/session_messages.h"
#include "recordings/messages.h"
#include "sim/recorder_sim.h"

namespace taviro::client {
namespace {

using namespace std::chrono_literals;

constexpr protocol::RecorderTime kArchiveStart = 1286870400;  // 2010-10-12 08:00:00
constexpr int kEight = 8 * 3600;                              // 08:00 as a second of the day

struct RecordingView final : IRemotePlaybackView {
    void PlaybackShown(bool on) override { shown = on; }
    void DayStretches(std::int64_t, const std::vector<timeline::DayInfoRecord>& records,
                      protocol::ChannelMask) override {
        stretches = records.size();
    }
    void SliderSpan(int from, int to) override { span = {from, to}; }
    void SliderPosition(int second) override { position = second; }
    void TitleChanged() override { ++titles; }
    std::optional<bool> shown;
    std::size_t stretches = 0;
    std::pair<int, int> span{-1, -1};
    int position = -1;
    int titles = 0;
};

class RemotePlaybackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_recorder = std::make_unique<sim::CRecorderSim>(sim::SimConfig{});
        ASSERT_TRUE(m_recorder->Start()) << m_recorder->LastError();
        protocol::SessionConfig config;
        config.address = "127.0.0.1";
        config.port = m_recorder->Port();
        config.userId = "admin";
        config.password = "1234";
        config.connectTimeout = 2s;
        ConnectionSettings settings;
        settings.quitPause = 5ms;
        m_connection = std::make_unique<CConnection>(m_sink, 1, nullptr, m_views, std::move(config),
                                                     std::move(settings));
        m_connection->Start();
        ASSERT_TRUE(Pump([](const platform::PostedMessage& m) {
            return m.message == protocol::WM_SESSION_LOGGED_IN;
        }));
        m_controller.Attach(m_connection.get());
    }
    void TearDown() override {
        m_controller.Attach(nullptr);
        if (m_connection)
            m_connection->Close(CloseKind::kDisconnect);
    }

    // The window's part: posted messages reach the controller until `until` has come.
    bool Pump(const std::function<bool(const platform::PostedMessage&)>& until) {
        const auto end = std::chrono::steady_clock::now() + 8s;
        while (std::chrono::steady_clock::now() < end) {
            const auto m = m_sink.Take(20ms);
            if (!m)
                continue;
            if (m->message == recordings::WM_PLAY_STARTED)
                m_controller.OnStarted();
            else if (m->message == recordings::WM_PLAY_STOPPED)
                m_controller.OnStopped();
            else if (m->message == recordings::WM_PLAY_DAY_READY)
                m_controller.OnDay(m->data);
            if (until(*m))
                return true;
        }
        return false;
    }
    bool TickUntil(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + 8s;
        while (std::chrono::steady_clock::now() < end) {
            m_controller.Tick();
            if (done())
                return true;
            m_sink.Take(50ms);
        }
        return false;
    }
    static std::function<bool(const platform::PostedMessage&)> Is(std::uint32_t message) {
        return [message](const platform::PostedMessage& m) { return m.message == message; };
    }

    platform::CQueueSink m_sink;
    video::CChannelViews m_views;
    std::unique_ptr<sim::CRecorderSim> m_recorder;
    std::unique_ptr<CConnection> m_connection;
    RecordingView m_view;
    bool m_local = false;
    CRemotePlaybackController m_controller{m_view, [this] { return m_local; }};
};

TEST_F(RemotePlaybackTest, DaySpanTitleHeldSliderSeekPauseAndStop) {
    recordings::PlayRequest request;
    request.channels = 0xF;
    request.start = kArchiveStart + 600;
    m_local = true;
    EXPECT_EQ(m_controller.Start(request), CommandResult::kIgnored) << "local playback is shown";
    m_local = false;
    ASSERT_EQ(m_controller.Start(request), CommandResult::kDone);
    ASSERT_TRUE(Pump(Is(recordings::WM_PLAY_DAY_READY)));
    EXPECT_EQ(m_view.shown, true);
    EXPECT_TRUE(m_controller.Shown());
    // The day answer's stretch (08:00 to 09:30) is what the slider spans, not the whole day.
    EXPECT_GT(m_view.stretches, 0u);
    EXPECT_LE(m_view.span.first, kEight);
    EXPECT_GE(m_view.span.second, kEight + 5400 - 1);
    EXPECT_LT(m_view.span.second - m_view.span.first, 4 * 3600);

    ASSERT_TRUE(TickUntil([&] {
        return m_controller.Title().starts_with("R-PLAY 2010-10-12 08:1");
    })) << m_controller.Title();
    EXPECT_TRUE(m_controller.Title().ends_with("x1")) << m_controller.Title();
    EXPECT_GE(m_view.position, kEight + 600);

    // Held, the slider stays where the hand has it; let go, playback goes there.
    m_controller.Slider(controls::WM_SLIDER_BEGIN, kEight + 3600, 0xF);
    m_view.position = -1;
    m_controller.Tick();
    EXPECT_EQ(m_view.position, -1);
    m_controller.Slider(controls::WM_SLIDER_END, kEight + 3600, 0xF);
    ASSERT_TRUE(TickUntil([&] { return m_view.position >= kEight + 3600; })) << m_view.position;
    EXPECT_LT(m_view.position, kEight + 3600 + 60);

    ASSERT_EQ(m_controller.Button(343, 0xF), CommandResult::kDone);
    ASSERT_TRUE(TickUntil([&] { return m_controller.Title().ends_with("paused"); }))
        << m_controller.Title();
    EXPECT_EQ(m_controller.IconSpeed(), 0);
    EXPECT_EQ(m_controller.PauseKeyButton(), 342u) << "the pause key plays again";

    const int titles = m_view.titles;
    ASSERT_EQ(m_controller.Button(345, 0xF), CommandResult::kDone);
    ASSERT_TRUE(Pump(Is(recordings::WM_PLAY_STOPPED)));
    EXPECT_EQ(m_view.shown, false);
    EXPECT_TRUE(m_controller.Title().empty());
    EXPECT_GT(m_view.titles, titles);
    EXPECT_EQ(m_view.span, (std::pair{0, timeline::kDaySeconds - 1}));
    EXPECT_EQ(m_controller.Button(342, 0xF), CommandResult::kIgnored) << "nothing plays";
}

TEST_F(RemotePlaybackTest, AConnectionThatGoesEndsThePlaybackShownAndItsSelection) {
    recordings::PlayRequest request;
    request.channels = 0x1;
    request.start = kArchiveStart;
    ASSERT_EQ(m_controller.Start(request), CommandResult::kDone);
    ASSERT_TRUE(Pump(Is(recordings::WM_PLAY_STARTED)));
    m_controller.Pending().pending = true;
    m_controller.Attach(nullptr);
    EXPECT_EQ(m_view.shown, false);
    EXPECT_FALSE(m_controller.Pending().pending);
    EXPECT_EQ(m_controller.Start(request), CommandResult::kIgnored);
}

}  // namespace
}  // namespace taviro::client
