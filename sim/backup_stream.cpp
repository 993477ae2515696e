#include "sim/backup_stream.h"

#include <algorithm>
#include <map>
#include <utility>

#include "protocol/byte_order.h"

namespace taviro::sim {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kAudioBlockMicros = kMicrosPerSecond / kBackupAudioBlocksPerSecond;
// Event stretches this close to the range still make the event log: an event that began
// before the range may explain what the range shows.
constexpr std::int64_t kEventMargin = 3600;
constexpr std::int64_t kAlarmBefore = 1800;
constexpr std::int64_t kAlarmLength = 30;

void StoreWord(int productType, std::uint8_t* p, std::uint32_t value) {
    if (productType == 3) {
        protocol::StoreBE32(p, value);
    } else {
        protocol::StoreLE32(p, value);
    }
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

struct Span {
    std::int64_t start;
    std::int64_t end;
};

// Merges overlapping and touching spans (sorted by start on return).
std::vector<Span> Merge(std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.start < b.start; });
    std::vector<Span> merged;
    for (const Span& s : spans) {
        if (!merged.empty() && s.start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, s.end);
        } else {
            merged.push_back(s);
        }
    }
    return merged;
}

// The seconds of [range.start, range.end) in which `channel` records, as runs.
std::vector<Span> RecordedRuns(const SimArchive& archive, int channel, const BackupRange& range) {
    const bool eventsOnly = PlayKindsSelectEventsOnly(range.kinds);
    std::vector<Span> spans;
    for (const auto& s : archive.stretches) {
        if (!protocol::HasChannel(s.mask, channel) ||
            (eventsOnly && (s.kinds & kRecordEvent) == 0)) {
            continue;
        }
        const Span r{std::max<std::int64_t>(s.start, range.start),
                     std::min<std::int64_t>(s.end, range.end)};
        if (r.end > r.start) {
            spans.push_back(r);
        }
    }
    return Merge(std::move(spans));
}

// Key frames among a run's frames at `fps`: frame counters (restarting every midnight) that
// are multiples of the group length, and the run's first frame whatever its counter.
std::uint64_t KeyFramesOf(const Span& run, int fps) {
    std::uint64_t keys = 0;
    for (std::int64_t at = run.start; at < run.end;) {
        const std::int64_t day = FloorDiv(at, kSecondsPerDay) * kSecondsPerDay;
        const std::int64_t until = std::min(run.end, day + kSecondsPerDay);
        const std::int64_t lo = (at - day) * fps;
        const std::int64_t hi = (until - day) * fps - 1;
        keys +=
            static_cast<std::uint64_t>(hi / kBackupGop - (lo + kBackupGop - 1) / kBackupGop + 1);
        at = until;
    }
    const std::int64_t first =
        (run.start - FloorDiv(run.start, kSecondsPerDay) * kSecondsPerDay) * fps;
    return keys + (first % kBackupGop != 0 ? 1 : 0);
}

}  // namespace

std::optional<BackupRange> ParseBackupRange(std::span<const std::uint8_t> payload) {
    if (payload.size() != kBackupRangeSize) {
        return std::nullopt;
    }
    BackupRange r;
    r.mask = protocol::LoadBE32(payload.data()) & protocol::kAllChannels;
    r.kinds = protocol::LoadLE32(payload.data() + 4);  // the one little-endian field
    r.start = static_cast<protocol::RecorderTime>(protocol::LoadBE32(payload.data() + 16));
    r.end = static_cast<protocol::RecorderTime>(protocol::LoadBE32(payload.data() + 20));
    return r;
}

std::uint16_t BackupWatermark(std::span<const std::uint8_t> payload) {
    std::uint32_t sum = 0;
    for (std::size_t pos = 0; pos < payload.size();) {
        const std::uint8_t b = payload[pos];
        sum = (sum + b) & 0xFFFFu;
        pos += static_cast<std::size_t>(b & 7) * 2 + 2;
    }
    return static_cast<std::uint16_t>(sum);
}

