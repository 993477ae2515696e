// Pan-tilt-zoom on a real session: the bytes on the wire against a scripted recorder
// (answers of odd lengths read in step, a held move stopped by the session's own closing)
// and the controller against the simulated recorder, whose journal shows what the camera
// was told.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "maintenance/ptz_controller.h"
#include "maintenance/ptz_service.h"
#include "platform/message_sink.h"
#include "protocol/client_session.h"
#include "protocol/session_messages.h"
#include "sim/recorder_sim.h"
#include "support/fake_recorder.h"

namespace taviro::maintenance {
namespace {

using namespace std::chrono_literals;
namespace msg = protocol::msg;
using platform::PostedMessage;
using Bytes = std::vector<std::uint8_t>;

protocol::SessionConfig Config(std::uint16_t port = 0) {
    protocol::SessionConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.userId = "admin";
    config.password = "1234";
    config.closeGrace = 0ms;
    return config;
}

bool IsLoggedIn(const PostedMessage& m) {
    return m.message == protocol::WM_SESSION_LOGGED_IN;
}

class PtzWireTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<protocol::CClientSession>(m_sink, nullptr, Config());
        m_ptz = std::make_unique<CPtzService>(m_session->Transport());
        m_session->Transport().AddService(*m_ptz);
        m_recorder = std::make_unique<testing::CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        ASSERT_TRUE(m_recorder->SendHello(testing::SupportedHello()));
        ASSERT_TRUE(m_sink.WaitFor(IsLoggedIn, 3s));
    }
    void TearDown() override {
        if (m_session) {
            std::thread reader([&] { m_recorder->ReadAll(2s); });
            m_session->DestroyWindow();
            reader.join();
        }
    }
    // The availabilities posted so far, in order.
    std::vector<std::int64_t> Answers() const {
        std::vector<std::int64_t> out;
        for (const PostedMessage& m : m_sink.History()) {
            if (m.message == maintenance::WM_PTZ_CHANNEL_ACK) {
                EXPECT_EQ(m.window, platform::Window::Ptz);
                EXPECT_EQ(m.wParam, 6u);
                out.push_back(m.lParam);
            }
        }
        return out;
    }

    platform::CQueueSink m_sink;
    std::unique_ptr<protocol::CClientSession> m_session;
    std::unique_ptr<CPtzService> m_ptz;
    std::unique_ptr<testing::CFakeRecorder> m_recorder;
};

TEST_F(PtzWireTest, RequestsOnTheWire) {
    ASSERT_TRUE(m_ptz->SendChannel(6, PtzMode::Zoom));
    ASSERT_TRUE(m_ptz->SendMove(*MoveCode(PtzButton::Up, PtzMode::Zoom), 0));
    ASSERT_TRUE(m_ptz->SendStop());
    const auto channel = m_recorder->ReadUntil(msg::PTZ_CHANNEL_REQ);
    ASSERT_TRUE(channel);
    EXPECT_EQ(channel->payload, (Bytes{6, 1, 0, 0}));
    const auto move = m_recorder->ReadUntil(msg::PTZ_MOVE_REQ);
    ASSERT_TRUE(move);
    EXPECT_EQ(move->header.Length(), 4u);
    EXPECT_EQ(move->payload, (Bytes{4, 0, 0, 0}));
    const auto stop = m_recorder->ReadUntil(msg::PTZ_MOVE_STOP);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->header.Length(), 0u);
}

