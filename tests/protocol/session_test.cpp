// The session against a scripted recorder: login, refusals, goodbye, keep-alive, the
// receive loop's resilience and the order of the shutdown.
#include "protocol/client_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/message_sink.h"
#include "protocol/session_messages.h"
#include "support/fake_recorder.h"

namespace taviro::protocol {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;
using testing::CFakeRecorder;
using testing::SupportedHello;

struct LogEntry {
    std::uint32_t kind, subType;
    std::string shortText, detail;
};

class CRecordingLog final : public platform::ILocalLog {
  public:
    bool WriteLocalLog(std::uint32_t size, std::uint32_t kind, std::uint32_t subType,
                       std::string_view shortText, std::string_view detail) override {
        EXPECT_EQ(size, platform::kLocalLogRecordSize);
        std::lock_guard lock(m_lock);
        m_entries.push_back({kind, subType, std::string(shortText), std::string(detail)});
        return true;
    }
    std::vector<LogEntry> Entries() {
        std::lock_guard lock(m_lock);
        return m_entries;
    }

  private:
    std::mutex m_lock;
    std::vector<LogEntry> m_entries;
};

bool IsNotify(const PostedMessage& m, int category, int code) {
    return !m.messageBox && m.message == platform::WM_RECORDER_NOTIFY &&
           m.lParam == platform::NotifyParam(category, code);
}

class SessionTest : public ::testing::Test {
  protected:
    // `addServices` runs before the connection starts (services of other areas).
    void Start(SessionConfig config = {},
               const std::function<void(CRecorderSession&)>& addServices = {}) {
        if (config.address.empty())
            config.address = "127.0.0.1";
        if (config.userId.empty())
            config.userId = "Admin";
        if (config.password.empty())
            config.password = "Secret";
        config.closeGrace = 0ms;
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<CClientSession>(*m_sink, m_log, config);
        if (addServices)
            addServices(m_session->Transport());
        m_recorder = std::make_unique<CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
    }

    // Reads HELLO and answers with `ack`; waits until the session has handled it.
    void LogIn(const HelloAck& ack = SupportedHello()) {
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        ASSERT_TRUE(m_recorder->SendHello(ack));
        ASSERT_TRUE(m_sink->WaitFor(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; },
            3s));
    }

    bool WaitNotify(int category, int code, std::chrono::milliseconds timeout = 3s) {
        return m_sink->WaitFor([&](const PostedMessage& m) { return IsNotify(m, category, code); },
                               timeout);
    }

    std::vector<std::uint16_t> CodesAfterShutdown() {
        std::thread closer([&] { m_session->DestroyWindow(); });
        std::vector<std::uint16_t> codes;
        for (const auto& m : m_recorder->ReadAll(2s))
            codes.push_back(m.Command());
        closer.join();
        return codes;
    }

    // Drops the session and starts the next case with an empty message history and log.
    void Reset() {
        m_session.reset();
        m_recorder.reset();
        m_sink = std::make_unique<platform::CQueueSink>();
        m_log = std::make_shared<CRecordingLog>();
    }

    std::unique_ptr<platform::CQueueSink> m_sink = std::make_unique<platform::CQueueSink>();
    std::shared_ptr<CRecordingLog> m_log = std::make_shared<CRecordingLog>();
    std::unique_ptr<CClientSession> m_session;
    std::unique_ptr<CFakeRecorder> m_recorder;
};

