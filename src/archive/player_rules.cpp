#include "archive/player_rules.h"

#include <bit>

#include "protocol/byte_order.h"

namespace taviro::archive {

ModeChange ApplyMode(PlayerState current, PlayerMode pressed) {
    ModeChange change;
    change.state = current;
    change.state.mode = pressed;
    const int speed = current.speed;
    switch (pressed) {
        case PlayerMode::Forward:
            // One step faster while already playing forward, back to 1 after 6.
            change.state.speed = (speed >= 1 && speed <= 5) ? speed + 1 : 1;
            change.stopAudio = change.state.speed > 1;
            change.reanchor = true;
            break;
        case PlayerMode::Backward:
            change.state.speed = (speed >= -5 && speed <= -1) ? speed - 1 : -2;
            change.stopAudio = true;
            change.reanchor = true;
            break;
        case PlayerMode::Pause:
            if (IsBackwardMode(current.mode) || speed <= 0) {
                change.state.speed = 0;
            } else {
                change.state.speed = 7;
                change.reanchor = speed >= 2 && speed <= 6;
            }
            change.stopAudio = true;
            break;
        case PlayerMode::NextStep:
        case PlayerMode::PreviousStep:
            change.stopAudio = true;
            change.reanchor = true;
            break;
        case PlayerMode::SlowForward:
            change.state.speed = 11;
            change.stopAudio = true;
            change.reanchor = true;
            break;
        case PlayerMode::SlowBackward:
            change.state.speed = 10;
            change.stopAudio = true;
            change.reanchor = true;
            break;
    }
    return change;
}

int IconSpeed(const PlayerState& state) {
    switch (state.mode) {
        case PlayerMode::Forward:
            return state.speed >= 1 && state.speed <= 6 ? state.speed : 1;
        case PlayerMode::Backward:
            return state.speed >= -6 && state.speed <= -2 ? state.speed : -2;
        case PlayerMode::SlowForward:
            return 1;
        case PlayerMode::SlowBackward:
            return -1;
        case PlayerMode::NextStep:
            return 10;
        case PlayerMode::PreviousStep:
            return 11;
        case PlayerMode::Pause:
            return 0;
    }
    return 0;
}

int ShowEvery(int speed) {
    switch (speed) {
        case 3:
        case -3:
            return 2;
        case 4:
        case -4:
            return 3;
        case 5:
        case -5:
            return 4;
        case 6:
        case -6:
            return 5;
        default:
            return 1;
    }
}

std::int64_t PaceWait(PlayerMode mode, int speed, std::int64_t distanceMs) {
    if (mode == PlayerMode::SlowForward || mode == PlayerMode::SlowBackward) {
        return 2 * distanceMs;
    }
    if (mode != PlayerMode::Forward && mode != PlayerMode::Backward) {
        return -1;
    }
    switch (speed < 0 ? -speed : speed) {
        case 1:
            return distanceMs;
        case 2:
            return distanceMs / 2;
        case 3:
            return distanceMs / 4;
        case 4:
            return distanceMs / 16;
        case 5:
            return distanceMs / 64;
        case 6:
            return distanceMs / 256;
        default:
            return -1;
    }
}

int LayoutCodeFor(std::uint32_t mask) {
    mask &= 0xFFFFu;
    const int highest = mask == 0 ? 0 : 32 - std::countl_zero(mask);  // 1-based
    if (highest <= 4) {
        return 1;
    }
    if (highest <= 9) {
        return 6;
    }
    return 14;
}

SliderSpan SpanOf(std::span<const PlaySegment> segments, std::size_t current) {
    if (current >= segments.size()) {
        return {};
    }
    std::size_t first = current;
    while (first > 0 && segments[first].joinedToPrevious) {
        --first;
    }
    // Segments of one file follow each other; the file's first carries the join.
    while (first > 0 && segments[first - 1].vidPath == segments[first].vidPath) {
        --first;
        while (first > 0 && segments[first].joinedToPrevious) {
            --first;
        }
    }
    std::size_t last = current;
    for (;;) {
        while (last + 1 < segments.size() && segments[last + 1].vidPath == segments[last].vidPath) {
            ++last;
        }
        if (last + 1 < segments.size() && segments[last].joinedToNext) {
            ++last;
            continue;
        }
        break;
    }
    return SliderSpan{segments[first].startTime, segments[last].endTime};
}

std::optional<std::size_t> SeekSegment(std::span<const PlaySegment> segments,
                                       std::uint32_t target) {
    if (segments.empty()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        if (segments[i].endTime >= target) {
            return i;
        }
    }
    return segments.size() - 1;
}

int WatermarkState(std::span<const std::uint8_t> header, std::span<const std::uint8_t> payload,
                   bool check) {
    if (!check) {
        return -1;
    }
    if (header.size() <= kWatermarkOffset + 1 || header[kWatermarkMarkOffset] != kWatermarkMark) {
        return 0;
    }
    const std::uint16_t stored = protocol::LoadBE16(header.data() + kWatermarkOffset);
    return WatermarkChecksum(payload) == stored ? 1 : 2;
}

}  // namespace taviro::archive
