// The main window's logic against the simulated recorder: start-up files, the session's
// lifetime, live on and off, the rights check of the record button, and the quit order as
// the recorder sees it.
#include "app/client_shell.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "logs/local_log.h"
#include "notify/notifications.h"
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

class ClientShellTest : public testing::CTempFolderTest {
  protected:
    ClientShellTest() : CTempFolderTest("taviro-shell-") {}

    void SetUp() override {
        CTempFolderTest::SetUp();
        std::filesystem::create_directories(m_root);
        m_store.SetString(setup_key::kLocation, (m_root / "store").string());
    }

    ShellOptions Fast(bool player = false) const {
        ShellOptions o;
        o.playerMode = player;
        o.quitPause = 5ms;
        o.connectTimeout = 2s;
        return o;
    }

    std::vector<logs::LocalLogRecord> LogEntries() const {
        const auto contents = logs::ReadLocalLog(m_root / "store" / "Log" / "m7400.log");
        return contents.records;
    }

    bool LoggedIn(std::chrono::milliseconds limit = 5s) {
        return m_sink.WaitFor(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; },
            limit);
    }

    // The window's part: hands the posted messages to the shell until `done` holds.
    bool Pump(CClientShell& shell, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 5s) {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until)
                return false;
            if (const auto m = m_sink.Take(20ms))
                shell.OnMessage(*m);
        }
        return true;
    }

    static ConnectTarget Target(std::uint16_t port) {
        ConnectTarget t;
        t.address = "127.0.0.1";
        t.port = port;
        t.user = "admin";
        t.password = "1234";
        t.description = "test recorder";
        return t;
    }

    static sim::CJournal::Predicate Has(sim::JournalDir dir, int code) {
        return [dir, code](const std::vector<sim::JournalEntry>& entries) {
            return std::any_of(entries.begin(), entries.end(), [&](const sim::JournalEntry& e) {
                return e.dir == dir && e.code == code;
            });
        };
    }

    static std::vector<int> SentCodes(const sim::CRecorderSim& recorder) {
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

TEST_F(ClientShellTest, StartUpMakesTheUpgradeFolderAndLogsTheStartOnlyOutsidePlayerMode) {
    {
        CClientShell shell(m_store, m_sink, Branding{}, Fast());
        shell.StartUp();
        EXPECT_TRUE(std::filesystem::is_directory(m_root / "store" / "Upgrade"));
        EXPECT_EQ(shell.Setup().location, (m_root / "store").string());
        shell.Quit();
    }
    const auto entries = LogEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].kind, logs::entry::kProgram);
    EXPECT_EQ(entries[0].subType, 1u);
    EXPECT_EQ(entries[1].subType, 2u);

    std::filesystem::remove_all(m_root / "store");
    {
        CClientShell shell(m_store, m_sink, Branding{}, Fast(true));
        shell.StartUp();
        EXPECT_FALSE(std::filesystem::exists(m_root / "store" / "Upgrade"));
        EXPECT_EQ(shell.Connect(Target(1), m_views, platform::kH264FormatYuv420),
                  client::CommandResult::kIgnored);
    }
    EXPECT_TRUE(LogEntries().empty());
}

TEST_F(ClientShellTest, LiveTogglesAndQuitStopsLiveBeforeTheGoodbye) {
    sim::SimConfig config;
    config.live_stream = true;
    config.live_width = 352;
    config.live_height = 240;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();

    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    EXPECT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kIgnored);
    ASSERT_TRUE(LoggedIn());
    // Pictures arrive and decode into the window's views.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (m_views.HasDecodedMask() == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(m_views.HasDecodedMask(), 0u);

    ASSERT_TRUE(shell.LiveRunning());
    EXPECT_EQ(shell.ToggleLive(), client::CommandResult::kDone);  // off, on the connection's worker
    shell.Connection()->Drain();
    EXPECT_FALSE(shell.LiveRunning());
    EXPECT_EQ(shell.Connection()->Pipeline().Decoders().Running(), 0u);
    EXPECT_EQ(shell.ToggleLive(), client::CommandResult::kDone);  // on again, decoders restarted
    shell.Connection()->Drain();
    EXPECT_EQ(shell.Connection()->Pipeline().Decoders().Running(), protocol::kAllChannels);
    // The second live request reaches the recorder, which streams again.
    ASSERT_TRUE(recorder.WaitForJournal(
        [](const std::vector<sim::JournalEntry>& entries) {
            return std::count_if(entries.begin(), entries.end(), [](const sim::JournalEntry& e) {
                       return e.dir == sim::JournalDir::Tx &&
                              e.code == protocol::msg::LIVE_CHANNEL_INFO;
                   }) >= 2;
        },
        5s));
    ASSERT_TRUE(shell.LiveRunning() || shell.Session()->Live().LivePending());

    shell.Quit();
    EXPECT_FALSE(shell.HasSession());
    ASSERT_TRUE(recorder.WaitForJournal(Has(sim::JournalDir::Rx, protocol::msg::BYE), 5s));
    const auto codes = SentCodes(recorder);
    const auto stop = std::find(codes.rbegin(), codes.rend(), protocol::msg::LIVE_STOP);
    const auto bye = std::find(codes.rbegin(), codes.rend(), protocol::msg::BYE);
    ASSERT_NE(stop, codes.rend());
    ASSERT_NE(bye, codes.rend());
    EXPECT_GT(stop - codes.rbegin(), bye - codes.rbegin()) << "LIVE_STOP must precede BYE";
    EXPECT_EQ(LogEntries().back().subType, 2u);  // program end
}

