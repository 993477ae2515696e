// ITransferWriter: where the records of a recorder's backup transfer go, one after the
// other in the order they came. The backup pair writer (backup_writer.h) keeps them as
// .vid/.idx files; the clip writer (clip_transfer.h) muxes them into MP4 or Matroska.
//
// Threads: one thread (the transfer's writer thread) calls everything, from Open() to
// End(); what it reports is read by others only after that thread has ended.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace taviro::archive {

// The kind of a transfer record, as its header names it.
enum class RecordKind : std::uint32_t { Video = 0, Audio = 1, EventLog = 2, Unknown = 3 };

class ITransferWriter {
  public:
    virtual ~ITransferWriter() = default;

    // Before the first record. False when the writer cannot start (Error()).
    virtual bool Open() = 0;
    // One whole record. False once the writer has failed and cannot go on.
    virtual bool Write(RecordKind kind, std::span<const std::uint8_t> record) = 0;
    // The transfer is over; `complete`: the recorder sent all of it. False when what was
    // written could not be finished.
    virtual bool End(bool complete) = 0;

    [[nodiscard]] virtual bool Failed() const = 0;
    // Names the file and the reason.
    [[nodiscard]] virtual const std::string& Error() const = 0;
    // Bytes handed to the files so far.
    [[nodiscard]] virtual std::uint64_t BytesWritten() const = 0;
    // A clip's files under their final names once ended (a pair writer tells its pairs
    // itself), and the recorded time (microseconds) of the latest frame taken, -1 for none:
    // how far a transfer that was cut short got.
    [[nodiscard]] virtual std::vector<std::filesystem::path> FinishedFiles() const { return {}; }
    [[nodiscard]] virtual std::int64_t LatestMicros() const { return -1; }
};

}  // namespace taviro::archive
