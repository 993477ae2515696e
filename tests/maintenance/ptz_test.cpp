// Pan-tilt-zoom control without a recorder: the preset keypad, the payload bytes, the
// steered channel, and the controller's promise that nothing keeps moving once the panel,
// the live view or the channel it was aimed at is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "maintenance/ptz_controller.h"
#include "maintenance/ptz_rules.h"
#include "platform/message_sink.h"

namespace taviro::maintenance {
namespace {

// What went out, as the recorder would see it: "ch 3/1" for PTZ_CHANNEL_REQ (channel,
// mode), the four payload bytes in hex for PTZ_MOVE_REQ, "stop" for PTZ_MOVE_STOP.
class CRecordingLink final : public IPtzLink {
  public:
    bool SendChannel(int channel, PtzMode mode) override {
        const PtzPayload p = ChannelPayload(channel, mode);
        sent.push_back("ch " + std::to_string(p[0]) + "/" + std::to_string(p[1]));
        return true;
    }
    bool SendMove(std::uint8_t code, int number) override {
        const PtzPayload p = MovePayload(code, number);
        char text[16];
        std::snprintf(text, sizeof text, "%02X %02X %02X %02X", p[0], p[1], p[2], p[3]);
        sent.emplace_back(text);
        return true;
    }
    bool SendStop() override {
        sent.emplace_back("stop");
        return true;
    }
    std::vector<std::string> sent;
};

protocol::RightsContext LiveRights() {
    protocol::RightsContext r;
    r.productMajor = 2;
    r.userSlot = 0;
    r.tables[protocol::right_row::kPtz][0] = 1;
    r.liveOn = true;
    return r;
}

PtzScene Scene(int selected = 2) {
    return PtzScene{selected, {0, 1, 2, 3}, 0};
}

class PtzControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_ptz.SetLink(&m_link);
        m_ptz.SetLive(true);
    }
    // The panel open on channel 2, steerable, with what that sent forgotten.
    void Open(PtzMode mode = PtzMode::Pan) {
        ASSERT_EQ(m_ptz.Command(mode, LiveRights(), Scene()), PtzResult::kDone);
        m_ptz.OnChannelAck(2, PtzAvailability::Steerable);
        m_link.sent.clear();
    }
    // Enters a preset number and presses OK in the given mode and action.
    void EnterPreset(PresetKey mode, PresetKey action, std::initializer_list<int> digits) {
        m_ptz.Press(PtzButton::Preset);
        ASSERT_TRUE(m_ptz.PresetOpen());
        m_ptz.PresetPress(mode);
        m_ptz.PresetPress(action);
        for (const int d : digits) {
            m_ptz.PresetDigit(d);
        }
        m_ptz.PresetPress(PresetKey::Ok);
    }
    using Sent = std::vector<std::string>;

    platform::CQueueSink m_sink;
    CRecordingLink m_link;
    CPtzController m_ptz{m_sink};
};

TEST(PtzRules, PresetKeypadNumbersAndTours) {
    CPresetPad pad;
    for (const int d : {1, 2, 3, 4}) {
        pad.Digit(d);
    }
    EXPECT_EQ(pad.Number(), 234);  // kept below 1000

    pad.Press(PresetKey::Tour);
    EXPECT_EQ(pad.Choice(), PresetChoice::Tour);
    EXPECT_EQ(pad.Number(), 0);
    pad.Digit(7);
    EXPECT_EQ(pad.Number(), 0);  // tours are 1..4
    EXPECT_EQ(pad.Press(PresetKey::Ok).kind, PresetOutcome::Kind::Close);
    pad.Digit(3);
    const PresetOutcome tour = pad.Press(PresetKey::Ok);
    EXPECT_EQ(tour.kind, PresetOutcome::Kind::Send);
    EXPECT_EQ(tour.action, PresetAction::Tour);
    EXPECT_EQ(PresetCode(tour.action), 17);

    // Learn hides "0" and "Tour", takes one digit, and Set learns.
    pad.Press(PresetKey::Learn);
    EXPECT_FALSE(pad.TourShown());
    EXPECT_FALSE(pad.ZeroShown());
    pad.Digit(5);
    pad.Digit(6);
    EXPECT_EQ(pad.Number(), 6);
    pad.Press(PresetKey::Set);
    pad.Digit(2);
    const PresetOutcome learn = pad.Press(PresetKey::Ok);
    EXPECT_EQ(learn.action, PresetAction::LearnSet);
    EXPECT_EQ(learn.number, 2);
    // "Call" shows "Tour" again only in mode Preset.
    pad.Press(PresetKey::Call);
    EXPECT_FALSE(pad.TourShown());
    pad.Press(PresetKey::Preset);
    pad.Press(PresetKey::Set);
    EXPECT_FALSE(pad.TourShown());
    pad.Press(PresetKey::Call);
    EXPECT_TRUE(pad.TourShown());
}