TEST_F(PtzWireTest, AnswersOfAnyLengthAreReadInStep) {
    ASSERT_TRUE(m_ptz->SendChannel(6, PtzMode::Pan));
    ASSERT_TRUE(m_recorder->Send(msg::PTZ_CHANNEL_ACK, Bytes{}));  // no byte: not steerable
    ASSERT_TRUE(m_recorder->Send(msg::PTZ_CHANNEL_ACK, Bytes{1, 9, 9, 9, 9, 9, 9, 9, 9}));
    ASSERT_TRUE(m_recorder->Send(msg::PTZ_CHANNEL_ACK, Bytes{0, 0, 0, 0}));
    ASSERT_TRUE(m_recorder->Send(msg::PTZ_CHANNEL_ACK, Bytes(3000, 1)));
    ASSERT_TRUE(m_recorder->Send(msg::PTZ_CHANNEL_ACK, Bytes{1}));
    const auto until = std::chrono::steady_clock::now() + 3s;
    while (Answers().size() < 5 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(Answers(), (std::vector<std::int64_t>{1, 2, 1, 2, 2}));
    EXPECT_TRUE(m_session->Transport().ReceiveThreadRunning());
}

TEST_F(PtzWireTest, TheSessionsClosingStopsAHeldMove) {
    ASSERT_TRUE(m_ptz->SendMove(ptz_code::kPanLeft, 0));
    ASSERT_TRUE(m_recorder->ReadUntil(msg::PTZ_MOVE_REQ));
    std::thread closer([&] { m_session->DestroyWindow(); });
    EXPECT_TRUE(m_recorder->ReadUntil(msg::PTZ_MOVE_STOP));
    m_recorder->ReadAll(2s);
    closer.join();
    EXPECT_FALSE(m_ptz->SendMove(ptz_code::kPanLeft, 0));  // nothing goes out any more
    m_session.reset();
}

// The controller over a real session against the simulated recorder, whose camera on
// channel 1 is fixed and on channel 2 steerable.
TEST(PtzSimulatorTest, ThePadFollowsTheRecordersAnswerAndMovesAreJournalled) {
    sim::SimConfig config;
    config.ptz_channels = 0x0004;
    sim::CRecorderSim recorder(config);
    ASSERT_TRUE(recorder.Start()) << recorder.LastError();
    platform::CQueueSink sink;
    protocol::CClientSession session(sink, nullptr, Config(recorder.Port()));
    CPtzService service(session.Transport());
    session.Transport().AddService(service);
    session.Connect();
    ASSERT_TRUE(sink.WaitFor(IsLoggedIn, 5s));

    CPtzController ptz(sink);
    ptz.SetLink(&service);
    ptz.SetLive(true);
    protocol::RightsContext rights;
    rights.productMajor = 0;
    rights.liveOn = true;
    // The main window's part: hands the recorder's answers to the controller.
    const auto answer = [&](std::size_t count) {
        std::size_t seen = 0;
        while (auto m = sink.Take(5s)) {
            if (m->message == maintenance::WM_PTZ_CHANNEL_ACK) {
                ptz.OnChannelAck(static_cast<int>(m->wParam),
                                 static_cast<PtzAvailability>(m->lParam));
                if (++seen == count) {
                    return true;
                }
            }
        }
        return false;
    };
    ASSERT_EQ(ptz.Command(PtzMode::Pan, rights, PtzScene{1, {0, 1, 2, 3}, 0}), PtzResult::kDone);
    ASSERT_TRUE(answer(1));
    EXPECT_FALSE(ptz.PadEnabled());
    ptz.SelectChannel(2);
    ASSERT_TRUE(answer(1));
    EXPECT_TRUE(ptz.PadEnabled());
    ptz.Press(PtzButton::Up);
    ptz.Release(PtzButton::Up);
    ptz.Press(PtzButton::Right);
    ptz.Close();  // while Right is held

    const std::vector<std::string> expected = {"ch1 fixed", "ch2 steerable", "ch2 pan up",
                                               "ch2 stop",  "ch2 pan right", "ch2 stop"};
    const auto ptzEvents = [](const std::vector<sim::JournalEntry>& entries) {
        std::vector<std::string> out;
        for (const auto& e : entries) {
            if (e.IsEvent("ptz")) {
                out.push_back(e.why);
            }
        }
        return out;
    };
    EXPECT_TRUE(recorder.WaitForJournal(
        [&](const std::vector<sim::JournalEntry>& e) { return ptzEvents(e).size() >= 6; }, 5s));
    EXPECT_EQ(ptzEvents(recorder.Journal()), expected);
    session.DestroyWindow();
}

}  // namespace
}  // namespace taviro::maintenance