std::vector<BackupEvent> BackupEvents(const SimArchive& archive, protocol::ChannelMask channels,
                                      const BackupRange& range) {
    std::vector<BackupEvent> events;
    const std::int64_t from = std::int64_t{range.start} - kEventMargin;
    const std::int64_t to = std::int64_t{range.end} + kEventMargin;
    for (const auto& s : archive.stretches) {
        const protocol::ChannelMask mask = s.mask & channels;
        if ((s.kinds & kRecordEvent) != 0 && mask != 0 && s.start <= to && s.end >= from) {
            events.push_back({s.start, s.end, mask, kEventMotion});
        }
    }
    // An alarm the recorder logged before the range: the client keeps only what lies in it.
    const auto alarm = static_cast<protocol::RecorderTime>(range.start - kAlarmBefore);
    events.push_back(
        {alarm, static_cast<protocol::RecorderTime>(alarm + kAlarmLength), channels, kEventAlarm});
    if (std::int64_t{range.end} - range.start > 10) {
        events.push_back({range.start + 5, range.start + 8,
                          protocol::ChannelBit(protocol::FirstChannel(channels)), kEventAudio});
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const BackupEvent& a, const BackupEvent& b) { return a.start < b.start; });
    return events;
}

std::vector<std::uint8_t> BuildEventLogRecord(int productType,
                                              std::span<const BackupEvent> events) {
    std::vector<std::uint8_t> r(kEventLogHeaderSize + kEventRecordSize * events.size(), 0);
    StoreWord(productType, r.data() + 16, kEventLogMagic);
    StoreWord(productType, r.data() + 28,
              static_cast<std::uint32_t>(kEventRecordSize * events.size()));
    std::uint8_t* p = r.data() + kEventLogHeaderSize;
    for (const BackupEvent& e : events) {
        StoreWord(productType, p, static_cast<std::uint32_t>(e.start));
        StoreWord(productType, p + 4, static_cast<std::uint32_t>(e.end));
        StoreWord(productType, p + 8, e.mask);
        p[12] = e.kind;
        p += kEventRecordSize;
    }
    return r;
}

std::vector<std::uint8_t> BuildBackupUnknownRecord(int productType) {
    std::vector<std::uint8_t> r(kBackupUnknownSize, 0);
    StoreWord(productType, r.data() + 16, kBackupUnknownMagic);
    return r;
}

CBackupStream::CBackupStream(std::shared_ptr<const SimArchive> archive,
                             protocol::ChannelMask channels, const BackupRange& range,
                             const BackupStreamOptions& options)
    : m_archive(std::move(archive)),
      m_range(range),
      m_options(options),
      m_mask(range.mask & channels & protocol::kAllChannels),
      m_marker(protocol::FirstChannel(m_mask)),
      m_encoder(options.pocStep),
      m_audio(options.amplitude) {
    // The timeline takes an end of 0 for "open-ended"; an empty range holds nothing.
    if (m_mask == 0 || range.end <= range.start) {
        return;
    }
    const bool eventsOnly = PlayKindsSelectEventsOnly(range.kinds);
    m_timeline.emplace(*m_archive, m_mask, eventsOnly, range.end, kBackupGop);
    const std::int64_t start = std::int64_t{range.start} * kMicrosPerSecond;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(m_mask, c)) {
            continue;
        }
        m_cursor[static_cast<std::size_t>(c)] = m_timeline->FirstAtOrAfter(c, start);
        for (const auto& s : m_archive->stretches) {
            if (protocol::HasChannel(s.mask, c) && s.start < range.end && s.end > range.start &&
                !(eventsOnly && (s.kinds & kRecordEvent) == 0)) {
                m_stretches[static_cast<std::size_t>(c)].push_back({s.start, s.end, s.kinds});
            }
        }
    }
    if (m_timeline->AudioChannels() != 0) {
        // At a whole second the audio track (at any block rate) starts with block 0.
        if (const auto a = m_timeline->FirstAtOrAfter(kAudioTrack, start)) {
            m_audioCursor = PlayFrame{a->second, 0};
        }
    }
}