TEST_F(SessionTest, LoginSendsLowerCasedHelloThenLiveRequestAndKeepAlive) {
    Start();
    auto hello = m_recorder->ReadUntil(msg::HELLO);
    ASSERT_TRUE(hello);
    ASSERT_EQ(hello->payload.size(), 32u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(hello->payload.data())), "admin");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(hello->payload.data() + 16)), "secret");
    EXPECT_EQ(hello->header.word[0], 0x80u);
    EXPECT_EQ(hello->header.word[1], 32u);

    auto ack = SupportedHello(11, 6);  // an odd channel count is taken as 16
    ack.FirmVer[0] = 1286798400;
    ASSERT_TRUE(m_recorder->SendHello(ack));
    auto live = m_recorder->ReadUntil(msg::LIVE_REQ);
    ASSERT_TRUE(live);
    ASSERT_EQ(live->payload.size(), 4u);
    EXPECT_EQ(LoadBE32(live->payload.data()), kAllChannels);
    EXPECT_TRUE(m_recorder->ReadUntil(msg::KEEP_ALIVE));
    ASSERT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; }, 3s));

    EXPECT_TRUE(m_session->Login().HelloAccepted());
    EXPECT_TRUE(m_session->Login().LoggedIn());
    EXPECT_TRUE(m_session->Login().Ready());
    EXPECT_TRUE(m_session->Login().PlaybackViewChannelCapable());
    EXPECT_EQ(m_session->Login().ProductType(), 3);
    EXPECT_EQ(m_session->Login().ChannelCount(), 16);
    EXPECT_EQ(m_session->Login().Hello().FirmVer[0], 1286798400);
    EXPECT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) {
            return m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlLive &&
                   m.lParam == platform::kEnabled;
        },
        0ms));

    const auto entries = m_log->Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, 2u);
    EXPECT_EQ(entries[0].subType, 1u);
    EXPECT_EQ(entries[0].shortText, "Admin");
    EXPECT_EQ(entries[0].detail, "127.0.0.1");
}

TEST_F(SessionTest, UnsupportedProductIsRejectedAndOnlyTheGoodbyeFollows) {
    for (const bool shortAnswer : {false, true}) {
        SCOPED_TRACE(shortAnswer ? "700-byte answer" : "product number 1");
        Reset();
        Start();
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        if (shortAnswer) {
            const auto bytes = SupportedHello().Encode();
            ASSERT_TRUE(m_recorder->Send(
                msg::HELLO48_ACK, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 700)));
        } else {
            ASSERT_TRUE(m_recorder->SendHello(SupportedHello(1)));
        }
        ASSERT_TRUE(m_sink->WaitFor(
            [](const PostedMessage& m) {
                return m.messageBox && *m.messageBox == "Not MRKD7310 or TQ71!";
            },
            3s));
        ASSERT_TRUE(WaitNotify(2, 0));
        EXPECT_FALSE(m_session->Login().HelloAccepted());
        EXPECT_EQ(m_session->Login().ProductType(), shortAnswer ? 0 : 1);
        EXPECT_FALSE(m_session->Transport().KeepAliveRunning());
        // Nothing but the goodbye of the shutdown goes out after the rejected answer.
        EXPECT_EQ(CodesAfterShutdown(), std::vector<std::uint16_t>{msg::BYE});
        EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kRefused);
        m_session.reset();
    }
}

TEST_F(SessionTest, GoodbyeReasonsMapToNotificationsAndAreLogged) {
    struct Case {
        std::int32_t reason;
        std::optional<std::pair<int, int>> note;
    };
    for (const Case& c :
         {Case{37, {{15, 0}}}, Case{35, {{3, 5}}}, Case{-2, {{3, 7}}}, Case{4, {}}}) {
        SCOPED_TRACE(c.reason);
        Reset();
        Start();
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        ASSERT_TRUE(m_recorder->SendReason(msg::BYE48, c.reason));
        // A message after the goodbye proves the handler read exactly the reason.
        ASSERT_TRUE(m_recorder->SendHello(SupportedHello()));
        ASSERT_TRUE(m_sink->WaitFor(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; },
            3s));
        const auto notes = m_sink->Notifications();
        if (c.note) {
            ASSERT_EQ(notes.size(), 1u);
            EXPECT_EQ(notes[0], *c.note);
        } else {
            EXPECT_TRUE(notes.empty());
        }
        const auto entries = m_log->Entries();
        ASSERT_GE(entries.size(), 1u);
        EXPECT_EQ(entries[0].kind, 2u);
        EXPECT_EQ(entries[0].subType, 4u);
        m_session->DestroyWindow();
        // Said goodbye: never a loss the client would answer by connecting again.
        EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kGoodbye);
        m_session.reset();
    }
}

