// The backup pair as written byte by byte, and read back: blocks, entries, back-links,
// events, splits and their chaining, both byte orders, a full disk, hostile files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "archive/backup_reader.h"
#include "archive/backup_records.h"
#include "archive/backup_writer.h"
#include "archive/verify.h"
#include "support/temp_folder_test.h"

namespace taviro::archive {
namespace {

using protocol::LoadBE32;
using protocol::LoadLE32;
using testing::AudioRecord;
using testing::EventRecord;
using testing::TestFrame;
using testing::VideoRecord;

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class BackupFilesTest : public testing::CTempFolderTest {
  protected:
    BackupFilesTest() : CTempFolderTest("taviro-backup-files-") {}

    WriterOptions Options(int productType = 3, std::uint64_t split = kDefaultSplitBytes) {
        WriterOptions o;
        o.folder = m_root / "Download";
        o.productType = productType;
        o.splitBytes = split;
        o.clock = [this] { return m_now; };
        return o;
    }
    static void Put(CBackupWriter& w, const std::vector<std::uint8_t>& record, int type = 3) {
        ASSERT_TRUE(w.Write(KindOfRecord(record, type), record));
    }

    std::int64_t m_now = 0x5000'0000;
};

TEST_F(BackupFilesTest, ABackupWithoutVideoIsHeaderAndTrailerWithOneEmptyBlock) {
    CBackupWriter w(Options());
    ASSERT_TRUE(w.Open());
    Put(w, AudioRecord(100, 0x1));  // audio alone opens no block
    ASSERT_TRUE(w.Close());
    ASSERT_EQ(w.Pairs().size(), 1u);
    const auto& pair = w.Pairs()[0];
    EXPECT_EQ(pair.vid.filename(), "50000000.vid");
    const auto vid = ReadAll(pair.vid);
    ASSERT_EQ(vid.size(), 64u + 64 + 48 + 64);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(vid.data()), 9), "qmrx5830t");
    EXPECT_EQ(LoadBE32(vid.data() + 16), kFileMagic);
    EXPECT_EQ(LoadBE32(vid.data() + 64 + 32), 64u);  // an audio block links to 64 at first
    EXPECT_EQ(LoadBE32(vid.data() + vid.size() - 64 + 16), kTrailerMagic);
    EXPECT_EQ(LoadBE32(vid.data() + vid.size() - 64 + 36), 0u);

    const auto idx = ReadAll(pair.idx);
    ASSERT_EQ(idx.size(), kEntryListOffset + kTrailerSize);
    EXPECT_TRUE(std::equal(idx.begin(), idx.begin() + 64, vid.begin()));
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 16), kSummaryMagic);
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 24), 0u);
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 28), 0u);
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 32), 1u);
    EXPECT_EQ(LoadBE32(idx.data() + 192 + 16), kBlockMagic);
    EXPECT_EQ(LoadBE32(idx.data() + 192 + 256 + 16), 0u);
    EXPECT_EQ(LoadBE32(idx.data() + kEntryListOffset + 16), kTrailerMagic);
}

