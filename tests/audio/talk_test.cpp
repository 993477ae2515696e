// The talk object and the "Mike" button against a scripted recorder on a socket pair: what
// goes on the wire for captured sound, the pace of the sender, the bounded outgoing list
// while the recorder stops reading, prompt stopping, a capture device that fails, and the
// button's account check, 2-second guard and talk life.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/g726.h"
#include "audio/talk.h"
#include "platform/message_sink.h"
#include "protocol/client_session.h"
#include "protocol/session_messages.h"
#include "support/fake_recorder.h"
#include "support/tone_analysis.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;
using platform::PostedMessage;
using protocol::msg::A_LISTEN_DATA;
using protocol::msg::A_LISTEN_REQ;
using protocol::msg::A_LISTEN_STOP_REQ;
using testing::CFakeRecorder;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A microphone the test speaks into: it remembers how it was started and hands each pushed
// buffer to the talk object on the calling thread.
class CFakeMic final : public platform::ISoundIn {
  public:
    explicit CFakeMic(bool works = true) : m_works(works) {}
    bool Start(const platform::SoundFormat& format, std::size_t framesPerBuffer,
               Buffer onBuffer) override {
        std::lock_guard lock(m_lock);
        m_format = format;
        m_frames = framesPerBuffer;
        m_starts++;
        if (m_works) {
            m_callback = std::move(onBuffer);
        }
        return m_works;
    }
    void Stop() override {
        std::lock_guard lock(m_lock);
        m_callback = nullptr;
        m_stops++;
    }
    void Push(std::span<const std::uint8_t> pcm) {
        std::lock_guard lock(m_lock);
        if (m_callback) {
            m_callback(pcm);
        }
    }
    platform::SoundFormat m_format;
    std::size_t m_frames = 0;
    int m_starts = 0;
    int m_stops = 0;

  private:
    bool m_works;
    std::mutex m_lock;
    Buffer m_callback;
};

// `frames` stereo frames of a tone, both channels alike, starting at frame `first`.
std::vector<std::int16_t> Tone(double hz, std::size_t first, std::size_t frames,
                               double amplitude = 8000) {
    std::vector<std::int16_t> s(frames * 2);
    for (std::size_t f = 0; f < frames; ++f) {
        const double v =
            amplitude * std::sin(2 * M_PI * hz * static_cast<double>(first + f) / 8000);
        s[2 * f] = s[2 * f + 1] = static_cast<std::int16_t>(std::lround(v));
    }
    return s;
}

