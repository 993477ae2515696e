// Backup and the local archive in the real window against the simulated recorder: the backup
// timeline's size and start, the progress panel to its end; then the local archive window's
// calendar and day timeline drawn from the pairs, Play with "L-PLAY" in the panes, a
// two-press bookmark, the bookmark list and Play from it. The pictures go to
// $TAVIRO_SCREENSHOT_DIR when it is set (docs/screenshots).
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>

#include "app/ui/client_dlg.h"
#include "archive/ui/archive_window.h"
#include "archive/ui/export_dialog.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_button_widget.h"
#include "controls/ui/skin_slider_widget.h"
#include "controls/ui/skin_style.h"
#include "notify/ui/notify_popup.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "protocol/session_messages.h"
#include "recordings/ui/backup_panel.h"
#include "recordings/ui/search_window.h"
#include "sim/recorder_sim.h"
#include "support/sim_backup_pair.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/timeline_page.h"
#include "video/pane_texts.h"
#include "video/ui/channel_grid.h"

namespace taviro::app::ui {
namespace {

using namespace std::chrono_literals;
using taviro::testing::Click;

class ArchiveWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        controls::ui::InstallSkinStyle(*qApp);
        m_dir = std::filesystem::temp_directory_path() /
                ("taviro-archive-window-" + std::to_string(::getpid()));
        std::filesystem::remove_all(m_dir);
        std::filesystem::create_directories(m_dir);
        m_settings = std::make_unique<platform::ui::CQSettingsStore>(
            QString::fromStdString((m_dir / "settings.ini").string()));
        m_settings->SetString("LocalSetup/Location", (m_dir / "store").string());
        sim::SimConfig config;
        config.channels = 4;
        config.live_stream = true;
        config.live_width = 352;
        config.live_height = 240;
        config.live_fps = 10;
        config.live_gop = 10;
        config.push_records = true;
        config.backup_rate_kbps = 400;  // slow enough to watch the panel
        m_recorder = std::make_unique<sim::CRecorderSim>(config);
        ASSERT_TRUE(m_recorder->Start()) << m_recorder->LastError();
        ShellOptions options;
        options.quitPause = 5ms;
        m_window = std::make_unique<CClientDlg>(m_sink, *m_settings, Branding{}, options);
        m_window->show();
        QSignalSpy loggedIn(m_window.get(), &CClientDlg::LoggedIn);
        m_window->Initialise(ConnectRequest{"127.0.0.1", m_recorder->Port(), "admin", "1234"});
        ASSERT_TRUE(loggedIn.count() > 0 || loggedIn.wait(5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Shell().LiveRunning(); }, 5000));
    }
    void TearDown() override {
        m_window.reset();
        m_recorder.reset();
        std::filesystem::remove_all(m_dir);
    }
    void Keep(QWidget* widget, const char* name) const {
        const QString dir = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
        if (!dir.isEmpty() && widget != nullptr) {
            EXPECT_TRUE(widget->grab().save(dir + "/" + name)) << name;
        }
    }
    std::size_t Pairs() const {
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(m_dir / "store" / "Download", ec))
            n += e.path().extension() == ".idx" ? 1u : 0u;
        return n;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<platform::ui::CQSettingsStore> m_settings;
    platform::ui::CQtMessageSink m_sink;
    std::unique_ptr<sim::CRecorderSim> m_recorder;
    std::unique_ptr<CClientDlg> m_window;
};