TEST_F(SessionTest, UnknownCodesAndOddLengthsAreSkippedInStep) {
    Start();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
    std::vector<std::uint8_t> big(1000);
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(m_recorder->Send(400, big));  // no such code
    // An acknowledgement that should be empty but carries bytes, bits outside the command
    // in word 0, and a length word with high bits set.
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_STOP_ACK, {1, 2, 3, 4, 5}, 0xFFFF0007u, 0x40000000u));
    ASSERT_TRUE(m_recorder->Send(msg::SYS_NOTICE, std::vector<std::uint8_t>(12, 0xEE)));
    ASSERT_TRUE(m_recorder->SendHello(SupportedHello()));
    ASSERT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; }, 3s));
    EXPECT_EQ(m_session->Login().ProductType(), 3);
    EXPECT_EQ(m_session->Transport().HeaderLowBits(), 0u);
    EXPECT_TRUE(m_session->Transport().ReceiveThreadRunning());
}

TEST_F(SessionTest, EveryHeaderUpdatesTheAudioState) {
    Start();
    LogIn();
    ASSERT_TRUE(m_recorder->Send(msg::SYS_NOTICE, std::vector<std::uint8_t>(12), 0x8u | 0x5u));
    ASSERT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) {
            return m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlAudio &&
                   m.lParam == platform::kPressed;
        },
        3s));
    EXPECT_TRUE(m_session->Transport().AudioOn());
    EXPECT_EQ(m_session->Transport().HeaderLowBits(), 5u);
    // A reply that has nothing to do with audio, with the flag clear, clears it.
    ASSERT_TRUE(m_recorder->SendReason(msg::REC_ON_NACK, 2));
    ASSERT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) {
            return m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlAudio &&
                   m.lParam == platform::kReleased;
        },
        3s));
    EXPECT_FALSE(m_session->Transport().AudioOn());
}

TEST_F(SessionTest, RefusalsPostTheirNotifications) {
    Start();
    LogIn();
    ASSERT_TRUE(m_recorder->SendReason(msg::REC_ON_NACK, 65));
    ASSERT_TRUE(WaitNotify(5, 1));
    ASSERT_TRUE(m_recorder->SendReason(msg::REC_ON_NACK, 2));  // not listed: nothing
    std::vector<std::uint8_t> sizes = {0, 0, 0x10, 0, 0, 0, 0x08, 0};
    ASSERT_TRUE(m_recorder->SendReason(msg::TRANS_ON_NACK, 87, sizes));
    ASSERT_TRUE(WaitNotify(6, 5));
    ASSERT_TRUE(m_recorder->Send(msg::LIVE_NACK));  // empty: reason -100, nothing posted
    ASSERT_TRUE(m_recorder->SendReason(msg::PLAY_INFO_MONTH_NACK, 83));
    ASSERT_TRUE(m_sink->WaitFor(
        [](const PostedMessage& m) {
            return m.message == protocol::WM_PLAY_MONTH_READY &&
                   m.window == platform::Window::Search;
        },
        3s));
    ASSERT_TRUE(m_recorder->SendReason(msg::EVENT_INFO_NACK, 53));
    ASSERT_TRUE(WaitNotify(6, 4));
    const auto notes = m_sink->Notifications();
    EXPECT_EQ(notes, (std::vector<std::pair<int, int>>{{5, 1}, {6, 5}, {6, 4}}));
    const auto transfer = m_session->Transport().TransferSizes();
    ASSERT_TRUE(transfer);
    EXPECT_EQ(transfer->first, 0x1000u);
    EXPECT_EQ(transfer->second, 0x800u);
    for (const auto& m : m_sink->History()) {
        if (IsNotify(m, 6, 4)) {
            EXPECT_EQ(m.wParam, static_cast<std::uint64_t>(platform::Window::Search));
        }
    }
    // The live refusal (even empty) ends the log-in state.
    EXPECT_FALSE(m_session->Login().LoggedIn());
}

TEST_F(SessionTest, KeepAliveRunsOnItsIntervalAndStopsAtOnce) {
    SessionConfig config;
    config.keepAliveInterval = 150ms;
    Start(config);
    LogIn();
    const auto first = std::chrono::steady_clock::now();
    int count = 0;
    while (count < 4) {
        auto m = m_recorder->Read(1s);
        ASSERT_TRUE(m);
        if (m->Command() == msg::KEEP_ALIVE) {
            EXPECT_EQ(m->header.word[0], 0xFF80u);
            EXPECT_TRUE(m->payload.empty());
            ++count;
        }
    }
    const auto elapsed = std::chrono::steady_clock::now() - first;
    EXPECT_GE(elapsed, 3 * 150ms - 50ms);  // the first goes out at once, then one per interval

    // With the real ten-second interval, a shutdown must not wait for the interval to end.
    m_session->DestroyWindow();
    m_session.reset();
    SessionConfig slow;
    slow.keepAliveInterval = 10s;
    Start(slow);
    LogIn();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::KEEP_ALIVE));
    const auto t0 = std::chrono::steady_clock::now();
    std::thread reader([&] { m_recorder->ReadAll(2s); });
    m_session->DestroyWindow();
    const auto took = std::chrono::steady_clock::now() - t0;
    reader.join();
    EXPECT_LT(took, 1s);
    EXPECT_FALSE(m_session->Transport().KeepAliveRunning());
}

