// The transport's parts on their own: the dispatch table only takes codes the recorder
// sends, once; the outbox keeps order, stays within its bounds and is drained or given up
// as the shutdown needs; the reply collector takes only the reply that is outstanding,
// never writes past its buffer and hands the window a copy of its own. Last, a service
// that collects a fragmented reply through a real session.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/client_session.h"
#include "protocol/dispatch_table.h"
#include "protocol/outbox.h"
#include "protocol/reply_collector.h"
#include "support/fake_recorder.h"

namespace taviro::protocol {
namespace {

// The message a collected answer is posted with (the log view's, here any number will do).
constexpr std::uint32_t kLogAnswerReady = 0x523A;
constexpr std::uint32_t kDayAnswerReady = 0x5237;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

TEST(DispatchTable, TakesOnlyRecorderMessagesEachOnce) {
    CDispatchTable table;
    const auto handler = [](const PacketHeader&) { return true; };
    EXPECT_TRUE(table.Register(msg::LOG_INFO_ACK, handler));
    EXPECT_FALSE(table.Register(msg::LOG_INFO_ACK, handler)) << "claimed twice";
    EXPECT_FALSE(table.Register(msg::LOG_INFO_REQ, handler)) << "a request of the client";
    EXPECT_FALSE(table.Register(400, handler)) << "not in the catalogue";
    EXPECT_FALSE(table.Register(600, handler)) << "beyond nine bits";
    EXPECT_FALSE(table.Register(msg::STATUS_INFO_ACK, nullptr));
    EXPECT_NE(table.Find(msg::LOG_INFO_ACK), nullptr);
    EXPECT_EQ(table.Find(msg::STATUS_INFO_ACK), nullptr);
    EXPECT_EQ(table.Find(0xFFFF), nullptr);
}

TEST(Outbox, KeepsOrderAndItsBounds) {
    COutbox outbox(3, 100);
    EXPECT_TRUE(outbox.Push(Bytes(10, 1)));
    EXPECT_TRUE(outbox.Push(Bytes(10, 2)));
    EXPECT_FALSE(outbox.Push(Bytes(81, 3))) << "over the byte limit";
    EXPECT_TRUE(outbox.Push(Bytes(80, 3)));
    EXPECT_FALSE(outbox.Push(Bytes(1, 4))) << "over the message limit";
    EXPECT_EQ(outbox.Refused(), 2u);
    for (std::uint8_t expected = 1; expected <= 3; ++expected) {
        const auto wire = outbox.Pop(0ms);
        ASSERT_TRUE(wire);
        EXPECT_EQ(wire->front(), expected);
        EXPECT_FALSE(outbox.WaitIdle(0ms)) << "in flight until done";
        outbox.Done();
    }
    EXPECT_TRUE(outbox.WaitIdle(0ms));
    EXPECT_TRUE(outbox.Push(Bytes(100, 5))) << "room again";
    outbox.Close();
    EXPECT_FALSE(outbox.Push(Bytes(1, 6)));
    EXPECT_TRUE(outbox.Pop(0ms)) << "what was queued still comes out";
    EXPECT_FALSE(outbox.Pop(0ms));
}

TEST(Outbox, ASenderWakesAtOnceAndTheShutdownCanGiveUp) {
    COutbox outbox;
    std::thread sender([&] {
        while (auto wire = outbox.Pop(5s)) {
            std::this_thread::sleep_for(5ms);
            outbox.Done();
        }
    });
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(outbox.Push(Bytes(16, static_cast<std::uint8_t>(i))));
    EXPECT_TRUE(outbox.WaitIdle(5s));
    outbox.Close();  // wakes the waiting sender: it ends
    sender.join();

    COutbox stuck;
    for (int i = 0; i < 5; ++i)
        stuck.Push(Bytes(16, 0));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(stuck.WaitIdle(50ms));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 1s);
    EXPECT_EQ(stuck.Discard(), 5u);
    EXPECT_TRUE(stuck.WaitIdle(0ms));
}

TEST(ReplyCollector, TakesTheOutstandingReplyOnlyAndNeverWritesPastItsBuffer) {
    platform::CQueueSink sink;
    CReplyCollector collector(sink, 10);
    const Bytes four = {1, 2, 3, 4};
    EXPECT_EQ(collector.Add(msg::LOG_INFO_ACK, four, true), CReplyCollector::Outcome::NotExpected);

    collector.Expect({msg::LOG_INFO_ACK, platform::Window::Search, kLogAnswerReady, 7});
    EXPECT_EQ(collector.Add(msg::STATUS_INFO_ACK, four, true),
              CReplyCollector::Outcome::NotExpected);
    EXPECT_EQ(collector.Add(msg::LOG_INFO_ACK, four, false), CReplyCollector::Outcome::Partial);
    EXPECT_EQ(collector.Add(msg::LOG_INFO_ACK, four, true), CReplyCollector::Outcome::Complete);
    EXPECT_FALSE(collector.Outstanding()) << "one reply per request";
    EXPECT_EQ(collector.Add(msg::LOG_INFO_ACK, four, true), CReplyCollector::Outcome::NotExpected);

    // A recorder that sends more than fits: the rest is dropped and the reply is marked.
    collector.Expect({msg::LOG_INFO_ACK, platform::Window::Search, kLogAnswerReady, 8});
    collector.Add(msg::LOG_INFO_ACK, Bytes(8, 0xAA), false);
    collector.Add(msg::LOG_INFO_ACK, Bytes(8, 0xBB), false);
    collector.Add(msg::LOG_INFO_ACK, Bytes(8, 0xCC), true);
    // A cancelled request collects nothing.
    collector.Expect({msg::LOG_INFO_ACK, platform::Window::Search, kLogAnswerReady, 9});
    collector.Add(msg::LOG_INFO_ACK, four, false);
    collector.Cancel();
    EXPECT_EQ(collector.Add(msg::LOG_INFO_ACK, four, true), CReplyCollector::Outcome::NotExpected);

    const auto history = sink.History();
    ASSERT_EQ(history.size(), 2u);
    EXPECT_EQ(history[0].window, platform::Window::Search);
    EXPECT_EQ(history[0].message, kLogAnswerReady);
    EXPECT_EQ(history[0].wParam, 7u);
    EXPECT_EQ(history[0].lParam, 0);
    ASSERT_TRUE(history[0].data);
    EXPECT_EQ(*history[0].data, (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(history[1].lParam, kReplyCutShort);
    ASSERT_TRUE(history[1].data);
    EXPECT_EQ(*history[1].data,
              (Bytes{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xBB, 0xBB}));
}

// The recorder finishes every reply it has begun. Whatever the client gave up (or asked
// again) while one was under way, the rest of it is never taken for the next answer of the
// same code: the next answer comes whole, and only it reaches the window.
TEST(ReplyCollector, TheRestOfAReplyGivenUpIsDroppedAndTheNextAnswerIsWhole) {
    const ReplyRoute day{msg::PLAY_INFO_DAY_ACK, platform::Window::Search, kDayAnswerReady, 5};
    struct Case {
        const char* name;
        // What happens after the first fragment of the old reply went to the wire.
        std::function<void(CReplyCollector&)> meanwhile;
        bool oldFirstTaken;  // the old reply's first fragment came while it was asked for
    };
    const Case cases[] = {
        {"cancelled, then asked again",
         [&](CReplyCollector& c) {
             c.Cancel();
             c.Expect(day);
         },
         true},
        {"asked again over it", [&](CReplyCollector& c) { c.Expect(day); }, true},
        {"began after its cancel", [&](CReplyCollector& c) { c.Expect(day); }, false},
    };
    const Bytes oldHead(6, 0x0A), oldTail(6, 0x0B), fresh(6, 0x0C);
    for (const Case& k : cases) {
        platform::CQueueSink sink;
        CReplyCollector collector(sink, 100);
        if (k.oldFirstTaken) {
            collector.Expect(day);
        }
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, oldHead, false),
                  k.oldFirstTaken ? CReplyCollector::Outcome::Partial
                                  : CReplyCollector::Outcome::NotExpected)
            << k.name;
        k.meanwhile(collector);
        // An unasked reply of another code in between changes nothing.
        collector.Add(msg::PLAY_INFO_MONTH_ACK, Bytes(3, 1), true);
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, oldTail, false),
                  CReplyCollector::Outcome::NotExpected)
            << k.name;
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, oldTail, true),
                  CReplyCollector::Outcome::NotExpected)
            << k.name;
        EXPECT_EQ(collector.Outstanding(), msg::PLAY_INFO_DAY_ACK) << k.name;
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, fresh, false),
                  CReplyCollector::Outcome::Partial)
            << k.name;
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, fresh, true),
                  CReplyCollector::Outcome::Complete)
            << k.name;
        const auto history = sink.History();
        ASSERT_EQ(history.size(), 1u) << k.name;
        ASSERT_TRUE(history[0].data);
        EXPECT_EQ(*history[0].data, (Bytes(12, 0x0C))) << k.name;
    }
}

