// Coming back after a network loss, through the main window's logic and the real
// connection against the simulated recorder: the recorder resets the connection during
// live view and the shell is back with the same view and heard channel; a goodbye never
// starts the attempts, a wrong password on an attempt ends them, Cancel ends them; nothing
// (thread, descriptor) is left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/client_shell.h"
#include "logs/local_log.h"
#include "platform/h264_decoder.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "sim/recorder_sim.h"
#include "support/temp_folder_test.h"

namespace taviro::app {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;

std::size_t Entries(const char* folder) {
    std::size_t n = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

class ReconnectShellTest : public testing::CTempFolderTest {
  protected:
    ReconnectShellTest() : CTempFolderTest("taviro-reconnect-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
        m_store.SetString(setup_key::kLocation, (m_root / "store").string());
    }

    static ShellOptions Fast() {
        ShellOptions o;
        o.quitPause = 5ms;
        o.connectTimeout = 2s;
        o.reconnectUnit = 60ms;  // waits of 60, 120, 240 ... ms
        return o;
    }

    static ConnectTarget Target(std::uint16_t port, const char* password = "1234") {
        return ConnectTarget{"127.0.0.1", port, "admin", password, "test recorder"};
    }

    // The window's part: hands the posted messages to the shell, ticks the reconnect and,
    // like the window's popup, disconnects on a connection-ended notification it shows.
    // Counts the popups the window would show for the connection categories 0..2.
    bool Pump(CClientShell& shell, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 8s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            shell.ReconnectTick();
            const auto m = m_sink.Take(10ms);
            if (!m || !shell.OnMessage(*m) || m->message != platform::WM_RECORDER_NOTIFY)
                continue;
            const int category = platform::NotifyCategory(m->lParam);
            m_shown.push_back({category, platform::NotifyCode(m->lParam)});
            if (category == 2)
                shell.Disconnect();
        }
        return true;
    }

    void Settle(CClientShell& shell, std::chrono::milliseconds time) {
        Pump(
            shell, [] { return false; }, time);
    }

    std::vector<logs::LocalLogRecord> LogEntries() const {
        return logs::ReadLocalLog(m_root / "store" / "Log" / "m7400.log").records;
    }

    platform::CMemorySettingsStore m_store;
    platform::CQueueSink m_sink;
    video::CChannelViews m_views;
    std::vector<std::pair<int, int>> m_shown;
};

TEST_F(ReconnectShellTest, DroppedDuringLiveViewComesBackWithTheSameViewAndHeardChannel) {
    sim::SimConfig config;
    config.drop_after = 700ms;  // the first connection only
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    const std::size_t fds = Entries("/proc/self/fd");
    const std::size_t threads = Entries("/proc/self/task");
    {
        CClientShell shell(m_store, m_sink, Branding{}, Fast());
        shell.StartUp();
        // The window's grid shows layout 1 (four panes), its third page.
        shell.SetViewProbe([](client::ResumeState& s) {
            s.layout = 1;
            s.page = 2;
        });
        ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
                  client::CommandResult::kDone);
        ASSERT_TRUE(Pump(shell, [&] { return shell.LiveRunning(); }));
        // Channel 2 is the heard one (the audio button's choice), after the live start's
        // own choice on the worker.
        shell.Connection()->Drain();
        shell.Connection()->State().SetSelectedAudioChannel(2);
        const std::uint32_t firstGeneration = shell.Connection()->Generation();

        ASSERT_TRUE(Pump(shell, [&] {
            return shell.Reconnect().State() == client::ReconnectState::kRestored &&
                   shell.LiveRunning();
        }));
        EXPECT_EQ(recorder.Drops(), 1u);
        EXPECT_EQ(recorder.ClientsAccepted(), 2u);  // back at the first attempt
        EXPECT_NE(shell.Connection()->Generation(), firstGeneration);
        const auto restore = shell.TakeViewRestore();
        ASSERT_TRUE(restore.has_value());
        EXPECT_EQ(restore->heardChannel, 2);
        shell.Connection()->Drain();
        EXPECT_EQ(shell.Connection()->Audio().Selection().Selected(), 2);
        EXPECT_TRUE(restore->live);
        EXPECT_FALSE(restore->playback);
        EXPECT_EQ(restore->layout, 1);
        EXPECT_EQ(restore->page, 2);
        EXPECT_FALSE(shell.TakeViewRestore().has_value());  // once
        // The loss showed its one popup, as it always has.
        EXPECT_EQ(m_shown, (std::vector<std::pair<int, int>>{{2, 0}}));
        shell.Quit();
    }
    const auto log = LogEntries();
    std::vector<std::uint32_t> connectionEvents;
    for (const auto& e : log)
        if (e.kind == logs::entry::kConnection)
            connectionEvents.push_back(e.subType);
    // In, lost, out (the broken session's end), back (and in), out at quit.
    EXPECT_EQ(connectionEvents,
              (std::vector<std::uint32_t>{logs::entry::kLogIn, logs::entry::kLogOut,
                                          logs::entry::kConnectionLost, logs::entry::kLogIn,
                                          logs::entry::kConnectionBack, logs::entry::kLogOut}));
    // The recorder's side of the last connection is gone too before the count.
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (recorder.ClientsServed() < 2 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(recorder.ClientsServed(), 2u);
    EXPECT_EQ(Entries("/proc/self/fd"), fds);
    EXPECT_EQ(Entries("/proc/self/task"), threads);
}

TEST_F(ReconnectShellTest, TheRecorderAudioAndTitlesComeBackAndTheUsersDisconnectSaysNothing) {
    sim::SimConfig config;
    config.drop_after = 1500ms;  // the first connection only
    config.push_records = true;
    config.titles = {"Gate", "Yard", "Hall", "Dock"};
    config.channels = 4;
    config.audio_channels = 0x000F;
    config.live_stream = true;  // the headers that carry the recorder's audio flag
    config.live_width = 352;
    config.live_height = 240;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    ShellOptions options = Fast();
    options.audioOutput = true;  // a device the connection plays into (none here: no thread)
    CClientShell shell(m_store, m_sink, Branding{}, options);
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(Pump(shell, [&] { return shell.LiveRunning(); }));
    ASSERT_EQ(shell.ToggleRecorderAudio(), client::CommandResult::kDone);
    const auto audioOn = [&] { return shell.Session() && shell.Session()->Transport().AudioOn(); };
    const auto titled = [&] {
        return shell.Session() && shell.Session()->Live().Title(0) == "Gate" &&
               shell.Session()->Live().Title(3) == "Dock";
    };
    ASSERT_TRUE(Pump(shell, [&] { return audioOn() && titled(); }))
        << "audio " << audioOn() << " title " << shell.Session()->Live().Title(0);
    const std::uint32_t firstGeneration = shell.Connection()->Generation();

    // Lost and back: the recorder is asked for its audio again, the titles are there.
    ASSERT_TRUE(Pump(shell, [&] {
        return shell.Reconnect().State() == client::ReconnectState::kRestored &&
               shell.LiveRunning() && shell.Connection()->Generation() != firstGeneration;
    }));
    ASSERT_TRUE(Pump(
        shell, [&] { return audioOn() && titled(); }, 5s))
        << "audio " << audioOn() << ", title of channel 1 '"
        << (shell.Session() ? shell.Session()->Live().Title(0) : std::string()) << "'";
    std::size_t audioRequests = 0;
    for (const auto& e : recorder.Journal())
        audioRequests += e.IsRx(protocol::msg::AUDIO_ONOFF_REQ) ? 1u : 0u;
    EXPECT_EQ(audioRequests, 2u) << "once by the user, once by the return";

    // The user's own disconnect ends the session without "the connection has ended".
    m_shown.clear();
    shell.Disconnect();
    ASSERT_TRUE(Pump(shell, [&] { return !shell.HasSession(); }));
    Settle(shell, 200ms);
    EXPECT_EQ(m_shown, (std::vector<std::pair<int, int>>{}));
    EXPECT_EQ(recorder.ClientsAccepted(), 2u) << "no attempt after the user's disconnect";
    shell.Quit();
}

TEST_F(ReconnectShellTest, GoodbyeNeverStartsAttemptsAndAWrongPasswordEndsThem) {
    {
        // The recorder says goodbye: the reason is shown and nothing follows.
        sim::SimConfig config;
        config.bye_reason = 2;
        sim::CRecorderSim recorder(config);
        ASSERT_TRUE(recorder.Start()) << recorder.LastError();
        CClientShell shell(m_store, m_sink, Branding{}, Fast());
        shell.StartUp();
        ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
                  client::CommandResult::kDone);
        ASSERT_TRUE(Pump(shell, [&] { return shell.LoggedIn(); }));
        ASSERT_TRUE(Pump(shell, [&] { return !shell.HasSession(); }));
        Settle(shell, 500ms);  // several waits' worth
        EXPECT_EQ(shell.Reconnect().State(), client::ReconnectState::kIdle);
        EXPECT_EQ(recorder.ClientsAccepted(), 1u);
        shell.Quit();
    }
    m_shown.clear();
    // Lost, and the recorder that comes back no longer takes the password: one attempt,
    // its refusal shown, then no more.
    sim::SimConfig config;
    config.drop_after = 300ms;
    auto recorder = std::make_unique<sim::CRecorderSim>(config);
    ASSERT_TRUE(recorder->Start()) << recorder->LastError();
    const std::uint16_t port = recorder->Port();
    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(port, "1234"), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(Pump(shell, [&] { return recorder->Drops() == 1; }));
    recorder.reset();
    sim::SimConfig changed;
    changed.port = port;
    sim::SimUser user;
    user.name = "admin";
    user.password = "other";
    changed.users = {user};
    sim::CRecorderSim again(changed);
    ASSERT_TRUE(again.Start()) << again.LastError();
    ASSERT_TRUE(
        Pump(shell, [&] { return shell.Reconnect().State() == client::ReconnectState::kRefused; }));
    Settle(shell, 1s);
    EXPECT_EQ(again.ClientsAccepted(), 1u);
    EXPECT_FALSE(shell.HasSession());
    ASSERT_FALSE(m_shown.empty());
    EXPECT_EQ(m_shown.back().first, 3);  // the goodbye's reason, as for any connection
    shell.Quit();
}

