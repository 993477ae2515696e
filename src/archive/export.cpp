#include "archive/export.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <system_error>

#include "archive/backup_reader.h"

namespace taviro::archive {

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kProgressStep = 256 * 1024;
// Damaged files could otherwise fill the notes with one line per index block.
constexpr std::size_t kMaxDamageNotes = 10;

// Walks the index blocks that overlap the range (from the lead-in before it) and hands
// their records to the clip writer, which reads a payload only when it takes the record.
class CExporter {
  public:
    CExporter(ClipSetup setup, const ExportProgressFn& progress, const std::atomic<bool>* cancel)
        : m_nFrom(setup.from),
          m_nTo(setup.to),
          m_setup(std::move(setup)),
          m_progress(progress),
          m_cancel(cancel) {}

    ExportResult Run(const fs::path& folder);

  private:
    bool ReadSegment(CClipWriter& writer, const PlaySegment& segment);
    void Advance(std::uint64_t bytes);
    bool Cancelled() const { return m_cancel != nullptr && m_cancel->load(); }

    std::uint32_t m_nFrom;
    std::uint32_t m_nTo;
    ClipSetup m_setup;
    const ExportProgressFn& m_progress;
    const std::atomic<bool>* m_cancel;

    CVidReader m_vid;
    fs::path m_vidPath;
    std::vector<std::uint8_t> m_payload;
    std::uint64_t m_nBytes = 0;
    std::uint64_t m_nTotal = 0;
    std::uint64_t m_nReported = 0;
    std::vector<std::string> m_damage;  // blocks ended early by an unreadable record
    std::size_t m_nDamaged = 0;
};

ExportResult CExporter::Run(const fs::path& folder) {
    ExportResult failed;
    if ((m_setup.channels & 0xFFFFu) == 0 || m_nTo <= m_nFrom) {
        failed.error = (m_setup.channels & 0xFFFFu) == 0 ? "no channel to export"
                                                         : "the range ends before it begins";
        return failed;
    }
    const auto files = ChainFiles(ScanFolder(folder));
    if (files.empty()) {
        failed.error = "no backup pair in " + folder.string();
        return failed;
    }
    // The index blocks that overlap the range with its lead-in, where a key frame before
    // the start is looked for; the block holding the lead-in's start is read from there.
    const std::uint32_t leadSeconds = static_cast<std::uint32_t>(kMaxLeadMicros / 1'000'000);
    const std::uint32_t readFrom = m_nFrom > leadSeconds ? m_nFrom - leadSeconds : 0;
    std::vector<PlaySegment> wanted;
    std::uint32_t sound = 0;
    for (const PlaySegment& s : BuildSegments(files, readFrom)) {
        if (s.endTime < readFrom || s.startTime >= m_nTo || s.positionOffset >= s.endOffset) {
            continue;
        }
        m_nTotal += s.endOffset - s.positionOffset;
        if (s.endTime >= m_nFrom) {
            sound |= s.audioMask;
        }
        wanted.push_back(s);
    }
    m_setup.soundChannels = sound & 0xFFFFu;
    CClipWriter writer(std::move(m_setup));
    if (m_progress) {
        m_progress(0, m_nTotal);
    }
    for (const PlaySegment& segment : wanted) {
        if (Cancelled() || !ReadSegment(writer, segment)) {
            break;
        }
    }
    ExportResult result = writer.Finish(Cancelled());
    if (!result.ok) {
        return result;
    }
    // The damage goes in front of the writer's own notes, in the order it was met.
    result.notes.insert(result.notes.begin(), m_damage.begin(), m_damage.end());
    if (m_progress) {
        m_progress(m_nTotal, m_nTotal);
    }
    return result;
}

void CExporter::Advance(std::uint64_t bytes) {
    m_nBytes = std::min(m_nTotal, m_nBytes + bytes);
    if (m_progress && m_nBytes - m_nReported >= kProgressStep) {
        m_nReported = m_nBytes;
        m_progress(m_nBytes, m_nTotal);
    }
}

bool CExporter::ReadSegment(CClipWriter& writer, const PlaySegment& segment) {
    if (m_vidPath != segment.vidPath || !m_vid.IsOpen()) {
        m_vidPath = segment.vidPath;
        if (!m_vid.Open(segment.vidPath)) {
            writer.Abort("cannot open " + segment.vidPath.string());
            return false;
        }
    }
    std::uint64_t at = segment.positionOffset;
    while (at < segment.endOffset) {
        if (Cancelled()) {
            return false;
        }
        const auto record = m_vid.ReadIndex(at, segment.endOffset);
        if (!record) {
            // The rest of the block cannot be walked; the next block starts at its own entry.
            if (++m_nDamaged <= kMaxDamageNotes) {
                m_damage.push_back("an unreadable record at " + std::to_string(at) + " of " +
                                   segment.vidPath.filename().string() + " ended its block early");
            }
            Advance(segment.endOffset - at);
            return true;
        }
        Advance(record->End() - at);
        at = record->End();
        const CClipWriter::PayloadFn payload =
            [&]() -> std::optional<std::span<const std::uint8_t>> {
            if (!m_vid.ReadPayload(*record, m_payload)) {
                return std::nullopt;
            }
            return std::span<const std::uint8_t>(m_payload);
        };
        const bool good = record->kind == VidRecord::Kind::Video ? writer.Video(*record, payload)
                                                                 : writer.Audio(*record, payload);
        if (!good) {
            return false;
        }
    }
    return true;
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
    ClipSetup setup;
    setup.from = from;
    setup.to = to;
    setup.channels = channels & 0xFFFFu;
    setup.format = format;
    setup.folder = parent;
    // With one channel the output name itself, with several NAME_chNN.EXT; a channel's
    // later files NAME_2.EXT, NAME_chNN_2.EXT, ...
    setup.name = [stem = output.stem().string(), extension = output.extension().string(),
                  several = std::popcount(setup.channels) > 1](int channel, int part) {
        std::string name = stem;
        if (several) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, "_ch%02d", channel + 1);
            name += suffix;
        }
        if (part > 1) {
            name += "_" + std::to_string(part);
        }
        return name + extension;
    };
    CExporter exporter(std::move(setup), progress, cancel);
    return exporter.Run(folder);
}

}  // namespace taviro::archive
