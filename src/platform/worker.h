// A thread that runs posted jobs one after another, in posting order. Owners use it for
// the work that may wait (network shutdowns, thread joins, draining queues) so that the
// thread that posts (the window's) never waits.
//
// Threads: Post from any thread; Drain and Stop from any thread but the worker itself.
// Destruction stops the worker after the jobs already posted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace taviro::platform {

class CWorker {
  public:
    CWorker();
    ~CWorker();
    CWorker(const CWorker&) = delete;
    CWorker& operator=(const CWorker&) = delete;

    // Queues a job; false (the job is dropped) once Stop has begun.
    bool Post(std::function<void()> job);
    // Waits until every job posted before this call has run.
    void Drain();
    // Refuses new jobs, runs the queued ones, joins the thread. Idempotent.
    void Stop();
    [[nodiscard]] bool OnWorkerThread() const { return std::this_thread::get_id() == m_id; }

  private:
    void Run();

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    std::uint64_t m_posted = 0;    // jobs ever posted
    std::uint64_t m_finished = 0;  // jobs ever run
    bool m_stopping = false;
    std::thread m_thread;
    std::thread::id m_id;
};

}  // namespace taviro::platform
