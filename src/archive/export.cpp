#include "archive/export.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <system_error>

#include "archive/backup_reader.h"
#include "audio/g726.h"
#include "protocol/byte_order.h"
#include "protocol/recorder_time.h"
#include "stream/stream_frames.h"

namespace taviro::archive {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::uint64_t kProgressStep = 256 * 1024;
// Damaged files could otherwise fill the notes with one line per index block.
constexpr std::size_t kMaxDamageNotes = 10;
// A hostile recording that changes size at every key frame cannot make thousands of files.
constexpr int kMaxPartsPerChannel = 100;
// MP4 keeps the step between two frames in 32 bits of 1/90,000 s (6.6 hours); after a
// longer gap a channel goes on in a new file, in either container.
constexpr std::int64_t kMaxGap = std::int64_t{6} * 3600 * 1'000'000;
// The recorder stamps an audio header with the block's time: whole seconds at 24, where a
// video header has the frame's, and microseconds at 36. A time further than this from the
// last video frame read is not believed, and the block takes that frame's time instead.
constexpr std::size_t kAudioSecondsOffset = 24;
constexpr std::size_t kAudioMicrosOffset = 36;
constexpr std::int64_t kAudioTimeSlack = 2 * kMicrosPerSecond;

namespace fs = std::filesystem;

std::string PrintableTitle(const std::array<std::uint8_t, stream::kTitleSize>& raw, int channel) {
    std::string title;
    for (const std::uint8_t c : raw) {
        if (c == 0) {
            break;
        }
        // Metadata is UTF-8; the recorder's text is in whatever code page its menu used.
        title.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    while (!title.empty() && title.back() == ' ') {
        title.pop_back();
    }
    return title.empty() ? "CH" + std::to_string(channel + 1) : title;
}

std::string IsoTime(std::int64_t seconds) {
    protocol::UserTime t;
    if (seconds < 0 || seconds > INT32_MAX ||
        !protocol::GetTime_tToUsertime(static_cast<protocol::RecorderTime>(seconds), &t)) {
        return "1970-01-01T00:00:00Z";
    }
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month + 1,
                  t.day + 1, t.hour, t.minute, t.second);
    return text;
}

struct Part {
    fs::path temp;
    ExportedFile file;
};

// A free name beside `path` for the file an export replaces, kept until the export is done.
fs::path AsideName(const fs::path& path) {
    const fs::path base = path.parent_path() / ("." + path.filename().string() + ".replaced");
    fs::path name = base;
    std::error_code ec;
    for (int n = 1; fs::exists(fs::symlink_status(name, ec)); ++n) {
        name = base.string() + std::to_string(n);
    }
    return name;
}

// Gives every part its final name, or none: a file under a final name is moved aside first
// and removed only once every part has its name. After a failure the parts are back under
// their temporary names (the caller removes them) and the moved files under their own.
bool Publish(const std::vector<Part>& parts, std::string* error) {
    std::error_code ec;
    for (const Part& part : parts) {
        const auto status = fs::symlink_status(part.file.path, ec);
        if (fs::exists(status) && !fs::is_regular_file(status) && !fs::is_symlink(status)) {
            *error = part.file.path.string() + " exists and is not a file";
            return false;
        }
    }
    std::vector<std::pair<fs::path, fs::path>> asides;  // final name, where its file went
    std::size_t renamed = 0;
    const auto undo = [&] {
        std::error_code ignored;
        while (renamed > 0) {
            --renamed;
            fs::rename(parts[renamed].file.path, parts[renamed].temp, ignored);
        }
        for (auto it = asides.rbegin(); it != asides.rend(); ++it) {
            fs::rename(it->second, it->first, ignored);
        }
    };
    for (const Part& part : parts) {
        if (!fs::exists(fs::symlink_status(part.file.path, ec))) {
            continue;
        }
        const fs::path aside = AsideName(part.file.path);
        fs::rename(part.file.path, aside, ec);
        if (ec) {
            *error = "cannot move " + part.file.path.string() + " aside: " + ec.message();
            undo();
            return false;
        }
        asides.emplace_back(part.file.path, aside);
    }
    for (; renamed < parts.size(); ++renamed) {
        fs::rename(parts[renamed].temp, parts[renamed].file.path, ec);
        if (ec) {
            *error = "cannot rename " + parts[renamed].temp.string() + " to " +
                     parts[renamed].file.path.string() + ": " + ec.message();
            undo();
            return false;
        }
    }
    for (const auto& moved : asides) {
        fs::remove(moved.second, ec);
    }
    return true;
}

struct ChannelState {
    std::unique_ptr<CExportMuxer> muxer;
    Part open;                     // the file being written
    std::int64_t startMicros = 0;  // recorded time of its first frame
    std::int64_t lastMicros = -1;  // of the last frame written (any of its files)
    bool needKey = true;
    bool hasSound = false;  // the index names sound of the channel within the range
    int parts = 0;
    audio::CG726Decoder decoder;  // the predictor follows every block, as the client's does
    std::vector<Part> finished;
};

class CExporter {
  public:
    CExporter(std::uint32_t from, std::uint32_t to, std::uint32_t channels, fs::path output,
              ExportFormat format, const ExportProgressFn& progress,
              const std::atomic<bool>* cancel)
        : m_nFrom(from),
          m_nTo(to),
          m_nMask(channels & 0xFFFFu),
          m_output(std::move(output)),
          m_format(format),
          m_progress(progress),
          m_cancel(cancel) {}

