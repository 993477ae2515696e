#include "sim/playback_timeline.h"

#include <algorithm>

namespace taviro::sim {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// The kinds word that a date-and-time search sends for "everything".
constexpr std::uint32_t kAllEventKinds = 0x3F;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

}  // namespace

bool PlayKindsSelectEventsOnly(std::uint32_t kinds) {
    return kinds != 0 && kinds != kAllEventKinds;
}

CPlayTimeline::CPlayTimeline(const SimArchive& archive, protocol::ChannelMask channels,
                             bool eventsOnly, protocol::RecorderTime end, int gop)
    : m_gop(std::max(gop, 1)) {
    std::vector<Run> audio;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const ArchiveChannel& setup = archive.channels[static_cast<std::size_t>(c)];
        m_rate[Index(c)] = std::max(setup.fps, 1);
        if (!protocol::HasChannel(channels, c)) {
            continue;
        }
        std::vector<Run> runs;
        for (const auto& s : archive.stretches) {
            if (!protocol::HasChannel(s.mask, c) || (eventsOnly && (s.kinds & kRecordEvent) == 0)) {
                continue;
            }
            Run r{s.start, s.end};
            if (end != 0) {
                r.end = std::min<std::int64_t>(r.end, end);
            }
            if (r.end > r.start) {
                runs.push_back(r);
            }
        }
        std::sort(runs.begin(), runs.end(),
                  [](const Run& a, const Run& b) { return a.start < b.start; });
        // Overlapping and touching stretches are one recording.
        std::vector<Run>& merged = m_runs[Index(c)];
        for (const Run& r : runs) {
            if (!merged.empty() && r.start <= merged.back().end) {
                merged.back().end = std::max(merged.back().end, r.end);
            } else {
                merged.push_back(r);
            }
        }
        if (setup.audio && !merged.empty()) {
            m_audioChannels |= protocol::ChannelBit(c);
            audio.insert(audio.end(), merged.begin(), merged.end());
        }
    }
    std::sort(audio.begin(), audio.end(),
              [](const Run& a, const Run& b) { return a.start < b.start; });
    for (const Run& r : audio) {
        auto& merged = m_runs[kAudioTrack];
        if (!merged.empty() && r.start <= merged.back().end) {
            merged.back().end = std::max(merged.back().end, r.end);
        } else {
            merged.push_back(r);
        }
    }
    m_rate[kAudioTrack] = kPlayAudioBlocksPerSecond;
}

protocol::ChannelMask CPlayTimeline::AudioAt(protocol::ChannelMask among,
                                             std::int64_t second) const {
    protocol::ChannelMask out = 0;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        if (protocol::HasChannel(among & m_audioChannels, c) && RunOf(c, second) != nullptr) {
            out |= protocol::ChannelBit(c);
        }
    }
    return out;
}

const CPlayTimeline::Run* CPlayTimeline::RunOf(int track, std::int64_t second) const {
    const auto& runs = m_runs[Index(track)];
    // The last run that starts at or before `second`.
    auto it = std::upper_bound(runs.begin(), runs.end(), second,
                               [](std::int64_t s, const Run& r) { return s < r.start; });
    if (it == runs.begin()) {
        return nullptr;
    }
    --it;
    return second < it->end ? &*it : nullptr;
}

std::int64_t CPlayTimeline::Micros(int track, PlayFrame f) const {
    return f.second * kMicrosPerSecond + f.index * kMicrosPerSecond / Rate(track);
}

bool CPlayTimeline::Inside(int track, std::int64_t micros) const {
    return RunOf(track, FloorDiv(micros, kMicrosPerSecond)) != nullptr;
}

