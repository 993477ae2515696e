// CBackupWriter: turns the records of a backup transfer into .vid/.idx pairs (layouts in
// backup_format.h). Video frames and audio blocks are appended to the .vid with their
// back-links; the .idx gets a per-second entry for the first frame of each second and of
// each block, an index block whenever the recorder's block key changes, the events of the
// pair's span and the summary. A pair is closed and the next one opened (with the split
// time in both) when a video record starts beyond the split size, or when the block table
// is full.
//
// Nothing written is ever replaced: a name that exists is skipped for the next free one.
// Every write is checked; the first failure stops the writer, the pair is closed readable
// up to its last whole record, and Error() names the file and the reason.
//
// Threads: one thread (the backup's writer thread) calls everything; the object owns its
// files.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/backup_format.h"
#include "archive/file_io.h"
#include "archive/transfer_writer.h"

namespace taviro::archive {

// What a transfer record is, by the word at its offset 16 (read in the product type's order).
RecordKind KindOfRecord(std::span<const std::uint8_t> record, int productType);

struct WriterOptions {
    std::filesystem::path folder;  // created with its parents when missing
    int productType = 3;
    std::uint64_t splitBytes = kDefaultSplitBytes;
    // Calendar time in seconds (file names and split times); the system clock when empty.
    std::function<std::int64_t()> clock;
    // A disk that fills up: a .vid write beyond this many bytes fails with ENOSPC (the
    // failure paths' tests); 0 for none.
    std::uint64_t vidSpaceLimit = 0;
};

// One pair the writer closed.
struct PairSummary {
    std::filesystem::path idx;
    std::filesystem::path vid;
    std::uint64_t videoFrames = 0;
    std::uint64_t audioBlocks = 0;
    std::uint32_t blocks = 0;
    std::uint32_t events = 0;
    std::uint32_t headerSplit = 0;   // the split that opened it (0: the first pair)
    std::uint32_t trailerSplit = 0;  // the split that closed it (0: the backup ended)
    bool complete = true;            // false: closed after a write failure
};

struct WriterStats {
    std::uint64_t dropped = 0;  // records too short for their headers or their stated payload
    std::uint64_t unknown = 0;
    std::uint64_t eventsDropped = 0;  // beyond the pending list's bound
};

class CBackupWriter final : public ITransferWriter {
  public:
    explicit CBackupWriter(WriterOptions options);
    ~CBackupWriter() override;
    CBackupWriter(const CBackupWriter&) = delete;
    CBackupWriter& operator=(const CBackupWriter&) = delete;

    // MakeFileOpen of the first pair.
    bool Open() override;
    // One whole record of the transfer. False once the writer has failed.
    bool Write(RecordKind kind, std::span<const std::uint8_t> record) override;
    // MakeFileClose of the open pair (the backup ended). False when it could not be
    // finished; the pair is then closed as far as it could be.
    bool Close();
    // A backup cut short is kept as far as it came: the pair is closed readable either way.
    bool End(bool /*complete*/) override { return Close(); }

    [[nodiscard]] bool Failed() const override { return m_bFailed; }
    [[nodiscard]] const std::string& Error() const override { return m_error; }
    [[nodiscard]] const std::vector<PairSummary>& Pairs() const { return m_pairs; }
    [[nodiscard]] const WriterStats& Stats() const { return m_stats; }
    // Bytes of records written to .vid files so far.
    [[nodiscard]] std::uint64_t BytesWritten() const override { return m_nBytes; }

  private:
    struct Block {
        bool open = false;
        bool justStarted = false;
        bool leadIn = false;  // exempt frames counted before the block is opened
        std::int64_t key = -1;
        IdxBlock fields;
    };

    bool MakeFileOpen(std::uint32_t splitTime);
    bool MakeFileClose(std::uint32_t splitTime);
    bool SaveIdxBlockFile();
    bool WriteVideo(std::span<const std::uint8_t> record);
    bool WriteAudio(std::span<const std::uint8_t> record);
    void TakeEvents(std::span<const std::uint8_t> record);
    bool AppendEntry(std::uint32_t videoOffset);
    bool Split();
    void ResetBlock();
    bool Fail(const std::filesystem::path& path, const std::string& reason);
    std::int64_t Now() const;

    WriterOptions m_options;
    Order m_order;
    Signature m_signature;

    CFile m_idx;
    CFile m_vid;
    PairSummary m_pair;
    bool m_bOpen = false;
    std::uint64_t m_nVidEnd = 0;    // end of the last whole record
    std::uint64_t m_nEntryEnd = 0;  // .idx append position of the entry list
    std::uint32_t m_nPrevVideo = kFirstRecordOffset;
    std::uint32_t m_nLatestAudio = 0;
    std::uint32_t m_nLastVideo = 0;  // offset of the last video record (the .vid trailer)
    std::int64_t m_nLastEntryTime = -1;
    std::optional<std::uint32_t> m_firstTime;  // of the pair's first and last video frames
    std::uint32_t m_nLastTime = 0;
    std::array<std::uint8_t, 4> m_lastRaw48{};
    std::uint32_t m_nLastAudioMask = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_blockTimes;  // saved blocks
    Block m_block;

    std::deque<EventBytes> m_events;  // waiting for the pair whose span holds them
    std::uint32_t m_nLastSplit = 0;
    std::optional<std::uint32_t> m_nPendingSplit;  // closed by a split; the next opens
    std::uint64_t m_nBytes = 0;

    std::vector<PairSummary> m_pairs;
    WriterStats m_stats;
    bool m_bFailed = false;
    std::string m_error;
};

}  // namespace taviro::archive
