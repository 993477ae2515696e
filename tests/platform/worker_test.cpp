// The worker thread: jobs run one after another in posting order, Drain waits for what was
// posted, Stop runs what is queued and refuses the rest.
#include "platform/worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace taviro::platform {
namespace {

TEST(Worker, RunsJobsInOrderDrainsAndStopsAfterTheQueuedOnes) {
    std::mutex lock;
    std::vector<int> ran;
    std::atomic<bool> onWorker{false};
    {
        CWorker worker;
        EXPECT_FALSE(worker.OnWorkerThread());
        for (int i = 0; i < 50; ++i) {
            worker.Post([&, i] {
                if (i == 0)
                    onWorker = worker.OnWorkerThread();
                std::lock_guard guard(lock);
                ran.push_back(i);
            });
        }
        worker.Drain();
        {
            std::lock_guard guard(lock);
            ASSERT_EQ(ran.size(), 50u);
            for (int i = 0; i < 50; ++i)
                EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
        }
        // Stop while a slow job runs: what was queued behind it still runs.
        worker.Post([] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
        worker.Post([&] {
            std::lock_guard guard(lock);
            ran.push_back(100);
        });
        worker.Stop();
        EXPECT_FALSE(worker.Post([&] { ran.push_back(200); }));
    }
    EXPECT_TRUE(onWorker.load());
    EXPECT_EQ(ran.back(), 100);
}

}  // namespace
}  // namespace taviro::platform
