// The simulated recorder's backup transfer: the records it sends for a range, byte for byte
// as a recorder's stream layer lays them out, in the order it sends them, and the estimate
// of their size that answers the capacity question.
//
// The range (TRANS_ON_REQ, TRANS_DATA_REQ), 24 bytes:
//
//      0   4  channel mask, big-endian (bit n = channel n)
//      4   4  recording kinds, little-endian (63: everything; see playback_timeline.h)
//      8   8  zero
//     16   4  start, big-endian (recorder time)
//     20   4  end, big-endian; the seconds [start, end) are transferred
//
// The records (numeric words in the product type's order: big-endian from product type 3
// recorders, little-endian from the others), in time order across the channels, a video
// frame before an audio block of the same time, lower channels first:
//
// A video frame: the playback frame (playback_stream.h: 192-byte header, one access unit)
// of every recorded frame of the requested channels the recorder has, plus
//
//     40   4  index block key: 1 + (second - start) / 4, so a block holds 4 seconds of
//             every channel
//     48   1  0x01
//     49   1  0x00
//     50   1  recording kinds of the stretches the frame lies in (bit 0 continuous, bit 1
//             event)
//     51   1  2 when the frame carries a watermark checksum (every key frame does), else 0
//     53   2  the checksum, big-endian (BackupWatermark of the access unit)
//
// A channel has a key frame every 25 frames (frame counters, playback_timeline.h, that are
// multiples of 25), at the first frame of a recording and at its first frame in the
// transfer. Each block after the first that opens with a frame of the marker channel (the
// lowest channel transferred; it does whenever that channel records at the block's first
// recorded second) opens with a key frame of it, and right before that comes a copy of it
// marked display-exempt (byte 52 = 1) with the block key 0xFFFFFFFF. The copy is the same
// key frame as the one after it, so a player that decodes it and one that skips it hold the
// same reference picture afterwards: skipping it never harms the decoding.
//
// An audio block: the playback audio block (64-byte header, 48 bytes of G.726 per channel
// of its mask) every 40 ms of the seconds in which a requested channel with sound records,
// its mask those channels.
//
// An event log, right after the first video frame: a 64-byte header
//
//     16   4  0x20100611
//     28   4  bytes that follow, 32 x n
//
// and n records of 32 bytes: 0 start, 4 end, 8 channel mask (4 bytes each), 12 kind (one
// byte: 1 alarm, 2 motion, 7 audio), zeros after. They hold, in start order, a motion
// record for every event stretch within an hour of the range on the transferred channels
// (its mask narrowed to them), an alarm 1800 s before the range (outside it) on those
// channels, and, when the range is longer than 10 s, an audio event from start + 5 to
// start + 8 on the marker channel.
//
// Then one record of 64 bytes of a kind the client does not know, 0x12345678 at 16.
//
// Nothing at all when the requested channels hold no recording in the range.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"
#include "sim/archive.h"
#include "sim/live_audio.h"
#include "sim/playback_stream.h"
#include "sim/playback_timeline.h"

