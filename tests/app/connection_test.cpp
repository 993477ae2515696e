// One owner per connection, against the simulated recorder: the local log replaced by the
// setup dialog under a running session, disconnecting while sixteen decoders run, the
// recorder ending the connection during live view, messages of an ended connection, and a
// recorder that stops reading. These run under AddressSanitizer and ThreadSanitizer too,
// where a use after free or a race in the teardown shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/client_shell.h"
#include "logs/local_log.h"
#include "platform/h264_decoder.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/session_messages.h"
#include "sim/recorder_sim.h"
#include "support/temp_folder_test.h"

namespace taviro::app {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;
using Clock = std::chrono::steady_clock;

class ConnectionTest : public testing::CTempFolderTest {
  protected:
    ConnectionTest() : CTempFolderTest("taviro-connection-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
        m_store.SetString(setup_key::kLocation, (m_root / "store").string());
    }

    std::unique_ptr<sim::CRecorderSim> StartRecorder(sim::SimConfig config) {
        auto recorder = std::make_unique<sim::CRecorderSim>(std::move(config));
        EXPECT_TRUE(recorder->Start()) << recorder->LastError();
        return recorder;
    }

    std::unique_ptr<CClientShell> MakeShell(ShellOptions options = {}) {
        options.quitPause = 5ms;
        options.connectTimeout = 2s;
        auto shell = std::make_unique<CClientShell>(m_store, m_sink, Branding{}, options);
        shell->StartUp();
        return shell;
    }

    static ConnectTarget Target(std::uint16_t port) {
        return ConnectTarget{"127.0.0.1", port, "admin", "1234", "test recorder"};
    }

    // The window's part: the posted messages go to the shell until `done` holds.
    bool Pump(CClientShell& shell, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 8s) {
        const auto until = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() >= until)
                return false;
            if (const auto m = m_sink.Take(10ms))
                shell.OnMessage(*m);
        }
        return true;
    }
    // Until the next login answer has been handled whole (its log-in entry written).
    bool PumpUntilLoggedIn(CClientShell& shell) {
        const auto answers = [&] {
            const auto history = m_sink.History();
            return std::count_if(history.begin(), history.end(), [](const PostedMessage& m) {
                return m.message == protocol::WM_SESSION_LOGGED_IN;
            });
        };
        const auto before = answers();
        return Pump(shell, [&] { return answers() > before && shell.LoggedIn(); });
    }

    static std::vector<int> Received(const sim::CRecorderSim& recorder) {
        std::vector<int> codes;
        for (const auto& e : recorder.Journal())
            if (e.dir == sim::JournalDir::Rx)
                codes.push_back(e.code);
        return codes;
    }

    platform::CMemorySettingsStore m_store;
    platform::CQueueSink m_sink;
    video::CChannelViews m_views;
};

TEST_F(ConnectionTest, SetupConfirmedWhileConnectedKeepsTheSessionsLogAndConnectsAgain) {
    auto recorder = StartRecorder({});
    auto shell = MakeShell();
    ASSERT_EQ(shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));

    // The storage folder moves while the session runs: the log it writes to follows.
    LocalSetup edited = shell->Setup();
    edited.location = (m_root / "moved").string();
    shell->ApplySetup(edited);
    shell->Disconnect();
    ASSERT_TRUE(Pump(*shell, [&] { return !shell->HasSession(); }));
    const auto moved = logs::ReadLocalLog(m_root / "moved" / "Log" / "m7400.log").records;
    ASSERT_EQ(moved.size(), 2u);
    EXPECT_EQ(moved[0].kind, 8u);  // the setup entry
    EXPECT_EQ(moved[1].kind, logs::entry::kConnection);
    EXPECT_EQ(moved[1].subType, logs::entry::kLogOut);

    ASSERT_EQ(shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));
    shell->Quit();
    EXPECT_EQ(logs::ReadLocalLog(m_root / "moved" / "Log" / "m7400.log").records.size(), 5u)
        << "log-in, log-out and the program end follow";
}