std::optional<BackupRecord> CBackupStream::Next() {
    if (!m_pending.empty()) {
        BackupRecord r = std::move(m_pending.front());
        m_pending.pop_front();
        return Emit(std::move(r));
    }
    auto r = Make();
    if (!r) {
        return std::nullopt;
    }
    return Emit(std::move(*r));
}

std::optional<BackupRecord> CBackupStream::Make() {
    if (!m_timeline || m_failed) {
        return std::nullopt;
    }
    const CPlayTimeline& t = *m_timeline;
    // The earliest frame across the channels, the lower channel on a tie.
    int channel = -1;
    std::int64_t when = 0;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto& cursor = m_cursor[static_cast<std::size_t>(c)];
        if (cursor && (channel < 0 || t.Micros(c, *cursor) < when)) {
            channel = c;
            when = t.Micros(c, *cursor);
        }
    }
    std::optional<std::int64_t> audioWhen;
    if (m_audioCursor) {
        audioWhen =
            m_audioCursor->second * kMicrosPerSecond + m_audioCursor->index * kAudioBlockMicros;
    }
    // Video first when a frame and a block share their time.
    const bool audio = audioWhen && (channel < 0 || *audioWhen < when);
    if (channel < 0 && !audio) {
        return std::nullopt;
    }
    const std::int64_t second = audio ? m_audioCursor->second : FloorDiv(when, kMicrosPerSecond);
    const std::int64_t block = FloorDiv(second - m_range.start, kBackupBlockSeconds);
    const bool newBlock = m_block && block != *m_block;
    m_block = block;

    if (audio) {
        const PlayFrame b = *m_audioCursor;
        if (b.index + 1 < kBackupAudioBlocksPerSecond) {
            m_audioCursor = PlayFrame{b.second, b.index + 1};
        } else if (const auto next =
                       t.FirstAtOrAfter(kAudioTrack, (b.second + 1) * kMicrosPerSecond)) {
            m_audioCursor = PlayFrame{next->second, 0};
        } else {
            m_audioCursor.reset();
        }
        return Audio(b);
    }

    auto& cursor = m_cursor[static_cast<std::size_t>(channel)];
    const PlayFrame f = *cursor;
    cursor = t.Next(channel, f);
    // A new block opens with a key frame of the marker channel and its display-exempt copy
    // in front (see backup_stream.h).
    const bool marker = newBlock && channel == m_marker && f.index == 0;
    auto frame = Video(channel, f, marker);
    if (!frame) {
        return std::nullopt;
    }
    if (marker) {
        BackupRecord copy = *frame;
        copy.exempt = true;
        if (copy.bytes.size() >= kPlayFrameHeaderSize) {
            copy.bytes[kPlayDisplayExemptOffset] = 1;
            StoreWord(m_options.productType, copy.bytes.data() + kBlockKeyOffset, kExemptBlockKey);
        }
        m_pending.push_back(std::move(*frame));
        frame = std::move(copy);
    }
    if (!m_sentVideo) {
        m_sentVideo = true;
        const auto events = BackupEvents(*m_archive, m_mask, m_range);
        m_pending.push_back({BackupRecordKind::EventLog,
                             BuildEventLogRecord(m_options.productType, events), frame->seconds,
                             false, false});
        m_pending.push_back({BackupRecordKind::Unknown,
                             BuildBackupUnknownRecord(m_options.productType), frame->seconds, false,
                             false});
    }
    return frame;
}

