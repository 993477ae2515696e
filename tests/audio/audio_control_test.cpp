// Choosing the heard channel and asking the recorder for audio: "SelAudio" and its re-checks,
// the channel views' audio icons, and AUDIO_ONOFF_REQ's header as it goes over a socket.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "audio/audio_onoff.h"
#include "audio/audio_selection.h"
#include "platform/message_sink.h"
#include "protocol/catalogue.h"
#include "protocol/client_session.h"
#include "protocol/session_messages.h"
#include "support/fake_recorder.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;
using protocol::kAllChannels;

TEST(AudioSelection, SelAudioCyclesThroughChannelsWithAudioOnThePage) {
    constexpr protocol::ChannelMask audio = 0b1000'0000'0010'1010;  // 1, 3, 5, 15
    EXPECT_EQ(NextAudioChannel(audio, kAllChannels, -1), 1);
    EXPECT_EQ(NextAudioChannel(audio, kAllChannels, 1), 3);
    EXPECT_EQ(NextAudioChannel(audio, kAllChannels, 5), 15);
    EXPECT_EQ(NextAudioChannel(audio, kAllChannels, 15), 1);  // wraps
    EXPECT_EQ(NextAudioChannel(audio, kAllChannels, 2), 3);   // from a channel without audio
    // Only the channels shown on the current page qualify.
    EXPECT_EQ(NextAudioChannel(audio, 0x00F0, 1), 5);
    EXPECT_EQ(NextAudioChannel(audio, 0x00F0, 5), 5);  // the only one: stays
    EXPECT_EQ(NextAudioChannel(audio, 0x0F00, 3), -1);
    EXPECT_EQ(NextAudioChannel(0, kAllChannels, -1), -1);
}

TEST(AudioSelection, RecheckKeepsAQualifyingSelectionAndMovesOtherwise) {
    EXPECT_EQ(RecheckAudioChannel(0b1010, kAllChannels, 3), 3);
    EXPECT_EQ(RecheckAudioChannel(0b1010, kAllChannels, 2), 3);
    EXPECT_EQ(RecheckAudioChannel(0b0010, kAllChannels, 3), 1);  // 3 left the mask
    EXPECT_EQ(RecheckAudioChannel(0b1010, 0x0001, 3), -1);       // the page shows neither
    EXPECT_EQ(RecheckAudioChannel(0b1010, kAllChannels, -1), 1);
}

TEST(AudioSelection, IconsFollowMaskAndSelection) {
    EXPECT_EQ(AudioIconOf(4, 0, 4), AudioIcon::kNone);  // no audio mask at all
    EXPECT_EQ(AudioIconOf(1, 0b1010, 1), AudioIcon::kSelected);
    EXPECT_EQ(AudioIconOf(3, 0b1010, 1), AudioIcon::kNotSelected);
    EXPECT_EQ(AudioIconOf(2, 0b1010, 1), std::nullopt);
    EXPECT_EQ(AudioIconOf(99, 0b1010, 1), std::nullopt);
}

TEST(AudioSelection, StateDrivenSelectionRechecksOnlyOnChanges) {
    stream::CStreamState state;
    CAudioSelection selection(state);
    EXPECT_EQ(selection.Recheck(kAllChannels), -1);
    // The receive thread saw an element of channels 2 and 6 and picked the lowest.
    state.SetLastAudioMask(0x44);
    state.SelectAudioIfNone(2);
    EXPECT_EQ(selection.Recheck(kAllChannels), 2);
    EXPECT_EQ(selection.SelectNext(kAllChannels), 6);
    // A channel button: only a channel whose audio is sent.
    EXPECT_FALSE(selection.SelectChannel(3));
    EXPECT_EQ(selection.Selected(), 6);
    EXPECT_TRUE(selection.SelectChannel(2));
    EXPECT_EQ(selection.Icon(2), AudioIcon::kSelected);
    EXPECT_EQ(selection.Icon(6), AudioIcon::kNotSelected);
    // Page change: channel 2 is no longer shown.
    EXPECT_EQ(selection.Recheck(0xFFF0), 6);
    // Mask change: 6 stops sending.
    state.SetLastAudioMask(0x30);
    EXPECT_EQ(selection.Recheck(0xFFF0), 4);
    selection.Reset();
    EXPECT_EQ(selection.Selected(), -1);
    EXPECT_EQ(state.LastAudioMask(), 0u);
    EXPECT_EQ(selection.Icon(4), AudioIcon::kNone);
}