TEST_F(BackupFilesTest, BlocksEntriesBackLinksAndTheExemptFrame) {
    CBackupWriter w(Options());
    ASSERT_TRUE(w.Open());
    // A key change on the very first frame saves no empty block before it.
    Put(w, VideoRecord({.channel = 0, .time = 100, .key = 7, .kinds = 1}));  // @64
    Put(w, VideoRecord({.channel = 1, .time = 100, .key = 7, .kinds = 2}));  // @356, same second
    Put(w, AudioRecord(100, 0x3));                                           // @648, 160 bytes
    Put(w, VideoRecord({.channel = 0, .time = 101, .key = 7}));              // @808
    // Exempt: another key, yet it neither closes nor opens a block; it adds no entry in a
    // second that has one, and is counted in the channel's bytes.
    Put(w, VideoRecord({.channel = 0, .time = 101, .key = 99, .exempt = 1}));  // @1100
    Put(w, VideoRecord({.channel = 0, .time = 103, .key = 8}));                // @1392
    ASSERT_TRUE(w.Close());

    const auto& pair = w.Pairs()[0];
    EXPECT_EQ(pair.videoFrames, 5u);
    EXPECT_EQ(pair.blocks, 2u);
    const auto vid = ReadAll(pair.vid);
    EXPECT_EQ(LoadBE32(vid.data() + 64 + 32), 64u);
    EXPECT_EQ(LoadBE32(vid.data() + 356 + 32), 64u);
    EXPECT_EQ(LoadBE32(vid.data() + 648 + 32), 356u);
    EXPECT_EQ(LoadBE32(vid.data() + 808 + 32), 356u);
    EXPECT_EQ(LoadBE32(vid.data() + 1100 + 32), 808u);
    EXPECT_EQ(LoadBE32(vid.data() + 1392 + 32), 1100u);
    EXPECT_EQ(LoadBE32(vid.data() + 1684 + 36), 1392u);  // the trailer: the last video

    const auto idx = ReadAll(pair.idx);
    const std::uint8_t* b0 = idx.data() + 192;
    EXPECT_EQ(LoadBE32(b0 + 24), 100u);
    EXPECT_EQ(LoadBE32(b0 + 28), 101u);
    EXPECT_EQ(LoadBE32(b0 + 32), kEntryListOffset);
    EXPECT_EQ(LoadBE32(b0 + 36), 0x3u);
    EXPECT_EQ(LoadBE32(b0 + 40), 0x3u);
    EXPECT_EQ(LoadBE32(b0 + 44), 0x3u);
    EXPECT_EQ(b0[48], 0x01);
    EXPECT_EQ(b0[52], 0);
    EXPECT_EQ(LoadBE32(b0 + 80), 3 * 292u);  // channel 0: three frames with their headers
    EXPECT_EQ(LoadBE32(b0 + 84), 292u);
    EXPECT_EQ(LoadBE32(b0 + 144), 80u);  // 160 bytes over two channels
    EXPECT_EQ(LoadBE32(b0 + 148), 80u);
    EXPECT_EQ(b0[208], 1);
    EXPECT_EQ(b0[209], 2);
    const std::uint8_t* b1 = idx.data() + 192 + 256;
    EXPECT_EQ(LoadBE32(b1 + 24), 103u);
    EXPECT_EQ(LoadBE32(b1 + 32), kEntryListOffset + 16);
    EXPECT_EQ(LoadBE32(b1 + 144), 0u);   // the shares start over with each block
    EXPECT_EQ(LoadBE32(b1 + 40), 0x3u);  // the latest audio block's mask stays
    // One entry per second with frames, and one for the first frame of a block.
    const std::uint8_t* e = idx.data() + kEntryListOffset;
    EXPECT_EQ(LoadBE32(e), 64u);
    EXPECT_EQ(LoadBE32(e + 4), 0u);
    EXPECT_EQ(LoadBE32(e + 8), 808u);
    EXPECT_EQ(LoadBE32(e + 12), 648u);
    EXPECT_EQ(LoadBE32(e + 16), 1392u);
    EXPECT_EQ(LoadBE32(e + 24 + 16), kTrailerMagic);
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 24), 100u);
    EXPECT_EQ(LoadBE32(idx.data() + 64 + 28), 103u);

    // Read back: two segments, a start inside the first at its second's entry.
    const auto file = ReadIndexFile(pair.idx);
    ASSERT_TRUE(file);
    const auto segments = BuildSegments(std::vector{*file}, 101);
    ASSERT_EQ(segments.size(), 2u);
    EXPECT_EQ(segments[0].positionOffset, 808u);
    EXPECT_EQ(segments[0].endOffset, 1392u);
    EXPECT_EQ(segments[1].endOffset, 1684u);
    EXPECT_EQ(segments[0].channelMask, 0x3u);
    EXPECT_FALSE(segments[0].joinedToPrevious);
    CVidReader reader;
    ASSERT_TRUE(reader.Open(pair.vid));
    auto last = reader.ReadIndex(1392, segments[1].endOffset);
    ASSERT_TRUE(last);
    std::vector<std::uint64_t> walk;
    for (auto r = reader.ReadIndexRvs(*last, 64); r; r = reader.ReadIndexRvs(*r, 64)) {
        walk.push_back(r->offset);
    }
    EXPECT_EQ(walk, (std::vector<std::uint64_t>{1100, 808, 356, 64}));
}

