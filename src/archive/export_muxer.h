// One exported video file written through libavformat: an H.264 track taken over without
// re-encoding and, when the channel has sound, an audio track of the decoded G.726 blocks.
//
// The recorder's frames are Annex B byte streams without parameter sets; the client's own
// SPS and PPS for the picture size (the ones the decoder adapter puts in front of key
// frames) go into the track's configuration record (avcC, in MP4 and Matroska alike), and
// every frame is rewritten as length-prefixed NAL units, the form both containers store.
//
// Sound: a 48-byte block is 128 G.726 samples, and the client plays every two decoded
// samples as one stereo frame at 8,000 frames a second, so a recording is heard at 16,000
// samples a second. The track keeps that rate, mono, so it sounds and lasts as the client
// plays it: 16-bit PCM in Matroska; AAC in MP4 (FFmpeg's MP4 muxer takes no PCM), or no
// audio track when the FFmpeg build has no AAC encoder. Short holes between blocks (up to
// a second) are filled with silence so the track plays smoothly; after a longer one the
// track jumps to the block's time, so gaps in the recording stay gaps.
//
// Timestamps arrive in microseconds from the file's first frame and are rescaled to each
// stream's time base (MP4 keeps 1/90,000 for video, Matroska uses 1/1,000).
//
// Threads: one object belongs to the one thread that exports; it owns its file until
// Finish() closes it or Abort() removes it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace taviro::archive {

enum class ExportFormat { Mp4, Mkv };

inline constexpr int kExportAudioRate = 16'000;
inline constexpr std::size_t kExportBlockSamples = 128;

// The NAL units of an Annex B byte stream (start codes of three or four bytes); bytes
// before the first start code and trailing zero bytes of each unit are left out.
std::vector<std::span<const std::uint8_t>> SplitAnnexB(std::span<const std::uint8_t> bytes);
// The units of `annexB`, each behind its 4-byte big-endian length; empty when there is none.
std::vector<std::uint8_t> ToLengthPrefixed(std::span<const std::uint8_t> annexB);
// The AVC configuration record of the client's parameter sets for a picture of that size;
// empty when no parameter set describes it.
std::vector<std::uint8_t> AvcConfigFor(int width, int height);

struct MuxerSetup {
    std::filesystem::path path;  // written as it is (the caller's temporary name)
    ExportFormat format = ExportFormat::Mp4;
    int width = 0;
    int height = 0;
    bool audio = false;        // add an audio track (MP4: only with an AAC encoder)
    std::string title;         // printable text
    std::string creationTime;  // ISO 8601
    // From the file's first frame to the first one shown: the frames before are decoded,
    // not shown (MP4: an edit list; Matroska: times before zero). Sound before is dropped.
    std::int64_t leadMicros = 0;
};

// Whether the FFmpeg build can give an MP4 file a sound track.
bool Mp4AudioAvailable();

class CExportMuxer {
  public:
    enum class Put { Written, Skipped, Failed };

    // Nothing (with the reason in `error`) when the file cannot be made; no file is left.
    static std::unique_ptr<CExportMuxer> Create(const MuxerSetup& setup, std::string* error);
    ~CExportMuxer();
    CExportMuxer(const CExportMuxer&) = delete;
    CExportMuxer& operator=(const CExportMuxer&) = delete;

    // One frame (length-prefixed units) at `micros` from the file's start. Skipped when it
    // is not later than the previous frame in the track's time base.
    Put WriteVideo(std::span<const std::uint8_t> sample, std::int64_t micros, bool key);
    // One block of decoded samples whose recording began at `micros`; blocks before the
    // file's start are dropped. False when writing failed.
    bool WriteAudio(std::span<const std::int16_t> samples, std::int64_t micros);
    // Writes what is held back and the trailer and closes the file; false (with the reason)
    // when any of it could not be written. The file stays under its temporary name.
    bool Finish(std::string* error);
    // Closes and removes the file.
    void Abort();

    [[nodiscard]] bool HasAudio() const;
    [[nodiscard]] std::uint64_t Frames() const { return m_nFrames; }
    [[nodiscard]] std::uint64_t AudioSamples() const { return m_nAudioSamples; }
    // First timestamp to the last plus one frame, in microseconds.
    [[nodiscard]] std::int64_t DurationMicros() const;
    [[nodiscard]] const std::string& Error() const { return m_error; }
    [[nodiscard]] int Width() const { return m_setup.width; }
    [[nodiscard]] int Height() const { return m_setup.height; }

  private:
    struct Av;
    explicit CExportMuxer(MuxerSetup setup);
    bool Open();
    bool Fail(const std::string& what, int code);
    bool SendVideo(std::int64_t duration);
    bool AppendSamples(std::span<const std::int16_t> samples);
    bool FlushPcm(bool all);
    bool EncodeAac(bool flush);
    bool DrainAac();
    bool StartRun(std::int64_t samplePts);

    MuxerSetup m_setup;
    std::unique_ptr<Av> m_av;
    std::string m_error;
    bool m_bFailed = false;

    // Video: one frame is held back until the next one gives its duration.
    std::int64_t m_nPendingMicros = -1;
    bool m_bPendingKey = false;
    std::int64_t m_nLastTicks = -1;        // the last frame's time in the track's base
    std::int64_t m_nFrameMicros = 33'333;  // the usual spacing, from the frames seen
    std::int64_t m_nFirstMicros = -1;
    std::int64_t m_nLastMicros = -1;
    std::uint64_t m_nFrames = 0;

    // Audio: runs of samples at 1/16,000 s from the file's start.
    bool m_bRunOpen = false;
    std::int64_t m_nRunEnd = 0;           // sample time after the last sample taken
    std::vector<std::int16_t> m_samples;  // taken, not yet written (PCM) or encoded (AAC)
    std::int64_t m_nSamplesPts = 0;       // sample time of m_samples[0]
    std::uint64_t m_nAudioSamples = 0;
    // AAC: the encoder sees one unbroken stream; each run starts at a frame boundary of it,
    // and its packets are moved to the run's time.
    std::int64_t m_nEncoderIn = 0;
    std::vector<std::pair<std::int64_t, std::int64_t>> m_anchors;  // encoder time, sample time
};

}  // namespace taviro::archive
