// CClipWriter: the recorded frames and sound of a range of channels into one MP4 or
// Matroska file per channel (the tracks as export_muxer.h forms them). The records come in
// recorded order, from the backup pairs of a folder (the local Export) or straight from a
// recorder's backup transfer (a clip); the writer does not care which.
//
// The start is exact: a channel's file starts at its key frame at or before `from` (the
// frames since that key frame are kept while they come, up to kMaxLeadBytes), and its
// presentation starts at `from` (MP4: an edit list; Matroska holds the frames before it
// with times before zero). A channel without a key frame before `from` starts at its first
// key frame after it, and a note says so. Frames are taken until `to` (not included).
//
// Left out, and counted: frames whose record is marked display-exempt (the copy a recorder
// puts in front of a block, the same picture as the key frame that follows), frames of a
// kind the decoder skips, picture sizes the local reader does not accept, and frames that
// are not later than the channel's previous one (overlapping backups); after a frame that
// is left out for any reason, the channel waits for its next key frame.
//
// A channel whose picture size changes starts a new file at the first key frame of the new
// size, as does a gap of more than six hours (MP4 holds no longer step between two frames).
// When it is not known beforehand which channels have sound, a channel's file opens once
// its first sound came or kSoundWait of its pictures went by without, so the file has a
// sound track exactly when the recording has sound.
//
// Files: everything is written under ".NAME.part" in the folder and renamed only after the
// last trailer is written. Finish() gives every file its final name or none; an existing
// file of a final name is moved aside first and removed only once all have their names (put
// back otherwise); a folder under a final name is never replaced. Abort(), a failure and the
// destructor remove every temporary file.
//
// Threads: one thread calls everything; the object owns its files.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archive/backup_reader.h"
#include "archive/export_muxer.h"
#include "audio/g726.h"

namespace taviro::archive {

// What a file a clip or an export wrote holds.
struct ExportedFile {
    std::filesystem::path path;
    int channel = 0;  // 0-based
    int width = 0;
    int height = 0;
    std::string title;
    std::uint32_t start = 0;       // recorded time of the first frame shown (whole seconds)
    std::uint64_t frames = 0;      // frames shown (from the start on)
    std::uint64_t leadFrames = 0;  // frames before the start, decoded but not shown
    std::int64_t firstMicros = 0;  // recorded times of the first and last frames shown
    std::int64_t lastMicros = 0;
    double duration = 0;             // first to last frame shown plus one frame, seconds
    std::uint64_t audioSamples = 0;  // recorded samples at 16,000 a second
    bool audio = false;              // the file has a sound track
};

struct ExportResult {
    bool ok = false;
    bool cancelled = false;
    std::string error;                // why it failed
    std::vector<ExportedFile> files;  // in channel order, each channel's files in time order
    std::uint64_t framesLeftOut = 0;  // in range, but not written (see above)
    std::vector<std::string> notes;   // things the user should know about a good export
};

// The frames kept from a channel's key frame before the start, at most.
inline constexpr std::size_t kMaxLeadBytes = 32u << 20;
// How far before the start a key frame is looked for.
inline constexpr std::int64_t kMaxLeadMicros = 60'000'000;
// How long a channel's pictures wait for its first sound when nobody said whether it has any.
inline constexpr std::int64_t kSoundWait = 2'000'000;

struct ClipSetup {
    std::uint32_t from = 0;  // recorded seconds [from, to)
    std::uint32_t to = 0;
    std::uint32_t channels = 0;  // bit n: channel n (16 channels)
    ExportFormat format = ExportFormat::Mp4;
    std::filesystem::path folder;  // where the files go; it exists
    // A file's name in the folder: channel (0-based) and the channel's part (1-based).
    std::function<std::string(int channel, int part)> name;
    // The channels that have sound in the range, when known beforehand.
    std::optional<std::uint32_t> soundChannels;
};

// A clip's file name in its folder: "chNN.mp4" (or .mkv), a channel's later parts
// "chNN_2.mp4", ... (channel 0-based, part 1-based).
std::string ClipFileName(int channel, int part, ExportFormat format);

class CClipWriter {
  public:
    // Gives the payload of the record being handed over, when the writer takes the record
    // (nothing when it cannot be read: the record is then left out).
    using PayloadFn = std::function<std::optional<std::span<const std::uint8_t>>()>;