TEST_F(ConnectionTest, DisconnectDuringLiveViewStopsSixteenDecodersBeforeTheSession) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.live_fps = 5;
    config.live_gop = 5;
    config.push_records = true;  // titles: the decoders read them for every picture
    auto recorder = StartRecorder(config);
    auto shell = MakeShell();
    shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatYuv420);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));
    ASSERT_TRUE(Pump(*shell, [&] { return m_views.HasDecodedMask() == protocol::kAllChannels; }));
    client::CConnection* connection = shell->Connection();
    EXPECT_EQ(connection->Pipeline().Decoders().Running(), protocol::kAllChannels);

    const auto start = Clock::now();
    shell->Disconnect();  // returns at once: the teardown runs on the connection's worker
    EXPECT_LT(Clock::now() - start, 50ms);
    EXPECT_EQ(shell->State(), ConnectionState::kClosing);
    ASSERT_TRUE(Pump(*shell, [&] { return !shell->HasSession(); }));
    // Nothing decodes into the views any more.
    const auto rates = [&] {
        std::vector<std::uint64_t> pictures;
        for (int c = 0; c < 16; ++c) {
            const auto& view = m_views.Channel(c);
            std::lock_guard lock(view.lock);
            pictures.push_back(view.decodedCount);  // no grid here resets it
        }
        return pictures;
    };
    const auto after = rates();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(rates(), after);
}

TEST_F(ConnectionTest, RecorderEndingTheConnectionDuringLiveViewAndItsLateMessages) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    config.close_after = 1500ms;
    auto recorder = StartRecorder(config);
    auto shell = MakeShell();
    shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatRgb24);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));
    const std::uint32_t first = shell->Connection()->Generation();
    ASSERT_TRUE(Pump(*shell, [&] { return shell->LiveRunning(); }));

    // (2, 0) from the ended receive thread: the window disconnects first, as for the popup.
    PostedMessage ended;
    ASSERT_TRUE(Pump(*shell, [&] {
        for (const auto& m : m_sink.History()) {
            if (m.message == platform::WM_RECORDER_NOTIFY &&
                m.lParam == platform::NotifyParam(2, 0)) {
                ended = m;
                return true;
            }
        }
        return false;
    }));
    EXPECT_EQ(ended.generation, first);
    shell->Disconnect();
    ASSERT_TRUE(Pump(*shell, [&] { return !shell->HasSession(); }));

    ASSERT_EQ(shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatRgb24),
              client::CommandResult::kDone);
    EXPECT_NE(shell->Connection()->Generation(), first);
    // A message of the ended connection that arrives late changes nothing.
    EXPECT_FALSE(shell->OnMessage(ended));
    PostedMessage release = ended;
    release.message = protocol::WM_RELEASE_SESSION;
    EXPECT_FALSE(shell->OnMessage(release));
    EXPECT_NE(shell->State(), ConnectionState::kClosing);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));
    shell->Quit();
}

