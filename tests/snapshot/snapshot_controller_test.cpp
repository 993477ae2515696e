// Snapshots as the operator takes them: only panes that hold a picture are saved, each save
// is logged once, the writers are reaped, and a failure is said by channel.
#include "snapshot/snapshot_controller.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/h264_decoder.h"
#include "snapshot/snapshot_writers.h"
#include "support/temp_folder_test.h"

namespace taviro::snapshot {
namespace {

class CCountingLog final : public logs::ILocalLog {
  public:
    bool WriteLocalLog(std::uint32_t, std::uint32_t, std::uint32_t, std::string_view,
                       std::string_view) override {
        ++entries;
        return true;
    }
    int entries = 0;
};

class SnapshotController : public taviro::testing::CTempFolderTest {
  protected:
    SnapshotController() : CTempFolderTest("taviro-snapshot-controller-") {}
};

TEST_F(SnapshotController, SavesOnlyPanesWithAPictureLogsOnceAndReaps) {
    video::CChannelViews views;
    for (int c : {0, 2}) {
        video::ChannelView& view = views.Channel(c);
        std::lock_guard lock(view.lock);
        view.width = 352;
        view.height = 240;
        view.clock = 1700000000;
        view.frame = std::make_shared<platform::CPackedPicture>(352, 240, 0);
    }
    views.MarkPicture(0);  // channel 2 holds a picture the grid has not shown: not saved
    platform::CQueueSink sink;
    CNullCaptionPainter painter;
    CSnapshotController controller(sink, painter, DisplayFormat{32, {}});
    CCountingLog log;
    JobSettings settings;
    settings.format = SaveFormat::kBmp;
    settings.savedFolder = m_root / "Saved";
    settings.localTime = LocalTimeNow();

    EXPECT_FALSE(controller.Take(views, 0b100, settings, &log)) << "no pane holds a picture";
    EXPECT_EQ(log.entries, 0);
    ASSERT_TRUE(controller.Take(views, 0b111, settings, &log));
    EXPECT_EQ(log.entries, 1);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (controller.Reap() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(controller.Running());
    const auto done = sink.Take(std::chrono::seconds(1));
    ASSERT_TRUE(done);
    EXPECT_EQ(done->wParam, 0u);
    EXPECT_EQ(SnapshotDoneMessage(*done), std::nullopt);
    EXPECT_FALSE(sink.Take(std::chrono::milliseconds(50))) << "one file, one message";
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_root / "Saved"))
        ++files;
    EXPECT_EQ(files, 1u);

    platform::PostedMessage failed;
    failed.message = snapshot::WM_SNAPSHOT_DONE;
    failed.wParam = 2;
    failed.lParam = kSnapshotWriteFailed;
    EXPECT_EQ(SnapshotDoneMessage(failed), "The snapshot of CH3 could not be saved.");
}

}  // namespace
}  // namespace taviro::snapshot