TEST_F(ArchiveWindowTest, BackupFromTheTimelineThenPlayItAndBookmarkIt) {
    // --- the backup: RSearch, Backup tab, calendar, the day, a range, its size, start ---
    Click(m_window->Button(361));
    auto* search = m_window->SearchWindow();
    ASSERT_NE(search, nullptr);
    search->PressTab(recordings::SearchTab::Backup);
    search->PressEntry(recordings::SearchEntry::Calendar);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return search->BackupCalendar() && search->CurrentPage() == search->BackupCalendar();
        },
        5000));
    search->BackupCalendar()->ShowMonth(2010, 9);
    QTest::mouseClick(search->BackupCalendar()->DayButton(11), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return search->CurrentPage() == search->BackupDay(); }, 5000));
    auto* timeline = search->BackupDay();
    timeline->SetBackupRange(8 * 3600, 8 * 3600 + 8);
    EXPECT_FALSE(timeline->StartButton()->isEnabled());
    QTest::mouseClick(timeline->CapacityButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !timeline->CapacityText().isEmpty(); }, 5000));
    EXPECT_TRUE(timeline->CapacityText().endsWith("KByte") ||
                timeline->CapacityText().endsWith("MByte"))
        << timeline->CapacityText().toStdString();
    ASSERT_TRUE(timeline->StartButton()->isEnabled());
    Keep(search, "backup-timeline.png");
    QTest::mouseClick(timeline->StartButton(), Qt::LeftButton);
    auto* panel = m_window->BackupPanel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->isVisible(); }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->SearchWindow() == nullptr; }, 3000))
        << "the search window closes once the backup starts";
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->Text().contains("left"); }, 8000))
        << panel->Text().toStdString();
    // Live view goes on beside the transfer.
    const auto shown = [&] {
        const auto& view = m_window->Views().Channel(0);
        std::lock_guard lock(view.lock);
        return view.shown;
    };
    const auto before = shown();
    EXPECT_TRUE(QTest::qWaitFor([&] { return shown() >= before + 5; }, 3000))
        << "live pictures during the backup";
    const QString dir = qEnvironmentVariable("TAVIRO_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(m_window->Screenshot().save(dir + "/backup-progress.png"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->Running(); }, 60000));
    EXPECT_TRUE(panel->Text().startsWith("Done:")) << panel->Text().toStdString();
    EXPECT_GE(Pairs(), 1u);

    // --- the local archive: the calendar of the pairs, the day, Play ---
    Click(m_window->Button(363));
    auto* archive = m_window->ArchiveWindow();
    ASSERT_NE(archive, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return archive->Loaded(); }, 5000));
    ASSERT_FALSE(archive->Stretches().empty());
    archive->ShowPage(archive::ui::ArchivePage::Calendar);
    EXPECT_EQ(archive->Calendar()->Year(), 2010);
    EXPECT_EQ(archive->Calendar()->Month(), 9);
    Keep(archive, "archive-calendar.png");
    QTest::mouseClick(archive->Calendar()->DayButton(11), Qt::LeftButton);
    EXPECT_FALSE(archive->Timeline()->Stretches().empty());
    QTest::mouseClick(archive->Timeline()->PlayButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridLocal; }, 8000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto& view = m_window->Views().Channel(0);
            std::lock_guard lock(view.lock);
            return view.shown >= 5 &&
                   video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views())
                           .line2.rfind("L-PLAY", 0) == 0;
        },
        8000));
    EXPECT_FALSE(m_window->Shell().LiveRunning()) << "live view stopped for local playback";

    // The position slider seeks in the pairs: a click on its track near the end, then a
    // drag of the thumb back to the start.
    auto* slider = m_window->Slider(420);
    const auto& model = slider->Model();
    ASSERT_TRUE(model.Enabled()) << "the slider works while local playback runs";
    ASSERT_GE(model.Maximum(), 6);
    const auto frameTime = [&] {
        auto* player = m_window->Shell().Local().Player();
        return player ? player->FrameTime() : 0u;
    };
    const std::uint32_t first = 1286870400;  // 2010-10-12 08:00:00, where the pair starts
    const int y = slider->height() / 2;
    const int clickAt = model.PixelOfValue(model.Maximum() - 1);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(clickAt, y));
    const int clicked = model.ValueOfPixel(clickAt);
    ASSERT_GE(clicked, model.Maximum() - 2);
    EXPECT_EQ(slider->Position(), clicked);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return frameTime() >= first + static_cast<std::uint32_t>(clicked); }, 3000))
        << "at " << frameTime();
    const int thumb = model.PixelOfValue(slider->Position());
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(thumb, y));
    QTest::mouseMove(slider, QPoint(thumb / 2, y));
    QTest::mouseMove(slider, QPoint(0, y));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(0, y));
    EXPECT_EQ(slider->Position(), 0);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return frameTime() >= first && frameTime() < first + 3; }, 3000))
        << "at " << frameTime();
    QTest::qWait(1200);
    if (!dir.isEmpty()) {
        EXPECT_TRUE(m_window->Screenshot().save(dir + "/local-playback.png"));
    }

    // --- a bookmark: two presses with a name between them ---
    auto* bookmark = m_window->BookmarkButton();
    ASSERT_NE(bookmark, nullptr);
    ASSERT_TRUE(bookmark->isVisible());
    QTest::mouseClick(bookmark, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->BookmarkNameEdit()->isVisible(); }, 3000));
    QTest::keyClicks(m_window->BookmarkNameEdit(), "Gate opens");
    QTest::mouseClick(bookmark, Qt::LeftButton);
    archive->ShowPage(archive::ui::ArchivePage::Bookmark);
    ASSERT_TRUE(QTest::qWaitFor([&] { return archive->Bookmarks().size() == 1; }, 3000));
    EXPECT_EQ(archive->Bookmarks()[0].name, "Gate opens");
    EXPECT_GE(archive->Bookmarks()[0].time, 1286870400);
    EXPECT_EQ(std::filesystem::file_size(m_dir / "store" / "Log" / "BookMarkInfo.log"), 528u);
    Keep(archive, "archive-bookmarks.png");

    // Export the whole archive of channel 1 to Matroska, with its progress bar.
    QTest::mouseClick(archive->Button("Export"), Qt::LeftButton);
    auto* exporter = archive->ExportDialog();
    ASSERT_NE(exporter, nullptr);
    const auto mkv = m_dir / "out.mkv";
    exporter->FileEdit()->setText(QString::fromStdString(mkv.string()));
    exporter->StartExport();
    ASSERT_TRUE(QTest::qWaitFor([&] { return exporter->Result().has_value(); }, 30000));
    ASSERT_TRUE(exporter->Result()->ok) << exporter->Result()->error;
    EXPECT_EQ(exporter->ProgressValue(), 1000);
    EXPECT_TRUE(exporter->ProgressText().contains("frames"))
        << exporter->ProgressText().toStdString();
    ASSERT_FALSE(exporter->Result()->files.empty());
    for (const auto& file : exporter->Result()->files) {
        EXPECT_TRUE(std::filesystem::exists(file.path)) << file.path;
        EXPECT_GT(file.frames, 50u);
    }
    Keep(exporter, "export-dialog.png");
    exporter->close();

    // Stop, then Play from the bookmark: the archive window closes and playback runs again.
    Click(m_window->Button(345));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_window->Shell().GridMode() == protocol::kGridNone; }, 5000));
    QTest::mouseClick(archive->Button("PlayBookmark"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return m_window->Shell().GridMode() == protocol::kGridLocal; }, 8000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m_window->ArchiveWindow() == nullptr; }, 3000));
}

