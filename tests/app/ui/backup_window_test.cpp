// Backups in the real window against the simulated recorder, as a user runs them: the range
// chosen on the day timeline survives picking channels, a large size is confirmed first,
// a backup whose folder cannot be written ends at once and says so, and the next one,
// started right after it, writes its pair and offers its folder.
#include <QCheckBox>
#include <QMessageBox>
#include <QToolButton>
#include <fstream>

#include "protocol/catalogue.h"
#include "recorder_window_fixture.h"
#include "recordings/backup_progress.h"
#include "recordings/ui/backup_panel.h"
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

}  // namespace
}  // namespace taviro::app::ui
