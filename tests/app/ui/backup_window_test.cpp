// Backups in the real window against the simulated recorder, as a user runs them: the range
// chosen on the day timeline survives picking channels, a large size is confirmed first,
// a backup whose folder cannot be written ends at once and says so, and the next one,
// started right after it, writes its pair and offers its folder. Clips from the marks of
// the day timeline: set by keys, dragged, written straight to files, and stopped.
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QToolButton>
#include <fstream>
#include <set>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "recorder_window_fixture.h"
#include "recordings/backup_progress.h"
#include "recordings/ui/backup_panel.h"
#include "recordings/ui/clip_dialog.h"
#include "recordings/ui/search_window.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/timeline_page.h"

namespace taviro::app::ui {
namespace {

using timeline::ui::CTimelinePage;

constexpr int kFrom = 8 * 3600;  // 2010-10-12 08:00:00
constexpr int kTo = kFrom + 3;

class BackupWindowTest : public CRecorderWindowTest {
  protected:
    // The recorder names a size that is confirmed before the backup starts.
    void Configure(sim::SimConfig& config) override {
        config.backup_size_kb = static_cast<std::uint32_t>(recordings::kConfirmBackupKilobytes);
    }

    // RSearch, Backup, Calendar, the day 2010-10-12: its timeline.
    recordings::ui::CSearchWindow* OpenBackupDay() {
        taviro::testing::Click(m_window->Button(361));
        auto* search = m_window->SearchWindow();
        if (search == nullptr)
            return nullptr;
        search->PressTab(recordings::SearchTab::Backup);
        if (!ShowDay(search))
            return nullptr;
        return search;
    }
    static bool ShowDay(recordings::ui::CSearchWindow* search) {
        search->PressEntry(recordings::SearchEntry::Calendar);
        if (!QTest::qWaitFor(
                [&] {
                    return search->BackupCalendar() &&
                           search->CurrentPage() == search->BackupCalendar();
                },
                5000))
            return false;
        search->BackupCalendar()->ShowMonth(2010, 9);
        QTest::mouseClick(search->BackupCalendar()->DayButton(11), Qt::LeftButton);
        return QTest::qWaitFor([&] { return search->CurrentPage() == search->BackupDay(); }, 5000);
    }
    // Capacity, then Start: the size question that follows.
    QMessageBox* AskSizeThenStart(CTimelinePage* timeline) {
        QTest::mouseClick(timeline->CapacityButton(), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return timeline->StartButton()->isEnabled(); }, 5000))
            return nullptr;
        QTest::mouseClick(timeline->StartButton(), Qt::LeftButton);
        QMessageBox* box = nullptr;
        (void)QTest::qWaitFor(
            [&] {
                box = m_window->SearchWindow()
                          ? m_window->SearchWindow()->findChild<QMessageBox*>("ConfirmBackupSize")
                          : nullptr;
                return box != nullptr && box->isVisible();
            },
            3000);
        return box;
    }
    std::filesystem::path Download() const { return m_dir / "store" / "Download"; }
};

