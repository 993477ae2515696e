#include "archive/backup_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "platform/storage.h"
#include "stream/stream_records.h"

namespace taviro::archive {

namespace {

constexpr std::size_t kVideoHeader = stream::kStreamFrameHeaderSize;  // 192
constexpr std::size_t kAudioHeader = stream::kAudioBlockHeaderSize;   // 64
// Events waiting for a later pair: more than two pairs' worth is never needed.
constexpr std::size_t kMaxPendingEvents = 2 * kMaxEvents;
// Names tried after the one of the current second before giving up.
constexpr int kNameAttempts = 100'000;

std::string HexName(std::uint32_t number) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%x", number);
    return text.data();
}

}  // namespace

RecordKind KindOfRecord(std::span<const std::uint8_t> record, int productType) {
    if (record.size() < stream::kKindOffset + 4) {
        return RecordKind::Unknown;
    }
    const std::uint32_t word =
        Load32(record.data() + stream::kKindOffset, HeaderOrderFor(productType));
    switch (word) {
        case stream::ENC_HEADER_TYPE_VIDEO:
            return RecordKind::Video;
        case stream::ENC_HEADER_TYPE_AUDIO:
            return RecordKind::Audio;
        case stream::HEAD_TYPE_EVTLOG:
            return RecordKind::EventLog;
        default:
            return RecordKind::Unknown;
    }
}

CBackupWriter::CBackupWriter(WriterOptions options)
    : m_options(std::move(options)),
      m_order(HeaderOrderFor(m_options.productType)),
      m_signature(SignatureFor(m_options.productType)) {
    if (m_options.splitBytes == 0) {
        m_options.splitBytes = kDefaultSplitBytes;
    }
}

CBackupWriter::~CBackupWriter() {
    if (m_bOpen) {
        Close();
    }
}

