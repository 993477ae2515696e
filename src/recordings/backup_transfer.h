// CBackupTransfer: one running backup download's writer thread (the recorder's consumer
// slot 17) and the queue in front of it. The receive thread puts each whole transfer
// record; the writer thread hands it to the transfer's writer (the backup pair of
// archive::CBackupWriter, or a clip's archive::ITransferWriter), posts the progress and,
// once told that nothing more comes, writes what is queued, ends the writer (a clip is
// finished only when the recorder sent all of it) and posts recordings::WM_BACKUP_FINISHED.
//
// The queue is bounded by bytes: while the writer lags the receive thread first slows down
// (a pause that grows with the backlog) and then waits until the writer has caught up, so
// a slow disk holds the recorder back instead of filling memory. Nothing queued is dropped
// unless the writer has failed.
//
// A write that fails (a full disk, a file-size limit, a folder that cannot be written)
// ends the transfer at once, by itself: what is queued is let go, the pair is closed
// readable up to its last whole record with its summary and trailers, `onWriteFailure`
// runs once on the writer thread (the service asks the recorder to stop), and
// recordings::WM_BACKUP_FINISHED follows with the outcome naming the file and the reason.
//
// Threads: Put() on the receive thread; Finish() from any thread; Join() and the destructor
// from a thread that may wait (never the window's, never the writer's own). The object owns
// its thread and its writer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archive/backup_writer.h"
#include "platform/message_sink.h"

namespace taviro::recordings {

// The writer's backlog at which the receive thread waits.
inline constexpr std::size_t kMaxQueuedBackupBytes = 64u << 20;
// The backlog from which the receive thread slows down.
inline constexpr std::size_t kBackupLagBytes = 8u << 20;
// Progress goes to the window at most this often (and once at the end).
inline constexpr std::chrono::milliseconds kBackupProgressPeriod{100};

// How a transfer came to its end: the recorder sent all of it, the user stopped it, the
// recorder gave up, the connection ended, or the writer could not go on.
enum class BackupEnd { kDone, kStopped, kRecorderFailed, kConnectionEnded, kWriteFailed };

struct BackupOutcome {
    std::vector<archive::PairSummary> pairs;
    std::uint64_t bytesReceived = 0;
    std::uint64_t bytesWritten = 0;  // of whole records in the pairs
    bool failed = false;
    std::string error;  // names the file and the reason
    BackupEnd end = BackupEnd::kDone;
    // A clip instead of a pair: its folder, the files it finished (none unless the recorder
    // sent all of the range) and how far it got (recorded microseconds, -1: nothing).
    bool clip = false;
    std::filesystem::path clipFolder;
    std::vector<std::filesystem::path> clipFiles;
    std::int64_t latestMicros = -1;
};

class CBackupTransfer {
  public:
    // A backup into a pair of files.
    CBackupTransfer(platform::IMessageSink& owner, archive::WriterOptions options,
                    std::function<void()> onWriteFailure);
    // Into another writer (a clip into `folder`); the outcome then names its files.
    CBackupTransfer(platform::IMessageSink& owner, std::shared_ptr<archive::ITransferWriter> writer,
                    std::function<void()> onWriteFailure, std::filesystem::path folder = {});
    ~CBackupTransfer();
    CBackupTransfer(const CBackupTransfer&) = delete;
    CBackupTransfer& operator=(const CBackupTransfer&) = delete;

    // Receive thread: one whole record. Returns once it is queued, or dropped because the
    // transfer has ended or its writer failed.
    void Put(archive::RecordKind kind, std::vector<std::uint8_t> record);
    // Nothing more comes: the writer writes what is queued and closes the pair. The first
    // call's `why` is the outcome's end (unless the writer fails).
    void Finish(BackupEnd why = BackupEnd::kDone);
    // Waits for the writer thread to end (Finish first, unless the writer has failed).
    void Join();
    [[nodiscard]] bool Ended() const { return m_bEnded.load(); }
    [[nodiscard]] std::uint64_t BytesReceived() const { return m_nReceived.load(); }
    // What the writer did; complete once Ended().
    [[nodiscard]] BackupOutcome Outcome() const;

  private:
    struct Element {
        archive::RecordKind kind = archive::RecordKind::Unknown;
        std::vector<std::uint8_t> record;
    };
    void Thread_Write();
    void PostProgress(bool force);

    platform::IMessageSink& m_owner;
    // The writer thread's alone until it has ended; m_pPairs is it when it writes pairs.
    std::shared_ptr<archive::ITransferWriter> m_writer;
    archive::CBackupWriter* m_pPairs = nullptr;
    std::filesystem::path m_folder;  // a clip's
    std::function<void()> m_onWriteFailure;

    mutable std::mutex m_lock;  // guards the queue, m_bFinish and m_outcome
    std::condition_variable m_changed;
    std::deque<Element> m_queue;
    std::size_t m_nQueuedBytes = 0;
    bool m_bFinish = false;
    BackupEnd m_end = BackupEnd::kDone;
    BackupOutcome m_outcome;

    std::atomic<bool> m_bEnded{false};
    std::atomic<bool> m_bFailed{false};
    std::atomic<std::uint64_t> m_nReceived{0};
    std::chrono::steady_clock::time_point m_lastProgress{};
    std::thread m_thread;
};

}  // namespace taviro::recordings