Bytes ToBytes(std::span<const std::int16_t> samples) {
    Bytes b(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto v = static_cast<std::uint16_t>(samples[i]);
        b[2 * i] = static_cast<std::uint8_t>(v & 0xFF);
        b[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
    }
    return b;
}

// A session on one end of a socket pair with no threads of its own (nothing is sent but
// what the test and the talk object send); the scripted recorder holds the other end.
class TalkObjectTest : public ::testing::Test {
  protected:
    void Open(int sendBuffer = 0) {
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        if (sendBuffer > 0) {
            ASSERT_EQ(::setsockopt(pair->first.Fd(), SOL_SOCKET, SO_SNDBUF, &sendBuffer,
                                   sizeof sendBuffer),
                      0);
        }
        protocol::SessionConfig config;
        config.address = "127.0.0.1";
        m_session = std::make_unique<protocol::CClientSession>(m_sink, nullptr, config);
        m_session->Transport().AttachConnected(std::move(pair->first));
        m_recorder = std::make_unique<CFakeRecorder>(std::move(pair->second));
    }
    void TearDown() override {
        if (m_session) {
            std::thread reader([&] { m_recorder->ReadAll(1s); });
            m_session->DestroyWindow();
            reader.join();
        }
    }

    platform::CQueueSink m_sink;
    std::unique_ptr<protocol::CClientSession> m_session;
    std::unique_ptr<CFakeRecorder> m_recorder;
};

TEST_F(TalkObjectTest, EachCapturedBufferGoesOutAsOneFlaggedMessageOfItsCodes) {
    Open();
    CFakeMic mic;
    CAudioMikeThread talk(m_session->Transport(), &mic);
    ASSERT_TRUE(talk.Capturing());
    EXPECT_EQ(mic.m_starts, 1);
    EXPECT_EQ(mic.m_format.channels, 2);
    EXPECT_EQ(mic.m_format.framesPerSecond, 8000);
    EXPECT_EQ(mic.m_format.bitsPerSample, 16);
    EXPECT_EQ(mic.m_frames, 2048u);

    // Three buffers of a 1 kHz tone: the first whole, the second in ragged pieces (as a
    // device with other buffer sizes delivers), the third whole again.
    const auto tone = Tone(1000, 0, 3 * 2048);
    const Bytes pcm = ToBytes(tone);
    mic.Push(std::span(pcm).first(8192));
    for (std::size_t at = 8192; at < 16384; at += 1000) {
        mic.Push(std::span(pcm).subspan(at, std::min<std::size_t>(1000, 16384 - at)));
    }
    mic.Push(std::span(pcm).subspan(16384));

    CG726Encoder reference;  // one continuous stream: the coder's state runs across buffers
    CG726Decoder decoder;
    std::vector<std::int16_t> decoded;
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE("message " + std::to_string(n));
        auto m = m_recorder->Read(2s);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->header.word[0], 0x00008980u);
        EXPECT_EQ(m->header.word[1], 0x40000600u);
        EXPECT_EQ(m->header.word[2], 0u);
        EXPECT_EQ(m->header.word[3], 0u);
        ASSERT_EQ(m->payload.size(), 1536u);
        Bytes expected(1536);
        reference.Encode(std::span(tone).subspan(static_cast<std::size_t>(n) * 4096, 4096),
                         expected);
        EXPECT_EQ(m->payload, expected);
        std::vector<std::int16_t> out(4096);
        decoder.Decode(m->payload, out);
        decoded.insert(decoded.end(), out.begin(), out.end());
    }
    // What the recorder hears is the tone: every two samples form one frame, so the
    // interleaved stream runs at 16,000 samples a second.
    const auto settled = std::span(decoded).subspan(1024);
    EXPECT_GT(testing::TonePower(settled, 1000, 16000),
              50 * testing::TonePower(settled, 2000, 16000));
    EXPECT_GT(testing::Rms(settled), 3000);
    EXPECT_FALSE(m_recorder->Read(300ms)) << "a part buffer must not be sent";

    const TalkStats stats = talk.Stats();
    EXPECT_EQ(stats.captured, 3u);
    EXPECT_EQ(stats.sent, 3u);
    EXPECT_EQ(stats.dropped, 0u);
    talk.Stop();
    EXPECT_EQ(mic.m_stops, 1);
    EXPECT_FALSE(talk.Capturing());
}

TEST_F(TalkObjectTest, SendsAtMostOneMessageEveryHundredMilliseconds) {
    Open();
    CFakeMic mic;
    CAudioMikeThread talk(m_session->Transport(), &mic);
    const Bytes pcm = ToBytes(Tone(400, 0, 2048));
    for (int i = 0; i < 5; ++i) {
        mic.Push(pcm);
    }
    std::vector<Clock::time_point> arrivals;
    for (int i = 0; i < 5; ++i) {
        auto m = m_recorder->Read(2s);
        ASSERT_TRUE(m);
        ASSERT_EQ(m->Command(), A_LISTEN_DATA);
        arrivals.push_back(Clock::now());
    }
    // Four pauses of 100 ms lie between five messages (a little slack for the clock).
    EXPECT_GE(arrivals.back() - arrivals.front(), 380ms);
    EXPECT_EQ(talk.Queued(), 0u);
}

