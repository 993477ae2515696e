#include "recordings/backup_transfer.h"

#include <csignal>

#include "platform/trace.h"
#include "recordings/messages.h"

namespace taviro::recordings {

CBackupTransfer::CBackupTransfer(platform::IMessageSink& owner, archive::WriterOptions options,
                                 std::function<void()> onWriteFailure)
    : CBackupTransfer(owner, std::make_shared<archive::CBackupWriter>(std::move(options)),
                      std::move(onWriteFailure)) {}

CBackupTransfer::CBackupTransfer(platform::IMessageSink& owner,
                                 std::shared_ptr<archive::ITransferWriter> writer,
                                 std::function<void()> onWriteFailure, std::filesystem::path folder)
    : m_owner(owner),
      m_writer(std::move(writer)),
      m_pPairs(dynamic_cast<archive::CBackupWriter*>(m_writer.get())),
      m_folder(std::move(folder)),
      m_onWriteFailure(std::move(onWriteFailure)) {
    // A file-size limit then fails the write (EFBIG) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    m_thread = std::thread([this] { Thread_Write(); });
}

CBackupTransfer::~CBackupTransfer() {
    Finish(BackupEnd::kConnectionEnded);  // the first Finish's end stands
    Join();
}

void CBackupTransfer::Put(archive::RecordKind kind, std::vector<std::uint8_t> record) {
    std::unique_lock lock(m_lock);
    if (m_bFinish || m_bFailed.load()) {
        return;
    }
    m_nReceived.fetch_add(record.size());
    const std::size_t size = record.size();
    // The writer's backlog slows the receive loop down: once the writer lags (more than
    // kBackupLagBytes waiting), a pause of one millisecond per eight queued records, and a
    // wait while the queue holds more than its bound. A writer that keeps up is never
    // waited for: a burst of one frame per channel is not a backlog.
    const auto pause =
        std::chrono::milliseconds(m_nQueuedBytes > kBackupLagBytes ? m_queue.size() / 8 : 0);
    m_nQueuedBytes += size;
    m_queue.push_back(Element{kind, std::move(record)});
    m_changed.notify_all();
    if (pause.count() > 0) {
        m_changed.wait_for(lock, pause, [&] { return m_bFinish || m_bFailed.load(); });
    }
    m_changed.wait(lock, [&] {
        return m_nQueuedBytes <= kMaxQueuedBackupBytes || m_bFinish || m_bFailed.load();
    });
}

void CBackupTransfer::Finish(BackupEnd why) {
    {
        std::lock_guard lock(m_lock);
        if (!m_bFinish) {
            m_end = why;
        }
        m_bFinish = true;
    }
    m_changed.notify_all();
}

void CBackupTransfer::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) {
        m_thread.join();
    }
}

BackupOutcome CBackupTransfer::Outcome() const {
    std::lock_guard lock(m_lock);
    return m_outcome;
}

void CBackupTransfer::PostProgress(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastProgress < kBackupProgressPeriod) {
        return;
    }
    m_lastProgress = now;
    m_owner.Post(platform::Window::Main, recordings::WM_BACKUP_PROGRESS, m_nReceived.load() / 1024,
                 0);
}

void CBackupTransfer::Thread_Write() {
    bool ok = m_writer->Open();
    while (ok) {
        Element element;
        {
            std::unique_lock lock(m_lock);
            m_changed.wait(lock, [&] { return !m_queue.empty() || m_bFinish; });
            if (m_queue.empty()) {
                break;  // finished and everything written
            }
            element = std::move(m_queue.front());
            m_queue.pop_front();
            m_nQueuedBytes -= element.record.size();
        }
        m_changed.notify_all();
        ok = m_writer->Write(element.kind, element.record);
        PostProgress(false);
    }
    if (!ok) {
        // The writer cannot go on: the transfer ends here, without waiting for anyone to
        // say so. Nothing more is taken and the receive thread stops waiting for room.
        {
            std::lock_guard lock(m_lock);
            m_bFailed = true;
            m_bFinish = true;
            m_queue.clear();
            m_nQueuedBytes = 0;
        }
        m_changed.notify_all();
        platform::Trace("backup writer failed: %s\n", m_writer->Error().c_str());
    }
    // A pair gets its summary and trailers for what was written, failure or not; a clip is
    // finished only when the recorder sent all of it, and removed otherwise.
    bool complete = false;
    {
        std::lock_guard lock(m_lock);
        complete = ok && m_end == BackupEnd::kDone;
    }
    m_writer->End(complete);
    PostProgress(true);
    {
        std::lock_guard lock(m_lock);
        if (m_pPairs != nullptr) {
            m_outcome.pairs = m_pPairs->Pairs();
        } else {
            m_outcome.clip = true;
            m_outcome.clipFolder = m_folder;
            m_outcome.clipFiles = m_writer->FinishedFiles();
            m_outcome.latestMicros = m_writer->LatestMicros();
        }
        m_outcome.bytesReceived = m_nReceived.load();
        m_outcome.bytesWritten = m_writer->BytesWritten();
        m_outcome.failed = m_writer->Failed();
        m_outcome.error = m_writer->Error();
        m_outcome.end = ok ? m_end : BackupEnd::kWriteFailed;
    }
    if (!ok && m_onWriteFailure) {
        m_onWriteFailure();  // the recorder is asked to stop sending
    }
    m_bEnded = true;
    m_owner.Post(platform::Window::Main, recordings::WM_BACKUP_FINISHED, 0, 0);
}

}  // namespace taviro::recordings
