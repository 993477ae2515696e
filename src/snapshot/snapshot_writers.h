// The snapshot writers: one worker thread per job, each owning its job, in up to 16 slots.
// A worker composes the picture, creates the "Saved" folder if missing, writes the file and
// posts WM_SNAPSHOT_DONE (wParam the channel, lParam 0 or a SnapshotFailure) to its window.
// The window's one-second timer calls Reap, which joins the finished workers and frees
// their slots; when Active() is 0 the Save button is enabled again.
//
// Threads: every member function on one thread (the window thread, or the command-line
// tool's main thread). The painter and the sink must outlive this object and be safe to use
// from several workers at once. Destruction (and Stop) waits for every worker, so quitting
// never leaves a half-written file behind a running thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "logs/local_log.h"
#include "platform/message_sink.h"
#include "snapshot/picture.h"
#include "snapshot/snapshot_job.h"

namespace taviro::snapshot {

// wParam = channel, lParam = 0 saved, else a SnapshotFailure.
inline constexpr std::uint32_t WM_SNAPSHOT_DONE = 0x5417;

// lParam of WM_SNAPSHOT_DONE.
enum SnapshotFailure : std::int64_t {
    kSnapshotSaved = 0,
    kSnapshotBadPicture = 1,   // the source cannot be used (size, format)
    kSnapshotBadDisplay = 2,   // the display's pixel format is not supported
    kSnapshotNoFolder = 3,     // the "Saved" folder cannot be created
    kSnapshotWriteFailed = 4,  // encoding or writing the file failed
};

struct SnapshotResult {
    int channel = 0;
    std::filesystem::path file;
    SnapshotFailure code = kSnapshotSaved;
    std::string error;  // empty when saved
};

// Steps of one job on the calling thread: compose, create the folder, write the file.
SnapshotResult RunSnapshotJob(const SnapshotJob& job, ICaptionPainter& painter,
                              DisplayFormat display);

// The local log entry for a command that took snapshots (kind 8, sub-type 2).
bool WriteSnapshotLogEntry(logs::ILocalLog& log);

class CSnapshotWriters {
  public:
    CSnapshotWriters(platform::IMessageSink* sink, ICaptionPainter& painter, DisplayFormat display,
                     platform::Window window = platform::Window::Main);
    ~CSnapshotWriters();
    CSnapshotWriters(const CSnapshotWriters&) = delete;
    CSnapshotWriters& operator=(const CSnapshotWriters&) = delete;

    // Starts a worker for every job while slots are free; jobs beyond them are dropped.
    // Returns how many started.
    int Start(std::vector<SnapshotJob> jobs);
    // Joins the finished workers and frees their slots; returns how many are still active.
    int Reap();
    [[nodiscard]] int Active() const;
    // The results of the workers reaped so far, handed over once.
    std::vector<SnapshotResult> TakeResults();
    // Waits for every worker and reaps it.
    void Stop();

  private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> finished{false};
        SnapshotResult result;  // written by the worker before `finished`
    };

    platform::IMessageSink* m_sink;
    ICaptionPainter& m_painter;
    const DisplayFormat m_display;
    const platform::Window m_window;
    std::array<std::unique_ptr<Worker>, kMaxJobs> m_slots;
    std::vector<SnapshotResult> m_results;
};

}  // namespace taviro::snapshot