namespace taviro::sim {

inline constexpr std::size_t kBackupRangeSize = 24;
inline constexpr std::uint32_t kEventLogMagic = 0x20100611u;
inline constexpr std::uint32_t kBackupUnknownMagic = 0x12345678u;
inline constexpr std::size_t kEventLogHeaderSize = 64;
inline constexpr std::size_t kEventRecordSize = 32;
inline constexpr std::size_t kBackupUnknownSize = 64;
inline constexpr int kBackupGop = 25;
inline constexpr int kBackupAudioBlocksPerSecond = 25;
inline constexpr std::int64_t kBackupBlockSeconds = 4;
inline constexpr std::uint32_t kExemptBlockKey = 0xFFFFFFFFu;
// Header offsets of the additions to the playback frame.
inline constexpr std::size_t kBlockKeyOffset = 40;
inline constexpr std::size_t kRecordFlagsOffset = 48;
inline constexpr std::size_t kWatermarkOffset = 53;
inline constexpr std::uint8_t kWatermarked = 2;

inline constexpr std::uint8_t kEventAlarm = 1;
inline constexpr std::uint8_t kEventMotion = 2;
inline constexpr std::uint8_t kEventAudio = 7;

struct BackupRange {
    protocol::ChannelMask mask = 0;
    std::uint32_t kinds = 0;
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
};

// nullopt unless exactly kBackupRangeSize bytes.
[[nodiscard]] std::optional<BackupRange> ParseBackupRange(std::span<const std::uint8_t> payload);

// The watermark checksum of a frame's access unit: each visited byte is added to a 16-bit
// sum and decides how far the next visited byte lies ((b & 7) x 2 + 2 on).
[[nodiscard]] std::uint16_t BackupWatermark(std::span<const std::uint8_t> payload);

struct BackupEvent {
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
    protocol::ChannelMask mask = 0;
    std::uint8_t kind = 0;
    bool operator==(const BackupEvent&) const = default;
};

// The event log's records for the channels `channels` (already narrowed to the recorder's)
// over `range`, in start order.
[[nodiscard]] std::vector<BackupEvent> BackupEvents(const SimArchive& archive,
                                                    protocol::ChannelMask channels,
                                                    const BackupRange& range);
[[nodiscard]] std::vector<std::uint8_t> BuildEventLogRecord(int productType,
                                                            std::span<const BackupEvent> events);
[[nodiscard]] std::vector<std::uint8_t> BuildBackupUnknownRecord(int productType);

enum class BackupRecordKind { Video, Audio, EventLog, Unknown };

struct BackupRecord {
    BackupRecordKind kind = BackupRecordKind::Video;
    std::vector<std::uint8_t> bytes;
    protocol::RecorderTime seconds = 0;  // goes into word 3 of each message
    bool exempt = false;                 // the display-exempt copy before a block
    bool watermarked = false;
};

struct BackupStreamOptions {
    int productType = 3;
    int pocStep = 2;
    std::int16_t amplitude = 8000;
    // The N-th watermarked frame (1-based) gets its checksum + 1; 0: none.
    std::uint32_t tamper = 0;
};

// The records of one transfer, made one at a time as they are asked for: a whole range is
// never held in memory.
class CBackupStream {
  public:
    // `channels`: the channels the recorder has; the range's mask is narrowed to them.
    CBackupStream(std::shared_ptr<const SimArchive> archive, protocol::ChannelMask channels,
                  const BackupRange& range, const BackupStreamOptions& options);

    // The next record; nullopt when the transfer is complete (or Failed()).
    [[nodiscard]] std::optional<BackupRecord> Next();
    // A frame the encoder could not code (a picture size it does not take) ended it early.
    [[nodiscard]] bool Failed() const { return m_failed; }
    [[nodiscard]] protocol::ChannelMask Channels() const { return m_mask; }

  private:
    struct Stretch {
        std::int64_t start;
        std::int64_t end;
        std::uint8_t kinds;
    };

    [[nodiscard]] std::optional<BackupRecord> Make();
    [[nodiscard]] std::optional<BackupRecord> Video(int channel, PlayFrame frame, bool forceKey);
    [[nodiscard]] BackupRecord Audio(PlayFrame block);
    [[nodiscard]] std::uint8_t KindsAt(int channel, std::int64_t second) const;
    [[nodiscard]] std::uint32_t BlockKey(std::int64_t second) const;
    BackupRecord Emit(BackupRecord record);

    std::shared_ptr<const SimArchive> m_archive;
    BackupRange m_range;
    BackupStreamOptions m_options;
    protocol::ChannelMask m_mask = 0;
    int m_marker = -1;
    std::optional<CPlayTimeline> m_timeline;
    std::array<std::vector<Stretch>, protocol::kMaxChannels> m_stretches;
    std::array<std::optional<PlayFrame>, protocol::kMaxChannels> m_cursor;
    std::array<std::optional<PlayFrame>, protocol::kMaxChannels> m_coded;
    std::optional<PlayFrame> m_audioCursor;  // index: block of the second, 0..24
    std::optional<std::int64_t> m_block;
    bool m_sentVideo = false;
    std::deque<BackupRecord> m_pending;
    std::uint32_t m_watermarks = 0;
    bool m_failed = false;
    CPlayEncoder m_encoder;
    CLiveAudioSource m_audio;
};

// What the transfer of `range` would send in records (TRANS_ON_DATA payload bytes; the
// message headers, which depend on the fragment size, are not counted). Frames, key frames,
// audio blocks and events are counted from the archive; the block starts' key frames are
// all taken as extra ones. Key and dependent frame sizes are measured by coding one group
// of pictures per picture size:
//
//     sum over channels c:  F x 192 + K x key + (F - K) x dependent
//     marker channel:       + B x (192 + 2 x key - dependent)
//     sound channels:       + 25 x S x 48   and  + 25 x U x 64
//     when F > 0 anywhere:  + 64 + 32 x events + 64
//
// with F the channel's frames in the range (recorded seconds x frame rate), K its key
// frames, B the block starts (start + 4k, k >= 1) at which the marker channel records, S a
// sound channel's recorded seconds and U the seconds in which any of them records.
[[nodiscard]] std::uint64_t EstimateBackupBytes(const SimArchive& archive,
                                                protocol::ChannelMask channels,
                                                const BackupRange& range, int pocStep = 2);

}  // namespace taviro::sim
