// Export of backup recordings to standard video files (MP4 or Matroska) that any player
// opens: per channel one file with the recorded H.264 frames as they are (no re-encoding),
// each at its recorded time, and the channel's sound, written by the clip writer
// (clip_writer.h tells what is left out, where a file starts and how files are named
// safely; export_muxer.h how the tracks are formed).
//
// What goes in: the pairs of the folder (chained as the local player chains them), read
// from the index block that holds the minute before `from` onwards, so that each channel's
// file can start at its key frame before `from` and be shown from `from` exactly.
//
// Files: with one channel in the mask the output name itself, with several NAME_chNN.EXT
// (1-based channel); a channel's later files (a new picture size, a gap of more than six
// hours) NAME_2.EXT, NAME_chNN_2.EXT, ...
//
// Metadata: the title is the camera title of the channel's first frame (the recorder's
// when its checksum matches, otherwise "CH<n>"), creation_time the recorded time of the
// first frame shown (the recorder's wall clock, like every time of the archive, written as
// UTC).
//
// Threads: ExportRange runs on the caller's thread and calls `progress` there; `cancel`
// may be set from any thread and is looked at between records.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/clip_writer.h"
#include "archive/export_muxer.h"

namespace taviro::archive {

// ".mp4" or ".mkv" (any case); nothing for another extension.
std::optional<ExportFormat> ExportFormatOf(const std::filesystem::path& path);

// Bytes read of the range so far and all bytes of the range (the index blocks that
// overlap it), for a progress bar with bytes and time left.
using ExportProgressFn = std::function<void(std::uint64_t bytes, std::uint64_t total)>;

// Each channel of `channels` (bit n: channel n) with frames in [from, to) into its own file.
ExportResult ExportRange(const std::filesystem::path& folder, std::uint32_t from, std::uint32_t to,
                         std::uint32_t channels, const std::filesystem::path& output,
                         ExportFormat format, const ExportProgressFn& progress = {},
                         const std::atomic<bool>* cancel = nullptr);

}  // namespace taviro::archive