TEST_F(BackupFilesTest, AnExemptFrameAtAPairsStartOpensNoBlockOfItsOwn) {
    // The recorder sends an exempt copy with a block's first key frame. At the start of the
    // first pair and of one opened by a split it belongs to the block the keyed frame
    // opens: no one-frame block, no stretch that ends where it starts.
    CBackupWriter w(Options(3, 900));  // the fourth frame (@940) ends a pair
    ASSERT_TRUE(w.Open());
    for (const std::uint32_t t : {100u, 200u}) {
        Put(w, VideoRecord({.time = t, .key = 99, .exempt = 1}));  // @64
        Put(w, VideoRecord({.time = t, .key = t}));                // @356
        Put(w, VideoRecord({.time = t + 1, .key = t}));            // @648
        Put(w, VideoRecord({.time = t + 2, .key = t}));            // @940
    }
    ASSERT_TRUE(w.Close());
    ASSERT_EQ(w.Pairs().size(), 2u);
    for (const PairSummary& pair : w.Pairs()) {
        SCOPED_TRACE(pair.idx.string());
        EXPECT_EQ(pair.blocks, 1u);
        const auto file = ReadIndexFile(pair.idx);
        ASSERT_TRUE(file);
        const std::uint32_t t = file->blocks[0].start;
        EXPECT_TRUE(t == 100u || t == 200u) << t;
        EXPECT_EQ(file->blocks[0].end, t + 2);
        EXPECT_EQ(file->blocks[0].videoBytes[0], 4 * 292u);
        const auto stretches = Stretches(std::vector{*file});
        ASSERT_EQ(stretches.size(), 1u);
        EXPECT_EQ(stretches[0].end, t + 2);
        // One segment that starts at the exempt frame, one entry per second.
        const auto segments = BuildSegments(std::vector{*file}, 0);
        ASSERT_EQ(segments.size(), 1u);
        EXPECT_EQ(segments[0].firstOffset, 64u);
        const auto idx = ReadAll(pair.idx);
        const std::uint8_t* e = idx.data() + kEntryListOffset;
        EXPECT_EQ(LoadBE32(e), 64u);
        EXPECT_EQ(LoadBE32(e + 8), 648u);
        EXPECT_EQ(LoadBE32(e + 16), 940u);
        EXPECT_EQ(LoadBE32(e + 24 + 16), kTrailerMagic);
    }
}