// A request given up before any of its reply came is still owed: its whole reply, or its
// refusal, settles it and never answers the request asked after it.
TEST(ReplyCollector, ARequestGivenUpBeforeItsReplyKeepsItsReplyFromTheNextOne) {
    const ReplyRoute day{msg::PLAY_INFO_DAY_ACK, platform::Window::Search, kDayAnswerReady, 5};
    for (const bool refused : {false, true}) {
        platform::CQueueSink sink;
        CReplyCollector collector(sink, 100);
        collector.Expect(day);
        collector.GiveUp();
        collector.Expect(day);
        if (refused) {
            EXPECT_TRUE(collector.TakeOwed(msg::PLAY_INFO_DAY_ACK));
            EXPECT_FALSE(collector.TakeOwed(msg::PLAY_INFO_DAY_ACK)) << "settled once";
        } else {
            EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, Bytes(6, 0x0A), true),
                      CReplyCollector::Outcome::NotExpected);
        }
        EXPECT_EQ(collector.Outstanding(), msg::PLAY_INFO_DAY_ACK);
        EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, Bytes(6, 0x0C), true),
                  CReplyCollector::Outcome::Complete);
        const auto history = sink.History();
        ASSERT_EQ(history.size(), 1u);
        EXPECT_EQ(*history[0].data, (Bytes(6, 0x0C))) << (refused ? "refused" : "answered");
    }
    // A request that was refused, or never sent, is owed nothing.
    platform::CQueueSink sink;
    CReplyCollector collector(sink, 100);
    collector.Expect(day);
    collector.Cancel();
    collector.Expect(day);
    EXPECT_EQ(collector.Add(msg::PLAY_INFO_DAY_ACK, Bytes(6, 0x0C), true),
              CReplyCollector::Outcome::Complete);
}

