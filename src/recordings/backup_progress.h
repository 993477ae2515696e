// What the backup's progress bar says: bytes so far of the expected size, the rate over the
// last seconds and the time left at that rate. Pure; the window feeds it the progress
// messages and a clock.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <string>
#include <utility>

#include "archive/progress_text.h"
#include "recordings/backup_transfer.h"

namespace taviro::recordings {

class CBackupProgress {
  public:
    // A backup of `totalKb` kilobytes (the capacity answer; 0 when not known) starts at `nowMs`.
    void Start(std::uint64_t totalKb, std::int64_t nowMs);
    // The kilobytes received so far at `nowMs`.
    void Update(std::uint64_t doneKb, std::int64_t nowMs);

    // 0..1000 of the expected size (1000 once it is passed or not known).
    [[nodiscard]] int Permille() const;
    // Kilobytes a second over the last five seconds (0 before two samples).
    [[nodiscard]] double RateKbPerSecond() const;
    // "12.3 MB of 35.4 MB  4.1 MB/s  6 s left".
    [[nodiscard]] std::string Text() const;

  private:
    std::uint64_t m_nTotalKb = 0;
    std::uint64_t m_nDoneKb = 0;
    std::deque<std::pair<std::int64_t, std::uint64_t>> m_samples;  // (ms, kb), last 5 s
};

// Backups from this size on are started only once the user has confirmed their size: a
// range of many hours takes as long and fills a disk.
inline constexpr std::uint64_t kConfirmBackupKilobytes = 2u << 20;  // 2 GB
// The question asked then: the size and how many pairs it becomes.
std::string BackupConfirmText(std::uint64_t kilobytes, std::uint64_t splitBytes);

// What the panel says once a backup has ended: done with what it wrote and where, or who
// or what stopped it (the user, the recorder, the connection, the disk with its reason)
// and what was kept.
std::string BackupEndText(const BackupOutcome& outcome);
// The folder of the pairs a backup wrote (empty when it wrote none).
std::filesystem::path BackupFolder(const BackupOutcome& outcome);

}  // namespace taviro::recordings