TEST_F(TalkObjectTest, StalledNetworkKeepsTheNewestTwoHundredAndStopIsPrompt) {
    // The recorder never reads and the socket holds little: the sender stalls at once.
    Open(4096);
    CFakeMic mic;
    auto talk = std::make_unique<CAudioMikeThread>(m_session->Transport(), &mic);
    const Bytes pcm = ToBytes(Tone(700, 0, 2048));
    for (int i = 0; i < 300; ++i) {
        mic.Push(pcm);
    }
    std::this_thread::sleep_for(400ms);
    const TalkStats stats = talk->Stats();
    EXPECT_EQ(stats.captured, 300u);
    EXPECT_LT(stats.sent, 20u) << "the socket should have stalled the sender";

    // Whatever went out before the stall came from the front; the list holds the newest 200.
    const auto queued = talk->QueuedBuffers();
    ASSERT_EQ(queued.size(), 200u);
    for (std::size_t i = 0; i < queued.size(); ++i) {
        EXPECT_EQ(queued[i], 100 + i);
    }
    EXPECT_EQ(stats.dropped + stats.sent, 100u);

    // The 201st buffer in a full list pushes out the oldest.
    mic.Push(pcm);
    const auto after = talk->QueuedBuffers();
    ASSERT_EQ(after.size(), 200u);
    EXPECT_EQ(after.front(), 101u);
    EXPECT_EQ(after.back(), 300u);

    const auto before = Clock::now();
    talk.reset();
    EXPECT_LT(Clock::now() - before, 1s) << "stopping waited for the stalled network";
    EXPECT_EQ(mic.m_stops, 1);
    // The connection itself is intact: the stalled bytes are readable in step.
    m_recorder->ReadAll(300ms);
}

TEST_F(TalkObjectTest, CaptureThatFailsSendsNothingAndLeavesTheSessionAlone) {
    Open();
    CFakeMic mic(false);
    {
        CAudioMikeThread talk(m_session->Transport(), &mic);
        EXPECT_FALSE(talk.Capturing());
        mic.Push(ToBytes(Tone(1000, 0, 2048)));  // a device that failed delivers nothing
        EXPECT_FALSE(m_recorder->Read(300ms));
        EXPECT_EQ(talk.Stats().captured, 0u);
    }
    EXPECT_EQ(mic.m_stops, 0) << "a device that never started is not stopped";
    ASSERT_TRUE(m_session->Transport().SendNow(protocol::msg::KEEP_ALIVE));
    auto m = m_recorder->Read(1s);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Command(), protocol::msg::KEEP_ALIVE);
}

// --- the "Mike" button -------------------------------------------------------------------

class MikeButtonTest : public ::testing::Test {
  protected:
    void LogIn(std::uint8_t account = 0) {
        protocol::SessionConfig config;
        config.address = "127.0.0.1";
        config.userId = "admin";
        config.password = "1234";
        config.closeGrace = 0ms;
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<protocol::CClientSession>(m_sink, nullptr, config);
        m_recorder = std::make_unique<CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
        ASSERT_TRUE(m_recorder->ReadUntil(protocol::msg::HELLO));
        auto hello = testing::SupportedHello();
        hello.account = account;
        ASSERT_TRUE(m_recorder->SendHello(hello));
        ASSERT_TRUE(m_sink.WaitFor(
            [](const PostedMessage& m) { return m.message == protocol::WM_SESSION_LOGGED_IN; },
            3s));
        ASSERT_TRUE(m_recorder->ReadUntil(protocol::msg::LIVE_REQ));
    }
    void TearDown() override {
        m_button.reset();
        if (m_session) {
            std::thread reader([&] { m_recorder->ReadAll(2s); });
            m_session->DestroyWindow();
            reader.join();
        }
    }
    // The talk messages the recorder received within `timeout` (keep-alives skipped).
    std::vector<std::uint16_t> Received(std::chrono::milliseconds timeout = 300ms) {
        std::vector<std::uint16_t> codes;
        while (auto m = m_recorder->Read(timeout)) {
            if (m->Command() != protocol::msg::KEEP_ALIVE) {
                codes.push_back(m->Command());
            }
        }
        return codes;
    }
    std::vector<std::int64_t> MikeLamp() const {
        std::vector<std::int64_t> states;
        for (const auto& m : m_sink.History()) {
            if (m.message == platform::WM_CONTROL_STATE && m.wParam == protocol::kCtlMike) {
                states.push_back(m.lParam);
            }
        }
        return states;
    }

    platform::CQueueSink m_sink;
    std::unique_ptr<protocol::CClientSession> m_session;
    std::unique_ptr<CFakeRecorder> m_recorder;
    Clock::time_point m_now = Clock::time_point{} + 1h;
    std::unique_ptr<CTalkButton> m_button =
        std::make_unique<CTalkButton>(m_sink, [this] { return m_now; });
};

