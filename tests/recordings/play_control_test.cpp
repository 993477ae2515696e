// Remote playback's rules as sequences of requests: what each button sends from each state,
// how re-positioning lands on the last frame shown, the credit, the speed codes and the
// pacing of normal speed.
#include <gtest/gtest.h>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "recordings/play_control.h"

namespace taviro::recordings {
namespace {

namespace msg = protocol::msg;

constexpr std::uint32_t kForward1 = 11;  // speed code of +1
constexpr protocol::ChannelMask kView = 0x000F;
constexpr int kChannels = 4;

std::vector<std::uint16_t> Codes(const PlayMessages& messages) {
    std::vector<std::uint16_t> codes;
    for (const auto& m : messages)
        codes.push_back(m.code);
    return codes;
}

std::uint32_t Word(const PlayMessage& m) {
    return m.payload.size() == 4 ? protocol::LoadBE32(m.payload.data()) : 0xFFFFFFFFu;
}

// A video frame arrives; when it is to be shown, its picture is, as the decoders would.
ElementVerdict Arrive(CPlayControl& c, std::uint32_t speedCode, std::int32_t seconds,
                      std::int32_t microseconds) {
    ElementVerdict v = c.OnElement(false, speedCode, seconds, microseconds, kView, kChannels);
    if (v.show)
        c.OnShown(0, seconds, microseconds, seconds);
    return v;
}

// A control that has played frames up to 10:00:05.500 (recorder seconds 1000005).
CPlayControl Playing() {
    CPlayControl c;
    c.Start();
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Arrive(c, kForward1, 1000000 + i / 2, (i % 2) * 512000).show);
    return c;
}

TEST(PlayControl, ForwardFromPauseLandsOnTheLastFrameShownAndStreams) {
    CPlayControl c = Playing();
    EXPECT_EQ(Codes(c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr)),
              std::vector<std::uint16_t>{msg::PLAY_PAUSE});
    EXPECT_FALSE(Arrive(c, kForward1, 1000005, 0).show) << "paused";

    bool generation = true;
    const auto sent = c.Command(PlayCommand::Forward, kView, 0x0003, kChannels, &generation);
    ASSERT_EQ(Codes(sent), (std::vector<std::uint16_t>{msg::PLAY_PAUSE, msg::PLAY_FORWARD,
                                                       msg::PLAY_STEP_DATA}));
    EXPECT_FALSE(generation);
    // Positioned at the position's second, for the played channels of the view.
    ASSERT_EQ(sent[1].payload.size(), kPlayRequestSize);
    EXPECT_EQ(protocol::LoadBE32(sent[1].payload.data()), 0x0003u);
    EXPECT_EQ(protocol::LoadBE32(sent[1].payload.data() + 16), 1000004u);
    EXPECT_EQ(Word(sent[2]), kStartCredit);
    EXPECT_EQ(c.Pause(), PauseState::Repositioning);

    // The recorder restarts at the key frame before: older frames are skipped, the frame
    // shown last is reached but not shown again, and streaming goes on after it.
    EXPECT_FALSE(Arrive(c, kForward1, 1000004, 0).show);
    EXPECT_EQ(c.Pause(), PauseState::Repositioning);
    const auto landed = Arrive(c, kForward1, 1000004, 512000);
    EXPECT_FALSE(landed.show);
    EXPECT_TRUE(landed.send.empty()) << "play modes just stream on";
    EXPECT_EQ(c.Pause(), PauseState::Streaming);
    EXPECT_TRUE(Arrive(c, kForward1, 1000005, 0).show);
}

