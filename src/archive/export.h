// Export of backup recordings to standard video files (MP4 or Matroska) that any player
// opens: per channel one file with the recorded H.264 frames as they are (no re-encoding),
// each at its recorded time, and the channel's sound. How the tracks are formed is told in
// export_muxer.h.
//
// What goes in: the pairs of the folder (chained as the local player chains them), read
// from the index block that holds `from` onwards; video frames of the channel mask whose
// time lies in [from, to), from each channel's first key frame on. Left out: frames whose
// record is marked display-exempt (the copy a recorder puts in front of a block, the same
// picture as the key frame that follows), frames of a kind the decoder skips, picture
// sizes the local reader does not accept, and frames that are not later than the
// channel's previous one (overlapping backups in one folder); after a frame that is left
// out for any reason but the first, the channel waits for its next key frame.
//
// Files: with one channel in the mask the output name itself, with several NAME_chNN.EXT
// (1-based channel). A channel whose picture size changes starts a new file at the first
// key frame of the new size (NAME_2.EXT, NAME_chNN_2.EXT, ...): one file has one size, as
// its parameter sets describe one. So does a gap of more than six hours (MP4 holds no
// longer step between two frames); shorter gaps stay gaps inside the file. Everything is written
// under ".NAME.part" in the output folder and renamed only after the last trailer is written; after
// an error or a cancel every temporary file is removed and no final name is touched. Every file
// takes its final name or none does: an existing file of a final name is moved aside first and
// removed only once all have their names (put back otherwise); a folder under a final name is
// never replaced.
//
// Metadata: the title is the camera title of the channel's first frame (the recorder's
// when its checksum matches, otherwise "CH<n>"), creation_time the recorded time of the
// first frame (the recorder's wall clock, like every time of the archive, written as UTC).
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

#include "archive/export_muxer.h"

namespace taviro::archive {

// ".mp4" or ".mkv" (any case); nothing for another extension.
std::optional<ExportFormat> ExportFormatOf(const std::filesystem::path& path);

struct ExportedFile {
    std::filesystem::path path;
    int channel = 0;  // 0-based
    int width = 0;
    int height = 0;
    std::string title;
    std::uint32_t start = 0;  // recorded time of the first frame (whole seconds)
    std::uint64_t frames = 0;
    double duration = 0;             // first to last timestamp plus one frame, seconds
    std::uint64_t audioSamples = 0;  // recorded samples at 16,000 a second
    bool audio = false;              // the file has a sound track
};

struct ExportResult {
    bool ok = false;
    bool cancelled = false;
    std::string error;                // why it failed
    std::vector<ExportedFile> files;  // in channel order, each channel's files in time order
    std::uint64_t framesLeftOut = 0;  // in range, but not exported (see above)
    std::vector<std::string> notes;   // things the user should know about a good export
};

// Bytes read of the range so far and all bytes of the range (the index blocks that
// overlap it), for a progress bar with bytes and time left.
using ExportProgressFn = std::function<void(std::uint64_t bytes, std::uint64_t total)>;

// Each channel of `channels` (bit n: channel n) with frames in [from, to) into its own file.
ExportResult ExportRange(const std::filesystem::path& folder, std::uint32_t from, std::uint32_t to,
                         std::uint32_t channels, const std::filesystem::path& output,
                         ExportFormat format, const ExportProgressFn& progress = {},
                         const std::atomic<bool>* cancel = nullptr);

}  // namespace taviro::archive
