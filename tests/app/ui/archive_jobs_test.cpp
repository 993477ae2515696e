// The local archive window's long jobs, pressed as a user presses them: Verify runs on a
// thread of its own (Qt's global pool stays free for the window's short reads) and closing
// the window or destroying it with the program stops it; Export's default file lies in the
// storage folder's "Saved", which is made when the export needs it; the day timeline's
// marks export the marked range.
#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <QToolButton>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "archive/backup_writer.h"
#include "archive/ui/archive_window.h"
#include "archive/ui/export_dialog.h"
#include "connect/ui/dialog_test_support.h"
#include "controls/ui/skin_style.h"
#include "sim/h264_stream_writer.h"
#include "sim/h264_test_pattern.h"
#include "sim/playback_stream.h"
#include "timeline/ui/calendar_page.h"
#include "timeline/ui/timeline_page.h"

namespace taviro::archive::ui {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::uint32_t kStart = 1'286'870'400;  // 2010-10-12T08:00:00

// A Verify that runs until it is cancelled (or, should nothing cancel it, for 20 s).
struct BlockingVerify {
    std::atomic<bool> started{false};
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> ended{false};
    std::vector<PairVerdict> Run(const std::atomic<bool>* cancel) {
        started = true;
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < until) {
            if (cancel != nullptr && cancel->load()) {
                sawCancel = true;
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        ended = true;
        return {};
    }
};

QPushButton* ButtonOf(QWidget* parent, const QString& text) {
    for (auto* button : parent->findChildren<QPushButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

class ArchiveJobsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        taviro::testing::LoadSkinOnce();
        controls::ui::InstallSkinStyle(*qApp);
        m_dir = fs::temp_directory_path() / ("taviro-archive-jobs-" + std::to_string(::getpid()));
        fs::remove_all(m_dir);
        m_context.folder = m_dir / "store" / "Download";
        m_context.bookmarkFile = m_dir / "store" / "Log" / "BookMarkInfo.log";
        m_context.saveFolder = m_dir / "store" / "Saved";
        m_context.localLogFile = m_dir / "store" / "Log" / "m7400.log";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // Two seconds of channel 1 at 5 frames a second, as a backup writes them.
    void WritePair() {
        WriterOptions options;
        options.folder = m_context.folder;
        options.clock = [] { return std::int64_t{kStart}; };
        CBackupWriter writer(options);
        ASSERT_TRUE(writer.Open());
        auto encoder =
            sim::CH264StreamWriter::Create({.width = 352, .height = 240, .gop_length = 5});
        ASSERT_TRUE(encoder);
        for (std::uint32_t i = 0; i < 10; ++i) {
            const auto unit = encoder->Write(sim::MakeH264TestPattern(0, i, 352, 240));
            ASSERT_TRUE(unit);
            sim::PlayVideoFrame frame;
            frame.seconds = static_cast<protocol::RecorderTime>(kStart + i / 5);
            frame.microseconds = static_cast<std::int32_t>(i % 5) * 200'000;
            frame.width = 352;
            frame.height = 240;
            ASSERT_TRUE(
                writer.Write(RecordKind::Video, sim::BuildPlayVideoElement(3, frame, *unit)));
        }
        ASSERT_TRUE(writer.Close());
    }
    std::unique_ptr<CArchiveWindow> OpenWindow() {
        auto window = std::make_unique<CArchiveWindow>(m_context, nullptr);
        window->show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->Loaded(); }, 5000));
        return window;
    }

    fs::path m_dir;
    ArchiveWindowContext m_context;
};

TEST_F(ArchiveJobsTest, VerifyRunsOffThePoolAndEndsWithItsWindow) {
    for (const bool closeFirst : {true, false}) {
        SCOPED_TRACE(closeFirst ? "Close pressed" : "window destroyed, as when quitting");
        BlockingVerify verify;
        m_context.verify = [&verify](const fs::path&, const std::atomic<bool>* cancel) {
            return verify.Run(cancel);
        };
        auto window = OpenWindow();
        QTest::mouseClick(window->Button(QStringLiteral("Verify")), Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return verify.started.load(); }, 5000));
        EXPECT_TRUE(window->Verifying());
        // The window's own short reads may still be ending; the Verify must not be there.
        EXPECT_TRUE(QTest::qWaitFor(
            [] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 3000))
            << "the pool's threads stay free for the window's short reads";
        if (closeFirst) {
            QTest::mouseClick(window->Button(QStringLiteral("Close")), Qt::LeftButton);
            EXPECT_TRUE(QTest::qWaitFor([&] { return verify.ended.load(); }, 5000));
        }
        window.reset();  // joins the job's thread
        EXPECT_TRUE(verify.ended);
        EXPECT_TRUE(verify.sawCancel) << "the job was cancelled, not waited out";
    }
}

