// Remote search and playback in the real window against the simulated recorder: RSearch,
// the calendar, the day's timeline, Play; pictures in the panes with "R-PLAY"; pause and
// forward, a drag of the position slider and a click on its track, the keys; Stop brings live view
// back. The pictures of the calendar, the timeline and the playing grid go to
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
#include "app/ui/recorder_window_fixture.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "controls/ui/skin_style.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/recorder_time.h"
#include "protocol/session_messages.h"
#include "recordings/ui/playback_bar.h"
#include "recordings/ui/search_window.h"
#include "sim/recorder_sim.h"
#include "support/sanitizer_time.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/entry_pages.h"
#include "timeline/ui/timeline_page.h"
#include "video/pane_texts.h"
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
    // Not a blank page: the calendar, on the latest recorded day.
    const auto onCalendar = [&] {
        return QTest::qWaitFor(
            [&] {
                return search->PlayCalendar() && search->CurrentPage() == search->PlayCalendar();
            },
            5000);
    };
    ASSERT_TRUE(onCalendar());
    auto* calendar = search->PlayCalendar();
    // The calendar opens on the latest month with recordings: March 2011.
    EXPECT_EQ(calendar->Year(), 2011);
    EXPECT_EQ(calendar->Month(), 2);
    EXPECT_EQ(calendar->LatestDay(), 4) << "2011-03-05, the latest recorded day, is chosen";
    EXPECT_TRUE(calendar->DayButton(4)->isChecked());
    EXPECT_EQ(Received(msg::PLAY_INFO_MONTH_REQ).size(), 1u);
    // The time entry starts on today's date from midnight; the calendar comes back as it
    // was, without asking the recorder again.
    QTest::mouseClick(search->EntryButton(recordings::SearchTab::Search, 0), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->DateTime() && search->CurrentPage() == search->DateTime(); }, 5000));
    const std::int64_t now = protocol::LocalWallClockNow(protocol::ProcessZoneOffset());
    EXPECT_EQ(static_cast<std::int64_t>(search->DateTime()->Time()), now - now % 86'400);
    QTest::mouseClick(search->EntryButton(recordings::SearchTab::Search, 2), Qt::LeftButton);
    ASSERT_TRUE(onCalendar());
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
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(timeline::kTimelineLeft + 96, 100));
    EXPECT_EQ(timeline->SelectedText(), "08 : 00 : 00");
    Keep(search, "search-timeline.png");
    QTest::mouseClick(timeline->PlayButton(), Qt::LeftButton);

    // Playing: the search window has closed, the panes show the recording.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridPlayback; }, 8000));
    EXPECT_EQ(m_window->SearchWindow(), nullptr);
    auto* grid = m_window->Grid();
    // Every pane says R-PLAY first: under a sanitizer live pictures may still be counted
    // before the recording's arrive.
    const auto playing = [&](int c) {
        const auto& view = m_window->Views().Channel(c);
        std::lock_guard lock(view.lock);
        return video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views())
                   .line2.rfind("R-PLAY", 0) == 0;
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

    // The position slider spans the stretch being played (08:00-09:30), not the whole day,
    // so that a pixel is seconds; a drag of its thumb to 08:30:00 seeks there.
    auto* slider = m_window->Slider(420);
    ASSERT_TRUE(slider->Model().Enabled()) << "the slider works while playback runs";
    const auto& model = slider->Model();
    EXPECT_EQ(model.Minimum(), 8 * 3600);
    EXPECT_EQ(model.Maximum(), 9 * 3600 + 1800);
    const int y = slider->height() / 2;
    const int thumb = model.PixelOfValue(model.Position());
    const int target = model.PixelOfValue(30600);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(thumb, y));
    for (int step = 1; step <= 4; ++step)
        QTest::mouseMove(slider, QPoint(thumb + (target - thumb) * step / 4, y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(target, y));
    const int dragged = slider->Position();
    EXPECT_NEAR(dragged, 30600, 15) << "about 12 s a pixel";
    const auto seekedTo = [&](std::int64_t when) {
        return QTest::qWaitFor(
            [&] {
                const auto forwards = Received(msg::PLAY_FORWARD);
                return !forwards.empty() && forwards.back().payload.size() == 24u &&
                       protocol::LoadBE32(forwards.back().payload.data() + 16) ==
                           static_cast<std::uint32_t>(when);
            },
            5000);
    };
    ASSERT_TRUE(seekedTo(kMorning + (dragged - 8 * 3600)));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Connection().Playback().PositionMillis() / 1000 >=
                   kMorning + (dragged - 8 * 3600);
        },
        8000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return slider->Position() >= dragged; }, 3000));
    // A click on the track away from the thumb: the thumb jumps there and playback follows.
    const int clickAt = model.PixelOfValue(9 * 3600);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(clickAt, y));
    const int clicked = model.ValueOfPixel(clickAt);
    EXPECT_NEAR(clicked, 9 * 3600, 15);
    ASSERT_TRUE(seekedTo(kMorning + (clicked - 8 * 3600)));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Connection().Playback().PositionMillis() / 1000 >=
                   kMorning + (clicked - 8 * 3600);
        },
        8000));
    // The title strip tells where playback stands on the recorder's clock.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QString text = m_window->StateText();
            return text.startsWith("R-PLAY 2010-10-12 08:5") ||
                   text.startsWith("R-PLAY 2010-10-12 09:0");
        },
        3000))
        << m_window->StateText().toStdString();

    // Stop: live view again.
    Click(m_window->Button(345));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Shell().LiveRunning(); }, 8000));
    EXPECT_FALSE(slider->Model().Enabled()) << "no seeking in live view";
    EXPECT_EQ(Received(msg::RPLAY_STOP).size(), 1u);
    EXPECT_NE(m_window->Shell().GridMode(), protocol::kGridPlayback);
    EXPECT_FALSE(m_window->StateText().contains("R-PLAY"));
}

