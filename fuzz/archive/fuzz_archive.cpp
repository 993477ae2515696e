// Hostile backup pairs and bookmark files as the local archive reads them: the index, the
// listing, the chaining, the calendar's stretches, the playback segments, the .vid walked
// forwards and backwards, the verifier and the bookmark slot file. Every offset a reader
// returns lies in its file and its part, every walk ends, the verifier and the reader agree
// on a pair the verifier finds whole, and the bookmark list and the free slot are what the
// file's bytes say.
//
// Input (lengths little-endian, each cut to what is left of the input):
//   0   1  flags: bit 0 adds a pair "b" that continues "a" (a's files with the header split
//          time set to a's trailer split time and the trailer split time to a's header one,
//          so the two may also form a loop); bit 1 lists by the exact signature; bit 2
//          puts a hole of kHole zero bytes in front of each .vid's last 64 bytes, so a
//          record can state a payload beyond any bound and the file still holds it
//   1   4  a time offset from the first block's start: one of the requested playback times
//   5   2  head length, then the head: a.idx from offset 0 (file header, the summary at 64,
//          blocks from 192)
//   .   2  tail length, then the tail: a.idx from 0x2000C0 (entries, a trailer as its last
//          64 bytes); the index ends with it, so it always has its 2,097,344-byte fixed part
//   .   2  video length, then a.vid as it is
//   .      the rest: the bookmark file
// The index between the head and the tail is a hole of zeros, so a small input makes a
// whole index without writing megabytes.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "../fuzz_check.h"
#include "archive/backup_format.h"
#include "archive/backup_reader.h"
#include "archive/bookmarks.h"
#include "archive/verify.h"
#include "stream/stream_records.h"

namespace fs = std::filesystem;
using namespace taviro::archive;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kSplitTimeOffset = 32;  // in the file header and in the idx trailer
constexpr std::uint64_t kSmallestRecord = taviro::stream::kAudioBlockHeaderSize;
// Segments walked like the player does; the rest only have their bounds checked.
constexpr std::size_t kWalkedSegments = 4;
// Longer than a frame can be, short enough that a file with it stays cheap (it is sparse).
constexpr std::uint64_t kHole = 1'310'720;
static_assert(kHole > kMaxFramePayload + taviro::stream::kStreamFrameHeaderSize);

// A folder of this process's own below the temporary folder, removed at exit.
class CScratch {
  public:
    CScratch() {
        std::string pattern = (fs::temp_directory_path() / "taviro-fuzz-archive.XXXXXX").string();
        TAVIRO_FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
        m_root = pattern;
        fs::create_directories(m_root / "pairs");
        fs::create_directories(m_root / "Log");
    }
    ~CScratch() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    CScratch(const CScratch&) = delete;
    CScratch& operator=(const CScratch&) = delete;

    [[nodiscard]] fs::path Pairs() const { return m_root / "pairs"; }
    [[nodiscard]] fs::path Bookmarks() const { return m_root / "Log" / kBookmarkFileName; }

  private:
    fs::path m_root;
};

class CInput {
  public:
    explicit CInput(std::span<const std::uint8_t> data) : m_data(data) {}

    std::uint8_t U8() { return m_at < m_data.size() ? m_data[m_at++] : 0; }
    std::uint32_t LE32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<std::uint32_t>(U8()) << (8 * i);
        }
        return v;
    }
    std::span<const std::uint8_t> Part() {
        std::size_t n = U8();
        n |= static_cast<std::size_t>(U8()) << 8;
        n = std::min(n, m_data.size() - m_at);
        const auto part = m_data.subspan(m_at, n);
        m_at += n;
        return part;
    }
    std::span<const std::uint8_t> Rest() { return m_data.subspan(m_at); }

  private:
    std::span<const std::uint8_t> m_data;
    std::size_t m_at = 0;
};

struct Piece {
    std::uint64_t offset = 0;
    std::span<const std::uint8_t> bytes;
};

// The file holds the pieces at their offsets and zeros elsewhere, and is `size` bytes long.
void WriteFile(const fs::path& path, std::initializer_list<Piece> pieces, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    TAVIRO_FUZZ_CHECK(fd >= 0);
    for (const Piece& piece : pieces) {
        std::size_t done = 0;
        while (done < piece.bytes.size()) {
            const ssize_t n = ::pwrite(fd, piece.bytes.data() + done, piece.bytes.size() - done,
                                       static_cast<off_t>(piece.offset + done));
            TAVIRO_FUZZ_CHECK(n > 0);
            done += static_cast<std::size_t>(n);
        }
    }
    TAVIRO_FUZZ_CHECK(::ftruncate(fd, static_cast<off_t>(size)) == 0);
    ::close(fd);
}

