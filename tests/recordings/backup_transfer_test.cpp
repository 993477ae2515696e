// The backup's writer thread and the texts of its end: a disk that fills up ends the
// transfer by itself, at once, with the pair closed readable and the reason; records that
// arrive afterwards are dropped without waiting; the panel's words for each ending.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "archive/backup_reader.h"
#include "archive/backup_records.h"
#include "recordings/backup_progress.h"
#include "recordings/backup_transfer.h"
#include "recordings/messages.h"
#include "support/temp_folder_test.h"

namespace taviro::recordings {
namespace {

using namespace std::chrono_literals;
using testing::TestFrame;
using testing::VideoRecord;

class BackupTransferTest : public testing::CTempFolderTest {
  protected:
    BackupTransferTest() : CTempFolderTest("taviro-backup-transfer-") {}

    archive::WriterOptions Options(std::uint64_t vidSpaceLimit) const {
        archive::WriterOptions o;
        o.folder = m_root / "Download";
        o.clock = [] { return std::int64_t{0x5000'0000}; };
        o.vidSpaceLimit = vidSpaceLimit;
        return o;
    }
    static bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    std::size_t Finished() const {
        std::size_t n = 0;
        for (const auto& m : m_sink.History())
            n += m.message == recordings::WM_BACKUP_FINISHED ? 1u : 0u;
        return n;
    }

    platform::CQueueSink m_sink;
};

TEST_F(BackupTransferTest, AFullDiskEndsTheTransferAtOnceAndKeepsWhatWasWritten) {
    // Frames of 292 bytes from offset 64: the sixth does not fit below the limit.
    constexpr std::uint64_t kLimit = 64 + 5 * 292 + 100;
    std::atomic<int> stops{0};
    CBackupTransfer transfer(m_sink, Options(kLimit), [&] { ++stops; });
    for (std::uint32_t t = 0; t < 12; ++t)
        transfer.Put(archive::RecordKind::Video, VideoRecord({.time = 100 + t, .key = 1 + t / 3}));

    // Nobody calls Finish: the failure alone ends the transfer.
    ASSERT_TRUE(WaitUntil([&] { return transfer.Ended(); }, 3s)) << "the writer waits for ever";
    ASSERT_TRUE(WaitUntil([&] { return Finished() == 1; }, 1s));
    EXPECT_EQ(stops.load(), 1) << "the recorder is asked to stop once";
    const BackupOutcome outcome = transfer.Outcome();
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.end, BackupEnd::kWriteFailed);
    EXPECT_NE(outcome.error.find("No space left on device"), std::string::npos) << outcome.error;
    EXPECT_NE(outcome.error.find(".vid"), std::string::npos) << outcome.error;
    ASSERT_EQ(outcome.pairs.size(), 1u);
    EXPECT_FALSE(outcome.pairs[0].complete);
    EXPECT_EQ(outcome.pairs[0].videoFrames, 5u);
    EXPECT_EQ(outcome.bytesWritten, 5u * 292);

    // A record that comes after the end is dropped at once, never waited on.
    const auto before = std::chrono::steady_clock::now();
    transfer.Put(archive::RecordKind::Video, VideoRecord({.time = 200}));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(transfer.Outcome().pairs[0].videoFrames, 5u);

    // The pair reads back: summary, blocks and trailers for the five frames written.
    const auto listed = archive::ScanFolder(m_root / "Download");
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_TRUE(listed[0].hasTrailer);
    EXPECT_EQ(listed[0].summary.blocks, 2u);
    EXPECT_EQ(listed[0].summary.earliest, 100u);
    EXPECT_EQ(listed[0].summary.latest, 104u);
    const auto segments = archive::BuildSegments(listed, 0);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments.back().endOffset, 64u + 5 * 292) << "the .vid ends at its trailer";
    EXPECT_EQ(segments.back().lastVideo, 64u + 4 * 292);
}

TEST_F(BackupTransferTest, AFolderThatCannotBeMadeEndsTheTransferBeforeAnyRecord) {
    std::filesystem::create_directories(m_root);
    std::ofstream(m_root / "Download") << "a file where the folder goes";
    std::atomic<int> stops{0};
    CBackupTransfer transfer(m_sink, Options(0), [&] { ++stops; });
    ASSERT_TRUE(WaitUntil([&] { return transfer.Ended(); }, 3s));
    EXPECT_EQ(stops.load(), 1);
    EXPECT_TRUE(transfer.Outcome().failed);
    EXPECT_TRUE(transfer.Outcome().pairs.empty());
    EXPECT_EQ(Finished(), 1u);
}

TEST(BackupEndText, SaysHowTheBackupEndedAndWhere) {
    archive::PairSummary pair;
    pair.vid = "/home/op/TAVIRO/Download/50000000.vid";
    pair.idx = "/home/op/TAVIRO/Download/50000000.idx";
    BackupOutcome done;
    done.pairs = {pair, pair};
    done.bytesWritten = 3u << 20;
    EXPECT_EQ(BackupEndText(done), "Done: 2 pairs, 3.0 MB in /home/op/TAVIRO/Download");
    EXPECT_EQ(BackupFolder(done), "/home/op/TAVIRO/Download");

    BackupOutcome full = done;
    full.pairs = {pair};
    full.failed = true;
    full.error = "Could not write /x/50000000.vid: No space left on device";
    EXPECT_EQ(BackupEndText(full),
              "Stopped: Could not write /x/50000000.vid: No space left on device. Kept 1 pair, "
              "3.0 MB in /home/op/TAVIRO/Download");
    full.pairs.clear();
    EXPECT_TRUE(BackupEndText(full).ends_with(". Nothing was kept")) << BackupEndText(full);
    EXPECT_EQ(BackupEndText(BackupOutcome{}), "Done: nothing was recorded in the range");
    // A backup cut short never reads as done.
    for (const BackupEnd end :
         {BackupEnd::kStopped, BackupEnd::kRecorderFailed, BackupEnd::kConnectionEnded}) {
        BackupOutcome cut = done;
        cut.end = end;
        EXPECT_FALSE(BackupEndText(cut).starts_with("Done")) << BackupEndText(cut);
        EXPECT_TRUE(
            BackupEndText(cut).ends_with("Kept 2 pairs, 3.0 MB in /home/op/TAVIRO/Download"))
            << BackupEndText(cut);
    }

    // Above the size that asks first: the size and the pairs it makes.
    EXPECT_NE(BackupConfirmText(3u << 20, archive::kDefaultSplitBytes).find("3.00 GB"),
              std::string::npos);
    EXPECT_NE(BackupConfirmText(3u << 20, archive::kDefaultSplitBytes).find("5 pairs"),
              std::string::npos);
}

}  // namespace
}  // namespace taviro::recordings