TEST_F(BackupFilesTest, SplitPairsCarryTheirTimesAndTheirEventsAndChainBack) {
    // Split after any video record that starts beyond 600 bytes: every third frame.
    CBackupWriter w(Options(3, 600));
    ASSERT_TRUE(w.Open());
    Put(w, EventRecord({{.start = 50, .end = 60},       // before every pair: never written
                        {.start = 101, .end = 102},     // first pair
                        {.start = 103, .end = 110}}));  // the second pair's span
    for (std::uint32_t t = 100; t < 105; ++t) {
        Put(w, VideoRecord({.channel = 0, .time = t, .key = t / 2}));
    }
    ASSERT_TRUE(w.Close());
    ASSERT_EQ(w.Pairs().size(), 2u);
    const auto& first = w.Pairs()[0];
    const auto& second = w.Pairs()[1];
    EXPECT_EQ(first.videoFrames, 3u);  // 64, 356, 648 > 600: the last of the pair
    EXPECT_EQ(first.headerSplit, 0u);
    EXPECT_EQ(first.trailerSplit, 0x5000'0000u);
    EXPECT_EQ(second.headerSplit, first.trailerSplit);
    EXPECT_EQ(second.vid.filename(), "50000001.vid");  // never the name of the first
    EXPECT_EQ(first.events, 1u);
    EXPECT_EQ(second.events, 1u);
    const auto idx2 = ReadAll(second.idx);
    EXPECT_EQ(LoadBE32(idx2.data() + kEventTableOffset), 103u);
    EXPECT_EQ(LoadBE32(idx2.data() + 32), first.trailerSplit);
    EXPECT_EQ(LoadBE32(idx2.data() + idx2.size() - 64 + 32), 0u);

    // The second pair starts earlier by name order only if renamed: chaining goes by
    // split times, and split time 0 never chains.
    std::filesystem::rename(second.idx, m_root / "Download" / "1.idx");
    std::filesystem::rename(second.vid, m_root / "Download" / "1.vid");
    auto listed = ScanFolder(m_root / "Download");
    ASSERT_EQ(listed.size(), 2u);
    const auto chained = ChainFiles(listed);
    EXPECT_EQ(chained[0].idx, first.idx);
    const auto segments = BuildSegments(chained, 0);
    ASSERT_FALSE(segments.empty());
    EXPECT_FALSE(segments.front().joinedToPrevious);
    std::size_t joins = 0;
    for (const auto& s : segments) {
        joins += s.joinedToNext ? 1 : 0;
    }
    EXPECT_EQ(joins, 1u);
    // A playback from a second starts in the segment that holds its frames, also where that
    // second is the segment's last.
    EXPECT_EQ(segments[segments.size() - 2].endTime, 103u);
    EXPECT_EQ(*FirstSegmentAfter(segments, 103), segments.size() - 2);
    EXPECT_EQ(*FirstSegmentAfter(segments, 104), segments.size() - 1);
    EXPECT_FALSE(FirstSegmentAfter(segments, 105));
}

TEST_F(BackupFilesTest, ProductTypeFiveKeepsTheRecordersOrderForCopiedFields) {
    CBackupWriter w(Options(5));
    ASSERT_TRUE(w.Open());
    Put(w, VideoRecord({.channel = 2, .time = 0x01020304, .key = 1}, 5), 5);
    Put(w, VideoRecord({.channel = 2, .time = 0x01020305, .key = 1}, 5), 5);
    ASSERT_TRUE(w.Close());
    const auto vid = ReadAll(w.Pairs()[0].vid);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(vid.data()), 9), "HLnvt2070");
    EXPECT_EQ(LoadLE32(vid.data() + 356 + 32), 64u);  // back-link little-endian
    EXPECT_EQ(LoadLE32(vid.data() + 356 + 24), 0x01020305u);
    const auto idx = ReadAll(w.Pairs()[0].idx);
    EXPECT_EQ(LoadLE32(idx.data() + 192 + 24), 0x01020304u);  // block times as sent
    EXPECT_EQ(LoadBE32(idx.data() + 192 + 16), kBlockMagic);  // the client's own fields
    EXPECT_EQ(LoadBE32(idx.data() + 192 + 36), 0x4u);
    // Only type-3 pairs are listed for the local player.
    EXPECT_TRUE(ScanFolder(m_root / "Download").empty());
}