TEST_F(BackupWindowTest, TwoBackupsBackToBackTheFirstFailing) {
    auto* search = OpenBackupDay();
    ASSERT_NE(search, nullptr);
    CTimelinePage* timeline = search->BackupDay();
    timeline->SetBackupRange(kFrom, kTo);

    // Channels picked after the range: back on the day, the range is the one chosen.
    search->PressEntry(recordings::SearchEntry::SelectChannel);
    QCheckBox* ch4 = nullptr;
    for (auto* box : search->CurrentPage()->findChildren<QCheckBox*>())
        if (box->text() == "CH04")
            ch4 = box;
    ASSERT_NE(ch4, nullptr);
    ASSERT_TRUE(ch4->isChecked());
    QTest::mouseClick(ch4, Qt::LeftButton);
    EXPECT_EQ(search->ChannelMask(), 0x7u);
    ASSERT_TRUE(ShowDay(search));
    EXPECT_EQ(timeline->Selected(), kFrom);
    EXPECT_EQ(timeline->BackupEnd(), kTo);
    ASSERT_FALSE(timeline->Stretches().empty());
    for (const auto& s : timeline->Stretches())
        EXPECT_LT(s.channel, 3) << "only the channels chosen";

    // The first backup cannot make its folder: a file lies where it goes.
    std::filesystem::remove_all(Download());
    std::filesystem::create_directories(Download().parent_path());
    std::ofstream(Download()) << "not a folder";
    QMessageBox* box = AskSizeThenStart(timeline);
    ASSERT_NE(box, nullptr) << "a backup of this size is confirmed first";
    EXPECT_TRUE(box->text().contains("2.00 GB")) << box->text().toStdString();
    QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return timeline->StartButton()->isEnabled(); }, 2000));
    EXPECT_TRUE(Received(protocol::msg::TRANS_DATA_REQ).empty()) << "No starts nothing";
    QTest::mouseClick(timeline->StartButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            box = search->findChild<QMessageBox*>("ConfirmBackupSize");
            return box != nullptr && box->isVisible();
        },
        3000));
    QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);

    auto* panel = m_window->BackupPanel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isVisible(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->Running(); }, 5000))
        << "a backup that cannot write ends by itself: " << panel->Text().toStdString();
    EXPECT_TRUE(panel->Text().startsWith("Stopped:")) << panel->Text().toStdString();
    EXPECT_TRUE(panel->Text().contains("Download")) << panel->Text().toStdString();
    EXPECT_TRUE(panel->isVisible()) << "the failure stays on screen";
    // The recorder is asked to stop after it was asked to start.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            bool started = false;
            for (const auto& e : m_recorder->Journal()) {
                started = started || e.IsRx(protocol::msg::TRANS_DATA_REQ);
                if (started && e.IsRx(protocol::msg::TRANS_OFF_REQ))
                    return true;
            }
            return false;
        },
        3000));

    // The next one right after it, into the folder now free.
    std::filesystem::remove(Download());
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000));
    search = OpenBackupDay();
    ASSERT_NE(search, nullptr);
    timeline = search->BackupDay();
    timeline->SetBackupRange(kFrom, kTo);
    box = AskSizeThenStart(timeline);
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Running(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->Running(); }, 30000));
    EXPECT_TRUE(panel->Text().startsWith("Done: 1 pair")) << panel->Text().toStdString();
    EXPECT_EQ(Received(protocol::msg::TRANS_DATA_REQ).size(), 2u);
    std::size_t pairs = 0;
    for (const auto& e : std::filesystem::directory_iterator(Download()))
        pairs += e.path().extension() == ".idx" ? 1u : 0u;
    EXPECT_EQ(pairs, 1u);

    // "Open folder" opens the folder the pair is in.
    QString opened;
    panel->SetFolderOpener([&](const QString& folder) { opened = folder; });
    ASSERT_TRUE(panel->OpenFolderButton()->isVisible());
    QTest::mouseClick(panel->OpenFolderButton(), Qt::LeftButton);
    EXPECT_EQ(std::filesystem::path(opened.toStdString()), Download());
    QTest::mouseClick(panel->CloseButton(), Qt::LeftButton);
    EXPECT_FALSE(panel->isVisible());
}

// Clips from the marks of the playback side's day timeline, over a recorder that sends at
// 4 Mbit/s: a clip long enough to be stopped is stopped. The calendar is shaded and the day
// shows its events as marks that play from there.
class ClipWindowTest : public CRecorderWindowTest {
  protected:
    void Configure(sim::SimConfig& config) override { config.backup_rate_kbps = 4000; }
    double m_share = 0;  // of 2010-10-12, as the calendar was shaded

