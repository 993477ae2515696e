// Reading backup pairs back: the index of one pair, the listing of a folder, the chaining
// of pairs split from one backup, the playback segments (one per index block) and the
// records of a .vid forwards (ReadIndex) and backwards (ReadIndexRvs). The local player,
// the calendar of the local archive, the export and the verifier all read through here.
//
// Every number in a file is taken as hostile: counts are bounded by what the file can hold,
// offsets by the file's size and the part they belong to, back-links must point before the
// record they come from, and a record must lie whole before its segment's end.
//
// Threads: pure functions and objects owned by one thread each.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "archive/file_io.h"
#include "stream/stream_records.h"

namespace taviro::archive {

// The listing stops after this many index files.
inline constexpr std::size_t kMaxListedFiles = 100'000;

struct IndexFile {
    std::filesystem::path idx;
    std::filesystem::path vid;
    FileHeader header;
    IdxSummary summary;
    std::vector<IdxBlock> blocks;  // the summary's count, at most the table's 4096
    std::uint32_t trailerSplit = 0;
    bool hasTrailer = false;
    std::uint64_t entryEnd = 0;  // the entry list is [kEntryListOffset, entryEnd)
    std::uint64_t idxSize = 0;
};

// The header, summary, blocks and trailer of one .idx (the .vid beside it by name). Nothing
// when the file is shorter than its fixed part or its header magic is wrong; `error` says
// why.
std::optional<IndexFile> ReadIndexFile(const std::filesystem::path& idx,
                                       std::string* error = nullptr);
// The entry at `offset`, when it lies in the list on an entry boundary.
std::optional<IdxSecondEntry> ReadEntry(CFile& idx, const IndexFile& file, std::uint64_t offset);
// The event table: at most 32,768 records, up to the first with channel mask 0.
std::vector<IdxEvent> ReadEvents(CFile& idx);

// The pairs of `folder` whose signature is the type-3 one (the first nine characters,
// lower-cased; `exact`: all nine as they are), in no particular order. At most
// kMaxListedFiles index files are looked at.
std::vector<IndexFile> ScanFolder(const std::filesystem::path& folder, bool exact = false);
// Sorted by earliest start, each pair followed by the one that continues it (its header
// split time, never 0, equals this pair's trailer split time).
std::vector<IndexFile> ChainFiles(std::vector<IndexFile> files);

// What the calendar and the day timeline draw: one stretch per channel of each block.
struct ArchiveStretch {
    int channel = 0;
    std::uint8_t kinds = 0;  // bit 0 continuous, bit 1 event
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};
std::vector<ArchiveStretch> Stretches(std::span<const IndexFile> files);

struct PlaySegment {
    bool hasAudio = false;
    std::uint32_t blockIndex = 0;
    std::filesystem::path vidPath;
    std::filesystem::path idxPath;
    std::uint32_t startTime = 0;
    std::uint32_t positionTime = 0;
    std::uint32_t endTime = 0;
    std::uint64_t positionOffset = 0;
    std::uint32_t channelMask = 0;
    std::uint32_t audioMask = 0;
    std::uint64_t firstOffset = 0;
    std::uint64_t endOffset = 0;
    std::uint32_t firstEntry = 0;  // .idx offset of the block's first entry
    std::uint64_t entryEnd = 0;    // end of the pair's entry list
    std::uint32_t lastVideo = 0;   // the .vid trailer's last video record (last block only)
    bool joinedToPrevious = false;
    bool joinedToNext = false;
};

// The segments of chained pairs for a playback that starts at `requested`: the block that
// holds it starts at the first entry whose frame is at or after it. Blocks whose offsets do
// not fit their files are left out.
std::vector<PlaySegment> BuildSegments(std::span<const IndexFile> chained, std::uint32_t requested);
// The first segment that ends at or after `requested` (its last second holds frames of
// that second too); nothing when every one ends before.
std::optional<std::size_t> FirstSegmentAfter(std::span<const PlaySegment> segments,
                                             std::uint32_t requested);

// Accepted picture sizes of the local player.
bool AcceptedResolution(int width, int height);

struct VidRecord {
    enum class Kind { Video, Audio };
    Kind kind = Kind::Video;
    std::uint64_t offset = 0;
    std::uint64_t payloadOffset = 0;
    std::uint32_t payloadLength = 0;
    bool accepted = false;  // a video frame of an accepted size (audio: always)
    std::array<std::uint8_t, stream::kStreamFrameHeaderSize> raw{};  // audio: the first 64
    stream::StreamFrameHeader video;
    stream::AudioBlockHeader audio;
    [[nodiscard]] std::uint64_t End() const { return payloadOffset + payloadLength; }
};

// The longest payload a record of the kind can have (kMaxFramePayload, kMaxAudioPayload).
std::uint32_t MaxPayload(VidRecord::Kind kind);

// The record whose first bytes are `head` (up to a video header's worth), at `offset`, with
// `available` bytes from its start to the end of what holds it (a block, a file or a
// transfer record); nothing when its header cannot be read or its payload is longer than
// its kind can hold or than what is available.
std::optional<VidRecord> ParseRecord(std::span<const std::uint8_t> head, std::uint64_t offset,
                                     std::uint64_t available);

class CVidReader {
  public:
    bool Open(const std::filesystem::path& vid);
    void Close() { m_file.Close(); }
    [[nodiscard]] bool IsOpen() const { return m_file.IsOpen(); }
    [[nodiscard]] std::uint64_t Size() const { return m_nSize; }

    // The record at `offset`; nothing when it does not lie whole before `limit`, its
    // header cannot be read or its payload is longer than its kind can hold.
    std::optional<VidRecord> ReadIndex(std::uint64_t offset, std::uint64_t limit);
    // The video record `from` links back to; nothing when the link is below `floor` (at
    // least 64) or does not point before `from`.
    std::optional<VidRecord> ReadIndexRvs(const VidRecord& from, std::uint64_t floor);
    // The record's payload into `out` (resized); false when it cannot be read or is longer
    // than its kind can hold.
    bool ReadPayload(const VidRecord& record, std::vector<std::uint8_t>& out);

  private:
    CFile m_file;
    std::uint64_t m_nSize = 0;
};

}  // namespace taviro::archive
