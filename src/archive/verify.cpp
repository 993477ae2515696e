#include "archive/verify.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <optional>
#include <system_error>

#include "archive/backup_format.h"
#include "archive/backup_reader.h"
#include "archive/file_io.h"
#include "protocol/byte_order.h"
#include "stream/stream_records.h"

namespace taviro::archive {

namespace {

constexpr std::size_t kMaxListedTimes = 100;

std::string TimeText(std::uint32_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::array<char, 80> text{};
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return text.data();
}

Order OrderOf(const Signature& signature) {
    return IsType3Signature(signature) ? Order::Big : Order::Little;
}

PairVerdict Damaged(PairVerdict v, std::string problem) {
    v.verdict = Verdict::Damaged;
    v.problem = std::move(problem);
    return v;
}

// Walks every record of the .vid from the first to `end`: lengths, back-links, the
// watermark of marked frames. The offsets of the video records go to `videoOffsets`.
std::optional<std::string> WalkRecords(CFile& vid, std::uint64_t end, Order order, PairVerdict& v,
                                       std::vector<std::uint32_t>& videoOffsets,
                                       const std::atomic<bool>* cancel) {
    std::uint64_t at = kFirstRecordOffset;
    std::uint32_t prevVideo = kFirstRecordOffset;
    std::vector<std::uint8_t> payload;
    while (at < end) {
        if (cancel != nullptr && cancel->load()) {
            return "cancelled";
        }
        std::array<std::uint8_t, stream::kStreamFrameHeaderSize> header{};
        if (end - at < stream::kAudioBlockHeaderSize ||
            !vid.ReadAt(at, std::span(header).first(stream::kAudioBlockHeaderSize))) {
            return "a record is cut short at offset " + std::to_string(at);
        }
        const std::uint32_t kind = Load32(header.data() + 16, order);
        const bool video = kind == stream::ENC_HEADER_TYPE_VIDEO;
        if (!video && kind != stream::ENC_HEADER_TYPE_AUDIO) {
            return "an unknown record at offset " + std::to_string(at);
        }
        const std::size_t headerSize =
            video ? stream::kStreamFrameHeaderSize : stream::kAudioBlockHeaderSize;
        if (end - at < headerSize || !vid.ReadAt(at, std::span(header).first(headerSize))) {
            return "a record is cut short at offset " + std::to_string(at);
        }
        const std::uint32_t length = Load32(header.data() + 28, order);
        if (length > (video ? kMaxFramePayload : kMaxAudioPayload)) {
            return std::string(video ? "a frame" : "an audio record") + " at offset " +
                   std::to_string(at) + " states " + std::to_string(length) +
                   " payload bytes, more than a record of its kind holds";
        }
        if (length > end - at - headerSize) {
            return "a record at offset " + std::to_string(at) + " runs past the end";
        }
        const std::uint32_t link = Load32(header.data() + 32, order);
        if (link != prevVideo) {
            return "a broken back-link at offset " + std::to_string(at);
        }
        if (video) {
            ++v.videoFrames;
            videoOffsets.push_back(static_cast<std::uint32_t>(at));
            prevVideo = static_cast<std::uint32_t>(at);
            if (header[kWatermarkMarkOffset] == kWatermarkMark) {
                payload.resize(length);
                if (!vid.ReadAt(at + headerSize, payload)) {
                    return "unreadable at offset " + std::to_string(at);
                }
                ++v.checkedFrames;
                const std::uint16_t stored = protocol::LoadBE16(header.data() + kWatermarkOffset);
                if (WatermarkChecksum(payload) != stored) {
                    ++v.alteredFrames;
                    if (v.alteredAt.size() < kMaxListedTimes) {
                        v.alteredAt.push_back(Load32(header.data() + 24, order));
                    }
                }
            }
        }
        at += headerSize + length;
    }
    return std::nullopt;
}

}  // namespace

std::string PairVerdict::Text() const {
    switch (verdict) {
        case Verdict::Intact:
            return "intact";
        case Verdict::Damaged:
            return "damaged: " + problem;
        case Verdict::Altered: {
            std::string text = "altered frames at ";
            for (std::size_t i = 0; i < alteredAt.size(); ++i) {
                text += (i > 0 ? ", " : "") + TimeText(alteredAt[i]);
            }
            if (alteredFrames > alteredAt.size()) {
                text += " and " + std::to_string(alteredFrames - alteredAt.size()) + " more";
            }
            return text;
        }
    }
    return "?";
}

PairVerdict VerifyPair(const std::filesystem::path& idxPath, const std::atomic<bool>* cancel) {
    PairVerdict v;
    v.idx = idxPath;
    v.vid = idxPath;
    v.vid.replace_extension(".vid");
    std::string error;
    const auto index = ReadIndexFile(idxPath, &error);
    if (!index) {
        return Damaged(v, "index: " + error);
    }
    CFile idx = CFile::OpenRead(idxPath);
    CFile vid = CFile::OpenRead(v.vid);
    if (!vid.IsOpen()) {
        return Damaged(v, "no video file (" + vid.Error() + ")");
    }
    const Order order = OrderOf(index->header.signature);
    std::array<std::uint8_t, kFileHeaderSize> idxHead{};
    std::array<std::uint8_t, kFileHeaderSize> vidHead{};
    if (!idx.ReadAt(0, idxHead) || !vid.ReadAt(0, vidHead) || idxHead != vidHead) {
        return Damaged(v, "the two files do not belong together (their headers differ)");
    }
    if (index->summary.magic != kSummaryMagic) {
        return Damaged(v, "the index has no summary");
    }
    if (index->summary.blocks > kMaxBlocks) {
        return Damaged(v, "the summary counts more blocks than the index holds");
    }
    if (!index->hasTrailer) {
        return Damaged(v, "the index has no trailer");
    }
    const std::uint64_t vidSize = vid.Size();
    std::array<std::uint8_t, kTrailerSize> tail{};
    if (vidSize < kFileHeaderSize + kTrailerSize || !vid.ReadAt(vidSize - kTrailerSize, tail)) {
        return Damaged(v, "the video file has no trailer");
    }
    const auto vidTrailer = DecodeVidTrailer(tail);
    if (!vidTrailer || vidTrailer->magic != kTrailerMagic) {
        return Damaged(v, "the video file has no trailer");
    }
    const std::uint64_t recordsEnd = vidSize - kTrailerSize;
    std::vector<std::uint32_t> videoOffsets;
    if (const auto problem = WalkRecords(vid, recordsEnd, order, v, videoOffsets, cancel)) {
        return Damaged(v, *problem);
    }
    const std::uint32_t lastVideo = videoOffsets.empty() ? 0 : videoOffsets.back();
    if (vidTrailer->value != lastVideo) {
        return Damaged(v, "the video trailer names the wrong last frame");
    }
    // Every entry points to a video record; every block's first entry lies in the list.
    for (std::uint64_t at = kEntryListOffset; at < index->entryEnd; at += kEntrySize) {
        const auto entry = ReadEntry(idx, *index, at);
        if (!entry || !std::binary_search(videoOffsets.begin(), videoOffsets.end(), entry->video)) {
            return Damaged(
                v, "an index entry points to no frame (index offset " + std::to_string(at) + ")");
        }
    }
    for (std::size_t b = 0; b < index->blocks.size(); ++b) {
        const IdxBlock& block = index->blocks[b];
        if (block.magic != kBlockMagic) {
            return Damaged(v, "block " + std::to_string(b) + " is not a block");
        }
        const bool empty = v.videoFrames == 0 && block.firstEntry == 0;
        if (!empty && (block.firstEntry < kEntryListOffset || block.firstEntry >= index->entryEnd ||
                       (block.firstEntry - kEntryListOffset) % kEntrySize != 0)) {
            return Damaged(v, "block " + std::to_string(b) + " starts outside the entries");
        }
    }
    if (v.alteredFrames > 0) {
        v.verdict = Verdict::Altered;
    }
    return v;
}

std::vector<PairVerdict> VerifyFolder(const std::filesystem::path& folder,
                                      const std::atomic<bool>* cancel) {
    std::vector<std::filesystem::path> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".idx" && names.size() < kMaxListedFiles) {
            names.push_back(it->path());
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<PairVerdict> verdicts;
    std::map<std::uint32_t, std::size_t> closedBySplit;  // trailer split -> pair
    std::vector<std::uint32_t> openedBySplit;
    for (const auto& name : names) {
        if (cancel != nullptr && cancel->load()) {
            break;
        }
        verdicts.push_back(VerifyPair(name, cancel));
        const auto index = ReadIndexFile(name);
        openedBySplit.push_back(index ? index->header.splitTime : 0);
        if (index && index->trailerSplit != 0) {
            closedBySplit.emplace(index->trailerSplit, verdicts.size() - 1);
        }
    }
    // A pair opened by a split continues one that this split closed.
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        if (openedBySplit[i] != 0 && verdicts[i].verdict != Verdict::Damaged &&
            !closedBySplit.contains(openedBySplit[i])) {
            verdicts[i].verdict = Verdict::Damaged;
            verdicts[i].problem =
                "the pair it continues is missing (split " + TimeText(openedBySplit[i]) + ")";
        }
    }
    return verdicts;
}

}  // namespace taviro::archive
