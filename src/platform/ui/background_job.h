// Short work that touches the disk (listing backup pairs, reading bookmarks) runs on Qt's
// global thread pool, never on the window thread; its result comes back to the window thread
// and is handed to `done` only while `receiver` still exists. The pool has a thread per core,
// so work that can take minutes (verifying, exporting) has a thread of its own instead.
//
// Threads: call from the window thread. `work` runs on a pool thread and must not touch
// widgets; `done` runs on the window thread. The application waits for the pool at exit.
#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <functional>
#include <memory>

namespace taviro::platform::ui {

template <typename Result>
void RunInBackground(QObject* receiver, std::function<Result()> work,
                     std::function<void(Result)> done) {
    QPointer<QObject> guard(receiver);
    QThreadPool::globalInstance()->start([guard, work = std::move(work), done = std::move(done)] {
        auto result = std::make_shared<Result>(work());
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done, result] {
                if (guard)
                    done(std::move(*result));
            },
            Qt::QueuedConnection);
    });
}

}  // namespace taviro::platform::ui
