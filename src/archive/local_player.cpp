#include "archive/local_player.h"

#include <algorithm>
#include <utility>

#include "protocol/packet_header.h"
#include "stream/stream_frames.h"

namespace taviro::archive {

namespace {

using Clock = std::chrono::steady_clock;

// Live data's code and header bits, as the decoders expect every frame to carry them.
constexpr std::uint16_t kLiveDataCode = 18;
constexpr std::uint32_t kLiveHeaderBits = 1;
constexpr auto kMaxPaceWait = std::chrono::milliseconds(3000);
// A full queue is looked at again after this even when no ring came (a decoder that was
// stopped and started again rings through its new queue only).
constexpr auto kRoomRecheck = std::chrono::milliseconds(250);
// How far back a seek looks for the key frames before the second sought, in time and in
// records read (a recorder's key frames come every few seconds; a stream without any for
// a minute starts at its next one).
constexpr std::int64_t kMaxPrerollMs = 60'000;
constexpr int kMaxPrerollRecords = 100'000;
// Records read on from the frame sought to find each channel's first frame there.
constexpr int kMaxLookAhead = 1'000;

std::int64_t FrameMillis(const VidRecord& record) {
    return static_cast<std::int64_t>(record.video.encoder.seconds) * 1000 +
           record.video.encoder.microseconds / 1024;
}

// The start of the frame's second on the encoder's clock, which FrameMillis counts in.
std::int64_t SecondMillis(const VidRecord& record) {
    return static_cast<std::int64_t>(record.video.encoder.seconds) * 1000;
}

}  // namespace

CLocalPlayer::CLocalPlayer(std::vector<PlaySegment> segments, std::size_t current,
                           IPlayerOutput& output, PlayerOptions options)
    : m_segments(std::move(segments)),
      m_output(output),
      m_options(options),
      m_nCurrent(current < m_segments.size() ? current : 0) {}

CLocalPlayer::~CLocalPlayer() {
    Stop();
}

void CLocalPlayer::Start() {
    if (m_thread.joinable() || m_segments.empty()) {
        return;
    }
    {
        std::lock_guard lock(m_lock);
        m_pendingModes.push_back(PlayerMode::Forward);
    }
    m_bRunning = true;
    m_thread = std::thread([this] { Thread_Play(); });
}

void CLocalPlayer::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_bStop = true;
        ++m_nChanges;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void CLocalPlayer::SetMode(PlayerMode mode) {
    {
        std::lock_guard lock(m_lock);
        if (m_pendingModes.size() < 64) {
            m_pendingModes.push_back(mode);
        }
        ++m_nChanges;
    }
    m_wake.notify_all();
}

void CLocalPlayer::SeekTo(std::uint32_t seconds) {
    {
        std::lock_guard lock(m_lock);
        m_seekTarget = seconds;
        ++m_nChanges;
    }
    m_wake.notify_all();
}

PlayerState CLocalPlayer::State() const {
    std::lock_guard lock(m_lock);
    return m_state;
}

std::filesystem::path CLocalPlayer::CurrentVid() const {
    std::lock_guard lock(m_lock);
    return m_vidPath;
}

bool CLocalPlayer::Sleep(std::chrono::milliseconds ms) {
    std::unique_lock lock(m_lock);
    // A button pressed since the thread last took its requests ends the wait at once.
    m_wake.wait_for(lock, ms, [&] { return m_bStop.load() || m_nChanges != m_nSeenChanges; });
    return !m_bStop.load();
}

void CLocalPlayer::Thread_Play() {
    m_output.WatchRoom(m_signal);
    m_output.Cleared();
    if (Sleep(m_options.startPause)) {
        m_output.Started();
        if (OpenSegment(m_nCurrent, false, true)) {
            // The start is exact as a seek is: its second's picture first.
            const PlaySegment& s = m_segments[m_nCurrent];
            if (const auto at = m_vid.ReadIndex(m_nNext, s.endOffset);
                at && at->kind == VidRecord::Kind::Video) {
                Preroll(*at, SecondMillis(*at));
            }
            while (!m_bStop.load()) {
                std::optional<PlayerMode> mode;
                std::optional<std::uint32_t> seek;
                {
                    std::lock_guard lock(m_lock);
                    if (!m_pendingModes.empty()) {
                        mode = m_pendingModes.front();
                        m_pendingModes.pop_front();
                    }
                    seek = std::exchange(m_seekTarget, std::nullopt);
                    if (m_pendingModes.empty()) {
                        m_nSeenChanges = m_nChanges;  // everything asked so far is taken
                    }
                }
                if (mode) {
                    const ModeChange change = ApplyMode(State(), *mode);
                    {
                        std::lock_guard lock(m_lock);
                        m_state = change.state;
                    }
                    if (change.stopAudio) {
                        m_output.StopAudio();
                    }
                    if (change.reanchor) {
                        Reanchor();
                    }
                    m_skip.fill(0);
                    m_nStepShown = 0;
                    m_output.StateChanged(change.state);
                }
                if (seek && !Seek(*seek)) {
                    break;
                }
                if (!Step()) {
                    break;
                }
            }
        }
    }
    m_vid.Close();
    m_idx.Close();
    m_bRunning = false;
    m_output.StopAudio();
    m_output.Stopped();
}

bool CLocalPlayer::OpenSegment(std::size_t index, bool backward, bool first) {
    if (index >= m_segments.size()) {
        return false;
    }
    const PlaySegment& s = m_segments[index];
    const bool sameFile = m_vid.IsOpen() && CurrentVid() == s.vidPath;
    m_nCurrent = index;
    if (!sameFile) {
        if (!m_vid.Open(s.vidPath)) {
            return false;
        }
        m_idx = CFile::OpenRead(s.idxPath);
        std::lock_guard lock(m_lock);
        m_vidPath = s.vidPath;
    }
    m_output.SegmentChanged(SpanOf(m_segments, index), LayoutCodeFor(s.channelMask), s.channelMask);
    m_cursor.reset();
    m_pending.reset();
    m_nNext = first ? s.positionOffset : s.firstOffset;
    if (backward) {
        // From the segment's end: the file's last frame (its trailer names it), or the
        // frame before the next segment's first record.
        if (s.lastVideo >= s.firstOffset && s.lastVideo < s.endOffset) {
            m_pending = m_vid.ReadIndex(s.lastVideo, s.endOffset);
        }
        if (m_pending) {
            m_nNext = m_pending->offset;
        } else {
            m_cursor = m_vid.ReadIndex(s.endOffset, m_vid.Size());
            m_nNext = s.endOffset;
        }
    }
    return true;
}

bool CLocalPlayer::NextSegment() {
    if (m_nCurrent + 1 < m_segments.size() && OpenSegment(m_nCurrent + 1, false, false)) {
        return true;
    }
    m_output.StopAudio();
    PauseHere();
    return false;
}

bool CLocalPlayer::PreviousSegment() {
    if (m_nCurrent > 0 && OpenSegment(m_nCurrent - 1, true, false)) {
        return true;
    }
    PauseHere();
    return false;
}

void CLocalPlayer::PauseHere() {
    PlayerState state;
    {
        std::lock_guard lock(m_lock);
        m_state = ApplyMode(m_state, PlayerMode::Pause).state;
        state = m_state;
    }
    m_output.StopAudio();
    m_output.StateChanged(state);
}

bool CLocalPlayer::Step() {
    const PlayerState state = State();
    if (state.mode == PlayerMode::Pause) {
        return Sleep(std::chrono::milliseconds(50));
    }
    const PlaySegment& s = m_segments[m_nCurrent];
    std::optional<VidRecord> record;
    if (!IsBackwardMode(state.mode)) {
        m_pending.reset();  // forwards it is read again at m_nNext
        if (m_nNext < s.endOffset) {
            record = m_vid.ReadIndex(m_nNext, s.endOffset);
        }
        if (!record) {
            // The segment's end, or a record that cannot be read: the next segment.
            NextSegment();
            return true;
        }
    } else {
        m_nShowFromMs = -1;  // backwards every key frame is shown
        if (m_pending) {
            record = std::exchange(m_pending, std::nullopt);
        } else if (m_cursor) {
            record = m_vid.ReadIndexRvs(*m_cursor, s.firstOffset);
        }
        if (!record) {
            PreviousSegment();
            return true;
        }
    }
    m_cursor = record;
    m_nNext = record->End();
    if (record->kind == VidRecord::Kind::Audio) {
        PlayAudio(*record);
        return true;
    }
    if (!record->accepted) {
        return true;  // a picture size the player does not show
    }
    return ShowFrame(*record);
}

void CLocalPlayer::PlayAudio(const VidRecord& record) {
    const PlayerState state = State();
    if (!m_options.audio || state.mode != PlayerMode::Forward || state.speed != 1 ||
        record.payloadLength == 0 || m_nShowFromMs >= 0) {
        return;
    }
    const auto selection =
        stream::SelectAudioBlock(record.audio.channelMask & 0xFFFFu, m_options.audioChannel);
    if (!selection) {
        return;
    }
    const std::size_t at = selection->index * stream::kAudioBlockSize;
    if (at + stream::kAudioBlockSize > record.payloadLength ||
        !m_vid.ReadPayload(record, m_payload)) {
        return;
    }
    stream::AudioBlock block{};
    std::copy_n(m_payload.begin() + static_cast<std::ptrdiff_t>(at), block.size(), block.begin());
    m_output.QueueAudio(block);
}

bool CLocalPlayer::ShowFrame(const VidRecord& record) {
    const PlayerState state = State();
    const stream::StreamFrameHeader& h = record.video;
    const int channel = h.encoder.channel & 0x0F;
    const auto bit = 1u << channel;
    if (h.displayExempt == 1) {
        return true;
    }
    if (IsBackwardMode(state.mode) && h.encoder.kind != stream::kKeyFrame) {
        return true;
    }
    if (IsStepMode(state.mode) && !m_output.Shown(channel)) {
        return true;
    }
    if (!m_output.Accepts(channel)) {
        return true;
    }
    // After a seek, what comes before the second sought is decoded for the pictures after
    // it and shown by none: every frame of it, whatever the speed or step.
    const bool backward = IsBackwardMode(state.mode);
    const bool hidden = !backward && m_nShowFromMs >= 0 && FrameMillis(record) < m_nShowFromMs;
    if (!hidden) {
        m_nShowFromMs = -1;
    }
    if (hidden) {
        return ShowHidden(record, channel);
    }
    const int every = ShowEvery(state.speed);
    if (every > 1 &&
        m_skip[static_cast<std::size_t>(channel)]++ % static_cast<unsigned>(every) != 0) {
        return true;
    }
    // The decoders set the pace of a player that is ahead of them. A button pressed
    // meanwhile is taken at once; this frame is read again after it.
    if (!WaitForRoom(channel)) {
        HoldBack(record, backward);
        return !m_bStop.load();
    }
    if (IsStepMode(state.mode)) {
        if ((m_nStepShown & bit) != 0) {
            // A second frame of a channel: the step is complete; the next one starts here.
            m_nStepShown = 0;
            HoldBack(record, backward);
            PauseHere();
            return true;
        }
        m_nStepShown |= bit;
    }
    if (record.payloadLength > stream::kReassemblySize || !m_vid.ReadPayload(record, m_payload)) {
        return true;
    }
    m_output.Position(h.frameTime);
    m_nFrameTime = h.frameTime;
    if (m_bReanchor) {
        m_bReanchor = false;
        m_nAnchorMs = FrameMillis(record) - 100;
        m_anchorTick = Clock::now();
    }
    const bool check = m_options.watermark && state.mode == PlayerMode::Forward && state.speed == 1;
    const int integrity = WatermarkState(record.raw, m_payload, check);
    m_output.Integrity(channel, integrity);
    if (!HandOver(record, channel, false, backward)) {
        return true;
    }
    if (integrity == 2) {
        PauseHere();
        return true;
    }
    Pace(record);
    return !m_bStop.load();
}

bool CLocalPlayer::ShowHidden(const VidRecord& record, int channel) {
    if (!WaitForRoom(channel)) {
        HoldBack(record, false);
        return !m_bStop.load();
    }
    if (record.payloadLength <= stream::kReassemblySize && m_vid.ReadPayload(record, m_payload)) {
        HandOver(record, channel, true, true);
    }
    return !m_bStop.load();
}

bool CLocalPlayer::HandOver(const VidRecord& record, int channel, bool hidden, bool reverse) {
    if (m_bNewStream) {
        m_bNewStream = false;
        ++m_nGeneration;  // the decoders start afresh at this frame
    }
    const stream::StreamFrameHeader& h = record.video;
    stream::FrameInfo info = stream::MakeFrameInfo(h.encoder, record.payloadLength, m_nGeneration);
    info.title = stream::PlaybackTitle(h);
    protocol::PacketHeader header = protocol::PacketHeader::Make(kLiveDataCode, 0);
    header.word[0] |= kLiveHeaderBits;
    header.SetChannel(static_cast<std::uint32_t>(channel));
    // A hidden frame is the decoders' stepped frame that is not shown: display-exempt and
    // reverse.
    auto frame = stream::QueuedFrame::Make(info, header, m_payload, hidden, reverse);
    if (!frame) {
        return false;
    }
    m_output.QueueFrame(channel, std::move(*frame));
    m_nQueued.fetch_add(1);
    return true;
}

bool CLocalPlayer::WaitForRoom(int channel) {
    std::unique_lock lock(m_lock);
    for (;;) {
        if (m_output.Queued(channel) <= kMaxQueuedPlayerFrames) {
            return true;
        }
        if (m_bStop.load() || m_nChanges != m_nSeenChanges) {
            return false;
        }
        // The queue rings this condition when its decoder takes a frame; a button, a seek
        // and a stop ring it too.
        m_wake.wait_for(lock, kRoomRecheck);
    }
}

void CLocalPlayer::HoldBack(const VidRecord& record, bool backward) {
    m_nNext = record.offset;
    if (backward) {
        m_pending = record;  // shown first backwards, and first forwards too
    } else {
        m_pending.reset();  // backwards it goes on from the record before this one
        m_cursor = record;
    }
}

void CLocalPlayer::Pace(const VidRecord& record) {
    const PlayerState state = State();
    const std::int64_t frame = FrameMillis(record);
    std::int64_t distance = IsBackwardMode(state.mode) ? m_nAnchorMs - frame : frame - m_nAnchorMs;
    distance = std::max<std::int64_t>(distance, 0);
    const std::int64_t wait = PaceWait(state.mode, state.speed, distance);
    if (wait < 0) {
        return;
    }
    const auto target = m_anchorTick + std::chrono::milliseconds(wait);
    const auto now = Clock::now();
    if (target <= now) {
        return;
    }
    const bool tooLong = target - now > kMaxPaceWait;
    std::unique_lock lock(m_lock);
    const bool changed = m_wake.wait_until(lock, tooLong ? now + kMaxPaceWait : target, [&] {
        return m_bStop.load() || m_nChanges != m_nSeenChanges;
    });
    if (tooLong && !changed) {
        m_bReanchor = true;  // a gap in the recording: the next frame starts the clock again
    }
}

void CLocalPlayer::Preroll(const VidRecord& at, std::int64_t showFromMs) {
    const PlaySegment& s = m_segments[m_nCurrent];
    const std::uint64_t start = PrerollStart(at, s);
    if (start >= at.offset) {
        return;
    }
    if (auto first = m_vid.ReadIndex(start, s.endOffset)) {
        m_nShowFromMs = showFromMs;
        m_nNext = start;
        if (m_pending) {
            m_pending = std::move(first);
        }
    }
}

std::uint64_t CLocalPlayer::PrerollStart(const VidRecord& at, const PlaySegment& segment) {
    // The channels still without their key frame; the one of `at` has it when `at` is one.
    std::uint32_t wanted = 0;
    for (int c = 0; c < 16; ++c) {
        if ((segment.channelMask & (1u << c)) != 0 && m_output.Accepts(c)) {
            wanted |= 1u << c;
        }
    }
    const auto keyOf = [&](const VidRecord& r) -> std::uint32_t {
        if (r.kind != VidRecord::Kind::Video || !r.accepted ||
            r.video.encoder.kind != stream::kKeyFrame) {
            return 0;
        }
        return 1u << (r.video.encoder.channel & 0x0F);
    };
    // A channel whose first frame from `at` on is a key frame starts there by itself.
    std::uint32_t seen = 0;
    std::optional<VidRecord> ahead = at;
    for (int read = 0; ahead && (wanted & ~seen) != 0 && read < kMaxLookAhead; ++read) {
        if (ahead->kind == VidRecord::Kind::Video && ahead->accepted) {
            const std::uint32_t bit = 1u << (ahead->video.encoder.channel & 0x0F);
            if ((seen & bit) == 0) {
                seen |= bit;
                wanted &= ~keyOf(*ahead);
            }
        }
        ahead = m_vid.ReadIndex(ahead->End(), segment.endOffset);
    }
    const std::int64_t floorMs = FrameMillis(at) - kMaxPrerollMs;
    std::uint64_t start = at.offset;
    VidRecord cursor = at;
    for (int read = 0; wanted != 0 && read < kMaxPrerollRecords && !m_bStop.load(); ++read) {
        auto previous = m_vid.ReadIndexRvs(cursor, segment.firstOffset);
        if (!previous || FrameMillis(*previous) < floorMs) {
            break;  // a channel without a key frame in reach starts at its next one
        }
        cursor = std::move(*previous);
        if (const std::uint32_t key = keyOf(cursor) & wanted; key != 0) {
            wanted &= ~key;
            start = cursor.offset;
        }
    }
    return start;
}

bool CLocalPlayer::Seek(std::uint32_t target) {
    const auto index = SeekSegment(m_segments, target);
    if (!index) {
        return true;
    }
    if (*index != m_nCurrent || !m_vid.IsOpen()) {
        if (!OpenSegment(*index, false, false)) {
            return true;
        }
    }
    const PlaySegment& s = m_segments[m_nCurrent];
    IndexFile bounds;
    bounds.entryEnd = s.entryEnd;
    const auto timeAt = [&](std::uint64_t entryOffset) -> std::optional<std::uint32_t> {
        const auto entry = ReadEntry(m_idx, bounds, entryOffset);
        if (!entry || entry->video < s.firstOffset || entry->video >= s.endOffset) {
            return std::nullopt;
        }
        const auto record = m_vid.ReadIndex(entry->video, s.endOffset);
        if (!record || record->kind != VidRecord::Kind::Video || !record->accepted ||
            record->video.frameTime < 1) {
            return std::nullopt;
        }
        return record->video.frameTime;
    };
    // The entry of the target second sits at (target - start) entries from the block's
    // first when every second has frames; seconds without frames have no entry, so the
    // walk goes on from there to the first entry at or after the target. A target beyond
    // the pair's entries starts the walk at its last one, not billions of entries out.
    const std::uint64_t entries =
        s.entryEnd > s.firstEntry ? (s.entryEnd - s.firstEntry) / kEntrySize : 0;
    const std::uint64_t span = std::min<std::uint64_t>(
        target > s.startTime ? target - s.startTime : 0, entries > 0 ? entries - 1 : 0);
    std::uint64_t at = s.firstEntry + span * kEntrySize;
    while (at > s.firstEntry && !timeAt(at)) {
        at -= kEntrySize;  // past the block's entries: back to its last one
    }
    std::optional<std::uint32_t> time = timeAt(at);
    if (!time) {
        return true;
    }
    if (*time < target) {
        for (;;) {
            const auto next = timeAt(at + kEntrySize);
            if (!next) {
                break;  // the block's last entry: the nearest one
            }
            at += kEntrySize;
            time = next;
            if (*next >= target) {
                break;
            }
        }
    } else {
        while (at > s.firstEntry) {
            const auto previous = timeAt(at - kEntrySize);
            if (!previous || *previous < target) {
                break;
            }
            at -= kEntrySize;
            time = previous;
        }
    }
    const auto entry = ReadEntry(m_idx, bounds, at);
    if (!entry) {
        return true;
    }
    // The frame sought comes next in either direction: a button pressed after the seek
    // (backward or a previous step while paused) starts from it as forward play does.
    // Forwards, the key frames before it come first, hidden.
    m_nNext = entry->video;
    m_cursor.reset();
    m_pending = m_vid.ReadIndex(entry->video, s.endOffset);
    m_nShowFromMs = -1;
    if (m_pending && !IsBackwardMode(State().mode)) {
        Preroll(*m_pending, SecondMillis(*m_pending));
    }
    m_skip.fill(0);
    Reanchor();
    m_output.Position(*time);
    return true;
}

}  // namespace taviro::archive
