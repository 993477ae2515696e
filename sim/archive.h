// What the simulated recorder holds on its disk: stretches of recordings, the raw day flags
// of its month index, and how each channel records (picture size, frame rate, title,
// sound). One archive is loaded when the simulator starts and shared, read-only, by every
// connection; the month and day answers and remote playback are computed from it.
//
// Times are recorder time: seconds since 1970 of the recorder's wall clock, read as UTC. A
// stretch covers the seconds [start, end): its last recorded second is end - 1, and the
// day records carry start and end as they are.
//
// The default archive (when no archive file is given; the demo and the command-line tests
// rely on exactly this):
//
//   2010-10-12  08:00:00-09:30:00  continuous  every channel of the recorder
//   2010-10-12  12:00:00-12:05:00  event       channels 1 and 3 (1-based; mask 0x0005)
//   2010-10-12  23:30:00-00:30:00  continuous  every channel, into 2010-10-13
//   2010-10-13  14:00:00-14:10:00  continuous  channel 2 (mask 0x0002)
//   2011-03-05  10:00:00-10:30:00  continuous  every channel
//
// in that order (the order of the day records), no raw flags, and every channel recording
// at the live picture size and frame rate, with the live titles, with sound on the live
// audio channels. Masks are cut down to the channels the recorder has.
//
// An archive file replaces all of it. One item a line, words separated by blanks, '#'
// starts a comment:
//
//   stretch MASK KINDS START END   MASK 0x-hex or decimal (bit n = channel n), KINDS
//                                  continuous, event or both, START and END like
//                                  2010-10-12T08:00:00, END after START
//   flag YYYY-MM-DD                a raw day flag of the month index on top of what the
//                                  stretches imply; the day may be one the month does
//                                  not have (up to 31), as a recorder may send it
//   channel N WxH FPS [audio]      how channel N (1-based) records; channels without a
//                                  line keep the live settings
//
// Stretches are kept in start order (lines with the same start in file order).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/channel_mask.h"
#include "protocol/recorder_time.h"
#include "sim/sim_config.h"

namespace taviro::sim {

inline constexpr std::uint8_t kRecordContinuous = 0x01;
inline constexpr std::uint8_t kRecordEvent = 0x02;

inline constexpr std::size_t kMonthInfoRecordSize = 376;
inline constexpr std::size_t kDayInfoRecordSize = 24;
// Bytes 5..15 of a day record mean nothing to the client; the recorder leaves its own
// bookkeeping there, never zeros.
inline constexpr std::uint8_t kDayInfoFiller = 0xA5;

// Bounds for an archive file: the client keeps a day answer in a 2,400,000-byte buffer
// (100,000 records), and nobody writes more than this by hand.
inline constexpr std::size_t kMaxArchiveStretches = 10'000;
inline constexpr std::size_t kMaxArchiveFlags = 10'000;
inline constexpr std::size_t kMaxArchiveFileSize = 1 << 20;
inline constexpr std::size_t kMaxArchiveLine = 1024;

struct ArchiveStretch {
    protocol::ChannelMask mask = 0;
    std::uint8_t kinds = 0;  // kRecordContinuous | kRecordEvent
    protocol::RecorderTime start = 0;
    protocol::RecorderTime end = 0;
    bool operator==(const ArchiveStretch&) const = default;
};

struct ArchiveDate {
    int year = 0;   // 1970..2037
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    bool operator==(const ArchiveDate&) const = default;
};

struct ArchiveChannel {
    int width = 704;
    int height = 480;
    int fps = 30;
    bool audio = false;
    std::string title;  // "CH<n>" (1-based) when the recorder has no title for it
};

struct SimArchive {
    std::vector<ArchiveStretch> stretches;  // in start order
    std::vector<ArchiveDate> flags;
    std::array<ArchiveChannel, protocol::kMaxChannels> channels;
};

// The channels the recorder has (bits 0..channels - 1, at most 16).
protocol::ChannelMask RecorderChannels(const SimConfig& config);

// Every channel with the live settings of `config`, no stretches, no flags.
SimArchive EmptyArchive(const SimConfig& config);
// The default archive above.
SimArchive DefaultArchive(const SimConfig& config);
// An archive file's text; nullopt and "line N: why" in *error when it is not valid.
std::optional<SimArchive> ParseArchive(std::string_view text, const SimConfig& config,
                                       std::string* error);
// config.archive_file when set, else the default archive; nullopt and the reason (naming
// the file) in *error when the file cannot be read or is not valid, or when the live
// picture size, which channels record at by default, is not one the recorder encodes.
std::optional<SimArchive> LoadArchive(const SimConfig& config, std::string* error);

// The month answer: one MonthInfoRecord per year with a recorded day or a raw flag, in
// ascending years.
std::vector<std::uint8_t> MonthInfoBytes(const SimArchive& archive);
// The day answer: one DayInfoRecord per stretch that records during that day, in start
// order; empty for a date that does not exist.
std::vector<std::uint8_t> DayInfoBytes(const SimArchive& archive, int year, int month, int day);

// The recorder time of 00:00:00 on that date; nullopt when the date does not exist or lies
// outside 1970..2037.
std::optional<protocol::RecorderTime> DayStart(int year, int month, int day);
// The date of a recorder time (read as UTC).
ArchiveDate DateOf(std::int64_t time);

}  // namespace taviro::sim