    // RSearch, Search, Calendar, 2010-10-12, zoomed by a short drag on the bar to a second
    // per pixel from 08:00:00; In and Out set with the keys at the times clicked.
    CTimelinePage* MarkRange(int in, int out) {
        taviro::testing::Click(m_window->Button(361));
        auto* search = m_window->SearchWindow();
        if (search == nullptr)
            return nullptr;
        search->PressTab(recordings::SearchTab::Search);
        search->PressEntry(recordings::SearchEntry::Calendar);
        if (!QTest::qWaitFor(
                [&] {
                    return search->PlayCalendar() &&
                           search->CurrentPage() == search->PlayCalendar();
                },
                5000))
            return nullptr;
        search->PlayCalendar()->ShowMonth(2010, 9);
        // The month's days are shaded by what the recorder says of each.
        if (!QTest::qWaitFor(
                [&] { return search->PlayCalendar()->DayShare(2010, 9, 11).has_value(); }, 5000))
            return nullptr;
        m_share = *search->PlayCalendar()->DayShare(2010, 9, 11);
        // For the README: the month once every day with recordings is shaded.
        (void)QTest::qWaitFor(
            [&] {
                for (int d = 0; d < 31; ++d) {
                    const QWidget* b = search->PlayCalendar()->DayButton(d);
                    if (b && b->isEnabled() && !search->PlayCalendar()->DayShare(2010, 9, d))
                        return false;
                }
                return true;
            },
            3000);
        Keep(search, "clip-calendar-shaded.png");
        QTest::mouseClick(search->PlayCalendar()->DayButton(11), Qt::LeftButton);
        if (!QTest::qWaitFor(
                [&] { return search->PlayDay() && search->CurrentPage() == search->PlayDay(); },
                5000))
            return nullptr;
        CTimelinePage* day = search->PlayDay();
        const auto x = [day](int seconds) {
            return QPoint(timeline::PixelOfTime(day->View(), seconds), 100);
        };
        QTest::mousePress(day, Qt::LeftButton, {}, x(kFrom));
        QTest::mouseMove(day, x(kFrom) + QPoint(1, 0));
        QTest::mouseRelease(day, Qt::LeftButton, {}, x(kFrom) + QPoint(1, 0));
        if (day->View().secondsPerPixel != 1)
            return nullptr;
        QTest::mouseClick(day, Qt::LeftButton, {}, x(in));
        QTest::keyClick(day, Qt::Key_I);
        QTest::mouseClick(day, Qt::LeftButton, {}, x(out));
        QTest::keyClick(day, Qt::Key_O);
        return day;
    }
    // Clip…, and OK in its dialog with the folder it offers.
    std::filesystem::path ClipMarked(CTimelinePage* day) {
        QTest::mouseClick(day->ClipButton(), Qt::LeftButton);
        recordings::ui::CClipDialog* dialog = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    dialog =
                        m_window->SearchWindow()
                            ? m_window->SearchWindow()->findChild<recordings::ui::CClipDialog*>()
                            : nullptr;
                    return dialog != nullptr && dialog->isVisible();
                },
                3000))
            return {};
        const std::filesystem::path folder = dialog->Folder();
        QTest::mouseClick(static_cast<QWidget*>(
                              dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)),
                          Qt::LeftButton);
        return folder;
    }
    static std::vector<std::string> Files(const std::filesystem::path& dir) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir, ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(ClipWindowTest, MarksMakeAClipStopLeavesNoFileAndEventMarksPlay) {
    CTimelinePage* day = MarkRange(kFrom, kFrom + 5);
    ASSERT_NE(day, nullptr);
    EXPECT_GT(m_share, 0.0);
    EXPECT_LT(m_share, 1.0);
    EXPECT_EQ(day->InMark(), kFrom);
    EXPECT_EQ(day->OutMark(), kFrom + 5);
    // The Out mark dragged back along the bar to 08:00:02.
    const auto x = [day](int seconds) {
        return QPoint(timeline::PixelOfTime(day->View(), seconds), 150);
    };
    QTest::mousePress(day, Qt::LeftButton, {}, x(kFrom + 5));
    QTest::mouseMove(day, x(kFrom + 2));
    QTest::mouseRelease(day, Qt::LeftButton, {}, x(kFrom + 2));
    EXPECT_EQ(day->OutMark(), kFrom + 2);
    EXPECT_EQ(day->MarksText(), "In 08:00:00  Out 08:00:02");
    // An In set after the Out leaves only the In, and nothing to clip.
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kFrom + 3));
    QTest::keyClick(day, Qt::Key_I);
    EXPECT_FALSE(day->OutMark().has_value());
    EXPECT_FALSE(day->ClipButton()->isEnabled());
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kFrom));
    QTest::keyClick(day, Qt::Key_I);
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kFrom + 2));
    QTest::keyClick(day, Qt::Key_O);
    ASSERT_TRUE(day->ClipButton()->isEnabled());

    const std::filesystem::path folder = ClipMarked(day);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder, m_dir / "store" / "Saved" / "clip-20101012-080000");
    auto* panel = m_window->BackupPanel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Running(); }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->Running(); }, 30000));
    EXPECT_TRUE(panel->Text().startsWith("Done: 4 files")) << panel->Text().toStdString();
    EXPECT_EQ(Files(folder),
              (std::vector<std::string>{"ch01.mp4", "ch02.mp4", "ch03.mp4", "ch04.mp4"}));
    for (const auto& name : Files(m_dir / "store"))
        EXPECT_FALSE(name.ends_with(".vid") || name.ends_with(".idx") || name.ends_with(".part"))
            << name << ": a clip leaves no backup pair and no unfinished file";
    QTest::mouseClick(panel->CloseButton(), Qt::LeftButton);

    // A minute, stopped once it runs: no file, and the panel says how far it got.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000));
    day = MarkRange(kFrom + 10, kFrom + 70);
    ASSERT_NE(day, nullptr);
    const std::filesystem::path stopped = ClipMarked(day);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Running() && panel->Value() > 0; }, 10000));
    Keep(m_window.get(), "clip-progress.png");
    QTest::mouseClick(panel->StopButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->Running(); }, 10000));
    EXPECT_TRUE(
        panel->Text().startsWith("Clip stopped by you: no file was written (it had got to 08:00:"))
        << panel->Text().toStdString();
    EXPECT_TRUE(Files(stopped).empty());
    QTest::mouseClick(panel->CloseButton(), Qt::LeftButton);

    // The day's alarm, motion and audio events are marks under the bar; a click on one
    // plays from its start.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000));
    day = MarkRange(kFrom, kFrom + 2);
    ASSERT_NE(day, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            std::set<int> kinds;
            for (const auto& e : day->Events())
                kinds.insert(e.kind);
            return kinds == std::set<int>{1, 2, 7};
        },
        8000));
    // For the README: marks and event marks on the day (In 08:00:20, Out 08:01:40).
    QTest::mouseClick(day, Qt::LeftButton, {},
                      QPoint(timeline::PixelOfTime(day->View(), kFrom + 20), 100));
    QTest::keyClick(day, Qt::Key_I);
    QTest::mouseClick(day, Qt::LeftButton, {},
                      QPoint(timeline::PixelOfTime(day->View(), kFrom + 100), 100));
    QTest::keyClick(day, Qt::Key_O);
    Keep(m_window->SearchWindow(), "clip-marks-events.png");
    const CTimelinePage::DayEvent* shown = nullptr;
    for (const auto& e : day->Events())
        if (e.start > day->View().start + 5 && e.start < day->View().end - 5 &&
            (shown == nullptr || e.start < shown->start))
            shown = &e;
    ASSERT_NE(shown, nullptr) << "an event within the zoomed view";
    const int start = shown->start;
    QTest::mouseClick(
        day, Qt::LeftButton, {},
        QPoint(timeline::PixelOfTime(day->View(), start) + 1, CTimelinePage::EventStripY()));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !Received(protocol::msg::PLAY_ON_REQ).empty(); }, 5000));
    EXPECT_EQ(protocol::LoadBE32(Received(protocol::msg::PLAY_ON_REQ)[0].payload.data() + 16),
              static_cast<std::uint32_t>(timeline::DayStart(2010, 9, 11) + start));
}

}  // namespace
}  // namespace taviro::app::ui