std::optional<BackupRecord> CBackupStream::Video(int channel, PlayFrame frame, bool forceKey) {
    const CPlayTimeline& t = *m_timeline;
    auto& coded = m_coded[static_cast<std::size_t>(channel)];
    // The channel's first frame in the transfer has nothing to depend on.
    const bool key =
        forceKey || t.IsKey(channel, frame) || !(coded && t.Next(channel, *coded) == frame);
    const ArchiveChannel& setup = m_archive->channels[static_cast<std::size_t>(channel)];
    const auto unit =
        m_encoder.Encode(channel, setup.width, setup.height, t.Counter(channel, frame), key);
    if (!unit) {
        m_failed = true;
        return std::nullopt;
    }
    coded = frame;
    PlayVideoFrame v;
    v.channel = channel;
    v.seconds = static_cast<protocol::RecorderTime>(frame.second);
    v.microseconds =
        static_cast<std::int32_t>(t.Micros(channel, frame) - frame.second * kMicrosPerSecond);
    v.title = setup.title;
    v.width = setup.width;
    v.height = setup.height;
    BackupRecord r;
    r.kind = BackupRecordKind::Video;
    r.seconds = v.seconds;
    r.bytes = BuildPlayVideoElement(m_options.productType, v, *unit);
    std::uint8_t* const b = r.bytes.data();
    StoreWord(m_options.productType, b + kBlockKeyOffset, BlockKey(frame.second));
    b[kRecordFlagsOffset] = 0x01;
    b[kRecordFlagsOffset + 1] = 0x00;
    b[kRecordFlagsOffset + 2] = KindsAt(channel, frame.second);
    if (unit->key_frame) {
        r.watermarked = true;
        b[kRecordFlagsOffset + 3] = kWatermarked;
        protocol::StoreBE16(b + kWatermarkOffset, BackupWatermark(unit->bytes));
    }
    return r;
}

BackupRecord CBackupStream::Audio(PlayFrame block) {
    const protocol::ChannelMask mask = m_timeline->AudioAt(m_mask, block.second);
    std::vector<std::uint8_t> blocks(kPlayAudioBlockSize *
                                     static_cast<std::size_t>(protocol::ChannelCount(mask)));
    // The tone's phase follows the block's place in its day, as the frame counters do.
    const std::int64_t ofDay =
        block.second - FloorDiv(block.second, kSecondsPerDay) * kSecondsPerDay;
    m_audio.Blocks(mask,
                   static_cast<std::uint64_t>(ofDay * kBackupAudioBlocksPerSecond + block.index),
                   blocks);
    BackupRecord r;
    r.kind = BackupRecordKind::Audio;
    r.seconds = static_cast<protocol::RecorderTime>(block.second);
    r.bytes =
        BuildPlayAudioElement(m_options.productType, mask, r.seconds,
                              static_cast<std::int32_t>(block.index * kAudioBlockMicros), blocks);
    return r;
}

std::uint8_t CBackupStream::KindsAt(int channel, std::int64_t second) const {
    std::uint8_t kinds = 0;
    for (const Stretch& s : m_stretches[static_cast<std::size_t>(channel)]) {
        if (s.start <= second && second < s.end) {
            kinds |= s.kinds;
        }
    }
    return kinds;
}

std::uint32_t CBackupStream::BlockKey(std::int64_t second) const {
    return static_cast<std::uint32_t>(1 + FloorDiv(second - m_range.start, kBackupBlockSeconds));
}

BackupRecord CBackupStream::Emit(BackupRecord record) {
    // Counted as they go out, so the copy before a block counts before its original.
    if (record.watermarked && ++m_watermarks == m_options.tamper) {
        std::uint8_t* const sum = record.bytes.data() + kWatermarkOffset;
        protocol::StoreBE16(sum, static_cast<std::uint16_t>(protocol::LoadBE16(sum) + 1));
    }
    return record;
}

