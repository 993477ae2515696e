#include "platform/worker.h"

namespace taviro::platform {

CWorker::CWorker() {
    m_thread = std::thread(&CWorker::Run, this);
    m_id = m_thread.get_id();
}

CWorker::~CWorker() {
    Stop();
}

bool CWorker::Post(std::function<void()> job) {
    {
        std::lock_guard lock(m_lock);
        if (m_stopping) {
            return false;
        }
        m_jobs.push_back(std::move(job));
        ++m_posted;
    }
    m_changed.notify_all();
    return true;
}

void CWorker::Drain() {
    std::unique_lock lock(m_lock);
    const std::uint64_t target = m_posted;
    m_changed.wait(lock, [&] { return m_finished >= target; });
}

void CWorker::Stop() {
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable() && !OnWorkerThread()) {
        m_thread.join();
    }
}

void CWorker::Run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_lock);
            m_changed.wait(lock, [&] { return !m_jobs.empty() || m_stopping; });
            if (m_jobs.empty()) {
                return;  // stopping, and everything posted has run
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job();
        {
            std::lock_guard lock(m_lock);
            ++m_finished;
        }
        m_changed.notify_all();
    }
}

}  // namespace taviro::platform
