#include "archive/backup_reader.h"

#include <algorithm>
#include <map>
#include <system_error>

#include "protocol/byte_order.h"

namespace taviro::archive {

namespace {

constexpr std::size_t kVideoHeader = stream::kStreamFrameHeaderSize;
constexpr std::size_t kAudioHeader = stream::kAudioBlockHeaderSize;

void SetError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

// The time of the video frame an entry points to, when it can be read.
std::optional<std::uint32_t> FrameTimeAt(CVidReader& vid, std::uint64_t offset,
                                         std::uint64_t limit) {
    const auto record = vid.ReadIndex(offset, limit);
    if (!record || record->kind != VidRecord::Kind::Video) {
        return std::nullopt;
    }
    return record->video.frameTime;
}

}  // namespace

std::optional<IndexFile> ReadIndexFile(const std::filesystem::path& idx, std::string* error) {
    CFile file = CFile::OpenRead(idx);
    if (!file.IsOpen()) {
        SetError(error, file.Error());
        return std::nullopt;
    }
    IndexFile out;
    out.idx = idx;
    out.vid = idx;
    out.vid.replace_extension(".vid");
    out.idxSize = file.Size();
    if (out.idxSize < kEntryListOffset) {
        SetError(error, "shorter than an index");
        return std::nullopt;
    }
    std::array<std::uint8_t, kFileHeaderSize + kSummarySize> head{};
    if (!file.ReadAt(0, head)) {
        SetError(error, "unreadable header");
        return std::nullopt;
    }
    const auto header = DecodeFileHeader(head);
    if (!header || header->magic != kFileMagic) {
        SetError(error, "not a backup index (wrong magic)");
        return std::nullopt;
    }
    out.header = *header;
    out.summary = *DecodeSummary(std::span(head).subspan(kSummaryOffset));

    // A trailer is the last 64 bytes when they carry its magic; the entry list ends there.
    std::array<std::uint8_t, kTrailerSize> tail{};
    out.entryEnd = out.idxSize;
    if (out.idxSize >= kEntryListOffset + kTrailerSize &&
        file.ReadAt(out.idxSize - kTrailerSize, tail)) {
        const auto trailer = DecodeIdxTrailer(tail);
        if (trailer && trailer->magic == kTrailerMagic &&
            (out.idxSize - kTrailerSize - kEntryListOffset) % kEntrySize == 0) {
            out.hasTrailer = true;
            out.trailerSplit = trailer->value;
            out.entryEnd = out.idxSize - kTrailerSize;
        }
    }
    // Without a trailer only whole entries count.
    out.entryEnd -= (out.entryEnd - kEntryListOffset) % kEntrySize;

    const std::uint32_t count = std::min(out.summary.blocks, kMaxBlocks);
    if (count > 0) {
        std::vector<std::uint8_t> table(static_cast<std::size_t>(count) * kBlockSize);
        if (!file.ReadAt(kBlockTableOffset, table)) {
            SetError(error, "unreadable block table");
            return std::nullopt;
        }
        out.blocks.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i) {
            out.blocks.push_back(
                *DecodeBlock(std::span(table).subspan(i * kBlockSize, kBlockSize)));
        }
    }
    return out;
}

std::optional<IdxSecondEntry> ReadEntry(CFile& idx, const IndexFile& file, std::uint64_t offset) {
    if (offset < kEntryListOffset || offset + kEntrySize > file.entryEnd ||
        (offset - kEntryListOffset) % kEntrySize != 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kEntrySize> bytes{};
    if (!idx.ReadAt(offset, bytes)) {
        return std::nullopt;
    }
    return DecodeEntry(bytes);
}

std::vector<IdxEvent> ReadEvents(CFile& idx) {
    std::vector<IdxEvent> events;
    constexpr std::size_t kChunk = 1024;  // records per read
    std::vector<std::uint8_t> buffer(kChunk * kEventRecordSize);
    for (std::size_t first = 0; first < kMaxEvents; first += kChunk) {
        if (!idx.ReadAt(kEventTableOffset + first * kEventRecordSize, buffer)) {
            return events;
        }
        for (std::size_t i = 0; i < kChunk; ++i) {
            EventBytes bytes{};
            std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(i * kEventRecordSize),
                        kEventRecordSize, bytes.begin());
            const IdxEvent event = DecodeEvent(bytes);
            if (event.mask == 0) {
                return events;
            }
            events.push_back(event);
        }
    }
    return events;
}

std::vector<IndexFile> ScanFolder(const std::filesystem::path& folder, bool exact) {
    std::vector<IndexFile> files;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    std::size_t looked = 0;
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const auto& path = it->path();
        if (path.extension() != ".idx" || !it->is_regular_file(ec)) {
            continue;
        }
        if (++looked > kMaxListedFiles) {
            break;
        }
        auto file = ReadIndexFile(path);
        if (!file) {
            continue;
        }
        const bool match = exact ? std::equal(kSignatureType3.begin(), kSignatureType3.end(),
                                              file->header.signature.begin())
                                 : IsType3Signature(file->header.signature);
        if (match) {
            files.push_back(std::move(*file));
        }
    }
    return files;
}