// A service of another area as the next ones will be: it claims its reply code and
// collects the fragments through the transport.
class CLogLikeService final : public ISessionService {
  public:
    CLogLikeService(CRecorderSession& session, platform::IMessageSink& sink)
        : m_session(session), m_collector(sink, 100) {}
    std::string_view Name() const override { return "log"; }
    void Register(CDispatchTable& table) override {
        table.Register(msg::LOG_INFO_ACK, [this](const PacketHeader& h) {
            return m_session.ReadReply(h, m_collector);
        });
    }
    bool Request() {
        m_collector.Expect({msg::LOG_INFO_ACK, platform::Window::Search, kLogAnswerReady, 0});
        return m_session.Send(msg::LOG_INFO_REQ);
    }

  private:
    CRecorderSession& m_session;
    CReplyCollector m_collector;
};

TEST(ReplyCollector, AFragmentedReplyThroughTheSessionStaysInStep) {
    platform::CQueueSink sink;
    SessionConfig config;
    config.address = "127.0.0.1";
    config.closeGrace = 0ms;
    auto pair = platform::MakeSocketPair();
    ASSERT_TRUE(pair);
    std::unique_ptr<CLogLikeService> logs;  // outlives the session's threads
    CClientSession session(sink, nullptr, config);
    logs = std::make_unique<CLogLikeService>(session.Transport(), sink);
    session.Transport().AddService(*logs);
    testing::CFakeRecorder recorder(std::move(pair->second));
    session.ConnectOver(std::move(pair->first));
    ASSERT_TRUE(recorder.ReadUntil(msg::HELLO));
    ASSERT_TRUE(recorder.SendHello(testing::SupportedHello()));
    ASSERT_TRUE(logs->Request());
    ASSERT_TRUE(recorder.ReadUntil(msg::LOG_INFO_REQ));
    // 3 x 60 bytes for a 100-byte collector, then a goodbye that must be read as one.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(recorder.Send(msg::LOG_INFO_ACK, Bytes(60, static_cast<std::uint8_t>(i)), 0,
                                  i == 2 ? 0x40000000u : 0u));
    }
    ASSERT_TRUE(recorder.Send(msg::BYE48, Bytes{0, 0, 0, 37}));
    ASSERT_TRUE(sink.WaitFor(
        [](const platform::PostedMessage& m) {
            return m.message == platform::WM_RECORDER_NOTIFY &&
                   m.lParam == platform::NotifyParam(15, 0);
        },
        3s));
    platform::MessageData reply;
    for (const auto& m : sink.History()) {
        if (m.message == kLogAnswerReady) {
            reply = m.data;
            EXPECT_EQ(m.lParam, kReplyCutShort);
        }
    }
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 100u);
    EXPECT_EQ((*reply)[59], 0);
    EXPECT_EQ((*reply)[60], 1);
    EXPECT_EQ((*reply)[99], 1);
    std::thread reader([&] { recorder.ReadAll(1s); });
    session.DestroyWindow();
    reader.join();
}

}  // namespace
}  // namespace taviro::protocol