std::int64_t CBackupWriter::Now() const {
    if (m_options.clock) {
        return m_options.clock();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool CBackupWriter::Fail(const std::filesystem::path& path, const std::string& reason) {
    if (!m_bFailed) {
        m_bFailed = true;
        m_error = "Could not write " + path.string() + ": " + reason;
    }
    return false;
}

bool CBackupWriter::Open() {
    return !m_bOpen && !m_bFailed && MakeFileOpen(0);
}

void CBackupWriter::ResetBlock() {
    m_block = Block{};
    m_block.fields.signature = m_signature;
}

bool CBackupWriter::MakeFileOpen(std::uint32_t splitTime) {
    std::error_code ec;
    if (!platform::EnsureFolder(m_options.folder)) {
        return Fail(m_options.folder, "the folder cannot be created");
    }
    // Both names come from the current second; a pair never replaces existing files, so a
    // name in use moves on to the next number.
    auto number = static_cast<std::uint32_t>(Now());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt, ++number) {
        const std::filesystem::path idx = m_options.folder / (HexName(number) + ".idx");
        const std::filesystem::path vid = m_options.folder / (HexName(number) + ".vid");
        if (std::filesystem::exists(idx, ec) || std::filesystem::exists(vid, ec)) {
            continue;
        }
        CFile idxFile = CFile::CreateNew(idx);
        if (!idxFile.IsOpen()) {
            if (std::filesystem::exists(idx, ec)) {
                continue;  // taken meanwhile
            }
            return Fail(idx, idxFile.Error());
        }
        CFile vidFile = CFile::CreateNew(vid);
        if (!vidFile.IsOpen()) {
            idxFile.Close();
            std::filesystem::remove(idx, ec);
            if (std::filesystem::exists(vid, ec)) {
                continue;
            }
            return Fail(vid, vidFile.Error());
        }
        if (m_options.vidSpaceLimit != 0) {
            vidFile.LimitWrites(m_options.vidSpaceLimit, ENOSPC);
        }
        m_idx = std::move(idxFile);
        m_vid = std::move(vidFile);
        m_pair = PairSummary{};
        m_pair.idx = idx;
        m_pair.vid = vid;
        m_pair.headerSplit = splitTime;
        break;
    }
    if (!m_idx.IsOpen()) {
        return Fail(m_options.folder, "no free file name");
    }
    m_bOpen = true;

    const auto header = EncodeFileHeader(FileHeader{m_signature, kFileMagic, splitTime});
    // The fixed part of the index is written out in full now, so that blocks, events and
    // the summary later go into space the file already has.
    std::vector<std::uint8_t> fixed(kEntryListOffset, 0);
    std::copy(header.begin(), header.end(), fixed.begin());
    if (!m_idx.WriteAt(0, fixed)) {
        return Fail(m_pair.idx, m_idx.Error());
    }
    if (!m_vid.WriteAt(0, header)) {
        return Fail(m_pair.vid, m_vid.Error());
    }
    m_nVidEnd = kFileHeaderSize;
    m_nEntryEnd = kEntryListOffset;
    m_nPrevVideo = kFirstRecordOffset;
    m_nLatestAudio = 0;
    m_nLastVideo = 0;
    m_nLastEntryTime = -1;
    m_firstTime.reset();
    m_nLastTime = 0;
    m_blockTimes.clear();
    ResetBlock();
    return true;
}

bool CBackupWriter::SaveIdxBlockFile() {
    if (m_blockTimes.size() >= kMaxBlocks) {
        return true;  // the table is full; the pair is split before this can happen
    }
    IdxBlock& b = m_block.fields;
    b.end = m_nLastTime;
    b.channelMask = b.videoMask;
    b.audioMask = m_nLastAudioMask;
    b.raw48 = m_lastRaw48;
    const auto bytes = EncodeBlock(b, m_order);
    const std::uint64_t at = kBlockTableOffset + kBlockSize * m_blockTimes.size();
    if (!m_idx.WriteAt(at, bytes)) {
        return Fail(m_pair.idx, m_idx.Error());
    }
    m_blockTimes.emplace_back(b.start, b.end);
    b.kinds.fill(0);
    return true;
}

bool CBackupWriter::AppendEntry(std::uint32_t videoOffset) {
    const auto bytes = EncodeEntry(IdxSecondEntry{videoOffset, m_nLatestAudio});
    if (!m_idx.WriteAt(m_nEntryEnd, bytes)) {
        return Fail(m_pair.idx, m_idx.Error());
    }
    m_nEntryEnd += kEntrySize;
    return true;
}

bool CBackupWriter::Write(RecordKind kind, std::span<const std::uint8_t> record) {
    if (m_bFailed) {
        return false;
    }
    if (!m_bOpen) {
        if (!m_nPendingSplit || !MakeFileOpen(*m_nPendingSplit)) {
            return false;
        }
        m_nPendingSplit.reset();
    }
    switch (kind) {
        case RecordKind::Video:
            return WriteVideo(record);
        case RecordKind::Audio:
            return WriteAudio(record);
        case RecordKind::EventLog:
            TakeEvents(record);
            return true;
        case RecordKind::Unknown:
            ++m_stats.unknown;
            return true;
    }
    return true;
}

bool CBackupWriter::WriteVideo(std::span<const std::uint8_t> record) {
    if (record.size() < kVideoHeader) {
        ++m_stats.dropped;
        return true;
    }
    std::array<std::uint8_t, kVideoHeader> header{};
    std::copy_n(record.begin(), kVideoHeader, header.begin());
    const std::uint32_t time = Load32(header.data() + 24, m_order);
    const std::uint32_t length = Load32(header.data() + 28, m_order);
    if (length > record.size() - kVideoHeader) {
        // The record holds less than its header states: a reader could not walk past it.
        ++m_stats.dropped;
        return true;
    }
    const auto encoder = stream::ParseEncoderHeader(std::span(header).subspan(128));
    const unsigned channel = encoder ? (encoder->channel & 0x0Fu) : 0u;
    const std::uint32_t key = Load32(header.data() + 40, m_order);
    const bool exempt = header[52] != 0;

    IdxBlock& b = m_block.fields;
    // A frame whose byte 52 is set never opens or closes a block, whatever its key. One
    // that comes before the pair's first block (the recorder sends one with the block's
    // first key frame) is counted in the block the next keyed frame opens, which then
    // starts at it.
    const bool opens = !exempt && (!m_block.open || static_cast<std::int64_t>(key) != m_block.key);
    const bool leadIn = !m_block.open && m_block.leadIn;
    if (exempt && !m_block.open && !m_block.leadIn) {
        m_block.leadIn = true;
        b.start = time;
        b.firstEntry = static_cast<std::uint32_t>(m_nEntryEnd);
        m_block.justStarted = true;
    }
    if (opens) {
        if (m_block.open) {
            if (m_blockTimes.size() + 1 >= kMaxBlocks) {
                // The block being closed is the last the table holds: the new one starts
                // the next pair.
                if (!Split() || !MakeFileOpen(*m_nPendingSplit)) {
                    return false;
                }
                m_nPendingSplit.reset();
            } else {
                if (!SaveIdxBlockFile()) {
                    return false;
                }
                ResetBlock();
            }
        }
        m_block.open = true;
        m_block.key = static_cast<std::int64_t>(key);
        if (!leadIn) {
            b.start = time;
            b.firstEntry = static_cast<std::uint32_t>(m_nEntryEnd);
            m_block.justStarted = true;
        }
    }
    const std::uint64_t size = kVideoHeader + static_cast<std::uint64_t>(length);
    b.videoMask |= 1u << channel;
    b.videoBytes[channel] += static_cast<std::uint32_t>(size);
    b.kinds[channel] |= header[50];

    const std::uint64_t offset = m_nVidEnd;
    if (offset > 0xFFFFFFFFu - size) {
        return Fail(m_pair.vid, "the file is too large for its index");
    }
    Store32(header.data() + 32, m_nPrevVideo, m_order);
    if (!m_vid.WriteAt(offset, header, record.subspan(kVideoHeader, length))) {
        return Fail(m_pair.vid, m_vid.Error());
    }
    m_nVidEnd += size;
    m_nBytes += size;
    m_nPrevVideo = static_cast<std::uint32_t>(offset);
    m_nLastVideo = static_cast<std::uint32_t>(offset);
    std::copy_n(header.begin() + 48, 4, m_lastRaw48.begin());
    if (!m_firstTime) {
        m_firstTime = time;
    }
    m_nLastTime = time;
    ++m_pair.videoFrames;

    if (static_cast<std::int64_t>(time) != m_nLastEntryTime || m_block.justStarted) {
        if (!AppendEntry(static_cast<std::uint32_t>(offset))) {
            return false;
        }
        m_nLastEntryTime = time;
        m_block.justStarted = false;
    }
    if (offset > m_options.splitBytes) {
        if (!Split()) {
            return false;
        }
    }
    return true;
}

bool CBackupWriter::WriteAudio(std::span<const std::uint8_t> record) {
    if (record.size() < kAudioHeader) {
        ++m_stats.dropped;
        return true;
    }
    std::array<std::uint8_t, kAudioHeader> header{};
    std::copy_n(record.begin(), kAudioHeader, header.begin());
    const std::uint32_t length = Load32(header.data() + 28, m_order);
    if (length > record.size() - kAudioHeader) {
        ++m_stats.dropped;
        return true;
    }
    const std::uint64_t offset = m_nVidEnd;
    const std::uint64_t size = kAudioHeader + static_cast<std::uint64_t>(length);
    if (offset > 0xFFFFFFFFu - size) {
        return Fail(m_pair.vid, "the file is too large for its index");
    }
    Store32(header.data() + 32, m_nPrevVideo, m_order);
    if (!m_vid.WriteAt(offset, header, record.subspan(kAudioHeader, length))) {
        return Fail(m_pair.vid, m_vid.Error());
    }
    m_nVidEnd += size;
    m_nBytes += size;
    m_nLatestAudio = static_cast<std::uint32_t>(offset);
    ++m_pair.audioBlocks;

    // Only the 16 channels there are; a block without channels leaves the shares alone.
    const std::uint32_t mask = Load32(header.data() + 52, m_order) & 0xFFFFu;
    m_nLastAudioMask = mask;
    const int count = std::popcount(mask);
    if (count > 0) {
        for (unsigned c = 0; c < 16; ++c) {
            if ((mask >> c) & 1u) {
                m_block.fields.audioShare[c] =
                    static_cast<std::uint32_t>(size / static_cast<std::uint64_t>(count));
            }
        }
    }
    return true;
}

void CBackupWriter::TakeEvents(std::span<const std::uint8_t> record) {
    if (record.size() < kAudioHeader) {
        ++m_stats.dropped;
        return;
    }
    std::uint32_t stated = 0;
    if (m_options.productType == 3 || m_options.productType == 5) {
        stated = Load32(record.data() + 28, m_order);
    }
    // Only the whole records that are really there.
    const std::size_t available = record.size() - kAudioHeader;
    const std::size_t count = std::min<std::size_t>(stated, available) / kEventRecordSize;
    for (std::size_t i = 0; i < count; ++i) {
        if (m_events.size() >= kMaxPendingEvents) {
            m_stats.eventsDropped += count - i;
            return;
        }
        EventBytes bytes{};
        std::copy_n(
            record.begin() + static_cast<std::ptrdiff_t>(kAudioHeader + i * kEventRecordSize),
            kEventRecordSize, bytes.begin());
        m_events.push_back(bytes);
    }
}

bool CBackupWriter::Split() {
    // Split times chain a pair to the next one, so two splits never share a value.
    const auto now = static_cast<std::uint32_t>(Now());
    const std::uint32_t splitTime = std::max(now, m_nLastSplit + 1);
    m_nLastSplit = splitTime;
    if (!MakeFileClose(splitTime)) {
        return false;
    }
    // The next pair is opened by the next record, so a backup that ends here leaves no
    // empty pair behind.
    m_nPendingSplit = splitTime;
    return true;
}

bool CBackupWriter::MakeFileClose(std::uint32_t splitTime) {
    if (!m_bOpen) {
        return true;
    }
    bool ok = SaveIdxBlockFile();

    // The events of this pair's span, packed from the table's start; the rest wait for the
    // next pair (a split) or are let go with the backup's end.
    std::vector<std::uint8_t> table;
    std::deque<EventBytes> later;
    for (const EventBytes& e : m_events) {
        const std::uint32_t start = DecodeEvent(e, m_order).start;
        const bool inSpan = m_firstTime && start >= *m_firstTime && start < m_nLastTime;
        if (inSpan && table.size() < static_cast<std::size_t>(kMaxEvents) * kEventRecordSize) {
            table.insert(table.end(), e.begin(), e.end());
        } else {
            later.push_back(e);
        }
    }
    m_events = splitTime != 0 ? std::move(later) : std::deque<EventBytes>{};
    m_pair.events = static_cast<std::uint32_t>(table.size() / kEventRecordSize);
    if (ok && !table.empty() && !m_idx.WriteAt(kEventTableOffset, table)) {
        ok = Fail(m_pair.idx, m_idx.Error());
    }

    // After a failure the .vid ends at its last whole record; the trailers still go on so
    // that what was written stays readable.
    if (m_bFailed) {
        m_vid.Truncate(m_nVidEnd);
    }
    const auto vidTrailer = EncodeVidTrailer(Trailer{m_signature, kTrailerMagic, m_nLastVideo});
    if (!m_vid.WriteAt(m_nVidEnd, vidTrailer)) {
        ok = Fail(m_pair.vid, m_vid.Error());
    }

    IdxSummary summary;
    summary.signature = m_signature;
    summary.blocks = static_cast<std::uint32_t>(m_blockTimes.size());
    for (const auto& [start, end] : m_blockTimes) {
        if (start != 0 && (summary.earliest == 0 || start < summary.earliest)) {
            summary.earliest = start;
        }
        summary.latest = std::max(summary.latest, end);
    }
    if (!m_idx.WriteAt(kSummaryOffset, EncodeSummary(summary, m_order))) {
        ok = Fail(m_pair.idx, m_idx.Error());
    }
    const auto idxTrailer = EncodeIdxTrailer(Trailer{m_signature, kTrailerMagic, splitTime});
    if (!m_idx.WriteAt(m_nEntryEnd, idxTrailer)) {
        ok = Fail(m_pair.idx, m_idx.Error());
    }
    if (!m_vid.Sync()) {
        ok = Fail(m_pair.vid, m_vid.Error());
    }
    if (!m_idx.Sync()) {
        ok = Fail(m_pair.idx, m_idx.Error());
    }
    m_idx.Close();
    m_vid.Close();
    m_bOpen = false;
    m_pair.blocks = summary.blocks;
    m_pair.trailerSplit = splitTime;
    m_pair.complete = ok && !m_bFailed;
    m_pairs.push_back(m_pair);
    return ok && !m_bFailed;
}

bool CBackupWriter::Close() {
    m_nPendingSplit.reset();
    if (!m_bOpen) {
        return !m_bFailed;
    }
    return MakeFileClose(0);
}

}  // namespace taviro::archive