TEST(PtzRules, PayloadsAndAckBytes) {
    EXPECT_EQ(MovePayload(PresetCode(PresetAction::Call), 300), (PtzPayload{0x09, 0x2C, 0, 0x01}));
    EXPECT_EQ(MovePayload(PresetCode(PresetAction::Set), 123), (PtzPayload{0x08, 123, 0, 0}));
    EXPECT_EQ(ChannelPayload(15, PtzMode::Zoom), (PtzPayload{15, 1, 0, 0}));
    EXPECT_EQ(MoveCode(PtzButton::Up, PtzMode::Zoom), 4);
    EXPECT_EQ(MoveCode(PtzButton::Right, PtzMode::Pan), 0);
    EXPECT_EQ(MoveCode(PtzButton::Left, PtzMode::Zoom), 7);

    const std::uint8_t yes[] = {1, 0, 0, 0};
    const std::uint8_t no[] = {0, 1, 1, 1};
    const std::uint8_t two[] = {2};
    EXPECT_EQ(ReadChannelAck(yes), PtzAvailability::Steerable);
    EXPECT_EQ(ReadChannelAck(no), PtzAvailability::NotSteerable);
    EXPECT_EQ(ReadChannelAck(two), PtzAvailability::NotSteerable);
    EXPECT_EQ(ReadChannelAck({}), PtzAvailability::NotSteerable);
}

TEST(PtzRules, SteeredChannelChoice) {
    const std::vector<int> shown = {4, 1, 7, 2};
    // Selected, shown and with a picture: kept.
    EXPECT_EQ(ChooseSteeredChannel(7, shown, 0), 7);
    // Selected but lost its picture: the first shown one with a picture, in pane order.
    EXPECT_EQ(ChooseSteeredChannel(7, shown, protocol::ChannelBit(7) | protocol::ChannelBit(4)), 1);
    // Selected but not shown.
    EXPECT_EQ(ChooseSteeredChannel(9, shown, 0), 4);
    EXPECT_EQ(ChooseSteeredChannel(-1, shown, 0), 4);
    EXPECT_EQ(ChooseSteeredChannel(1, shown, 0xFFFF), std::nullopt);
    EXPECT_EQ(ChooseSteeredChannel(1, {}, 0), std::nullopt);
}

TEST_F(PtzControllerTest, OpenSwitchToggleAndRights) {
    EXPECT_EQ(m_ptz.Command(PtzMode::Zoom, LiveRights(), Scene()), PtzResult::kDone);
    EXPECT_EQ(m_link.sent, (Sent{"ch 2/1"}));
    EXPECT_EQ(m_ptz.Icon().channel, 2);
    EXPECT_EQ(m_ptz.Icon().state, 2);
    m_ptz.Command(PtzMode::Pan, LiveRights(), Scene());  // switches
    EXPECT_TRUE(m_ptz.PanelOpen());
    EXPECT_EQ(m_ptz.Icon().state, 1);
    m_ptz.Command(PtzMode::Pan, LiveRights(), Scene());  // toggles closed
    EXPECT_FALSE(m_ptz.PanelOpen());
    EXPECT_EQ(m_ptz.Icon().state, 0);

    // No live view: nothing at all. No right: closed, (15, 0).
    auto rights = LiveRights();
    rights.liveOn = false;
    EXPECT_EQ(m_ptz.Command(PtzMode::Pan, rights, Scene()), PtzResult::kIgnored);
    Open();
    rights = LiveRights();
    rights.tables[protocol::right_row::kPtz][0] = 0;
    EXPECT_EQ(m_ptz.Command(PtzMode::Pan, rights, Scene()), PtzResult::kRefused);
    EXPECT_FALSE(m_ptz.PanelOpen());
    EXPECT_EQ(m_sink.Notifications(), (std::vector<std::pair<int, int>>{{15, 0}}));
    // Old recorders decide PTZ without the tables.
    rights.productMajor = 0;
    EXPECT_EQ(m_ptz.Command(PtzMode::Pan, rights, Scene()), PtzResult::kDone);
}

TEST_F(PtzControllerTest, PressAndReleaseAndTheNotSteerableAnswer) {
    Open(PtzMode::Zoom);
    m_ptz.Press(PtzButton::Up);
    m_ptz.Release(PtzButton::Up);
    m_ptz.Release(PtzButton::Up);  // a second release sends nothing more
    EXPECT_EQ(m_link.sent, (Sent{"04 00 00 00", "stop"}));

    // The recorder says the channel cannot be steered: the pad is disabled.
    m_link.sent.clear();
    m_ptz.OnChannelAck(5, PtzAvailability::Steerable);  // not the steered channel
    EXPECT_TRUE(m_ptz.PadEnabled());
    m_ptz.OnChannelAck(2, PtzAvailability::NotSteerable);
    EXPECT_FALSE(m_ptz.PadEnabled());
    m_ptz.Press(PtzButton::Down);
    EXPECT_FALSE(m_ptz.KeyDown(PtzKey::Up) && m_ptz.Moving());
    EXPECT_TRUE(m_link.sent.empty());
}