TEST_F(ClientShellTest, CommandsWithoutRightsOrSessionPostTheRefusalOrNothing) {
    CClientShell idle(m_store, m_sink, Branding{}, Fast());
    idle.StartUp();
    EXPECT_EQ(idle.ToggleLive(), client::CommandResult::kIgnored);
    EXPECT_EQ(idle.ToggleRecording(), client::CommandResult::kIgnored);
    // Without a recorder it is not a question of rights: "no recorder is connected".
    EXPECT_EQ(idle.CheckRights(protocol::Feature::Ptz), client::CommandResult::kRefused);
    EXPECT_EQ(m_sink.Notifications().back(),
              std::make_pair(notify::kCategoryClient, notify::kNoteNotConnected));

    sim::SimConfig config;
    config.push_records = true;
    sim::SimUser user;
    user.name = "guard";
    user.password = "pw";
    user.rights.fill(0);
    user.rights[6] = user.rights[8] = 1;  // may log in, nothing else
    config.users = {user};
    config.account = 1;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    auto target = Target(recorder.Port());
    target.user = "guard";
    target.password = "pw";
    ASSERT_EQ(shell.Connect(target, m_views, platform::kH264FormatRgb24),
              client::CommandResult::kDone);
    ASSERT_TRUE(LoggedIn());
    std::this_thread::sleep_for(200ms);  // the pushed user lists
    const auto before = m_sink.Notifications().size();
    EXPECT_EQ(shell.ToggleRecording(), client::CommandResult::kRefused);
    EXPECT_EQ(shell.PressMike(), client::CommandResult::kDone);  // account 1 may not talk
    shell.Connection()->Drain();
    const auto notes = m_sink.Notifications();
    ASSERT_EQ(notes.size(), before + 2);
    EXPECT_EQ(notes[before], std::make_pair(15, 0));
    const auto codes = SentCodes(recorder);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), protocol::msg::REC_ON_REQ), 0);

    // Notification category 2: the session goes, the Live button is disabled.
    shell.Disconnect();
    EXPECT_EQ(shell.State(), ConnectionState::kClosing);
    EXPECT_TRUE(Pump(shell, [&] { return !shell.HasSession(); }));
    EXPECT_TRUE(m_sink.WaitFor(
        [](const PostedMessage& m) {
            return m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlLive &&
                   m.lParam == platform::kDisabled;
        },
        1s));
}

TEST_F(ClientShellTest, ConfirmedSetupIsSavedLoggedAndMovesTheStorageFolder) {
    CClientShell shell(m_store, m_sink, Branding{}, Fast());
    shell.StartUp();
    LocalSetup edited = shell.Setup();
    edited.drawMode = kDrawModeRgb;
    edited.deinterlace[3] = 1;
    edited.location = (m_root / "moved").string();
    const auto plan = shell.ApplySetup(edited);
    ASSERT_FALSE(plan.actions.empty());
    EXPECT_EQ(plan.actions.front().step, SetupStep::kRecreateGrid);
    EXPECT_EQ(shell.Setup().drawMode, kDrawModeRgb);
    EXPECT_EQ(m_store.GetInt(std::string(setup_key::kDrawMode)), kDrawModeRgb);
    EXPECT_TRUE(std::filesystem::is_directory(m_root / "moved" / "Upgrade"));
    const auto moved = logs::ReadLocalLog(m_root / "moved" / "Log" / "m7400.log").records;
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].kind, 8u);
    EXPECT_EQ(moved[0].subType, 1u);
}

TEST_F(ClientShellTest, TalkStartsOnTheRecordersAnswerAndQuitStopsItBeforeTheGoodbye) {
    sim::SimConfig config;
    config.live_stream = false;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    ShellOptions options = Fast();
    options.audioOutput = true;  // talk is only asked for with a sound output
    CClientShell shell(m_store, m_sink, Branding{}, options);
    shell.StartUp();
    ASSERT_EQ(shell.Connect(Target(recorder.Port()), m_views, platform::kH264FormatYuv420),
              client::CommandResult::kDone);
    ASSERT_TRUE(LoggedIn());
    EXPECT_EQ(shell.PressMike(), client::CommandResult::kDone);
    EXPECT_EQ(shell.PressMike(),
              client::CommandResult::kDone);  // within the 2-second guard: nothing
    // The window hands the recorder's acceptance to the shell.
    PostedMessage started;
    ASSERT_TRUE(m_sink.WaitFor(
        [&](const PostedMessage& m) {
            if (m.message != protocol::WM_TALK_STARTED)
                return false;
            started = m;
            return true;
        },
        3s));
    EXPECT_TRUE(shell.OnMessage(started));
    shell.Connection()->Drain();
    EXPECT_TRUE(shell.Talking());
    shell.Quit();
    EXPECT_FALSE(shell.Talking());
    ASSERT_TRUE(recorder.WaitForJournal(Has(sim::JournalDir::Rx, protocol::msg::BYE), 5s));
    const auto codes = SentCodes(recorder);
    const auto stop = std::find(codes.begin(), codes.end(), protocol::msg::A_LISTEN_STOP_REQ);
    const auto bye = std::find(codes.begin(), codes.end(), protocol::msg::BYE);
    ASSERT_NE(stop, codes.end());
    EXPECT_LT(stop, bye);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), protocol::msg::A_LISTEN_REQ), 1);
}

}  // namespace
}  // namespace taviro::app