TEST(PlayControl, StepsFromPauseAndWhilePlaying) {
    CPlayControl c = Playing();
    // Next step while playing: PAUSE, NEXT_STEP, CH_CHANGE with the view, credit 1.
    const auto whilePlaying = c.Command(PlayCommand::NextStep, kView, kView, kChannels, nullptr);
    ASSERT_EQ(Codes(whilePlaying),
              (std::vector<std::uint16_t>{msg::PLAY_PAUSE, msg::PLAY_NEXT_STEP, msg::PLAY_CH_CHANGE,
                                          msg::PLAY_STEP_DATA}));
    EXPECT_EQ(Word(whilePlaying[2]), kView);
    EXPECT_EQ(Word(whilePlaying[3]), 1u);
    EXPECT_TRUE(Arrive(c, kForward1, 1000006, 0).show);

    // Next step from pause: a positioned FORWARD and credit 1; the frames before the
    // target are hidden (decoded for the step) and paid one at a time, so the recorder
    // stands exactly on the target when the step is taken.
    c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr);
    const auto fromPause = c.Command(PlayCommand::NextStep, kView, kView, kChannels, nullptr);
    ASSERT_EQ(Codes(fromPause),
              (std::vector<std::uint16_t>{msg::PLAY_FORWARD, msg::PLAY_STEP_DATA}));
    EXPECT_EQ(Word(fromPause[1]), 1u);
    for (int i = 0; i < 3; ++i) {
        const auto early = Arrive(c, kForward1, 1000005, i * 40000);
        EXPECT_FALSE(early.show);
        EXPECT_TRUE(early.hidden);
        ASSERT_EQ(early.send.size(), 1u);
        EXPECT_EQ(Word(early.send[0]), 1u);
    }
    // Reaching the last shown frame: the step is taken from there.
    const auto landed = Arrive(c, kForward1, 1000006, 0);
    EXPECT_FALSE(landed.show);
    EXPECT_EQ(Codes(landed.send),
              (std::vector<std::uint16_t>{msg::PLAY_PAUSE, msg::PLAY_NEXT_STEP, msg::PLAY_CH_CHANGE,
                                          msg::PLAY_STEP_DATA}));
    EXPECT_EQ(Word(landed.send[3]), 1u);
    EXPECT_TRUE(c.Stepping());
}

// A channel last shown long before the others (out of view for a while) lands on the
// position like one never shown: its key frame before the position is paid for, not taken
// for a frame still under way, which spent the step's one credit and froze the step.
TEST(PlayControl, AStepPaysTheWayOfAChannelNotShownForAWhile) {
    CPlayControl c;
    c.Start();
    const auto first =
        c.OnElement(false, kForward1, 1000000, 0, kView, kChannels, false, false, /*channel=*/1);
    ASSERT_TRUE(first.show);
    c.OnShown(1, 1000000, 0, 1000000);
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(Arrive(c, kForward1, 1000001 + i, 0).show);
    c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr);
    const auto step = c.Command(PlayCommand::NextStep, kView, kView, kChannels, nullptr);
    ASSERT_EQ(Codes(step), (std::vector<std::uint16_t>{msg::PLAY_FORWARD, msg::PLAY_STEP_DATA}));
    // The recorder starts channel 1 again at its key frame a second before the position.
    const auto key =
        c.OnElement(false, kForward1, 1000009, 0, kView, kChannels, false, false, /*channel=*/1);
    EXPECT_FALSE(key.show);
    EXPECT_TRUE(key.hidden);
    ASSERT_EQ(key.send.size(), 1u) << "the next frame is paid for";
    EXPECT_EQ(Word(key.send[0]), 1u);
}

TEST(PlayControl, BackwardReversesAndLandsGoingBack) {
    CPlayControl c = Playing();
    bool generation = false;
    const auto back = c.Command(PlayCommand::Backward, kView, kView, kChannels, &generation);
    EXPECT_EQ(Codes(back), (std::vector<std::uint16_t>{msg::PLAY_BACKWARD, msg::PLAY_STEP_DATA}));
    EXPECT_TRUE(back[0].payload.empty());
    EXPECT_TRUE(generation);
    EXPECT_EQ(c.Reversal(), 2);
    const auto frame = Arrive(c, 9, 1000003, 0);  // speed -1
    EXPECT_TRUE(frame.show);
    EXPECT_TRUE(frame.reverse);

    // Backward from pause: positioned one second after the picture, frames after it
    // skipped (decoded, not shown), and from the first at or before it backward play goes on.
    c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr);
    const auto backward = c.Command(PlayCommand::Backward, kView, kView, kChannels, nullptr);
    ASSERT_EQ(Codes(backward),
              (std::vector<std::uint16_t>{msg::PLAY_BACKWARD, msg::PLAY_STEP_DATA}));
    EXPECT_EQ(protocol::LoadBE32(backward[0].payload.data() + 16), 1000004u);
    const auto after = Arrive(c, 9, 1000004, 0);
    EXPECT_FALSE(after.show);
    EXPECT_TRUE(after.hidden);
    EXPECT_FALSE(Arrive(c, 9, 1000003, 0).show) << "landed on the picture shown";
    EXPECT_EQ(c.Pause(), PauseState::Streaming);
    EXPECT_TRUE(Arrive(c, 9, 1000002, 0).show);

    // Previous step from pause: forward to the picture shown (the recorder starts at a key
    // frame before it), credit 1 frame by frame, then the step back from there.
    c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr);
    const auto prev = c.Command(PlayCommand::PreviousStep, kView, kView, kChannels, nullptr);
    ASSERT_EQ(Codes(prev), (std::vector<std::uint16_t>{msg::PLAY_FORWARD, msg::PLAY_STEP_DATA}));
    EXPECT_EQ(protocol::LoadBE32(prev[0].payload.data() + 16), 1000002u);
    EXPECT_EQ(Word(prev[1]), 1u);
    EXPECT_TRUE(Arrive(c, kForward1, 1000001, 0).hidden);
    const auto landed = Arrive(c, kForward1, 1000002, 0);
    EXPECT_FALSE(landed.show);
    EXPECT_EQ(Codes(landed.send),
              (std::vector<std::uint16_t>{msg::PLAY_PAUSE, msg::PLAY_PREV_STEP, msg::PLAY_CH_CHANGE,
                                          msg::PLAY_STEP_DATA}));
    const auto stepped = Arrive(c, 9, 1000001, 900000);
    EXPECT_TRUE(stepped.show);
    EXPECT_TRUE(stepped.reverse) << "previous steps are marked for the decoders";

    // Forward again after a step back: reversal side 1. The recorder goes on from the frame
    // the decoders hold, so they must not start a new generation (and wait for a key frame,
    // showing nothing for a group of pictures). From pause the request is positioned and
    // the recorder starts at a key frame: a new generation then.
    generation = true;
    c.Command(PlayCommand::Forward, kView, kView, kChannels, &generation);
    EXPECT_FALSE(generation);
    EXPECT_EQ(c.Reversal(), 1);
    c.Command(PlayCommand::PreviousStep, kView, kView, kChannels, nullptr);
    c.Command(PlayCommand::Pause, kView, kView, kChannels, nullptr);
    c.Command(PlayCommand::Forward, kView, kView, kChannels, &generation);
    EXPECT_TRUE(generation);
    EXPECT_EQ(c.Reversal(), 1);
}