TEST_F(ConnectionTest, ARecorderThatStopsReadingHoldsNeitherCommandsNorQuit) {
    sim::SimConfig config;
    config.stop_reading_after = 0ms;
    config.receive_buffer = 4096;
    auto recorder = StartRecorder(config);
    ShellOptions options;
    options.sendBufferBytes = 4096;
    auto shell = MakeShell(options);
    shell->Connect(Target(recorder->Port()), m_views, platform::kH264FormatYuv420);
    ASSERT_TRUE(PumpUntilLoggedIn(*shell));

    // A settings database fills the socket at once; what follows waits in the outbox.
    protocol::CRecorderSession& transport = shell->Session()->Transport();
    const std::vector<std::uint8_t> big(60'000, 0x5A);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(transport.Send(protocol::msg::DB_UPDATE_REQ, big));
    std::this_thread::sleep_for(300ms);
    auto slowest = Clock::duration::zero();
    for (int i = 0; i < 50; ++i) {
        const auto t0 = Clock::now();
        shell->SendVisibleSelection(0x000F);
        shell->CheckRights(protocol::Feature::Ptz);
        slowest = std::max(slowest, Clock::now() - t0);
    }
    EXPECT_LT(slowest, 20ms) << "a command waited on the network";
    EXPECT_GT(transport.QueuedRequests(), 0u);

    // Quit still ends, within the shutdown's bound, with every thread joined.
    const auto start = Clock::now();
    shell->Quit();
    EXPECT_LT(Clock::now() - start, 6s);
    EXPECT_FALSE(shell->HasSession());
}

// Two recorders: the services act on the selected one; taking it out selects the other,
// whose connection the local playback then follows, and the grid mode stays that of the
// selected recorder whatever the other one's connection posts; one disconnected and added
// again connects afresh.
TEST_F(ConnectionTest, TheSelectedRecorderIsTheOneLeftWhenItsNeighbourGoes) {
    auto first = StartRecorder({});
    auto second = StartRecorder({});
    auto shell = MakeShell();
    std::array<video::CChannelViews, 2> views;
    const int a = shell->AddRecorder(Target(first->Port()), views[0], 0).id;
    const int b = shell->AddRecorder(Target(second->Port()), views[1], 0).id;
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(shell->AddRecorder(Target(second->Port()), views[1], 0).id, -1);
    EXPECT_EQ(shell->SelectedRecorder(), a);
    ASSERT_TRUE(Pump(*shell, [&] {
        const client::CConnection* other = shell->Site().Find(b)->Connection();
        return shell->Site().Find(a)->LoggedIn() && shell->Site().Find(b)->LoggedIn() &&
               other != nullptr && other->LiveRunning() && shell->GridMode() == protocol::kGridLive;
    }));
    EXPECT_EQ(shell->RecorderName(), "127.0.0.1:" + std::to_string(first->Port()));

    shell->DisconnectRecorder(a);
    EXPECT_EQ(shell->SelectedRecorder(), b);
    EXPECT_EQ(shell->RecorderName(), "127.0.0.1:" + std::to_string(second->Port()));
    ASSERT_TRUE(Pump(*shell, [&] { return shell->Site().Count() == 1; }));
    EXPECT_TRUE(shell->LoggedIn());
    EXPECT_EQ(shell->GridMode(), protocol::kGridLive) << "the first one's end is not the grid's";

    // Disconnected, the recorder stays listed; added again, it connects afresh and is the
    // one selected.
    shell->Disconnect();
    ASSERT_TRUE(Pump(*shell, [&] { return !shell->HasSession(); }));
    EXPECT_EQ(shell->Site().Count(), 1);
    const int again = shell->AddRecorder(Target(second->Port()), views[1], 0).id;
    ASSERT_GE(again, 0);
    EXPECT_EQ(shell->Site().Count(), 1);
    EXPECT_EQ(shell->SelectedRecorder(), again);
    ASSERT_TRUE(Pump(*shell, [&] { return shell->LoggedIn(); }));
    shell->Quit();
    EXPECT_FALSE(shell->HasSession());
}

// A popup about another recorder than the selected one names that recorder, and taking
// its ended connection down leaves the selected one logged in.
TEST_F(ConnectionTest, APopupAboutAnotherRecorderNamesItAndEndsOnlyItsConnection) {
    auto good = StartRecorder({});
    auto refusing = StartRecorder({});
    auto shell = MakeShell();
    std::array<video::CChannelViews, 2> views;
    const int a = shell->AddRecorder(Target(good->Port()), views[0], 0).id;
    ConnectTarget wrong = Target(refusing->Port());
    wrong.password = "wrong";
    const int b = shell->AddRecorder(wrong, views[1], 0).id;
    ASSERT_EQ(shell->SelectedRecorder(), a);
    std::string named;
    const auto until = Clock::now() + 8s;
    while (named.empty() && Clock::now() < until) {
        const auto m = m_sink.Take(10ms);
        if (m && shell->OnMessage(*m) && m->message == platform::WM_RECORDER_NOTIFY &&
            shell->MessageRecorder() == b) {
            named = shell->NotificationContext({}, nullptr).recorder;
            shell->DisconnectMessageRecorder();
        }
    }
    EXPECT_EQ(named, "127.0.0.1:" + std::to_string(refusing->Port()));
    ASSERT_TRUE(Pump(*shell, [&] { return shell->Site().Find(b)->Connection() == nullptr; }));
    ASSERT_TRUE(Pump(*shell, [&] { return shell->LoggedIn(); }));
    EXPECT_EQ(shell->SelectedRecorder(), a);
    shell->Quit();
}

}  // namespace
}  // namespace taviro::app
