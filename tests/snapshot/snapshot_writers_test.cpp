// The snapshot workers: one per job, results posted, and quitting waits for every one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/h264_decoder.h"
#include "snapshot/snapshot_writers.h"
#include "support/temp_folder_test.h"

namespace taviro::snapshot {
namespace {

namespace fs = std::filesystem;

class CRecordingSink final : public platform::IMessageSink {
  public:
    void Deliver(platform::PostedMessage message) override {
        std::lock_guard lock(m_lock);
        m_messages.push_back(std::move(message));
    }
    std::vector<platform::PostedMessage> Messages() {
        std::lock_guard lock(m_lock);
        return m_messages;
    }

  private:
    std::mutex m_lock;
    std::vector<platform::PostedMessage> m_messages;
};

// Takes its time, so the writers are still busy when they are destroyed.
class CSlowPainter final : public ICaptionPainter {
  public:
    void Paint(BgrImage&, int, int, std::string_view, std::uint32_t) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
};

SnapshotJob Job(int channel, int width, const fs::path& file) {
    SnapshotJob job;
    job.channel = channel;
    job.width = width;
    job.height = 240;
    job.pictureFormat = platform::kH264FormatYuv420;
    job.format = SaveFormat::kBmp;
    job.file = file;
    job.picture = std::make_unique<std::uint8_t[]>(video::kPictureBufferSize);
    std::memset(job.picture.get(), 128, video::kPictureBufferSize);
    return job;
}

class SnapshotWriters : public taviro::testing::CTempFolderTest {
  protected:
    SnapshotWriters() : CTempFolderTest("taviro-snapshot-writers-") {}
};

TEST_F(SnapshotWriters, DestructionWaitsForEveryWorker) {
    CRecordingSink sink;
    CSlowPainter painter;
    const fs::path saved = m_root / "Saved";  // created by the workers
    {
        CSnapshotWriters writers(&sink, painter, DisplayFormat{32, Pixel16Layout::kNone});
        std::vector<SnapshotJob> jobs;
        jobs.push_back(Job(0, 352, saved / "x_0001.bmp"));
        jobs.push_back(Job(5, 352, saved / "x_0006.bmp"));
        EXPECT_EQ(writers.Start(std::move(jobs)), 2);
        EXPECT_EQ(writers.Active(), 2);
    }
    EXPECT_EQ(fs::file_size(saved / "x_0001.bmp"), 1'440'054u);
    EXPECT_EQ(fs::file_size(saved / "x_0006.bmp"), 1'440'054u);
    const auto messages = sink.Messages();
    ASSERT_EQ(messages.size(), 2u);
    for (const auto& m : messages) {
        EXPECT_EQ(m.message, snapshot::WM_SNAPSHOT_DONE);
        EXPECT_EQ(m.lParam, kSnapshotSaved);
        EXPECT_TRUE(m.wParam == 0 || m.wParam == 5);
    }
}

TEST_F(SnapshotWriters, ReapFreesFinishedSlotsAndReportsFailures) {
    CRecordingSink sink;
    CNullCaptionPainter painter;
    CSnapshotWriters writers(&sink, painter, DisplayFormat{16, Pixel16Layout::k565});
    std::vector<SnapshotJob> jobs;
    jobs.push_back(Job(1, 353, m_root / "odd.bmp"));  // odd width: skipped
    jobs.push_back(Job(2, 352, m_root / "good.bmp"));
    EXPECT_EQ(writers.Start(std::move(jobs)), 2);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (writers.Reap() > 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(writers.Active(), 0);
    auto results = writers.TakeResults();
    ASSERT_EQ(results.size(), 2u);
    std::sort(results.begin(), results.end(),
              [](const auto& a, const auto& b) { return a.channel < b.channel; });
    EXPECT_EQ(results[0].code, kSnapshotBadPicture);
    EXPECT_FALSE(results[0].error.empty());
    EXPECT_FALSE(fs::exists(m_root / "odd.bmp"));
    EXPECT_EQ(results[1].code, kSnapshotSaved);
    EXPECT_TRUE(fs::exists(m_root / "good.bmp"));
    EXPECT_TRUE(writers.TakeResults().empty());

    // A display depth without a known 16-bit layout fails the job.
    CSnapshotWriters unknown(&sink, painter, DisplayFormat{16, Pixel16Layout::kNone});
    std::vector<SnapshotJob> one;
    one.push_back(Job(3, 352, m_root / "depth.bmp"));
    unknown.Start(std::move(one));
    unknown.Stop();
    const auto stopped = unknown.TakeResults();
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_EQ(stopped[0].code, kSnapshotBadDisplay);
    EXPECT_FALSE(fs::exists(m_root / "depth.bmp"));
}

}  // namespace
}  // namespace taviro::snapshot