TEST(PlayControl, CreditSpeedAndAudio) {
    CPlayControl c;
    EXPECT_EQ(Word(c.Start().at(0)), kStartCredit);
    int credits = 0;
    for (int i = 0; i < 96; ++i) {
        const bool audio = i % 3 == 0;  // audio blocks count like frames
        const auto v = c.OnElement(audio, kForward1, 1000000, i * 1000, kView, kChannels);
        for (const auto& m : v.send) {
            EXPECT_EQ(m.code, msg::PLAY_STEP_DATA);
            EXPECT_EQ(Word(m), kCreditBatch);
            ++credits;
        }
    }
    EXPECT_EQ(credits, 2);
    // Audio is heard at +1 only; a speed change is reported once.
    const auto faster = c.OnElement(true, 12, 1000000, 0, kView, kChannels);
    EXPECT_TRUE(faster.speedChanged);
    EXPECT_FALSE(faster.show);
    EXPECT_EQ(c.Speed(), 2);
    EXPECT_FALSE(c.OnElement(true, 12, 1000000, 0, kView, kChannels).speedChanged);
    // No credit while stepping.
    c.Command(PlayCommand::NextStep, kView, kView, kChannels, nullptr);
    for (int i = 0; i < 60; ++i)
        EXPECT_TRUE(Arrive(c, kForward1, 1000001, 0).send.empty());

    EXPECT_EQ(SpeedOfCode(4), -6);
    EXPECT_EQ(SpeedOfCode(9), -1);
    EXPECT_EQ(SpeedOfCode(10), 0);
    EXPECT_EQ(SpeedOfCode(11), 1);
    EXPECT_EQ(SpeedOfCode(16), 6);
    EXPECT_EQ(SpeedOfCode(17), 0);
    EXPECT_EQ(SpeedCodeOf(0x000B0000u | 0x40000000u | 1234), 11u);
}

// A playback that starts at a time: the recorder begins at a key frame before it; what
// comes before the time is decoded unseen and unheard, the picture of that time is the
// first shown and starts the clock, and streaming goes on from it.
TEST(PlayControl, AStartAtATimeShowsThatTimesPictureFirst) {
    CPlayControl c;
    EXPECT_EQ(Word(c.Start(1000005).at(0)), kStartCredit);
    const auto key = Arrive(c, kForward1, 1000003, 0);
    EXPECT_FALSE(key.show);
    EXPECT_TRUE(key.hidden);
    EXPECT_FALSE(c.OnElement(true, kForward1, 1000004, 0, kView, kChannels).show)
        << "sound before the time";
    EXPECT_TRUE(Arrive(c, kForward1, 1000004, 960000).hidden);
    const auto first = Arrive(c, kForward1, 1000005, 0);
    EXPECT_TRUE(first.show);
    EXPECT_FALSE(first.hidden);
    EXPECT_TRUE(first.anchor);
    EXPECT_EQ(c.Pause(), PauseState::Streaming);
    EXPECT_TRUE(Arrive(c, kForward1, 1000005, 40000).show);
    EXPECT_TRUE(c.OnElement(true, kForward1, 1000005, 40000, kView, kChannels).show);
}