TEST_F(BackupFilesTest, TheBlockTableNeverOverflowsAndHostileRecordsAreDropped) {
    CBackupWriter w(Options());
    ASSERT_TRUE(w.Open());
    for (std::uint32_t k = 1; k <= kMaxBlocks + 3; ++k) {
        Put(w, VideoRecord({.time = 1000 + k, .key = k, .payload = 1}));
    }
    auto shortRecord = VideoRecord({.time = 5000, .payload = 50});
    shortRecord.resize(200);  // states 50 payload bytes, carries 8
    Put(w, shortRecord);
    std::vector<std::uint8_t> events = EventRecord({{.start = 1, .end = 2}});
    protocol::StoreBE32(events.data() + 28, 0xFFFFFFE0u);  // claims far more than it holds
    Put(w, events);
    ASSERT_TRUE(w.Close());
    ASSERT_EQ(w.Pairs().size(), 2u);
    EXPECT_EQ(w.Pairs()[0].blocks, kMaxBlocks);
    EXPECT_EQ(w.Pairs()[1].blocks, 3u);
    EXPECT_EQ(w.Stats().dropped, 1u);
    const auto file = ReadIndexFile(w.Pairs()[0].idx);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->blocks.size(), kMaxBlocks);
    EXPECT_EQ(LoadBE32(ReadAll(w.Pairs()[0].idx).data() + kEventTableOffset), 0u);
}

TEST_F(BackupFilesTest, AFullDiskStopsTheWriterWithItsReasonAndLeavesAReadablePair) {
    const auto folder = m_root / "Download";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The index takes 2 MB at once; the video file reaches the limit after a few frames.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{kEntryListOffset + 4096, kEntryListOffset + 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        CBackupWriter w(Options());
        if (!w.Open()) {
            _exit(10);
        }
        bool failed = false;
        for (std::uint32_t t = 0; t < 3000 && !failed; ++t) {
            const auto r = VideoRecord({.time = 100 + t, .key = 1 + t / 4, .payload = 20000});
            failed = !w.Write(RecordKind::Video, r);
        }
        const bool closed = w.Close();
        const bool named = w.Error().find("File too large") != std::string::npos &&
                           w.Error().find(".vid") != std::string::npos;
        if (!(failed && !closed && named && !w.Pairs()[0].complete)) {
            std::fprintf(stderr, "%d %d %s\n", failed, closed, w.Error().c_str());
            _exit(11);
        }
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const auto listed = ScanFolder(folder);
    ASSERT_EQ(listed.size(), 1u);
    // Whole records only: the segments end where a record ends and every frame reads.
    const auto segments = BuildSegments(listed, 0);
    ASSERT_FALSE(segments.empty());
    CVidReader reader;
    ASSERT_TRUE(reader.Open(listed[0].vid));
    // The trailer still fitted once the cut record was gone.
    EXPECT_EQ((reader.Size() - 128) % 20192, 0u);
    EXPECT_EQ(segments.back().endOffset, reader.Size() - 64);
    std::uint64_t at = 64;
    int frames = 0;
    while (auto r = reader.ReadIndex(at, segments.back().endOffset)) {
        at = r->End();
        ++frames;
    }
    EXPECT_EQ(at, segments.back().endOffset);
    EXPECT_GT(frames, 0);
}

TEST_F(BackupFilesTest, HostileIndexAndVideoFilesAreReadWithinTheirBounds) {
    CBackupWriter w(Options());
    ASSERT_TRUE(w.Open());
    Put(w, VideoRecord({.time = 100}));
    Put(w, VideoRecord({.time = 101}));
    ASSERT_TRUE(w.Close());
    const auto& pair = w.Pairs()[0];
    auto idx = ReadAll(pair.idx);
    auto vid = ReadAll(pair.vid);
    // A back-link to the record itself would loop a backward walk; one beyond the file and
    // a block count beyond the table must not be followed either.
    protocol::StoreBE32(vid.data() + 356 + 32, 356);
    protocol::StoreBE32(idx.data() + 64 + 32, 0xFFFFFFFFu);
    protocol::StoreBE32(idx.data() + 192 + 32, 0x7FFFFFF0u);  // first entry far outside
    std::ofstream(pair.vid, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(vid.data()), static_cast<std::streamsize>(vid.size()));
    std::ofstream(pair.idx, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(idx.data()), static_cast<std::streamsize>(idx.size()));
    const auto file = ReadIndexFile(pair.idx);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->blocks.size(), kMaxBlocks);
    EXPECT_TRUE(BuildSegments(std::vector{*file}, 100).empty());
    CVidReader reader;
    ASSERT_TRUE(reader.Open(pair.vid));
    const auto second = reader.ReadIndex(356, reader.Size());
    ASSERT_TRUE(second);
    EXPECT_FALSE(reader.ReadIndexRvs(*second, 64));
    EXPECT_FALSE(reader.ReadIndex(356, 400));  // not whole before the limit
    // A truncated index is no index.
    std::filesystem::resize_file(pair.idx, 1000);
    std::string error;
    EXPECT_FALSE(ReadIndexFile(pair.idx, &error));
    EXPECT_FALSE(error.empty());
}

