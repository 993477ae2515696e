// Remote search and playback in the real window against the simulated recorder: RSearch,
// the calendar, the day's timeline, Play; pictures in the panes with "R-PLAY"; pause and
// forward, a seek with the position slider, the keys; Stop brings live view back. The
// pictures of the calendar, the timeline and the playing grid go to
// $TAVIRO_SCREENSHOT_DIR when it is set (docs/screenshots).
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>

#include "app/ui/client_dlg.h"
#include "app/ui/qsettings_store.h"
#include "app/ui/recorder_window_fixture.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "controls/ui/skin_style.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "recordings/ui/calendar_page.h"
#include "recordings/ui/playback_bar.h"
#include "recordings/ui/search_window.h"
#include "recordings/ui/timeline_page.h"
#include "sim/recorder_sim.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;
using taviro::testing::Click;
namespace msg = protocol::msg;

constexpr std::int64_t kMorning = 1286870400;  // 2010-10-12 08:00:00

TEST_F(CRecorderWindowTest, CalendarDayTimelinePlaySeekAndBackToLive) {
    Click(m_window->Button(361));
    auto* search = m_window->SearchWindow();
    ASSERT_NE(search, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->isVisible(); }, 2000));
    search->PressEntry(recordings::SearchEntry::Calendar);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->PlayCalendar() && search->CurrentPage() == search->PlayCalendar(); },
        5000));
    auto* calendar = search->PlayCalendar();
    // The calendar opens on the latest month with recordings: March 2011.
    EXPECT_EQ(calendar->Year(), 2011);
    EXPECT_EQ(calendar->Month(), 2);
    EXPECT_EQ(Received(msg::PLAY_INFO_MONTH_REQ).size(), 1u);
    calendar->ShowMonth(2010, 9);
    ASSERT_NE(calendar->DayButton(11), nullptr);
    EXPECT_TRUE(calendar->DayButton(11)->isEnabled());
    EXPECT_FALSE(calendar->DayButton(10)->isEnabled()) << "no recordings on the 11th";
    Keep(search, "search-calendar.png");
    QTest::mouseClick(calendar->DayButton(11), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->PlayDay() && search->CurrentPage() == search->PlayDay(); }, 5000));
    auto* timeline = search->PlayDay();
    EXPECT_GE(timeline->Stretches().size(), 4u * 2) << "two stretches on every channel";
    // 08:00:00 is pixel 96 of the day at 300 s a pixel.
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(recordings::kTimelineLeft + 96, 100));
    EXPECT_EQ(timeline->SelectedText(), "08 : 00 : 00");
    Keep(search, "search-timeline.png");
    QTest::mouseClick(timeline->PlayButton(), Qt::LeftButton);

    // Playing: the search window has closed, the panes show the recording.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == platform::kGridPlayback; }, 8000));
    EXPECT_EQ(m_window->SearchWindow(), nullptr);
    auto* grid = m_window->Grid();
    // Every pane says R-PLAY first: under a sanitizer live pictures may still be counted
    // before the recording's arrive.
    const auto playing = [&](int c) {
        const auto& view = m_window->Views().Channel(c);
        std::lock_guard lock(view.lock);
        return view.line2.rfind("R-PLAY", 0) == 0;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return playing(0) && playing(1) && playing(2) && playing(3); }, 8000));
    std::array<std::uint64_t, 4> before{};
    for (int c = 0; c < 4; ++c)
        before[static_cast<std::size_t>(c)] = grid->PicturesDrawn(c);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 4; ++c)
                if (grid->PicturesDrawn(c) < before[static_cast<std::size_t>(c)] + 3)
                    return false;
            return true;
        },
        8000));
    const auto start = Received(msg::PLAY_ON_REQ);
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(protocol::LoadBE32(start[0].payload.data() + 16),
              static_cast<std::uint32_t>(kMorning));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->PlaybackBar()->RecordCount() == 3; }, 3000))
        << "the bar shows the day's stretches";

    // RSearch again during this playback: the calendar of the playback day, without asking
    // the recorder again.
    Click(m_window->Button(361));
    auto* again = m_window->SearchWindow();
    ASSERT_NE(again, nullptr);
    again->PressEntry(recordings::SearchEntry::Calendar);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return again->CurrentPage() == again->PlayCalendar(); }, 3000));
    EXPECT_EQ(again->PlayCalendar()->Year(), 2010);
    EXPECT_EQ(again->PlayCalendar()->Month(), 9);
    EXPECT_EQ(Received(msg::PLAY_INFO_MONTH_REQ).size(), 1u);
    again->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000));

    // Pause (the space key, which works the window it belongs to), forward again (the
    // button).
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_Space);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Playback().Pause() == recordings::PauseState::Paused; }, 3000));
    Click(m_window->Button(342));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Playback().Pause() == recordings::PauseState::Streaming; },
        5000));

    QTest::qWait(2500);  // the panes' frame rate and playback icons are up
    const QString dir = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(m_window->Screenshot().save(dir + "/playback-grid.png"));
    }

    // A seek with the position slider to 08:30:00.
    auto* slider = m_window->Slider(420);
    emit slider->SliderMessage(platform::WM_SLIDER_BEGIN, 420, 0);
    emit slider->SliderMessage(platform::WM_SLIDER_END, 420, 30600);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return Connection().Playback().PositionMillis() / 1000 >= kMorning + 1800; }, 8000));
    const auto forwards = Received(msg::PLAY_FORWARD);
    ASSERT_FALSE(forwards.empty());
    ASSERT_EQ(forwards.back().payload.size(), 24u);
    EXPECT_EQ(protocol::LoadBE32(forwards.back().payload.data() + 16),
              static_cast<std::uint32_t>(kMorning + 1800));
    ASSERT_TRUE(QTest::qWaitFor([&] { return slider->Position() >= 30600; }, 3000));
    // The title strip tells where playback stands on the recorder's clock.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->StateText().startsWith("R-PLAY 2010-10-12 08:3"); }, 3000))
        << m_window->StateText().toStdString();

    // Stop: live view again.
    Click(m_window->Button(345));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Shell().LiveRunning(); }, 8000));
    EXPECT_EQ(Received(msg::RPLAY_STOP).size(), 1u);
    EXPECT_NE(m_window->Shell().GridMode(), platform::kGridPlayback);
    EXPECT_FALSE(m_window->StateText().contains("R-PLAY"));
}

}  // namespace
}  // namespace taviro::app::ui