TEST_F(MikeButtonTest, RequestIsGuardedForTwoSeconds) {
    LogIn();
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::Requested);
    m_now += 1999ms;
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::TooSoon);
    m_now += 1ms;
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::Requested);
    // The guard counts from the last request that went out, not from the refused press.
    m_now += 1500ms;
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::TooSoon);
    EXPECT_EQ(Received(), (std::vector<std::uint16_t>{A_LISTEN_REQ, A_LISTEN_REQ}));
}

TEST_F(MikeButtonTest, NothingIsSentWithoutRightsOutputDeviceOrLogin) {
    CTalkButton early(m_sink);
    EXPECT_EQ(early.Press(nullptr, true), MikePress::Ignored);
    LogIn(2);
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::NotAllowed);
    EXPECT_EQ(m_sink.Notifications().back(), std::make_pair(15, 0));
    EXPECT_TRUE(Received().empty());
}

TEST_F(MikeButtonTest, NoOutputDeviceSendsNothingAndDoesNotStartTheGuard) {
    LogIn();
    EXPECT_EQ(m_button->Press(m_session.get(), false), MikePress::NoOutputDevice);
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::Requested);
    EXPECT_EQ(Received(), (std::vector<std::uint16_t>{A_LISTEN_REQ}));
}

TEST_F(MikeButtonTest, TalkRunsFromTheAcknowledgementUntilTheButtonStopsIt) {
    LogIn();
    ASSERT_EQ(m_button->Press(m_session.get(), true), MikePress::Requested);
    ASSERT_TRUE(m_recorder->ReadUntil(A_LISTEN_REQ));
    ASSERT_TRUE(m_recorder->Send(protocol::msg::A_LISTEN_ACK));
    ASSERT_TRUE(m_sink.WaitFor(
        [](const PostedMessage& m) { return m.message == protocol::WM_TALK_STARTED; }, 3s));

    // The main window's part on protocol::WM_TALK_STARTED.
    auto mic = std::make_unique<CFakeMic>();
    CFakeMic* micView = mic.get();
    ASSERT_TRUE(m_button->OnTalkStarted(*m_session, std::move(mic)));
    EXPECT_TRUE(m_button->Talking());
    EXPECT_TRUE(m_session->Transport().ServiceOn(protocol::Service::Talk));
    EXPECT_FALSE(m_button->OnTalkStarted(*m_session, std::make_unique<CFakeMic>()));

    micView->Push(ToBytes(Tone(1000, 0, 2048)));
    auto data = m_recorder->ReadUntil(A_LISTEN_DATA);
    ASSERT_TRUE(data);
    EXPECT_EQ(data->payload.size(), 1536u);

    // Pressing while talking stops at once, even within the guard time.
    EXPECT_EQ(m_button->Press(m_session.get(), true), MikePress::Stopped);
    EXPECT_FALSE(m_button->Talking());
    EXPECT_FALSE(m_session->Transport().ServiceOn(protocol::Service::Talk));
    EXPECT_EQ(m_button->LastStats().sent, 1u);
    EXPECT_EQ(Received(), (std::vector<std::uint16_t>{A_LISTEN_STOP_REQ}));
    EXPECT_EQ(MikeLamp(), (std::vector<std::int64_t>{platform::kPressed, platform::kReleased}));
}

TEST_F(MikeButtonTest, RefusalThatStopsTalkingEndsItWithoutAStopRequest) {
    LogIn();
    ASSERT_TRUE(m_button->OnTalkStarted(*m_session, std::make_unique<CFakeMic>()));
    ASSERT_TRUE(m_recorder->SendReason(protocol::msg::A_LISTEN_NACK, 55));
    ASSERT_TRUE(m_sink.WaitFor(
        [](const PostedMessage& m) { return m.message == protocol::WM_TALK_STOPPED; }, 3s));
    m_button->OnTalkStopped(m_session.get());
    EXPECT_FALSE(m_button->Talking());
    EXPECT_FALSE(m_session->Transport().ServiceOn(protocol::Service::Talk));
    EXPECT_TRUE(Received().empty());
    EXPECT_EQ(MikeLamp(), (std::vector<std::int64_t>{platform::kPressed, platform::kReleased}));
}

}  // namespace
}  // namespace taviro::audio
