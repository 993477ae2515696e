#include "archive/clip_transfer.h"

#include <system_error>

#include "archive/backup_reader.h"

namespace taviro::archive {

CClipTransferWriter::CClipTransferWriter(ClipSetup setup)
    : m_setup(setup), m_clip(std::move(setup)) {}

bool CClipTransferWriter::Open() {
    std::error_code ec;
    std::filesystem::create_directories(m_setup.folder, ec);
    if (!std::filesystem::is_directory(m_setup.folder, ec)) {
        m_error = "cannot make the folder " + m_setup.folder.string();
        m_clip.Abort(m_error);
        return false;
    }
    return true;
}

bool CClipTransferWriter::Write(RecordKind kind, std::span<const std::uint8_t> record) {
    if (Failed()) {
        return false;
    }
    if (kind != RecordKind::Video && kind != RecordKind::Audio) {
        return true;  // the event lists travel with the transfer; a clip has no use for them
    }
    const auto parsed = ParseRecord(record, 0, record.size());
    if (!parsed) {
        ++m_nUnreadable;
        return true;
    }
    const auto payload = [&]() -> std::optional<std::span<const std::uint8_t>> {
        return record.subspan(static_cast<std::size_t>(parsed->payloadOffset),
                              parsed->payloadLength);
    };
    const bool good = parsed->kind == VidRecord::Kind::Video ? m_clip.Video(*parsed, payload)
                                                             : m_clip.Audio(*parsed, payload);
    if (!good) {
        m_error = m_clip.Error();
    }
    return good;
}

std::vector<std::filesystem::path> CClipTransferWriter::FinishedFiles() const {
    std::vector<std::filesystem::path> files;
    for (const ExportedFile& file : m_result.files) {
        files.push_back(file.path);
    }
    return files;
}

bool CClipTransferWriter::End(bool complete) {
    if (!complete) {
        m_clip.Abort(Failed() ? m_error : "the transfer did not finish");
    }
    m_result = m_clip.Finish();
    if (!m_result.ok && m_error.empty()) {
        m_error = m_result.error;
    }
    return m_result.ok;
}

}  // namespace taviro::archive