// A long-running service of another area as the shutdown sees it: it runs or not, and
// stops with its own request.
class CStubbornService final : public ISessionService {
  public:
    CStubbornService(CRecorderSession& session, Service kind, std::uint16_t stop)
        : m_session(session), m_kind(kind), m_stop(stop) {}
    std::string_view Name() const override { return "test"; }
    void Register(CDispatchTable&) override {}
    Service Kind() const override { return m_kind; }
    bool Running() const override { return m_running.load(); }
    bool StopRunning() override {
        if (!m_running.exchange(false))
            return false;
        return m_session.Send(m_stop);
    }
    std::atomic<bool> m_running{false};

  private:
    CRecorderSession& m_session;
    Service m_kind;
    std::uint16_t m_stop;
};

TEST_F(SessionTest, ShutdownStopsTheFirstRunningServiceBeforeTheGoodbye) {
    struct Case {
        std::vector<Service> running;
        std::vector<std::uint16_t> expected;
    };
    const Case cases[] = {
        {{Service::Live, Service::Talk}, {msg::LIVE_STOP, msg::BYE}},
        {{Service::Backup, Service::Talk}, {msg::TRANS_OFF_REQ, msg::BYE}},
        {{Service::Playback, Service::Backup}, {msg::RPLAY_STOP, msg::BYE}},
        {{Service::Talk}, {msg::A_LISTEN_STOP_REQ, msg::BYE}},
        {{}, {msg::BYE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.front());
        SessionConfig config;
        config.keepAliveInterval = 10s;
        std::unique_ptr<CStubbornService> backup, playback;
        Start(config, [&](CRecorderSession& transport) {
            // Added after the core services, in the wrong order on purpose: the shutdown
            // orders them by kind.
            backup =
                std::make_unique<CStubbornService>(transport, Service::Backup, msg::TRANS_OFF_REQ);
            playback =
                std::make_unique<CStubbornService>(transport, Service::Playback, msg::RPLAY_STOP);
            transport.AddService(*backup);
            transport.AddService(*playback);
        });
        LogIn();
        ASSERT_TRUE(m_recorder->ReadUntil(msg::KEEP_ALIVE));
        for (const Service s : c.running) {
            switch (s) {
                case Service::Live:
                    ASSERT_TRUE(m_recorder->Send(msg::LIVE_CHANNEL_INFO, {0, 0, 0, 1}));
                    for (int i = 0; i < 300 && !m_session->Live().Running(); ++i)
                        std::this_thread::sleep_for(10ms);
                    ASSERT_TRUE(m_session->Live().Running());
                    break;
                case Service::Playback:
                    playback->m_running = true;
                    break;
                case Service::Backup:
                    backup->m_running = true;
                    break;
                case Service::Talk:
                    m_session->Talk().SetTalking(true);
                    break;
                default:
                    break;
            }
        }
        std::vector<std::uint16_t> codes = CodesAfterShutdown();
        // The live request of the login may come first; what the shutdown sends follows.
        std::erase(codes, msg::LIVE_REQ);
        std::erase(codes, msg::KEEP_ALIVE);
        EXPECT_EQ(codes, c.expected);
        EXPECT_FALSE(m_session->Transport().ReceiveThreadRunning());
        EXPECT_FALSE(m_session->Transport().KeepAliveRunning());
        EXPECT_FALSE(m_session->Transport().SenderRunning());
        m_session.reset();
    }
    // The log-out entries follow each log-in.
    const auto entries = m_log->Entries();
    ASSERT_EQ(entries.size(), 10u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].subType, i % 2 == 0 ? 1u : 2u);
    }
}

