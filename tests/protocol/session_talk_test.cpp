// The session's talk messages against a scripted recorder: the two requests on the wire, the
// acknowledgements read over in step, and every refusal reason posting the right window
// messages in the right order.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <memory>
#include <thread>

#include "platform/message_sink.h"
#include "protocol/byte_order.h"
#include "protocol/client_session.h"
#include "protocol/session_messages.h"
#include "support/fake_recorder.h"

namespace taviro::protocol {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;
using testing::CFakeRecorder;
using testing::SupportedHello;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kNoPost = 0;

class SessionTalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SessionConfig config;
        config.address = "127.0.0.1";
        config.userId = "admin";
        config.password = "1234";
        config.closeGrace = 0ms;
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<CClientSession>(m_sink, nullptr, config);
        m_recorder = std::make_unique<CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
        ASSERT_TRUE(m_recorder->ReadUntil(msg::HELLO));
        ASSERT_TRUE(m_recorder->SendHello(SupportedHello()));
        ASSERT_TRUE(m_sink.WaitFor(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; },
            3s));
    }
    void TearDown() override {
        std::thread reader([&] { m_recorder->ReadAll(2s); });
        m_session->DestroyWindow();
        reader.join();
    }

    // Everything the session posted from index `from` on that is a talk message or a
    // notification, as (message, lParam).
    std::vector<std::pair<std::uint32_t, std::int64_t>> TalkPosts(std::size_t from) const {
        std::vector<std::pair<std::uint32_t, std::int64_t>> out;
        const auto history = m_sink.History();
        for (std::size_t i = from; i < history.size(); ++i) {
            const auto& m = history[i];
            if (m.messageBox) {
                continue;
            }
            if (m.message == protocol::WM_TALK_STARTED || m.message == protocol::WM_TALK_STOPPED) {
                out.emplace_back(m.message, 0);
            } else if (m.message == platform::WM_RECORDER_NOTIFY) {
                out.emplace_back(m.message, m.lParam);
            }
        }
        return out;
    }
    std::size_t Posted() const { return m_sink.History().size(); }
    // An acknowledgement as marker: once its protocol::WM_TALK_STARTED is there, whatever was sent
    // before it has been handled. `startedBefore` counts the acknowledgements sent before
    // the marker, whose posts must not be taken for the marker's.
    void SyncWithAck(std::size_t from, std::size_t startedBefore = 0) {
        ASSERT_TRUE(m_recorder->Send(msg::A_LISTEN_ACK));
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (std::chrono::steady_clock::now() < until) {
            const auto posts = TalkPosts(from);
            const auto started = static_cast<std::size_t>(
                std::count_if(posts.begin(), posts.end(),
                              [](const auto& p) { return p.first == protocol::WM_TALK_STARTED; }));
            if (started > startedBefore && posts.back().first == protocol::WM_TALK_STARTED) {
                return;
            }
            std::this_thread::sleep_for(2ms);
        }
        FAIL() << "the marker acknowledgement was not handled";
    }

    platform::CQueueSink m_sink;
    std::unique_ptr<CClientSession> m_session;
    std::unique_ptr<CFakeRecorder> m_recorder;
};

TEST_F(SessionTalkTest, RequestsGoOutAsBareHeaders) {
    ASSERT_TRUE(m_session->Talk().RequestTalk());
    auto request = m_recorder->ReadUntil(msg::A_LISTEN_REQ);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->header.word[0], 0x00008800u);
    EXPECT_EQ(request->header.word[1], 0u);
    EXPECT_TRUE(request->payload.empty());

    ASSERT_TRUE(m_session->Talk().StopTalkRequest());
    auto stop = m_recorder->ReadUntil(msg::A_LISTEN_STOP_REQ);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->header.word[0], 0x00008A00u);
    EXPECT_EQ(stop->header.word[1], 0u);
}

TEST_F(SessionTalkTest, AcknowledgementsWithPayloadsAreReadOverInStep) {
    const std::size_t from = Posted();
    // An acknowledgement that carries bytes, a stop acknowledgement that does too, then a
    // refusal: the refusal's reason must still be read from the right place.
    ASSERT_TRUE(m_recorder->Send(msg::A_LISTEN_ACK, Bytes{0x00, 0x00, 0x00, 0x36, 0x99}));
    ASSERT_TRUE(m_recorder->Send(msg::A_LISTEN_STOP_ACK, Bytes(7, 0x35)));
    ASSERT_TRUE(m_recorder->SendReason(msg::A_LISTEN_NACK, 54));
    SyncWithAck(from, 1);
    const auto posts = TalkPosts(from);
    const std::vector<std::pair<std::uint32_t, std::int64_t>> expected = {
        {protocol::WM_TALK_STARTED, 0},
        {platform::WM_RECORDER_NOTIFY, platform::NotifyParam(12, 0)},
        {protocol::WM_TALK_STARTED, 0}};
    EXPECT_EQ(posts, expected);
    EXPECT_TRUE(m_session->Transport().ReceiveThreadRunning());
}

TEST_F(SessionTalkTest, RefusalReasonsPostStopFirstThenTheirNotification) {
    struct Case {
        std::int32_t reason;
        bool stops;
        int category;  // -1: no notification
        int code;
    };
    const Case cases[] = {
        {1, false, 6, 0},   {2, true, 6, 1},    {53, true, 6, 4},
        {54, false, 12, 0}, {55, true, 12, 1},  {98, true, 6, 6},
        {0, false, -1, 0},  {97, false, -1, 0}, {-1, false, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("reason " + std::to_string(c.reason));
        const std::size_t from = Posted();
        ASSERT_TRUE(m_recorder->SendReason(msg::A_LISTEN_NACK, c.reason));
        SyncWithAck(from);
        std::vector<std::pair<std::uint32_t, std::int64_t>> expected;
        if (c.stops) {
            expected.emplace_back(protocol::WM_TALK_STOPPED, 0);
        }
        if (c.category >= 0) {
            expected.emplace_back(platform::WM_RECORDER_NOTIFY,
                                  platform::NotifyParam(c.category, c.code));
        }
        expected.emplace_back(protocol::WM_TALK_STARTED, kNoPost);  // the marker
        EXPECT_EQ(TalkPosts(from), expected);
    }
}

TEST_F(SessionTalkTest, RefusalWithoutAReasonOrWithTwelveBytesIsHandledLikeAnyOther) {
    const std::size_t from = Posted();
    ASSERT_TRUE(m_recorder->Send(msg::A_LISTEN_NACK));  // empty: reason -100, nothing posted
    ASSERT_TRUE(m_recorder->SendReason(msg::A_LISTEN_NACK, 2, Bytes(8, 0xEE)));
    SyncWithAck(from);
    const std::vector<std::pair<std::uint32_t, std::int64_t>> expected = {
        {protocol::WM_TALK_STOPPED, 0},
        {platform::WM_RECORDER_NOTIFY, platform::NotifyParam(6, 1)},
        {protocol::WM_TALK_STARTED, 0}};
    EXPECT_EQ(TalkPosts(from), expected);
}

}  // namespace
}  // namespace taviro::protocol