std::vector<IndexFile> ChainFiles(std::vector<IndexFile> files) {
    std::stable_sort(files.begin(), files.end(), [](const IndexFile& a, const IndexFile& b) {
        return a.summary.earliest < b.summary.earliest;
    });
    // The continuation of each trailer split time (the first such file in time order).
    std::map<std::uint32_t, std::size_t> continuing;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].header.splitTime != 0) {
            continuing.emplace(files[i].header.splitTime, i);
        }
    }
    std::vector<bool> placed(files.size(), false);
    std::vector<bool> isContinuation(files.size(), false);
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].trailerSplit == 0) {
            continue;
        }
        const auto next = continuing.find(files[i].trailerSplit);
        if (next != continuing.end() && next->second != i) {
            isContinuation[next->second] = true;
        }
    }
    std::vector<IndexFile> out;
    out.reserve(files.size());
    const auto placeChain = [&](std::size_t i) {
        while (!placed[i]) {
            placed[i] = true;
            out.push_back(files[i]);
            if (files[i].trailerSplit == 0) {
                return;
            }
            const auto next = continuing.find(files[i].trailerSplit);
            if (next == continuing.end()) {
                return;
            }
            i = next->second;
        }
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!isContinuation[i]) {
            placeChain(i);
        }
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        placeChain(i);  // what only a loop of split times reaches
    }
    return out;
}

std::vector<ArchiveStretch> Stretches(std::span<const IndexFile> files) {
    std::vector<ArchiveStretch> out;
    for (const IndexFile& file : files) {
        for (const IdxBlock& block : file.blocks) {
            if (block.magic != kBlockMagic || block.start == 0 || block.end < block.start) {
                continue;
            }
            const std::uint32_t mask = block.channelMask & block.videoMask;
            for (int c = 0; c < 16; ++c) {
                if ((mask >> c) & 1u) {
                    out.push_back(ArchiveStretch{c, block.kinds[static_cast<std::size_t>(c)],
                                                 block.start, block.end});
                }
            }
        }
    }
    return out;
}

std::vector<PlaySegment> BuildSegments(std::span<const IndexFile> chained,
                                       std::uint32_t requested) {
    std::vector<PlaySegment> segments;
    bool positioned = false;
    for (std::size_t f = 0; f < chained.size(); ++f) {
        const IndexFile& file = chained[f];
        CFile idx = CFile::OpenRead(file.idx);
        CVidReader vid;
        if (!idx.IsOpen() || !vid.Open(file.vid)) {
            continue;  // a pair without its .vid is left out
        }
        // The .vid ends at its trailer when it has one, else where the file ends.
        std::uint64_t vidEnd = vid.Size();
        std::uint32_t lastVideo = 0;
        std::array<std::uint8_t, kTrailerSize> tail{};
        CFile raw = CFile::OpenRead(file.vid);
        if (vidEnd >= kFileHeaderSize + kTrailerSize && raw.ReadAt(vidEnd - kTrailerSize, tail)) {
            const auto trailer = DecodeVidTrailer(tail);
            if (trailer && trailer->magic == kTrailerMagic) {
                vidEnd -= kTrailerSize;
                lastVideo = trailer->value;
            }
        }
        // The first video offset of every block; blocks whose entry is unreadable or out of
        // order are left out.
        std::vector<std::pair<std::uint32_t, std::uint64_t>> starts;  // block, first offset
        for (std::uint32_t b = 0; b < file.blocks.size(); ++b) {
            const IdxBlock& block = file.blocks[b];
            if (block.magic != kBlockMagic) {
                continue;
            }
            const auto entry = ReadEntry(idx, file, block.firstEntry);
            if (!entry || entry->video < kFirstRecordOffset || entry->video >= vidEnd) {
                continue;
            }
            if (!starts.empty() && entry->video <= starts.back().second) {
                continue;
            }
            starts.emplace_back(b, entry->video);
        }
        const bool continuesPrevious = f > 0 && file.header.splitTime != 0 &&
                                       file.header.splitTime == chained[f - 1].trailerSplit;
        const bool continuedByNext = f + 1 < chained.size() && file.trailerSplit != 0 &&
                                     chained[f + 1].header.splitTime == file.trailerSplit;
        const std::size_t firstOfFile = segments.size();
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const IdxBlock& block = file.blocks[starts[i].first];
            PlaySegment s;
            s.blockIndex = starts[i].first;
            s.vidPath = file.vid;
            s.idxPath = file.idx;
            s.startTime = block.start;
            s.endTime = block.end;
            s.channelMask = block.channelMask & block.videoMask;
            s.audioMask = block.channelMask & block.audioMask;
            s.hasAudio = block.audioMask != 0;
            s.firstOffset = starts[i].second;
            s.endOffset = i + 1 < starts.size() ? starts[i + 1].second : vidEnd;
            s.firstEntry = block.firstEntry;
            s.entryEnd = file.entryEnd;
            s.lastVideo = i + 1 == starts.size() ? lastVideo : 0;
            s.positionTime = block.start;
            s.positionOffset = s.firstOffset;
            if (!positioned && block.start <= requested && requested <= block.end) {
                positioned = true;
                s.positionTime = requested;
                // The first entry whose frame is at or after the requested time.
                for (std::uint64_t at = block.firstEntry;; at += kEntrySize) {
                    const auto entry = ReadEntry(idx, file, at);
                    if (!entry || entry->video >= s.endOffset) {
                        break;
                    }
                    if (entry->video < s.firstOffset) {
                        continue;  // a frame of an earlier block is no position in this one
                    }
                    const auto time = FrameTimeAt(vid, entry->video, s.endOffset);
                    if (time && *time >= requested) {
                        s.positionOffset = entry->video;
                        break;
                    }
                }
            }
            segments.push_back(std::move(s));
        }
        if (segments.size() > firstOfFile) {
            segments[firstOfFile].joinedToPrevious = continuesPrevious;
            segments.back().joinedToNext = continuedByNext;
        }
    }
    return segments;
}

