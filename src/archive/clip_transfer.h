// CClipTransferWriter: a recorder's backup transfer written as a clip (clip_writer.h)
// instead of a backup pair: each whole transfer record is read with the local archive's
// record reader and its frame or sound handed on. Nothing of the transfer is kept on disk
// but the clip's files, and those only once the recorder sent all of the range (End(true));
// a transfer cut short leaves no file at all.
//
// Threads: the transfer's writer thread calls everything; Result() and LatestMicros() are
// read after it has ended.
#pragma once

#include <cstdint>
#include <string>

#include "archive/clip_writer.h"
#include "archive/transfer_writer.h"

namespace taviro::archive {

class CClipTransferWriter final : public ITransferWriter {
  public:
    explicit CClipTransferWriter(ClipSetup setup);

    bool Open() override;
    bool Write(RecordKind kind, std::span<const std::uint8_t> record) override;
    bool End(bool complete) override;

    [[nodiscard]] bool Failed() const override { return !m_error.empty(); }
    [[nodiscard]] const std::string& Error() const override { return m_error; }
    [[nodiscard]] std::uint64_t BytesWritten() const override { return m_clip.BytesTaken(); }

    [[nodiscard]] std::vector<std::filesystem::path> FinishedFiles() const override;
    [[nodiscard]] std::int64_t LatestMicros() const override { return m_clip.LatestMicros(); }

    // The files, once ended.
    [[nodiscard]] const ExportResult& Result() const { return m_result; }
    // Records that could not be read (damaged, or of a byte order the reader does not take).
    [[nodiscard]] std::uint64_t Unreadable() const { return m_nUnreadable; }

  private:
    ClipSetup m_setup;
    CClipWriter m_clip;
    ExportResult m_result;
    std::string m_error;
    std::uint64_t m_nUnreadable = 0;
};

}  // namespace taviro::archive