std::optional<PlayFrame> CPlayTimeline::FirstAtOrAfter(int track, std::int64_t micros) const {
    const auto& runs = m_runs[Index(track)];
    const std::int64_t rate = Rate(track);
    const std::int64_t second = FloorDiv(micros, kMicrosPerSecond);
    if (const Run* run = RunOf(track, second)) {
        // The smallest k with floor(k x 1e6 / rate) >= the rest of the second.
        const std::int64_t rest = micros - second * kMicrosPerSecond;
        const std::int64_t k = CeilDiv(rest * rate, kMicrosPerSecond);
        if (k < rate) {
            return PlayFrame{second, static_cast<int>(k)};
        }
        if (second + 1 < run->end) {
            return PlayFrame{second + 1, 0};
        }
    }
    auto it = std::upper_bound(runs.begin(), runs.end(), second,
                               [](std::int64_t s, const Run& r) { return s < r.start; });
    if (it == runs.end()) {
        return std::nullopt;
    }
    return PlayFrame{it->start, 0};
}

std::optional<PlayFrame> CPlayTimeline::LastAtOrBefore(int track, std::int64_t micros) const {
    const auto& runs = m_runs[Index(track)];
    const std::int64_t rate = Rate(track);
    const std::int64_t second = FloorDiv(micros, kMicrosPerSecond);
    if (RunOf(track, second) != nullptr) {
        // The largest k with floor(k x 1e6 / rate) <= the rest of the second.
        const std::int64_t rest = micros - second * kMicrosPerSecond;
        const std::int64_t k = std::min(rate - 1, CeilDiv((rest + 1) * rate, kMicrosPerSecond) - 1);
        return PlayFrame{second, static_cast<int>(k)};
    }
    // The last run that ends at or before `second`.
    auto it = std::upper_bound(runs.begin(), runs.end(), second,
                               [](std::int64_t s, const Run& r) { return s < r.start; });
    if (it == runs.begin()) {
        return std::nullopt;
    }
    --it;
    return PlayFrame{it->end - 1, static_cast<int>(rate - 1)};
}

std::optional<PlayFrame> CPlayTimeline::Next(int track, PlayFrame f) const {
    if (f.index + 1 < Rate(track)) {
        return PlayFrame{f.second, f.index + 1};
    }
    if (RunOf(track, f.second + 1) != nullptr) {
        return PlayFrame{f.second + 1, 0};
    }
    return FirstAtOrAfter(track, (f.second + 1) * kMicrosPerSecond);
}

std::optional<PlayFrame> CPlayTimeline::Prev(int track, PlayFrame f) const {
    if (f.index > 0) {
        return PlayFrame{f.second, f.index - 1};
    }
    return LastAtOrBefore(track, f.second * kMicrosPerSecond - 1);
}

std::uint32_t CPlayTimeline::Counter(int track, PlayFrame f) const {
    const std::int64_t ofDay = f.second - FloorDiv(f.second, kSecondsPerDay) * kSecondsPerDay;
    return static_cast<std::uint32_t>(ofDay * Rate(track) + f.index);
}

bool CPlayTimeline::IsKey(int track, PlayFrame f) const {
    if (Counter(track, f) % static_cast<std::uint32_t>(m_gop) == 0) {
        return true;
    }
    const Run* run = RunOf(track, f.second);
    return f.index == 0 && run != nullptr && run->start == f.second;
}

PlayFrame CPlayTimeline::KeyAtOrBefore(int track, PlayFrame f) const {
    // A run starts with a key frame and key frames follow every m_gop frames, so this
    // takes fewer than m_gop steps and never leaves the run.
    for (int guard = 0; guard < m_gop && !IsKey(track, f); ++guard) {
        const auto prev = Prev(track, f);
        if (!prev) {
            break;
        }
        f = *prev;
    }
    return f;
}

std::optional<PlayFrame> CPlayTimeline::KeyForStart(int track, std::int64_t micros) const {
    if (Inside(track, micros)) {
        if (const auto at = LastAtOrBefore(track, micros)) {
            return KeyAtOrBefore(track, *at);
        }
    }
    return FirstAtOrAfter(track, micros);
}

}  // namespace taviro::sim