// The recorder starts up to a group of pictures before the position and sends what the
// credit allows at once. Paid for on arrival, a second batch would follow before the
// decoders got through the first, and a channel's queue would pass the decoders'
// back-pressure point (99 waiting), which drops the frames up to the next key frame,
// the position's picture among them. The way is paid as it is decoded.
TEST(PlayControl, TheWayToAPositionIsPaidAsTheDecodersGetThroughIt) {
    CPlayControl c;
    c.Start(1000005);
    for (std::uint32_t i = 0; i < kStartCredit; ++i) {
        const auto v = Arrive(c, kForward1, 1000001 + static_cast<std::int32_t>(i / 25),
                              static_cast<std::int32_t>(i % 25) * 40000);
        ASSERT_TRUE(v.hidden);
        EXPECT_TRUE(v.creditWhenHandled);
        EXPECT_TRUE(v.send.empty()) << "frame " << i << " paid on arrival";
    }
    std::uint32_t granted = 0;
    for (std::uint32_t i = 0; i < kStartCredit; ++i) {
        for (const auto& m : c.OnPacedHandled())
            granted += Word(m);
    }
    EXPECT_EQ(granted, kCreditBatch) << "one batch for each 48 decoded";
    // Decoders that start over on the way (a new picture format) lost frames that were to
    // earn credit: a fresh account, or the recorder would wait for ever.
    EXPECT_EQ(Word(c.FreshCredit().at(0)), kStartCredit);
}

TEST(PlayControl, DoneFinishSeekAndTheRequest) {
    CPlayControl c = Playing();
    EXPECT_TRUE(c.OnDataFinish().empty()) << "no step credit unless re-positioning";
    EXPECT_EQ(Codes(c.OnDone()), std::vector<std::uint16_t>{msg::PLAY_PAUSE});
    EXPECT_EQ(c.Pause(), PauseState::Streaming);

    const auto seek = c.SeekTo(1003600, 0x0001);
    EXPECT_EQ(Codes(seek), (std::vector<std::uint16_t>{msg::PLAY_PAUSE, msg::PLAY_FORWARD,
                                                       msg::PLAY_STEP_DATA}));
    EXPECT_EQ(c.TargetMillis(), 1003600LL * 1000);  // 64-bit milliseconds
    EXPECT_EQ(Word(c.OnDataFinish().at(0)), 1u);
    EXPECT_FALSE(Arrive(c, kForward1, 1003599, 0).show);
    EXPECT_TRUE(Arrive(c, kForward1, 1003600, 0).show) << "the picture sought is the first";
    EXPECT_TRUE(Arrive(c, kForward1, 1003600, 40000).show);

    PlayRequest r;
    r.channels = 0x8001;
    r.kinds = kDateTimeKinds;
    r.start = 1286870400;
    r.end = kEventPlayEnd;
    EXPECT_EQ(EncodePlayRequest(r),
              (std::array<std::uint8_t, kPlayRequestSize>{
                  0, 0, 0x80, 0x01, 0x3F, 0,    0,    0,    0,    0,    0,    0,
                  0, 0, 0,    0,    0x4C, 0xB4, 0x15, 0x80, 0x7F, 0xE8, 0x17, 0x7F}));
}

TEST(PlayPacer, WaitsForTheFramesMomentAndReanchors) {
    CPlayPacer p;
    EXPECT_EQ(p.WaitMillis(5000, 100), 100) << "the first frame gets a 100 ms head start";
    EXPECT_EQ(p.WaitMillis(5040, 150), 90);
    EXPECT_EQ(p.WaitMillis(5040, 300), 0) << "late: shown at once";
    // More than a second behind: this frame becomes the new anchor instead of a race.
    EXPECT_EQ(p.WaitMillis(5080, 2000), 0);
    EXPECT_EQ(p.WaitMillis(5120, 2000), 40);
    // A jump of the recorder's clock far ahead does not stall the display.
    EXPECT_EQ(p.WaitMillis(50000, 2050), 0);
    EXPECT_EQ(p.WaitMillis(50040, 2050), 40);
}

}  // namespace
}  // namespace taviro::recordings