TEST_F(PtzControllerTest, EveryWayOutStopsAHeldMove) {
    struct Case {
        const char* name;
        std::function<void(CPtzController&)> leave;
    };
    const Case cases[] = {
        {"panel closed", [](CPtzController& p) { p.Close(); }},
        {"capture lost", [](CPtzController& p) { p.CaptureLost(); }},
        {"live stopped", [](CPtzController& p) { p.SetLive(false); }},
        {"channel switched", [](CPtzController& p) { p.SelectChannel(3); }},
        {"session closing", [](CPtzController& p) { p.OnSessionClosing(); }},
        {"pad disabled",
         [](CPtzController& p) { p.OnChannelAck(2, PtzAvailability::NotSteerable); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_ptz.SetLink(&m_link);
        m_ptz.SetLive(true);
        m_ptz.Close();
        Open();
        m_ptz.Press(PtzButton::Left);
        ASSERT_TRUE(m_ptz.Moving());
        c.leave(m_ptz);
        ASSERT_GE(m_link.sent.size(), 2u);
        EXPECT_EQ(m_link.sent[0], "01 00 00 00");
        EXPECT_EQ(m_link.sent[1], "stop");
        EXPECT_FALSE(m_ptz.Moving());
        m_ptz.Release(PtzButton::Left);  // the late release finds nothing to stop
        EXPECT_EQ(std::count(m_link.sent.begin(), m_link.sent.end(), "stop"), 1);
    }
}

TEST_F(PtzControllerTest, PresetLearningAndDomeMenu) {
    Open();
    EnterPreset(PresetKey::Preset, PresetKey::Call, {3, 0, 0});
    EXPECT_FALSE(m_ptz.PresetOpen());
    EnterPreset(PresetKey::Preset, PresetKey::Tour, {7});  // sends nothing
    EnterPreset(PresetKey::Learn, PresetKey::Set, {4});
    EXPECT_TRUE(m_ptz.Learning());
    EXPECT_EQ(m_link.sent, (Sent{"09 2C 00 01", "0A 04 00 00"}));

    // While learning, the preset button ends the pattern instead of opening the window.
    m_link.sent.clear();
    m_ptz.Press(PtzButton::Preset);
    EXPECT_FALSE(m_ptz.PresetOpen());
    EXPECT_FALSE(m_ptz.Learning());
    EXPECT_EQ(m_link.sent, (Sent{"0B 04 00 00"}));

    // Dome: code 13, then the menu's own codes. Closing the panel with the menu open and a
    // pattern being learned stops the move, leaves the menu (16) and ends the pattern (11).
    m_link.sent.clear();
    m_ptz.Press(PtzButton::Preset);
    m_ptz.PresetPress(PresetKey::Dome);
    EXPECT_TRUE(m_ptz.DomeMenuOpen());
    EXPECT_FALSE(m_ptz.PresetOpen());
    m_ptz.DomeSelect();
    m_ptz.DomePrevious();
    EXPECT_EQ(m_link.sent, (Sent{"0D 00 00 00", "0E 00 00 00", "0F 00 00 00"}));
    EnterPreset(PresetKey::Learn, PresetKey::Set, {3});
    m_link.sent.clear();
    m_ptz.Press(PtzButton::Up);  // the pad keeps working in the dome menu
    m_ptz.Close();
    EXPECT_EQ(m_link.sent, (Sent{"02 00 00 00", "stop", "10 00 00 00", "0B 03 00 00"}));
    EXPECT_FALSE(m_ptz.DomeMenuOpen());
    EXPECT_FALSE(m_ptz.Learning());
}

TEST_F(PtzControllerTest, ClosingWhileLearningEndsThePattern) {
    Open();
    EnterPreset(PresetKey::Learn, PresetKey::Set, {9});
    m_link.sent.clear();
    m_ptz.Command(PtzMode::Pan, LiveRights(), Scene());  // the toggle closes
    EXPECT_EQ(m_link.sent, (Sent{"0B 09 00 00"}));
}

TEST_F(PtzControllerTest, KeysAndWheel) {
    EXPECT_FALSE(m_ptz.KeyDown(PtzKey::Up));  // panel closed: the key is not ours
    Open();
    EXPECT_TRUE(m_ptz.KeyDown(PtzKey::ZoomIn));
    EXPECT_TRUE(m_ptz.KeyDown(PtzKey::ZoomIn));  // auto-repeat sends nothing more
    EXPECT_TRUE(m_ptz.KeyUp(PtzKey::ZoomIn));
    EXPECT_EQ(m_link.sent, (Sent{"04 00 00 00", "stop"}));

    m_link.sent.clear();
    EXPECT_EQ(m_ptz.Wheel(1, 120), std::nullopt);  // not the PTZ pane
    ASSERT_TRUE(m_ptz.Wheel(2, -120).has_value());
    m_ptz.EndWheel();
    EXPECT_EQ(m_link.sent, (Sent{"05 00 00 00", "stop"}));
    // A held button is not cut short by the wheel's end.
    m_link.sent.clear();
    m_ptz.Press(PtzButton::Right);
    EXPECT_EQ(m_ptz.Wheel(2, 120), std::nullopt);
    m_ptz.EndWheel();
    EXPECT_EQ(m_link.sent, (Sent{"00 00 00 00"}));
}

}  // namespace
}  // namespace taviro::maintenance