    explicit CClipWriter(ClipSetup setup);
    ~CClipWriter();
    CClipWriter(const CClipWriter&) = delete;
    CClipWriter& operator=(const CClipWriter&) = delete;

    // One record in recorded order. False once the writer has failed (Error()).
    bool Video(const VidRecord& record, const PayloadFn& payload);
    bool Audio(const VidRecord& record, const PayloadFn& payload);
    // Finishes every file and gives them their final names, all or none. `cancelled`:
    // nothing is finished, every temporary file is removed.
    ExportResult Finish(bool cancelled = false);
    // Removes every file written so far; Finish() then reports `reason`.
    void Abort(std::string reason = "cancelled");

    [[nodiscard]] bool Failed() const { return !m_result.error.empty(); }
    [[nodiscard]] const std::string& Error() const { return m_result.error; }
    // The recorded time of the latest frame of the channels taken (microseconds), -1 before
    // the first: how far a clip got.
    [[nodiscard]] std::int64_t LatestMicros() const { return m_nLatestMicros; }
    // Bytes of frames and sound handed to the files so far.
    [[nodiscard]] std::uint64_t BytesTaken() const { return m_nBytesTaken; }

  private:
    struct Frame {
        std::vector<std::uint8_t> sample;  // length-prefixed units
        std::int64_t micros = 0;
        bool key = false;
        stream::StreamFrameHeader header;
    };
    struct Sound {
        std::int64_t micros = 0;
        std::array<std::int16_t, kExportBlockSamples> samples{};
    };
    struct Part {
        std::filesystem::path temp;
        ExportedFile file;
    };
    struct Channel {
        std::unique_ptr<CExportMuxer> muxer;
        Part open;                     // the file being written
        std::int64_t startMicros = 0;  // recorded time of its first frame
        std::int64_t lastMicros = -1;  // of the last frame taken (any of its files)
        bool needKey = true;
        bool hasSound = false;        // known to have sound (or heard)
        bool started = false;         // a frame at or after the start was taken
        std::int64_t firstTaken = 0;  // the recorded time of that frame
        std::uint64_t skippedBeforeKey = 0;
        int parts = 0;
        std::vector<Frame> waiting;  // from the key frame before the start, or waiting for sound
        std::size_t waitingBytes = 0;
        std::vector<Sound> sound;     // heard before the file opened
        audio::CG726Decoder decoder;  // the predictor follows every block, as the client's does
        std::vector<Part> finished;
    };

    bool TakeFrame(Channel& state, int channel, Frame frame);
    bool OpenPart(Channel& state, int channel, const Frame& first, std::int64_t lead);
    bool FlushWaiting(Channel& state, int channel);
    bool Write(Channel& state, Frame& frame);
    bool FinishPart(Channel& state);
    void LeaveOut(Channel& state);
    // The frames kept from before the start cannot be followed on: the next key frame.
    void ForgetLead(Channel& state);
    bool Fail(std::string error);
    void RemoveTemporaries();

    ClipSetup m_setup;
    std::int64_t m_nFromMicros;
    std::int64_t m_nToMicros;
    std::array<Channel, 16> m_channels;
    std::vector<std::int16_t> m_pcm = std::vector<std::int16_t>(kExportBlockSamples);
    std::int64_t m_nLastVideoMicros = -1;  // any channel's, for the audio blocks' times
    std::int64_t m_nLatestMicros = -1;
    std::uint64_t m_nBytesTaken = 0;
    bool m_bAudioNoted = false;
    bool m_bDone = false;
    ExportResult m_result;
};

}  // namespace taviro::archive