TEST_F(SessionTest, ShutdownPostsItsWindowRequestsInOrder) {
    Start();
    LogIn();
    std::thread reader([&] { m_recorder->ReadAll(2s); });
    EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kRunning);
    m_session->DestroyWindow();
    reader.join();
    EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kStopped);
    std::vector<std::uint32_t> order;
    bool seenLogin = false;
    for (const auto& m : m_sink->History()) {
        if (m.message == protocol::WM_SESSION_LOGGED_IN) {
            seenLogin = true;
            continue;
        }
        if (!seenLogin || m.messageBox)
            continue;
        if (m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlAudio)
            continue;
        order.push_back(m.message == platform::WM_CONTROL_STATE
                            ? static_cast<std::uint32_t>(m.wParam)
                            : m.message);
    }
    const std::vector<std::uint32_t> expected = {
        protocol::kCtlConnect,        protocol::WM_CLOSE_SESSION_DIALOGS,
        protocol::kCtlMike,           protocol::WM_CLEAR_CHANNEL_GRID,
        platform::WM_RECORDER_NOTIFY, protocol::WM_CLOSE_SESSION_DIALOGS};
    EXPECT_EQ(order, expected);
}

TEST_F(SessionTest, RecorderThatDropsOrStallsEndsTheConnection) {
    Start();
    LogIn();
    m_recorder->Close();
    ASSERT_TRUE(WaitNotify(2, 0));
    EXPECT_FALSE(m_session->Transport().ReceiveThreadRunning());
    EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kLost);
    EXPECT_TRUE(m_session->Transport().WasLoggedIn());
    m_session->DestroyWindow();  // the owner's shutdown after the loss keeps it a loss
    EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kLost);
    Reset();

    SessionConfig config;
    config.recvLimit = 300ms;
    Start(config);
    LogIn();
    // Half a payload, then silence with the connection open.
    ASSERT_TRUE(m_recorder->SendRaw(
        {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x40, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3}));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitNotify(2, 0, 3s));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 250ms);
    EXPECT_EQ(m_session->Transport().EndCause(), SessionEnd::kLost);  // the read limit
}

TEST_F(SessionTest, DisconnectIsNotHeldUpByARecorderStuckInAMessage) {
    Start();  // the default three-minute read limit
    LogIn();
    ASSERT_TRUE(m_recorder->SendRaw(
        {0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3}));
    std::this_thread::sleep_for(100ms);  // the receive thread is now inside that message
    std::thread reader([&] { m_recorder->ReadAll(5s); });
    const auto t0 = std::chrono::steady_clock::now();
    m_session->DestroyWindow();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s);
    reader.join();
    EXPECT_FALSE(m_session->Transport().ReceiveThreadRunning());
}

TEST_F(SessionTest, RepeatedLoginAnswerDoesNotStartASecondKeepAlive) {
    Start();
    LogIn();
    ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    // Each answer after the channel information has opened live view asks for live view
    // again (one outstanding request at a time); only one keep-alive thread runs.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m_recorder->Send(msg::LIVE_CHANNEL_INFO, {0, 0, 0xFF, 0xFF}));
        ASSERT_TRUE(m_recorder->SendHello(SupportedHello()));
        ASSERT_TRUE(m_recorder->ReadUntil(msg::LIVE_REQ));
    }
    ASSERT_TRUE(m_recorder->Send(msg::SYS_NOTICE, std::vector<std::uint8_t>(12)));
    EXPECT_TRUE(m_session->Transport().KeepAliveRunning());
    m_session->DestroyWindow();
    EXPECT_FALSE(m_session->Transport().KeepAliveRunning());
}

TEST_F(SessionTest, DestructionWithoutShutdownJoinsEveryThread) {
    Start();
    LogIn();
    std::thread reader([&] { m_recorder->ReadAll(2s); });
    m_session.reset();  // runs the shutdown itself
    reader.join();
    SUCCEED();
}