TEST_F(ArchiveJobsTest, TheFirstExportMakesTheSavedFolder) {
    WritePair();
    ASSERT_FALSE(fs::exists(m_context.saveFolder));
    auto window = OpenWindow();
    ASSERT_FALSE(window->Stretches().empty());
    QTest::mouseClick(window->Button(QStringLiteral("Export")), Qt::LeftButton);
    CExportDialog* exporter = window->ExportDialog();
    ASSERT_NE(exporter, nullptr);
    EXPECT_EQ(fs::path(exporter->FileEdit()->text().toStdString()).parent_path(),
              m_context.saveFolder);
    QTest::mouseClick(ButtonOf(exporter, QStringLiteral("Export")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return exporter->Result().has_value(); }, 20000));
    ASSERT_TRUE(exporter->Result()->ok) << exporter->Result()->error;
    ASSERT_EQ(exporter->Result()->files.size(), 1u);
    EXPECT_EQ(exporter->Result()->files[0].path.parent_path(), m_context.saveFolder);
    EXPECT_TRUE(fs::is_regular_file(exporter->Result()->files[0].path));
    EXPECT_EQ(exporter->Result()->files[0].frames, 10u);
}

// The local archive's calendar shades its days, and the day timeline's marks, set with the
// keys, open the export of the marked range (there is nothing to back up) with Clip….
TEST_F(ArchiveJobsTest, TheTimelineMarksExportTheMarkedRange) {
    WritePair();
    auto window = OpenWindow();
    window->ShowPage(ArchivePage::Calendar);
    window->Calendar()->ShowMonth(2010, 9);
    // The day is shaded by the two seconds the pair holds (both ends counted).
    const auto share = window->Calendar()->DayShare(2010, 9, 11);
    ASSERT_TRUE(share.has_value());
    EXPECT_NEAR(*share * timeline::kDaySeconds, 3.0, 0.01);
    EXPECT_FALSE(window->Calendar()->DayShare(2010, 9, 12).has_value()) << "nothing recorded";
    QTest::mouseClick(window->Calendar()->DayButton(11), Qt::LeftButton);
    timeline::ui::CTimelinePage* day = window->Timeline();
    ASSERT_FALSE(day->Stretches().empty());
    EXPECT_FALSE(day->MarkBackupButton()->isVisibleTo(day));
    const auto x = [day](int seconds) {
        return QPoint(timeline::PixelOfTime(day->View(), seconds), 100);
    };
    constexpr int kEight = 8 * 3600;
    QTest::mousePress(day, Qt::LeftButton, {}, x(kEight));
    QTest::mouseMove(day, x(kEight) + QPoint(1, 0));
    QTest::mouseRelease(day, Qt::LeftButton, {}, x(kEight) + QPoint(1, 0));
    ASSERT_EQ(day->View().secondsPerPixel, 1);
    // Out first, then In before it; a mark set outside the recording is moved onto it.
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kEight + 1));
    QTest::keyClick(day, Qt::Key_O);
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kEight + 200));
    QTest::keyClick(day, Qt::Key_I);
    EXPECT_EQ(day->InMark(), kEight + 2) << "clamped to the end of the two seconds recorded";
    EXPECT_FALSE(day->OutMark().has_value()) << "an In after the Out drops the Out";
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kEight));
    QTest::keyClick(day, Qt::Key_I);
    QTest::mouseClick(day, Qt::LeftButton, {}, x(kEight + 1));
    QTest::keyClick(day, Qt::Key_O);
    ASSERT_TRUE(day->ClipButton()->isEnabled());
    QTest::mouseClick(day->ClipButton(), Qt::LeftButton);
    CExportDialog* exporter = window->ExportDialog();
    ASSERT_NE(exporter, nullptr);
    QTest::mouseClick(ButtonOf(exporter, QStringLiteral("Export")), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return exporter->Result().has_value(); }, 20000));
    ASSERT_TRUE(exporter->Result()->ok) << exporter->Result()->error;
    ASSERT_EQ(exporter->Result()->files.size(), 1u);
    EXPECT_EQ(exporter->Result()->files[0].frames, 5u) << "08:00:00 up to 08:00:01";
}

}  // namespace
}  // namespace taviro::archive::ui