std::uint64_t EstimateBackupBytes(const SimArchive& archive, protocol::ChannelMask channels,
                                  const BackupRange& range, int pocStep) {
    const protocol::ChannelMask mask = range.mask & channels & protocol::kAllChannels;
    if (mask == 0 || range.end <= range.start) {
        return 0;
    }
    // Frame sizes per picture size: a key frame and the mean of the dependent frames of one
    // group, coded from the camera pattern of the first channel of that size.
    struct Sizes {
        std::uint64_t key = 0;
        std::uint64_t dependent = 0;
    };
    std::map<std::pair<int, int>, Sizes> measured;
    const auto sizesOf = [&](int channel, std::int64_t second) {
        const ArchiveChannel& setup = archive.channels[static_cast<std::size_t>(channel)];
        const auto size = std::pair{setup.width, setup.height};
        if (const auto it = measured.find(size); it != measured.end()) {
            return it->second;
        }
        CPlayEncoder encoder(pocStep);
        const std::int64_t ofDay = second - FloorDiv(second, kSecondsPerDay) * kSecondsPerDay;
        const auto counter = static_cast<std::uint32_t>(ofDay * setup.fps);
        Sizes s;
        for (int i = 0; i < kBackupGop; ++i) {
            const auto unit = encoder.Encode(channel, setup.width, setup.height,
                                             counter + static_cast<std::uint32_t>(i), i == 0);
            const std::uint64_t n = unit ? unit->bytes.size() : 0;
            (i == 0 ? s.key : s.dependent) += n;
        }
        s.dependent /= kBackupGop - 1;
        measured.emplace(size, s);
        return s;
    };

    std::uint64_t bytes = 0;
    std::uint64_t frames = 0;
    std::vector<Span> soundRuns;
    const int marker = protocol::FirstChannel(mask);
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (!protocol::HasChannel(mask, c)) {
            continue;
        }
        const auto runs = RecordedRuns(archive, c, range);
        if (runs.empty()) {
            continue;
        }
        const ArchiveChannel& setup = archive.channels[static_cast<std::size_t>(c)];
        const int fps = std::clamp(setup.fps, 1, 60);
        const Sizes sizes = sizesOf(c, runs.front().start);
        std::uint64_t seconds = 0;
        std::uint64_t keys = 0;
        std::uint64_t blockStarts = 0;
        for (const Span& r : runs) {
            seconds += static_cast<std::uint64_t>(r.end - r.start);
            keys += KeyFramesOf(r, fps);
            // Block starts start + 4k (k >= 1) inside the run.
            const std::int64_t first = std::max<std::int64_t>(
                1, (r.start - range.start + kBackupBlockSeconds - 1) / kBackupBlockSeconds);
            const std::int64_t last = (r.end - 1 - range.start) / kBackupBlockSeconds;
            blockStarts += last >= first ? static_cast<std::uint64_t>(last - first + 1) : 0;
        }
        const std::uint64_t channelFrames = seconds * static_cast<std::uint64_t>(fps);
        frames += channelFrames;
        bytes += channelFrames * kPlayFrameHeaderSize + keys * sizes.key +
                 (channelFrames - keys) * sizes.dependent;
        if (c == marker) {
            // Each block's key frame (taken as one more than the group would have) and its
            // display-exempt copy.
            bytes += blockStarts * (kPlayFrameHeaderSize + 2 * sizes.key - sizes.dependent);
        }
        if (setup.audio) {
            bytes += seconds * kBackupAudioBlocksPerSecond * kPlayAudioBlockSize;
            soundRuns.insert(soundRuns.end(), runs.begin(), runs.end());
        }
    }
    if (frames == 0) {
        return 0;
    }
    for (const Span& r : Merge(std::move(soundRuns))) {
        bytes += static_cast<std::uint64_t>(r.end - r.start) * kBackupAudioBlocksPerSecond *
                 kPlayAudioHeaderSize;
    }
    bytes += kEventLogHeaderSize + kEventRecordSize * BackupEvents(archive, mask, range).size();
    return bytes + kBackupUnknownSize;
}

}  // namespace taviro::sim
