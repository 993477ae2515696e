// Local playback as the operator drives it, without a window: the panes handed over and
// back, the segment's span and the position on it, the title line with the player's state,
// a held slider that playback does not move, the bookmark's mark, the stop, and a time no
// pair holds.
#include "client/local_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

#include "client/local_playback.h"
#include "controls/control_events.h"
#include "protocol/session_messages.h"
#include "support/sim_backup_pair.h"
#include "support/temp_folder_test.h"

namespace taviro::client {
namespace {

using namespace std::chrono_literals;

struct RecordingView final : ILocalPlaybackView {
    void LocalShown(bool on) override { shown = on; }
    void LocalSegment(int, protocol::ChannelMask mask, int seconds) override {
        channels = mask;
        span = seconds;
    }
    void LocalPosition(int second) override { position = second; }
    void LocalStateChanged() override { ++changes; }
    std::optional<bool> shown;
    protocol::ChannelMask channels = 0;
    int span = -1;
    int position = -1;
    int changes = 0;
};

class LocalControllerTest : public testing::CTempFolderTest {
  protected:
    LocalControllerTest() : CTempFolderTest("taviro-local-controller-") {}

    // The shell's part: the grid mode follows the posted modes, and the controller hears
    // every message, until `until` has come.
    bool Pump(const std::function<bool(const platform::PostedMessage&)>& until) {
        const auto end = std::chrono::steady_clock::now() + 8s;
        while (std::chrono::steady_clock::now() < end) {
            const auto m = m_sink.Take(20ms);
            if (!m)
                continue;
            if (m->message == protocol::WM_CHANNEL_GRID_MODE)
                m_mode = static_cast<protocol::GridMode>(m->wParam);
            m_controller.OnMessage(*m);
            if (until(*m))
                return true;
        }
        return false;
    }
    static std::function<bool(const platform::PostedMessage&)> Mode(protocol::GridMode mode) {
        return [mode](const platform::PostedMessage& m) {
            return m.message == protocol::WM_CHANNEL_GRID_MODE && m.wParam == mode;
        };
    }

    platform::CQueueSink m_sink;
    protocol::GridMode m_mode = protocol::kGridNone;
    CLocalPlaybackController m_controller{m_sink, m_mode};
    video::CChannelViews m_views;
    RecordingView m_view;
};

TEST_F(LocalControllerTest, ShowsSpanPositionTitleAndBookmarkThenStops) {
    const auto folder = m_root / "Download";
    std::string error;
    ASSERT_TRUE(testing::WriteSimBackup(folder, testing::kSimRecordingStart, 6, 2, &error))
        << error;
    m_controller.SetView(&m_view);
    LocalPlaybackSettings settings;
    settings.folder = folder;
    ASSERT_EQ(m_controller.Start(testing::kSimRecordingStart + 1, m_views, settings),
              CommandResult::kDone);
    EXPECT_EQ(m_mode, protocol::kGridLocal) << "the buttons act on local playback at once";
    ASSERT_TRUE(Pump(Mode(protocol::kGridLocal)));
    EXPECT_EQ(m_view.shown, true);
    ASSERT_TRUE(Pump([&](const platform::PostedMessage&) {
        return m_controller.Title().starts_with("L-PLAY ") && m_view.position >= 0;
    })) << m_controller.Title();
    EXPECT_GE(m_view.span, 5);
    EXPECT_NE(m_view.channels, 0u);
    std::optional<CLocalPlaybackController::BookmarkMark> mark;
    ASSERT_TRUE(Pump([&](const platform::PostedMessage&) {
        mark = m_controller.MarkBookmark();
        return mark.has_value();
    }));
    EXPECT_GE(mark->time, testing::kSimRecordingStart);
    EXPECT_TRUE(mark->vid.ends_with(".vid")) << mark->vid;

    ASSERT_EQ(m_controller.Button(343), CommandResult::kDone);
    ASSERT_TRUE(Pump([&](const platform::PostedMessage&) {
        return m_controller.Title().ends_with("paused");
    })) << m_controller.Title();
    EXPECT_EQ(m_controller.IconSpeed(), 0);

    // Held, the slider is not moved by what plays.
    m_controller.Slider(controls::WM_SLIDER_BEGIN, 4);
    m_view.position = -1;
    ASSERT_EQ(m_controller.Button(342), CommandResult::kDone);
    Pump([](const platform::PostedMessage& m) { return m.message == client::WM_LOCAL_POSITION; });
    EXPECT_EQ(m_view.position, -1);
    m_controller.Slider(controls::WM_SLIDER_END, 4);

    ASSERT_EQ(m_controller.Button(345), CommandResult::kDone);
    EXPECT_EQ(m_mode, protocol::kGridNone);
    ASSERT_TRUE(Pump(Mode(protocol::kGridNone)));
    EXPECT_EQ(m_view.shown, false);
    EXPECT_TRUE(m_controller.Title().empty());
    EXPECT_EQ(m_controller.Button(342), CommandResult::kIgnored);
    EXPECT_FALSE(m_controller.MarkBookmark());
}

TEST_F(LocalControllerTest, ATimeNoPairHoldsHandsThePanesStraightBack) {
    std::filesystem::create_directories(m_root / "Download");
    m_controller.SetView(&m_view);
    LocalPlaybackSettings settings;
    settings.folder = m_root / "Download";
    ASSERT_EQ(m_controller.Start(testing::kSimRecordingStart, m_views, settings),
              CommandResult::kDone);
    ASSERT_TRUE(Pump(Mode(protocol::kGridNone)));
    EXPECT_FALSE(m_view.shown.has_value()) << "never shown";
    EXPECT_EQ(m_mode, protocol::kGridNone);
}

}  // namespace
}  // namespace taviro::client