// Live audio starting again on the connection's worker clears the selection and the mask
// in the shared state; when the next element brings the same mask back before the window
// checks, the check still finds a channel to hear (it used to stay at none).
TEST(AudioSelection, AChannelIsHeardAgainAfterAudioRestartsBetweenChecks) {
    stream::CStreamState state;
    CAudioSelection selection(state);
    state.SetLastAudioMask(0x4);
    EXPECT_EQ(selection.Recheck(0x4), 2);
    state.SetSelectedAudioChannel(-1);  // the audio output started again
    state.SetLastAudioMask(0);
    state.SetLastAudioMask(0x4);  // the next element, before the window's check
    EXPECT_EQ(selection.Recheck(0x4), 2);
}

class AudioOnOffTest : public ::testing::Test {
  protected:
    void SetUp() override {
        protocol::SessionConfig config;
        config.address = "127.0.0.1";
        config.userId = "admin";
        config.password = "1234";
        config.closeGrace = 0ms;
        auto pair = platform::MakeSocketPair();
        ASSERT_TRUE(pair);
        m_session = std::make_unique<protocol::CClientSession>(m_sink, nullptr, config);
        m_recorder = std::make_unique<testing::CFakeRecorder>(std::move(pair->second));
        m_session->ConnectOver(std::move(pair->first));
        ASSERT_TRUE(m_recorder->ReadUntil(protocol::msg::HELLO));
        ASSERT_TRUE(m_recorder->SendHello(testing::SupportedHello()));
        ASSERT_TRUE(m_sink.WaitFor(
            [](const platform::PostedMessage& m) {
                return m.message == protocol::WM_SESSION_LOGGED_IN;
            },
            3s));
    }
    void TearDown() override {
        std::thread reader([&] { m_recorder->ReadAll(2s); });
        m_session->DestroyWindow();
        reader.join();
    }
    // The first header word of the next AUDIO_ONOFF_REQ, as its four bytes on the wire.
    std::array<std::uint8_t, 4> NextRequestWord() {
        const auto m = m_recorder->ReadUntil(protocol::msg::AUDIO_ONOFF_REQ);
        EXPECT_TRUE(m);
        if (!m)
            return {};
        EXPECT_TRUE(m->payload.empty());
        const auto wire = m->header.ToNetwork();
        return {wire[0], wire[1], wire[2], wire[3]};
    }
    // The recorder sends a message with or without its audio flag; returns once the session
    // has read it.
    void RecorderAudioFlag(bool on) {
        ASSERT_TRUE(m_recorder->Send(200, {}, on ? 0x8u : 0u));
        for (int i = 0; i < 300 && m_session->Transport().AudioOn() != on; ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_EQ(m_session->Transport().AudioOn(), on);
    }

    platform::CQueueSink m_sink;
    std::unique_ptr<protocol::CClientSession> m_session;
    std::unique_ptr<testing::CFakeRecorder> m_recorder;
};

TEST_F(AudioOnOffTest, AsksForTheOppositeOfTheRecordersFlag) {
    using Word = std::array<std::uint8_t, 4>;
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), true, true), AudioOnOffResult::kSentOn);
    EXPECT_EQ(NextRequestWord(), (Word{0x00, 0x00, 0x0B, 0x88}));
    // Pressed again before the recorder's flag changed: ON again.
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), true, true), AudioOnOffResult::kSentOn);
    EXPECT_EQ(NextRequestWord(), (Word{0x00, 0x00, 0x0B, 0x88}));
    RecorderAudioFlag(true);
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), true, true), AudioOnOffResult::kSentOff);
    EXPECT_EQ(NextRequestWord(), (Word{0x00, 0x00, 0x0B, 0x80}));
    RecorderAudioFlag(false);
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), true, true), AudioOnOffResult::kSentOn);
    EXPECT_EQ(NextRequestWord(), (Word{0x00, 0x00, 0x0B, 0x88}));
}

TEST_F(AudioOnOffTest, NeverAsksWithoutADeviceOrAStream) {
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), true, false),
              AudioOnOffResult::kNoDevice);
    EXPECT_EQ(ToggleRecorderAudio(m_session->Transport(), false, true),
              AudioOnOffResult::kNotStreaming);
    // Nothing went out.
    const auto m = m_recorder->Read(300ms);
    EXPECT_TRUE(!m || m->Command() != protocol::msg::AUDIO_ONOFF_REQ);
}

}  // namespace
}  // namespace taviro::audio