TEST_F(ReconnectShellTest, CancelStopsTheAttemptsAndFailedAttemptsShowNoPopups) {
    sim::SimConfig config;
    config.drop_after = 300ms;
    auto recorder = std::make_unique<sim::CRecorderSim>(config);
    ASSERT_TRUE(recorder->Start()) << recorder->LastError();
    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(recorder->Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(Pump(shell, [&] { return recorder->Drops() == 1; }));
    recorder.reset();  // gone: every attempt is refused by the network
    ASSERT_TRUE(Pump(shell, [&] { return shell.Reconnect().Attempts() >= 3; }));
    EXPECT_EQ(m_shown, (std::vector<std::pair<int, int>>{{2, 0}}));  // the loss only
    shell.CancelReconnect();
    ASSERT_TRUE(Pump(shell, [&] { return !shell.HasSession(); }));
    const int attempts = shell.Reconnect().Attempts();
    Settle(shell, 600ms);
    EXPECT_EQ(shell.Reconnect().State(), client::ReconnectState::kCancelled);
    EXPECT_EQ(shell.Reconnect().Attempts(), attempts);
    EXPECT_FALSE(shell.HasSession());
    shell.Quit();
}

TEST_F(ReconnectShellTest, SwitchedOffInTheSettingsALossOnlyEnds) {
    m_store.SetInt(setup_key::kReconnect, 0);
    sim::SimConfig config;
    config.drop_after = 300ms;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(Pump(shell, [&] { return recorder.Drops() == 1 && !shell.HasSession(); }));
    Settle(shell, 500ms);
    EXPECT_EQ(shell.Reconnect().State(), client::ReconnectState::kIdle);
    EXPECT_EQ(recorder.ClientsAccepted(), 1u);
    shell.Quit();
}

}  // namespace
}  // namespace taviro::app
