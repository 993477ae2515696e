#include "snapshot/snapshot_writers.h"

#include <system_error>
#include <utility>

#include "platform/storage.h"
#include "snapshot/encoders.h"

namespace taviro::snapshot {

SnapshotResult RunSnapshotJob(const SnapshotJob& job, ICaptionPainter& painter,
                              DisplayFormat display) {
    SnapshotResult result;
    result.channel = job.channel;
    result.file = job.file;
    if (auto problem = CheckSource(job.width, job.height, job.pictureFormat)) {
        result.code = kSnapshotBadPicture;
        result.error = *problem;
        return result;
    }
    std::optional<RgbImage> image = ComposeSnapshot(job, painter, display, &result.error);
    if (!image) {
        result.code = kSnapshotBadDisplay;
        return result;
    }
    if (!platform::EnsureFolder(job.file.parent_path())) {
        result.code = kSnapshotNoFolder;
        result.error = "cannot create " + job.file.parent_path().string();
        return result;
    }
    if (!WriteSnapshotFile(job.file, *image, job.format, &result.error)) {
        result.code = kSnapshotWriteFailed;
        return result;
    }
    result.error.clear();
    return result;
}

bool WriteSnapshotLogEntry(logs::ILocalLog& log) {
    return log.WriteLocalLog(logs::kLocalLogRecordSize, logs::entry::kSettings, 2);
}

CSnapshotWriters::CSnapshotWriters(platform::IMessageSink* sink, ICaptionPainter& painter,
                                   DisplayFormat display, platform::Window window)
    : m_sink(sink), m_painter(painter), m_display(display), m_window(window) {}

CSnapshotWriters::~CSnapshotWriters() {
    Stop();
}

int CSnapshotWriters::Start(std::vector<SnapshotJob> jobs) {
    int started = 0;
    std::size_t slot = 0;
    for (SnapshotJob& job : jobs) {
        while (slot < m_slots.size() && m_slots[slot]) {
            ++slot;
        }
        if (slot == m_slots.size()) {
            break;
        }
        auto worker = std::make_unique<Worker>();
        Worker* w = worker.get();
        // The worker owns its job; it touches nothing of this object but its own slot.
        const int channel = job.channel;
        try {
            w->thread = std::thread([w, owned = std::move(job), this]() mutable {
                w->result = RunSnapshotJob(owned, m_painter, m_display);
                owned.picture.reset();
                if (m_sink != nullptr) {
                    m_sink->Post(m_window, snapshot::WM_SNAPSHOT_DONE,
                                 static_cast<std::uint64_t>(w->result.channel), w->result.code);
                }
                w->finished.store(true, std::memory_order_release);
            });
        } catch (const std::system_error& e) {
            // No thread to be had: this job is not written, and says so like any other.
            m_results.push_back(SnapshotResult{channel, {}, kSnapshotWriteFailed, e.what()});
            if (m_sink != nullptr) {
                m_sink->Post(m_window, snapshot::WM_SNAPSHOT_DONE,
                             static_cast<std::uint64_t>(channel), kSnapshotWriteFailed);
            }
            continue;
        }
        m_slots[slot] = std::move(worker);
        ++started;
    }
    return started;
}

int CSnapshotWriters::Reap() {
    int active = 0;
    for (auto& slot : m_slots) {
        if (!slot) {
            continue;
        }
        if (!slot->finished.load(std::memory_order_acquire)) {
            ++active;
            continue;
        }
        slot->thread.join();
        m_results.push_back(std::move(slot->result));
        slot.reset();
    }
    return active;
}

int CSnapshotWriters::Active() const {
    int active = 0;
    for (const auto& slot : m_slots) {
        active += slot ? 1 : 0;
    }
    return active;
}

std::vector<SnapshotResult> CSnapshotWriters::TakeResults() {
    return std::exchange(m_results, {});
}

void CSnapshotWriters::Stop() {
    for (auto& slot : m_slots) {
        if (slot) {
            slot->thread.join();
            m_results.push_back(std::move(slot->result));
            slot.reset();
        }
    }
}

}  // namespace taviro::snapshot