// The step buttons in every order an operator presses them, checked against the recorded
// frames of the simulated recorder (10 a second on every channel): each press moves every
// pane exactly one frame, forward or back, whether playback ran, stepped or was paused.
TEST_F(CRecorderWindowTest, EveryStepMovesEveryPaneOneFrame) {
    // Play from 08:00:00 through RSearch, the calendar and the day's timeline.
    Click(m_window->Button(361));
    auto* search = m_window->SearchWindow();
    ASSERT_NE(search, nullptr);
    search->PressEntry(recordings::SearchEntry::Calendar);
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->PlayCalendar() != nullptr; }, 5000));
    search->PlayCalendar()->ShowMonth(2010, 9);
    QTest::mouseClick(search->PlayCalendar()->DayButton(11), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return search->PlayDay() && search->CurrentPage() == search->PlayDay(); }, 5000));
    auto* timeline = search->PlayDay();
    QTest::mouseClick(timeline, Qt::LeftButton, {}, QPoint(timeline::kTimelineLeft + 96, 100));
    QTest::mouseClick(timeline->PlayButton(), Qt::LeftButton);
    const auto shownAt = [&](int c) {
        const auto& view = m_window->Views().Channel(c);
        std::lock_guard lock(view.lock);
        return video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views())
                           .line2.rfind("R-PLAY", 0) == 0
                   ? view.shownMillis
                   : std::int64_t{0};
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (int c = 0; c < 4; ++c)
                if (shownAt(c) < kMorning * 1000 + 1500)
                    return false;
            return true;
        },
        10000))
        << "playing for a while: the recorder is a credit ahead of the panes";

    // Presses a button and follows every pane's pictures until they have settled; what each
    // pane moved by with its last picture (0: no new picture).
    const auto press = [&](std::uint32_t id) {
        std::array<std::vector<std::int64_t>, 4> seen;
        const auto sample = [&] {
            bool changed = false;
            for (int c = 0; c < 4; ++c) {
                auto& s = seen[static_cast<std::size_t>(c)];
                const std::int64_t now = shownAt(c);
                if (s.empty() || s.back() != now) {
                    s.push_back(now);
                    changed = true;
                }
            }
            return changed;
        };
        sample();
        Click(m_window->Button(id));
        const auto pressed = std::chrono::steady_clock::now();
        auto last = pressed;
        const auto still = 900ms * taviro::testing::kSanitizerSlowdown;
        while (std::chrono::steady_clock::now() - pressed <
               8s * taviro::testing::kSanitizerSlowdown) {
            if (sample())
                last = std::chrono::steady_clock::now();
            if (std::chrono::steady_clock::now() - last > still)
                break;
            QTest::qWait(2);
        }
        std::array<std::int64_t, 4> moved{};
        for (std::size_t c = 0; c < 4; ++c)
            moved[c] = seen[c].size() < 2 ? 0 : seen[c].back() - seen[c][seen[c].size() - 2];
        return moved;
    };
    constexpr std::uint32_t kPrevious = 340, kPause = 343, kNext = 346;
    const std::array<std::int64_t, 4> forward{100, 100, 100, 100};
    const std::array<std::int64_t, 4> back{-100, -100, -100, -100};
    // (what is pressed, what every pane must have moved by)
    const std::vector<std::pair<std::uint32_t, std::array<std::int64_t, 4>>> presses = {
        {kNext, forward},   // while playing
        {kNext, forward},   // while stepping
        {kNext, forward},   //
        {kPrevious, back},  // a change of direction
        {kPrevious, back},  //
        {kNext, forward},   // and back again
        {kNext, forward},   //
        {kPause, {}},       // nothing moves
        {kNext, forward},   // from pause
        {kPause, {}},       //
        {kPrevious, back},  // from pause, going back
        {kPrevious, back},  //
        {kNext, forward},   //
    };
    for (std::size_t i = 0; i < presses.size(); ++i) {
        const auto moved = press(presses[i].first);
        EXPECT_EQ(moved, presses[i].second)
            << "press " << i << " (button " << presses[i].first << ")";
    }
}

}  // namespace
}  // namespace taviro::app::ui
