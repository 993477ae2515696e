// A long job of a window (verifying a folder, an export) on a thread of its own. Qt's global
// pool has one thread per core, and the short reads of every window share it (listings,
// bookmark lookups, the firmware scan): a job that runs for minutes there would hold them
// up, and the program's end would wait for it. The job is given a cancel flag, which it
// looks at between records; Cancel() sets it, and the destructor sets it and joins the
// thread, which then ends within one record.
//
// Threads: Start, Cancel and the destructor on the window thread; `work` on the job's own
// thread; `done` on the window thread, and only while `receiver` still exists.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <utility>

namespace taviro::archive::ui {

class CLongJob {
  public:
    CLongJob() = default;
    ~CLongJob() {
        Cancel();
        if (m_thread.joinable())
            m_thread.join();
    }
    CLongJob(const CLongJob&) = delete;
    CLongJob& operator=(const CLongJob&) = delete;

    // Runs `work` with the job's cancel flag, then hands its result to `done`. False (and
    // nothing runs) while the previous job has not ended.
    template <typename Result>
    bool Start(QObject* receiver, std::function<Result(const std::atomic<bool>& cancel)> work,
               std::function<void(Result)> done) {
        if (Running())
            return false;
        if (m_thread.joinable())
            m_thread.join();  // it has ended: nothing to wait for
        // Each job has flags of its own, so a new one never clears an old one's cancel.
        m_state = std::make_shared<State>();
        QPointer<QObject> guard(receiver);
        m_thread =
            std::thread([state = m_state, guard, work = std::move(work), done = std::move(done)] {
                auto result = std::make_shared<Result>(work(state->cancel));
                // Ended before `done` can run, so `done` may start the next job.
                state->ended = true;
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [guard, done, result] {
                        if (guard)
                            done(std::move(*result));
                    },
                    Qt::QueuedConnection);
            });
        return true;
    }

    // The job stops at its next look at the flag; its `done` still comes.
    void Cancel() {
        if (m_state)
            m_state->cancel = true;
    }
    [[nodiscard]] bool Running() const { return m_state && !m_state->ended.load(); }

  private:
    struct State {
        std::atomic<bool> cancel{false};
        std::atomic<bool> ended{false};
    };
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

}  // namespace taviro::archive::ui