    ExportResult Run(const fs::path& folder);

  private:
    bool ReadSegment(const PlaySegment& segment, std::uint64_t start);
    bool Video(const VidRecord& record);
    bool Audio(const VidRecord& record);
    bool OpenPart(ChannelState& state, int channel, const stream::StreamFrameHeader& header,
                  std::int64_t micros);
    bool FinishPart(ChannelState& state);
    void LeaveOut(ChannelState& state) {
        ++m_result.framesLeftOut;
        state.needKey = true;
    }
    bool Fail(std::string error) {
        if (m_result.error.empty()) {
            m_result.error = std::move(error);
        }
        return false;
    }
    void Advance(std::uint64_t bytes);
    void RemoveTemporaries();
    bool Cancelled() const { return m_cancel != nullptr && m_cancel->load(); }

    std::uint32_t m_nFrom;
    std::uint32_t m_nTo;
    std::uint32_t m_nMask;
    fs::path m_output;
    ExportFormat m_format;
    const ExportProgressFn& m_progress;
    const std::atomic<bool>* m_cancel;

    std::array<ChannelState, 16> m_channels;
    CVidReader m_vid;
    fs::path m_vidPath;
    std::vector<std::uint8_t> m_payload;
    std::vector<std::int16_t> m_pcm = std::vector<std::int16_t>(kExportBlockSamples);
    std::int64_t m_nLastVideoMicros = -1;  // any channel's, for the audio blocks' times
    std::uint64_t m_nBytes = 0;
    std::uint64_t m_nTotal = 0;
    std::uint64_t m_nReported = 0;
    bool m_bAudioNoted = false;
    std::size_t m_nDamaged = 0;  // blocks ended early by an unreadable record
    ExportResult m_result;
};

ExportResult CExporter::Run(const fs::path& folder) {
    if (m_nMask == 0 || m_nTo <= m_nFrom) {
        Fail(m_nMask == 0 ? "no channel to export" : "the range ends before it begins");
        return std::move(m_result);
    }
    const auto files = ChainFiles(ScanFolder(folder));
    if (files.empty()) {
        Fail("no backup pair in " + folder.string());
        return std::move(m_result);
    }
    // The index blocks that overlap the range, read from the one that holds its start.
    std::vector<std::pair<PlaySegment, std::uint64_t>> wanted;
    for (const PlaySegment& s : BuildSegments(files, m_nFrom)) {
        if (s.endTime < m_nFrom || s.startTime >= m_nTo || s.positionOffset >= s.endOffset) {
            continue;
        }
        m_nTotal += s.endOffset - s.positionOffset;
        for (int c = 0; c < 16; ++c) {
            if ((s.audioMask >> c) & 1u) {
                m_channels[static_cast<std::size_t>(c)].hasSound = true;
            }
        }
        wanted.emplace_back(s, s.positionOffset);
    }
    if (m_progress) {
        m_progress(0, m_nTotal);
    }
    bool good = true;
    for (const auto& [segment, start] : wanted) {
        if (!(good = ReadSegment(segment, start))) {
            break;
        }
    }
    if (good && Cancelled()) {
        m_result.cancelled = true;
        good = Fail("cancelled");
    }
    for (std::size_t c = 0; good && c < m_channels.size(); ++c) {
        if (m_channels[c].muxer) {
            good = FinishPart(m_channels[c]);
        }
    }
    std::vector<Part> parts;
    for (const ChannelState& state : m_channels) {
        parts.insert(parts.end(), state.finished.begin(), state.finished.end());
    }
    if (good && parts.empty()) {
        good = Fail(m_result.framesLeftOut == 0
                        ? "nothing of the channels was recorded in the range"
                        : "none of the " + std::to_string(m_result.framesLeftOut) +
                              " frames of the channels in the range could be exported");
    }
    if (!good) {
        RemoveTemporaries();
        return std::move(m_result);
    }
    // Only now do the final names appear, each file complete, all of them or none.
    std::string error;
    if (!Publish(parts, &error)) {
        Fail(error);
        for (const Part& part : parts) {
            std::error_code ec;
            fs::remove(part.temp, ec);
        }
        return std::move(m_result);
    }
    for (const Part& part : parts) {
        m_result.files.push_back(part.file);
    }
    if (m_progress) {
        m_progress(m_nTotal, m_nTotal);
    }
    if (m_result.framesLeftOut > 0) {
        m_result.notes.push_back(std::to_string(m_result.framesLeftOut) +
                                 " frames in the range were left out (before a key frame, "
                                 "damaged, out of order or of a size the reader does not take)");
    }
    m_result.ok = true;
    return std::move(m_result);
}

void CExporter::Advance(std::uint64_t bytes) {
    m_nBytes = std::min(m_nTotal, m_nBytes + bytes);
    if (m_progress && m_nBytes - m_nReported >= kProgressStep) {
        m_nReported = m_nBytes;
        m_progress(m_nBytes, m_nTotal);
    }
}

bool CExporter::ReadSegment(const PlaySegment& segment, std::uint64_t start) {
    if (m_vidPath != segment.vidPath || !m_vid.IsOpen()) {
        m_vidPath = segment.vidPath;
        if (!m_vid.Open(segment.vidPath)) {
            return Fail("cannot open " + segment.vidPath.string());
        }
    }
    std::uint64_t at = start;
    while (at < segment.endOffset) {
        if (Cancelled()) {
            return true;  // Run() sees the flag
        }
        const auto record = m_vid.ReadIndex(at, segment.endOffset);
        if (!record) {
            // The rest of the block cannot be walked; the next block starts at its own entry.
            if (++m_nDamaged <= kMaxDamageNotes) {
                m_result.notes.push_back("an unreadable record at " + std::to_string(at) + " of " +
                                         segment.vidPath.filename().string() +
                                         " ended its block early");
            }
            Advance(segment.endOffset - at);
            return true;
        }
        Advance(record->End() - at);
        at = record->End();
        const bool good = record->kind == VidRecord::Kind::Video ? Video(*record) : Audio(*record);
        if (!good) {
            return false;
        }
    }
    return true;
}

bool CExporter::Video(const VidRecord& record) {
    const stream::StreamFrameHeader& h = record.video;
    const std::int64_t micros = std::int64_t{h.encoder.seconds} * kMicrosPerSecond +
                                std::clamp<std::int32_t>(h.encoder.microseconds, 0, 999'999);
    m_nLastVideoMicros = micros;
    const int channel = h.encoder.channel & 0x0F;
    if (((m_nMask >> channel) & 1u) == 0 || h.encoder.seconds < 0 ||
        static_cast<std::uint32_t>(h.encoder.seconds) < m_nFrom ||
        static_cast<std::uint32_t>(h.encoder.seconds) >= m_nTo || h.displayExempt == 1) {
        return true;
    }
    ChannelState& state = m_channels[static_cast<std::size_t>(channel)];
    const bool key = h.encoder.kind == stream::kKeyFrame;
    if (h.encoder.kind > stream::kDependentFrame2 || !record.accepted ||
        micros <= state.lastMicros || (state.needKey && !key) ||
        record.payloadLength > stream::kReassemblySize) {
        LeaveOut(state);
        return true;
    }
    const int width = h.encoder.Width();
    const int height = h.encoder.Height();
    const bool resized =
        state.muxer && (state.muxer->Width() != width || state.muxer->Height() != height);
    if (resized || (state.muxer && micros - state.lastMicros > kMaxGap)) {
        if (!key) {
            LeaveOut(state);
            return true;
        }
        if (!FinishPart(state)) {
            return false;
        }
    }
    // The encoded size says how much of the payload is the picture, as for the decoder.
    if (!m_vid.ReadPayload(record, m_payload)) {
        LeaveOut(state);
        return true;
    }
    const std::size_t length = std::min<std::size_t>(h.encoder.size, m_payload.size());
    const auto sample = ToLengthPrefixed(std::span(m_payload).first(length));
    if (sample.empty()) {
        LeaveOut(state);
        return true;
    }
    if (!state.muxer) {
        if (state.parts >= kMaxPartsPerChannel) {
            LeaveOut(state);
            return true;
        }
        if (!OpenPart(state, channel, h, micros)) {
            return false;
        }
    }
    switch (state.muxer->WriteVideo(sample, micros - state.startMicros, key)) {
        case CExportMuxer::Put::Written:
            state.lastMicros = micros;
            state.needKey = false;
            return true;
        case CExportMuxer::Put::Skipped:
            LeaveOut(state);
            return true;
        case CExportMuxer::Put::Failed:
            break;
    }
    return Fail(state.muxer->Error());
}

bool CExporter::Audio(const VidRecord& record) {
    const protocol::ChannelMask mask = record.audio.channelMask & protocol::kAllChannels;
    if ((mask & m_nMask) == 0 || record.payloadLength == 0 ||
        record.payloadLength > stream::kAudioBlockSize * 16 || m_nLastVideoMicros < 0) {
        return true;
    }
    const std::uint32_t seconds = protocol::LoadBE32(record.raw.data() + kAudioSecondsOffset);
    const std::uint32_t fraction = protocol::LoadBE32(record.raw.data() + kAudioMicrosOffset);
    std::int64_t micros = std::int64_t{seconds} * kMicrosPerSecond + fraction;
    if (fraction >= kMicrosPerSecond || micros < m_nLastVideoMicros - kAudioTimeSlack ||
        micros > m_nLastVideoMicros + kAudioTimeSlack) {
        micros = m_nLastVideoMicros;
    }
    if (micros < std::int64_t{m_nFrom} * kMicrosPerSecond ||
        micros >= std::int64_t{m_nTo} * kMicrosPerSecond) {
        return true;
    }
    if (!m_vid.ReadPayload(record, m_payload)) {
        return true;
    }
    for (int c = 0; c < 16; ++c) {
        if (((mask & m_nMask) & (1u << c)) == 0) {
            continue;
        }
        const auto selection = stream::SelectAudioBlock(mask, c);
        if (!selection || (selection->index + 1) * stream::kAudioBlockSize > m_payload.size()) {
            continue;
        }
        ChannelState& state = m_channels[static_cast<std::size_t>(c)];
        state.decoder.Decode(
            std::span(m_payload).subspan(selection->index * stream::kAudioBlockSize,
                                         stream::kAudioBlockSize),
            m_pcm);
        if (state.muxer && !state.muxer->WriteAudio(m_pcm, micros - state.startMicros)) {
            return Fail(state.muxer->Error());
        }
    }
    return true;
}

bool CExporter::OpenPart(ChannelState& state, int channel, const stream::StreamFrameHeader& h,
                         std::int64_t micros) {
    ++state.parts;
    std::string name = m_output.stem().string();
    if (std::popcount(m_nMask) > 1) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_ch%02d", channel + 1);
        name += suffix;
    }
    if (state.parts > 1) {
        name += "_" + std::to_string(state.parts);
    }
    name += m_output.extension().string();
    Part part;
    part.file.path = m_output.parent_path() / name;
    part.temp = m_output.parent_path() / ("." + name + ".part");
    part.file.channel = channel;
    part.file.width = h.encoder.Width();
    part.file.height = h.encoder.Height();
    part.file.title = PrintableTitle(stream::PlaybackTitle(h), channel);
    part.file.start = static_cast<std::uint32_t>(h.encoder.seconds);

    MuxerSetup setup;
    setup.path = part.temp;
    setup.format = m_format;
    setup.width = part.file.width;
    setup.height = part.file.height;
    setup.audio = state.hasSound;
    setup.title = part.file.title;
    setup.creationTime = IsoTime(h.encoder.seconds);
    if (state.hasSound && m_format == ExportFormat::Mp4 && !Mp4AudioAvailable() && !m_bAudioNoted) {
        m_bAudioNoted = true;
        m_result.notes.push_back(
            "sound left out: this FFmpeg has no AAC encoder (export to .mkv to keep it)");
    }
    std::string error;
    state.muxer = CExportMuxer::Create(setup, &error);
    if (!state.muxer) {
        return Fail(error);
    }
    part.file.audio = state.muxer->HasAudio();
    state.open = std::move(part);
    state.startMicros = micros;
    return true;
}

bool CExporter::FinishPart(ChannelState& state) {
    std::string error;
    if (!state.muxer->Finish(&error)) {
        return Fail(error);
    }
    Part part = std::move(state.open);
    part.file.frames = state.muxer->Frames();
    part.file.duration = static_cast<double>(state.muxer->DurationMicros()) / kMicrosPerSecond;
    part.file.audioSamples = state.muxer->AudioSamples();
    state.finished.push_back(std::move(part));
    state.muxer.reset();
    return true;
}

void CExporter::RemoveTemporaries() {
    for (ChannelState& state : m_channels) {
        if (state.muxer) {
            state.muxer->Abort();
            state.muxer.reset();
        }
        for (const Part& part : state.finished) {
            std::error_code ec;
            fs::remove(part.temp, ec);
        }
        state.finished.clear();
    }
}

}  // namespace

std::optional<ExportFormat> ExportFormatOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".mp4") {
        return ExportFormat::Mp4;
    }
    if (extension == ".mkv") {
        return ExportFormat::Mkv;
    }
    return std::nullopt;
}

ExportResult ExportRange(const std::filesystem::path& folder, std::uint32_t from, std::uint32_t to,
                         std::uint32_t channels, const std::filesystem::path& output,
                         ExportFormat format, const ExportProgressFn& progress,
                         const std::atomic<bool>* cancel) {
    if (output.filename().empty() || output.stem().empty()) {
        ExportResult result;
        result.error = "no output file name";
        return result;
    }
    std::error_code ec;
    const fs::path parent = output.parent_path().empty() ? fs::path(".") : output.parent_path();
    if (!fs::is_directory(parent, ec)) {
        ExportResult result;
        result.error = "no folder " + parent.string();
        return result;
    }
    CExporter exporter(from, to, channels, parent / output.filename(), format, progress, cancel);
    return exporter.Run(folder);
}

}  // namespace taviro::archive
