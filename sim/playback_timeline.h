// Which frames a playback can send: for every played channel, the stretches of the
// archive that record it (narrowed to the requested kinds and cut at the requested end),
// merged into runs of whole seconds, and the frames inside them.
//
// A channel recording at F frames a second has frame k (0..F-1) of every recorded second s,
// at s seconds and floor(k x 1,000,000 / F) microseconds. Its picture is the camera test
// pattern with the frame counter
//
//     (s mod 86,400) x F + k        (the frame's number since midnight of its own day)
//
// and it is a key frame when that counter is a multiple of the group length, or when it is
// the first frame of a run (a recording always starts with a key frame). So a key frame
// lies at most group length - 1 frames before any frame, within the same run.
//
// The audio track (track kAudioTrack) works the same way at 125 blocks a second over the
// seconds in which any played channel with sound records.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"
#include "sim/archive.h"

namespace taviro::sim {

inline constexpr int kAudioTrack = protocol::kMaxChannels;
inline constexpr int kPlayAudioBlocksPerSecond = 125;

struct PlayFrame {
    std::int64_t second = 0;
    int index = 0;  // 0..rate-1 within the second
    bool operator==(const PlayFrame&) const = default;
};

// Which stretches a PlayRequest's kinds word selects: 0 and 0x3F all of them, any other
// set of event kinds the event recordings only.
bool PlayKindsSelectEventsOnly(std::uint32_t kinds);

class CPlayTimeline {
  public:
    // `end` 0: open-ended; otherwise nothing at or after `end` is played. `gop` at least 1.
    CPlayTimeline(const SimArchive& archive, protocol::ChannelMask channels, bool eventsOnly,
                  protocol::RecorderTime end, int gop);

    // Frames (blocks) per second of a track.
    [[nodiscard]] int Rate(int track) const { return m_rate[Index(track)]; }
    // The recorded channels (of those asked for) with sound.
    [[nodiscard]] protocol::ChannelMask AudioChannels() const { return m_audioChannels; }
    // The channels of `among` with sound that record during `second`.
    [[nodiscard]] protocol::ChannelMask AudioAt(protocol::ChannelMask among,
                                                std::int64_t second) const;

    [[nodiscard]] std::int64_t Micros(int track, PlayFrame f) const;
    [[nodiscard]] std::optional<PlayFrame> FirstAtOrAfter(int track, std::int64_t micros) const;
    [[nodiscard]] std::optional<PlayFrame> LastAtOrBefore(int track, std::int64_t micros) const;
    [[nodiscard]] std::optional<PlayFrame> Next(int track, PlayFrame f) const;
    [[nodiscard]] std::optional<PlayFrame> Prev(int track, PlayFrame f) const;
    // True when `micros` lies within a run of the track (between its first second and the
    // end of its last).
    [[nodiscard]] bool Inside(int track, std::int64_t micros) const;

    // The picture's frame counter (see above).
    [[nodiscard]] std::uint32_t Counter(int track, PlayFrame f) const;
    [[nodiscard]] bool IsKey(int track, PlayFrame f) const;
    // The key frame at or before `f`, in its run.
    [[nodiscard]] PlayFrame KeyAtOrBefore(int track, PlayFrame f) const;
    // Where a positioned start lands: the key frame at or before the last frame at or
    // before `micros` when that lies in a run, else the first frame after it (a run's
    // first frame, a key frame).
    [[nodiscard]] std::optional<PlayFrame> KeyForStart(int track, std::int64_t micros) const;

  private:
    struct Run {
        std::int64_t start;  // first second
        std::int64_t end;    // first second after
    };
    static std::size_t Index(int track) {
        return static_cast<std::size_t>(track < 0 ? 0
                                                  : (track > kAudioTrack ? kAudioTrack : track));
    }
    // The run holding `second`, or nullptr.
    [[nodiscard]] const Run* RunOf(int track, std::int64_t second) const;

    std::array<std::vector<Run>, kAudioTrack + 1> m_runs;
    std::array<int, kAudioTrack + 1> m_rate{};
    protocol::ChannelMask m_audioChannels = 0;
    int m_gop;
};

}  // namespace taviro::sim