// A record's stated payload is believed only up to what its kind can hold: an audio block
// 16 x 48 bytes, a frame the 1,244,160-byte frame buffer. Beyond that the reader refuses the
// record and the verifier names the pair damaged at it, however large the (sparse) file is.
TEST_F(BackupFilesTest, APayloadLongerThanItsKindHoldsIsDamageNotAnAllocation) {
    struct Case {
        const char* name;
        std::uint64_t at;  // the record: a frame at 64, audio at 356, a marked frame at 468
        std::uint64_t header;
        std::uint32_t length;
        bool refused;
    };
    const Case cases[] = {
        {"audio at its bound", 356, 64, kMaxAudioPayload, false},
        {"audio one byte longer", 356, 64, kMaxAudioPayload + 1, true},
        {"audio of 4 GB", 356, 64, 0xF000'0000u, true},
        {"frame at its bound", 468, 192, kMaxFramePayload, false},
        {"marked frame one byte longer", 468, 192, kMaxFramePayload + 1, true},
        {"marked frame of 4 GB", 468, 192, 0xFFFF'0000u, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_now += 10;
        CBackupWriter w(Options());
        ASSERT_TRUE(w.Open());
        Put(w, VideoRecord({.time = 100}));
        Put(w, AudioRecord(100, 0x1));
        Put(w, VideoRecord({.time = 101, .watermark = true}));
        ASSERT_TRUE(w.Close());
        const auto& pair = w.Pairs().back();
        // The record states `length` and the file holds it: a hole up to the trailer.
        const auto vid = ReadAll(pair.vid);
        const std::vector<std::uint8_t> trailer(vid.end() - 64, vid.end());
        std::filesystem::resize_file(pair.vid, c.at + c.header);
        std::filesystem::resize_file(pair.vid, c.at + c.header + c.length + 64);
        {
            std::fstream out(pair.vid, std::ios::binary | std::ios::in | std::ios::out);
            std::array<std::uint8_t, 4> length{};
            protocol::StoreBE32(length.data(), c.length);
            out.seekp(static_cast<std::streamoff>(c.at + 28));
            out.write(reinterpret_cast<const char*>(length.data()), 4);
            out.seekp(static_cast<std::streamoff>(c.at + c.header + c.length));
            out.write(reinterpret_cast<const char*>(trailer.data()), 64);
            ASSERT_TRUE(out.good());
        }
        CVidReader reader;
        ASSERT_TRUE(reader.Open(pair.vid));
        const auto record = reader.ReadIndex(c.at, reader.Size());
        EXPECT_EQ(!record, c.refused);
        if (record) {
            EXPECT_EQ(record->payloadLength, c.length);
            std::vector<std::uint8_t> payload;
            EXPECT_TRUE(reader.ReadPayload(*record, payload));
            EXPECT_EQ(payload.size(), c.length);
            continue;
        }
        const PairVerdict verdict = VerifyPair(pair.idx);
        EXPECT_EQ(verdict.verdict, Verdict::Damaged);
        EXPECT_NE(verdict.problem.find("at offset " + std::to_string(c.at) + " states"),
                  std::string::npos)
            << verdict.problem;
    }
}

}  // namespace
}  // namespace taviro::archive