// Over real TCP: the connect thread and its failure notifications.
TEST(SessionConnectTest, RefusedConnectionPostsReleaseAndOneOne) {
    auto listener = platform::ListenTcp("127.0.0.1", 0);
    ASSERT_TRUE(listener.Valid());
    const std::uint16_t port = platform::BoundPort(listener);
    listener.Close();  // nothing listens there now

    platform::CQueueSink sink;
    auto log = std::make_shared<CRecordingLog>();
    SessionConfig config;
    config.address = "127.0.0.1";
    config.port = port;
    config.userId = "u";
    CClientSession session(sink, log, config);
    session.Connect();
    ASSERT_TRUE(sink.WaitFor([](const PostedMessage& m) { return IsNotify(m, 1, 1); }, 3s));
    const auto history = sink.History();
    bool releaseFirst = false;
    for (const auto& m : history) {
        if (m.message == protocol::WM_RELEASE_SESSION)
            releaseFirst = true;
        if (IsNotify(m, 1, 1))
            break;
    }
    EXPECT_TRUE(releaseFirst);
    session.DestroyWindow();
    EXPECT_EQ(session.Transport().EndCause(), SessionEnd::kConnectFailed);
    const auto entries = log->Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].subType, 4u);
    EXPECT_EQ(entries[0].detail, "127.0.0.1");
}

TEST(SessionConnectTest, ConnectThatFailsOtherwiseIsToldAsNoAnswer) {
    // connect() to the broadcast address fails at once (EACCES): neither refused nor timed
    // out, and still the owner hears of it and can release the session.
    platform::CQueueSink sink;
    SessionConfig config;
    config.address = "255.255.255.255";
    config.port = 2000;
    CClientSession session(sink, nullptr, config);
    session.Connect();
    ASSERT_TRUE(sink.WaitFor([](const PostedMessage& m) { return IsNotify(m, 1, 0); }, 3s));
    bool released = false;
    for (const auto& m : sink.History())
        released = released || m.message == protocol::WM_RELEASE_SESSION;
    EXPECT_TRUE(released);
    session.DestroyWindow();
    EXPECT_EQ(session.Transport().EndCause(), SessionEnd::kConnectFailed);
}

TEST(SessionConnectTest, ConnectThatDoesNotCompleteTimesOut) {
    // A listener with a full accept queue drops further connection attempts, so the third
    // connect never completes (loopback only).
    auto listener = platform::ListenTcp("127.0.0.1", 0, 0);
    ASSERT_TRUE(listener.Valid());
    const auto address = platform::ParseIPv4("127.0.0.1", platform::BoundPort(listener));
    std::vector<platform::CSocket> fillers;
    for (int i = 0; i < 3; ++i) {
        auto s = platform::CSocket::CreateTcp();
        platform::ConnectWithTimeout(s, *address, 200ms);
        fillers.push_back(std::move(s));
    }
    platform::CQueueSink sink;
    SessionConfig config;
    config.address = "127.0.0.1";
    config.port = platform::BoundPort(listener);
    config.connectTimeout = 400ms;
    CClientSession session(sink, nullptr, config);
    const auto t0 = std::chrono::steady_clock::now();
    session.Connect();
    ASSERT_TRUE(sink.WaitFor([](const PostedMessage& m) { return IsNotify(m, 1, 0); }, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 350ms);
}

TEST(SessionConnectTest, ALoginThatIsNeverAnsweredIsANoAnswerNotAnEndedConnection) {
    // The kernel completes the connect, but nobody accepts it or answers the login.
    auto listener = platform::ListenTcp("127.0.0.1", 0, 4);
    ASSERT_TRUE(listener.Valid());
    platform::CQueueSink sink;
    SessionConfig config;
    config.address = "127.0.0.1";
    config.port = platform::BoundPort(listener);
    config.connectTimeout = 400ms;
    CClientSession session(sink, nullptr, config);
    session.Connect();
    ASSERT_TRUE(sink.WaitFor([](const PostedMessage& m) { return IsNotify(m, 1, 0); }, 10s));
    EXPECT_EQ(session.Transport().EndCause(), SessionEnd::kConnectFailed);
    bool released = false;
    bool ended = false;
    for (const auto& m : sink.History()) {
        released = released || m.message == protocol::WM_RELEASE_SESSION;
        ended = ended || IsNotify(m, 2, 0);
    }
    EXPECT_TRUE(released);
    EXPECT_FALSE(ended) << "no 'connection has ended' for a recorder that never answered";
    session.DestroyWindow();
}

}  // namespace
}  // namespace taviro::protocol