std::optional<std::size_t> FirstSegmentAfter(std::span<const PlaySegment> segments,
                                             std::uint32_t requested) {
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].endTime >= requested) {
            return i;
        }
    }
    return std::nullopt;
}

std::uint32_t MaxPayload(VidRecord::Kind kind) {
    return kind == VidRecord::Kind::Video ? kMaxFramePayload : kMaxAudioPayload;
}

bool AcceptedResolution(int width, int height) {
    const bool low = height == 240 || height == 288;
    const bool high = height == 480 || height == 576;
    if (width == 352 || width == 360) {
        return low;
    }
    if (width == 704 || width == 720) {
        return low || high;
    }
    return false;
}

bool CVidReader::Open(const std::filesystem::path& vid) {
    m_file = CFile::OpenRead(vid);
    m_nSize = m_file.IsOpen() ? m_file.Size() : 0;
    return m_file.IsOpen();
}

std::optional<VidRecord> ParseRecord(std::span<const std::uint8_t> head, std::uint64_t offset,
                                     std::uint64_t available) {
    if (head.size() < kAudioHeader || available < kAudioHeader) {
        return std::nullopt;
    }
    VidRecord record;
    record.offset = offset;
    const std::size_t want = std::min(head.size(), kVideoHeader);
    std::copy_n(head.begin(), want, record.raw.begin());
    const std::uint32_t type = protocol::LoadBE32(record.raw.data() + stream::kKindOffset);
    std::uint64_t headerSize = 0;
    if (type == stream::ENC_HEADER_TYPE_VIDEO) {
        const auto header = stream::ParseStreamFrameHeader(std::span(record.raw).first(want));
        if (!header) {
            return std::nullopt;
        }
        record.kind = VidRecord::Kind::Video;
        record.video = *header;
        headerSize = kVideoHeader;
        record.payloadLength = header->payloadLength;
        record.accepted = AcceptedResolution(header->encoder.Width(), header->encoder.Height());
    } else {
        // Anything else is read as an audio block, as the recorder writes nothing else.
        const auto header = stream::ParsePlayAudioHeader(std::span(record.raw).first(want), 3);
        if (!header) {
            return std::nullopt;
        }
        record.kind = VidRecord::Kind::Audio;
        record.audio = *header;
        headerSize = kAudioHeader;
        record.payloadLength = header->payloadLength;
        record.accepted = true;
    }
    record.payloadOffset = offset + headerSize;
    if (record.payloadLength > MaxPayload(record.kind)) {
        return std::nullopt;  // longer than a record of its kind can be: the pair is damaged
    }
    if (available < headerSize || record.payloadLength > available - headerSize) {
        return std::nullopt;  // it would run past its segment, its file or its buffer
    }
    return record;
}

std::optional<VidRecord> CVidReader::ReadIndex(std::uint64_t offset, std::uint64_t limit) {
    limit = std::min(limit, m_nSize);
    if (offset < kFirstRecordOffset || offset >= limit || limit - offset < kAudioHeader) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kVideoHeader> head{};
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kVideoHeader, limit - offset));
    if (!m_file.ReadAt(offset, std::span(head).first(want))) {
        return std::nullopt;
    }
    return ParseRecord(std::span(head).first(want), offset, limit - offset);
}

std::optional<VidRecord> CVidReader::ReadIndexRvs(const VidRecord& from, std::uint64_t floor) {
    const std::uint32_t link =
        from.kind == VidRecord::Kind::Video ? from.video.backLink : from.audio.backLink;
    floor = std::max<std::uint64_t>(floor, kFirstRecordOffset);
    if (link < floor || link >= from.offset) {
        return std::nullopt;
    }
    auto record = ReadIndex(link, from.offset);
    if (!record || record->kind != VidRecord::Kind::Video) {
        return std::nullopt;
    }
    return record;
}

bool CVidReader::ReadPayload(const VidRecord& record, std::vector<std::uint8_t>& out) {
    if (record.payloadLength > MaxPayload(record.kind)) {
        return false;
    }
    out.resize(record.payloadLength);
    return m_file.ReadAt(record.payloadOffset, out);
}

}  // namespace taviro::archive
