// The local player's rules without its thread: what a button does to the mode and the
// speed, which frames a speed shows, how long the pacing waits, which layout a segment
// needs, and the span of the slider over joined segments. Pure functions.
#pragma once

#include <cstdint>
#include <span>

#include "archive/backup_reader.h"

namespace taviro::archive {

enum class PlayerMode : int {
    PreviousStep = 1,
    Backward = 2,
    Forward = 3,
    Pause = 4,
    NextStep = 7,
    SlowBackward = 10,
    SlowForward = 11,
};

struct PlayerState {
    PlayerMode mode = PlayerMode::Pause;
    // Forward 1..6, backward -2..-6, 7 after pausing forward play, 0 after pausing
    // backward play, 10 and 11 in the slow modes; 0 before the first press.
    int speed = 0;
};

// What a button press changes.
struct ModeChange {
    PlayerState state;
    bool stopAudio = false;  // the audio path stops (no sound but at forward speed 1)
    bool reanchor = false;   // the pacing starts again from the next frame
};
ModeChange ApplyMode(PlayerState current, PlayerMode pressed);

[[nodiscard]] constexpr bool IsBackwardMode(PlayerMode mode) {
    return mode == PlayerMode::Backward || mode == PlayerMode::PreviousStep ||
           mode == PlayerMode::SlowBackward;
}
[[nodiscard]] constexpr bool IsStepMode(PlayerMode mode) {
    return mode == PlayerMode::NextStep || mode == PlayerMode::PreviousStep;
}

// The panes' playback-state icon for the player's state: 0 pause, 1 play, 2..6 fast
// forward, -1 (slow) backward, -2..-6 fast backward, 10 the next step, 11 the previous step.
// The speed alone does not say it: after a pause it keeps 7 or 0, a step keeps the speed of
// the mode before, and slow play has codes of its own.
int IconSpeed(const PlayerState& state);

// Every n-th frame of a channel is shown at this speed (1: every frame).
int ShowEvery(int speed);
// How long the pacing waits for a media distance of `distanceMs`; -1: no pacing in this mode.
std::int64_t PaceWait(PlayerMode mode, int speed, std::int64_t distanceMs);

// The layout for the highest channel of `mask`: 1..4 -> 1, 5..9 -> 6, 10..16 -> 14.
int LayoutCodeFor(std::uint32_t mask);

// The slider's span around segment `current`: back while joined to the previous one, on
// while joined to the next.
struct SliderSpan {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
};
SliderSpan SpanOf(std::span<const PlaySegment> segments, std::size_t current);

// The segment a seek to `target` moves to: the first that ends at or after it (the last
// one when every one ends before). Nothing for an empty list.
std::optional<std::size_t> SeekSegment(std::span<const PlaySegment> segments, std::uint32_t target);

// A frame's watermark state: -1 not checked (another speed, or the setting off), 0 the
// frame carries none, 1 intact, 2 altered.
int WatermarkState(std::span<const std::uint8_t> header, std::span<const std::uint8_t> payload,
                   bool check);

}  // namespace taviro::archive