void WritePair(const fs::path& folder, const std::string& name, std::span<const std::uint8_t> head,
               std::span<const std::uint8_t> tail, std::span<const std::uint8_t> vid, bool hole) {
    WriteFile(folder / (name + ".idx"), {{0, head}, {kEntryListOffset, tail}},
              kEntryListOffset + tail.size());
    if (!hole || vid.size() < kTrailerSize) {
        WriteFile(folder / (name + ".vid"), {{0, vid}}, vid.size());
        return;
    }
    const std::size_t front = vid.size() - kTrailerSize;
    WriteFile(folder / (name + ".vid"),
              {{0, vid.first(front)}, {front + kHole, vid.subspan(front)}}, vid.size() + kHole);
}

// A copy with the four bytes at `at` (when it holds them) taken from `word`.
Bytes Patched(std::span<const std::uint8_t> bytes, std::size_t at, const std::uint8_t* word) {
    Bytes out(bytes.begin(), bytes.end());
    if (out.size() >= at + 4) {
        std::copy_n(word, 4, out.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return out;
}

void CheckIndex(const IndexFile& file) {
    TAVIRO_FUZZ_CHECK(file.idxSize >= kEntryListOffset);
    TAVIRO_FUZZ_CHECK(file.entryEnd >= kEntryListOffset && file.entryEnd <= file.idxSize);
    TAVIRO_FUZZ_CHECK((file.entryEnd - kEntryListOffset) % kEntrySize == 0);
    TAVIRO_FUZZ_CHECK(!file.hasTrailer || file.entryEnd + kTrailerSize == file.idxSize);
    TAVIRO_FUZZ_CHECK(file.blocks.size() == std::min(file.summary.blocks, kMaxBlocks));
}

struct ForwardWalk {
    std::optional<VidRecord> last;       // the last record read
    std::optional<VidRecord> lastVideo;  // the last video frame read
    std::uint64_t videoFrames = 0;
    std::uint64_t end = 0;  // where the walk stopped
};

// Forwards from `from` up to `limit`: each record lies whole before the limit, states no
// more than its kind can hold, its payload reads, and the walk moves on by at least a header
// each time.
ForwardWalk WalkForward(CVidReader& vid, std::uint64_t from, std::uint64_t limit) {
    const std::uint64_t bound = std::min(limit, vid.Size());
    ForwardWalk walk;
    walk.end = from;
    std::uint64_t visited = 0;
    Bytes payload;
    // Enough for every .vid an input writes whole (at most 65,535 bytes); only the hole's
    // zeros, read as empty audio records, go on further, and they all read alike.
    constexpr std::uint64_t kMostWalked = 2048;
    while (visited < kMostWalked) {
        auto record = vid.ReadIndex(walk.end, limit);
        if (!record) {
            break;
        }
        TAVIRO_FUZZ_CHECK(record->offset == walk.end);
        TAVIRO_FUZZ_CHECK(record->End() >= walk.end + kSmallestRecord && record->End() <= bound);
        TAVIRO_FUZZ_CHECK(++visited <= vid.Size() / kSmallestRecord);
        TAVIRO_FUZZ_CHECK(record->payloadLength <= MaxPayload(record->kind));
        TAVIRO_FUZZ_CHECK(vid.ReadPayload(*record, payload));
        walk.end = record->End();
        if (record->kind == VidRecord::Kind::Video) {
            ++walk.videoFrames;
            walk.lastVideo = record;
        }
        walk.last = std::move(record);
    }
    return walk;
}

// Backwards by the back-links from `from`: every step lands whole before the record it came
// from and not below the floor, so a walk never visits more records than the file holds.
std::uint64_t WalkBackward(CVidReader& vid, std::optional<VidRecord> from, std::uint64_t floor) {
    const std::uint64_t most = vid.Size() / kSmallestRecord;
    std::uint64_t visited = 0;
    while (from) {
        TAVIRO_FUZZ_CHECK(++visited <= most);
        auto next = vid.ReadIndexRvs(*from, floor);
        if (next) {
            TAVIRO_FUZZ_CHECK(next->kind == VidRecord::Kind::Video);
            TAVIRO_FUZZ_CHECK(next->offset >= std::max<std::uint64_t>(floor, kFirstRecordOffset));
            TAVIRO_FUZZ_CHECK(next->End() <= from->offset);
        }
        from = std::move(next);
    }
    return visited;
}

void CheckSegments(const std::vector<PlaySegment>& segments, std::span<const IndexFile> files) {
    CVidReader vid;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const PlaySegment& s = segments[i];
        const auto file = std::find_if(files.begin(), files.end(),
                                       [&](const IndexFile& f) { return f.vid == s.vidPath; });
        TAVIRO_FUZZ_CHECK(file != files.end());
        TAVIRO_FUZZ_CHECK(s.blockIndex < file->blocks.size());
        TAVIRO_FUZZ_CHECK(s.firstEntry >= kEntryListOffset && s.firstEntry < s.entryEnd);
        TAVIRO_FUZZ_CHECK(s.entryEnd == file->entryEnd);
        if (i == 0 || s.vidPath != segments[i - 1].vidPath) {
            TAVIRO_FUZZ_CHECK(vid.Open(s.vidPath));
        }
        TAVIRO_FUZZ_CHECK(s.firstOffset >= kFirstRecordOffset);
        TAVIRO_FUZZ_CHECK(s.firstOffset < s.endOffset && s.endOffset <= vid.Size());
        TAVIRO_FUZZ_CHECK(s.positionOffset >= s.firstOffset && s.positionOffset < s.endOffset);
        if (i >= kWalkedSegments) {
            continue;
        }
        // As the player does: forwards from the position, backwards from the segment's end.
        WalkForward(vid, s.positionOffset, s.endOffset);
        std::optional<VidRecord> last;
        if (s.lastVideo >= s.firstOffset && s.lastVideo < s.endOffset) {
            last = vid.ReadIndex(s.lastVideo, s.endOffset);
        }
        if (!last) {
            last = vid.ReadIndex(s.endOffset, vid.Size());
        }
        WalkBackward(vid, last, s.firstOffset);
    }
    if (const auto after = FirstSegmentAfter(segments, 0)) {
        TAVIRO_FUZZ_CHECK(*after < segments.size());
    }
}

void CheckPair(const fs::path& idxPath, std::uint32_t offsetFromStart) {
    const auto index = ReadIndexFile(idxPath);
    CVidReader vid;
    TAVIRO_FUZZ_CHECK(vid.Open(fs::path(idxPath).replace_extension(".vid")));
    // The whole .vid, forwards and back from the last record.
    WalkBackward(vid, WalkForward(vid, kFirstRecordOffset, vid.Size()).last, 0);

    const PairVerdict verdict = VerifyPair(idxPath);
    TAVIRO_FUZZ_CHECK(!verdict.Text().empty());
    TAVIRO_FUZZ_CHECK(verdict.checkedFrames <= verdict.videoFrames);
    TAVIRO_FUZZ_CHECK(verdict.alteredFrames <= verdict.checkedFrames);
    TAVIRO_FUZZ_CHECK(verdict.alteredAt.size() <= verdict.alteredFrames);
    TAVIRO_FUZZ_CHECK(verdict.alteredAt.size() <= 100);
    TAVIRO_FUZZ_CHECK((verdict.verdict == Verdict::Damaged) == !verdict.problem.empty());
    TAVIRO_FUZZ_CHECK(verdict.verdict == Verdict::Damaged ||
                      (verdict.verdict == Verdict::Altered) == (verdict.alteredFrames > 0));

    if (!index) {
        TAVIRO_FUZZ_CHECK(verdict.verdict == Verdict::Damaged);
        return;
    }
    CheckIndex(*index);
    // A pair the verifier finds whole reads the same with the player's reader: every record
    // up to the trailer, and every frame back from the last one by the back-links.
    if (verdict.verdict != Verdict::Damaged && IsType3Signature(index->header.signature)) {
        const auto walk = WalkForward(vid, kFirstRecordOffset, vid.Size() - kTrailerSize);
        TAVIRO_FUZZ_CHECK(walk.end == vid.Size() - kTrailerSize);
        TAVIRO_FUZZ_CHECK(walk.videoFrames == verdict.videoFrames);
        TAVIRO_FUZZ_CHECK(WalkBackward(vid, walk.lastVideo, 0) == walk.videoFrames);
    }
    const std::vector<IndexFile> alone{*index};
    const std::uint32_t start = index->blocks.empty() ? 0 : index->blocks.front().start;
    CheckSegments(BuildSegments(alone, start + offsetFromStart), alone);
}

void CheckBookmarks(std::span<const std::uint8_t> image, const fs::path& path) {
    const auto listed = ParseBookmarks(image);
    const std::size_t whole = std::min<std::size_t>(image.size() / kBookmarkRecordSize, 64);
    TAVIRO_FUZZ_CHECK(listed.size() <= whole);
    int previous = -1;
    for (const Bookmark& b : listed) {
        TAVIRO_FUZZ_CHECK(b.slot > previous && b.slot < kBookmarkSlots);
        previous = b.slot;
        TAVIRO_FUZZ_CHECK(image[static_cast<std::size_t>(b.slot) * kBookmarkRecordSize] == 1);
        TAVIRO_FUZZ_CHECK(b.name.size() <= kBookmarkMaxText);
        TAVIRO_FUZZ_CHECK(b.vidPath.size() <= kBookmarkMaxText);
        TAVIRO_FUZZ_CHECK(b.name.find('\0') == std::string::npos);
        TAVIRO_FUZZ_CHECK(b.vidPath.find('\0') == std::string::npos);
        TAVIRO_FUZZ_CHECK(!FormatBookmarkTime(b.time, b.slot % 3).empty());
    }

    WriteFile(path, {{0, image}}, image.size());
    const CBookmarkFile book(path);
    TAVIRO_FUZZ_CHECK(book.Load() == listed);
    const auto firstWordZero = [&](std::size_t slot) {
        const std::uint8_t* r = image.data() + slot * kBookmarkRecordSize;
        return r[0] == 0 && r[1] == 0 && r[2] == 0 && r[3] == 0;
    };
    std::size_t firstFree = whole;
    for (std::size_t slot = 0; slot < whole; ++slot) {
        if (firstWordZero(slot)) {
            firstFree = slot;
            break;
        }
    }
    const FreeSlot free = book.FindFreeSlot();
    if (firstFree < whole) {
        TAVIRO_FUZZ_CHECK(free.status == BookmarkStatus::Ok);
        TAVIRO_FUZZ_CHECK(free.slot == static_cast<int>(firstFree));
    } else if (image.size() >= kBookmarkFileCapacity) {
        TAVIRO_FUZZ_CHECK(free.status == BookmarkStatus::Full);
    } else {
        // The slot where the file ends; a cut record there is overwritten.
        TAVIRO_FUZZ_CHECK(free.status == BookmarkStatus::Ok);
        TAVIRO_FUZZ_CHECK(free.slot == static_cast<int>(image.size() / kBookmarkRecordSize));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const CScratch scratch;
    CInput input({data, size});
    const std::uint8_t flags = input.U8();
    const std::uint32_t offsetFromStart = input.LE32();
    const auto head = input.Part();
    const auto tail = input.Part();
    const auto video = input.Part();
    const auto bookmarks = input.Rest();

    const fs::path folder = scratch.Pairs();
    const bool hole = (flags & 4u) != 0;
    WritePair(folder, "a", head, tail, video, hole);
    std::error_code ec;
    if ((flags & 1u) != 0) {
        // b continues a: a's trailer split time opens it, a's header split time closes it.
        Bytes fullHead(std::max<std::size_t>(head.size(), kFileHeaderSize), 0);
        std::copy(head.begin(), head.end(), fullHead.begin());
        std::array<std::uint8_t, 4> trailerSplit{};
        if (tail.size() >= kTrailerSize) {
            std::copy_n(tail.end() - kTrailerSize + kSplitTimeOffset, 4, trailerSplit.begin());
        }
        const std::uint8_t* headerSplit = fullHead.data() + kSplitTimeOffset;
        const Bytes bTail =
            tail.size() >= kTrailerSize
                ? Patched(tail, tail.size() - kTrailerSize + kSplitTimeOffset, headerSplit)
                : Bytes(tail.begin(), tail.end());
        const Bytes bHead = Patched(fullHead, kSplitTimeOffset, trailerSplit.data());
        const Bytes bVid = Patched(video, kSplitTimeOffset, trailerSplit.data());
        WritePair(folder, "b", bHead, bTail, bVid, hole);
    } else {
        fs::remove(folder / "b.idx", ec);
        fs::remove(folder / "b.vid", ec);
    }

    // The listing, the chain, the calendar's stretches and the segments over the chain.
    const auto listed = ScanFolder(folder, (flags & 2u) != 0);
    TAVIRO_FUZZ_CHECK(listed.size() <= 2);
    for (const IndexFile& file : listed) {
        CheckIndex(file);
    }
    const auto chained = ChainFiles(listed);
    TAVIRO_FUZZ_CHECK(chained.size() == listed.size());
    for (const IndexFile& file : listed) {
        TAVIRO_FUZZ_CHECK(std::count_if(chained.begin(), chained.end(), [&](const IndexFile& c) {
                              return c.idx == file.idx;
                          }) == 1);
    }
    std::size_t blocks = 0;
    for (const IndexFile& file : chained) {
        blocks += file.blocks.size();
    }
    const auto stretches = Stretches(chained);
    TAVIRO_FUZZ_CHECK(stretches.size() <= 16 * blocks);
    for (const ArchiveStretch& s : stretches) {
        TAVIRO_FUZZ_CHECK(s.channel >= 0 && s.channel < 16 && s.start <= s.end && s.start != 0);
    }
    if (!chained.empty()) {
        const std::uint32_t earliest = chained.front().summary.earliest;
        for (const std::uint32_t requested : {0u, earliest, 0xFFFF'FFFFu}) {
            CheckSegments(BuildSegments(chained, requested), chained);
        }
    }

    // The pair itself: its index read alone, the .vid walked, the verifier.
    CheckPair(folder / "a.idx", offsetFromStart);

    CheckBookmarks(bookmarks, scratch.Bookmarks());
    return 0;
}