// Local playback's state in the panes and the title strip as the buttons change it, to a
// pause at the recording's start; then Stop brings live view back, and without a recorder
// the panes say why they stay empty.
TEST_F(ArchiveWindowTest, LocalPlaybackShowsItsStateAndStopReturnsToLive) {
    std::string error;
    ASSERT_TRUE(taviro::testing::WriteSimBackup(m_dir / "store" / "Download",
                                                taviro::testing::kSimRecordingStart, 8, 2, &error))
        << error;
    const auto play = [&](bool playing = true) {
        Click(m_window->Button(363));
        auto* archive = m_window->ArchiveWindow();
        ASSERT_NE(archive, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return archive->Loaded(); }, 5000));
        archive->ShowPage(archive::ui::ArchivePage::Calendar);
        // The day's timeline stays up after a first Play.
        if (auto* day = archive->Calendar()->DayButton(11))
            QTest::mouseClick(day, Qt::LeftButton);
        QTest::mouseClick(archive->Timeline()->PlayButton(), Qt::LeftButton);
        if (!playing)
            return;
        // The playback buttons work once the grid shows the playback.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                return m_window->Shell().GridMode() == protocol::kGridLocal &&
                       m_window->Button(345)->ButtonEnabled();
            },
            8000));
    };
    const auto line2 = [&] {
        const auto& view = m_window->Views().Channel(0);
        std::lock_guard lock(view.lock);
        return video::MakePaneTexts(view, m_window->Views().OsdMode(), m_window->Views()).line2;
    };
    const auto icon = [&] { return m_window->Grid()->Status().playerSpeed; };
    // The panes' icon and the title's word for the state, together.
    const auto shows = [&](int speed, const QString& word, int ms = 3000) {
        return QTest::qWaitFor(
            [&] { return icon() == speed && m_window->StateText().contains(word); }, ms);
    };

    ASSERT_NO_FATAL_FAILURE(play());
    ASSERT_TRUE(QTest::qWaitFor([&] { return line2().rfind("L-PLAY", 0) == 0; }, 8000));
    EXPECT_TRUE(shows(1, "x1")) << icon() << " " << m_window->StateText().toStdString();
    Click(m_window->Button(343));
    EXPECT_TRUE(shows(0, "paused")) << icon() << " " << m_window->StateText().toStdString();
    // A paused pane's rate falls to 0 with the frame-rate ticks.
    EXPECT_TRUE(QTest::qWaitFor([&] { return line2() == "L-PLAY  00"; }, 6000)) << line2();
    Click(m_window->Button(342));
    Click(m_window->Button(342));
    EXPECT_TRUE(shows(2, "x2")) << icon() << " " << m_window->StateText().toStdString();
    // Far enough from the start that backward play is seen before it ends there.
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->StateText().contains("08:00:04"); }, 8000))
        << m_window->StateText().toStdString();
    Click(m_window->Button(341));
    EXPECT_TRUE(shows(-2, "x-2")) << icon() << " " << m_window->StateText().toStdString();
    // Backward reaches the recording's start and pauses there.
    EXPECT_TRUE(shows(0, "paused", 15000)) << icon() << " " << m_window->StateText().toStdString();

    // Stop: live view again, without pressing Live.
    Click(m_window->Button(345));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().GridMode() == protocol::kGridLive &&
                   m_window->Shell().LiveRunning() && line2().rfind("LIVE", 0) == 0;
        },
        8000))
        << line2();
    EXPECT_FALSE(m_window->StateText().contains("L-PLAY"));
    EXPECT_TRUE(m_window->Grid()->Notice().isEmpty());

    // The recording of the pair goes away (a drive pulled) in the moment between the
    // player's start and its first read: the player ends by itself, the operator is told
    // why, and live view comes back as after Stop.
    const auto download = m_dir / "store" / "Download";
    ASSERT_NO_FATAL_FAILURE(play(false));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_window->Button(345)->ButtonEnabled(); }, 8000));
    for (const auto& e : std::filesystem::directory_iterator(download))
        if (e.path().extension() == ".vid")
            std::filesystem::remove(e.path());
    const QString unreadable = "The recording could not be read, so local playback has stopped.";
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_sink.OpenMessageBoxes().contains(unreadable); }, 8000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return m_window->Shell().GridMode() == protocol::kGridLive &&
                   m_window->Shell().LiveRunning() && line2().rfind("LIVE", 0) == 0;
        },
        8000))
        << line2();
    for (auto* box : QApplication::topLevelWidgets())
        if (auto* message = qobject_cast<QMessageBox*>(box); message && message->isVisible())
            QTest::mouseClick(message->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(taviro::testing::WriteSimBackup(download, taviro::testing::kSimRecordingStart, 8, 2,
                                                &error))
        << error;

    // Without a recorder: the stopped playback leaves the panes empty and says why.
    Click(m_window->Button(360));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return m_window->Shell().State() == ConnectionState::kNone; }, 8000));
    // A popup about the ended connection, if one comes, is confirmed as the user would.
    QTest::qWait(300);
    if (auto* popup = qobject_cast<notify::ui::CNotifyPopup*>(QApplication::activeModalWidget()))
        Click(popup->Button(notify::ui::kIdPopupConfirm));
    ASSERT_NO_FATAL_FAILURE(play());
    Click(m_window->Button(345));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_window->Grid()->Notice().isEmpty(); }, 5000));
    EXPECT_TRUE(m_window->Grid()->Notice().contains("Not connected"));
    EXPECT_EQ(m_window->Shell().GridMode(), protocol::kGridNone);
}

}  // namespace
}  // namespace taviro::app::ui
