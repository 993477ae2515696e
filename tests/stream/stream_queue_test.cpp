// The consumer queues with real consumer threads: FIFO order, wake-ups of the manual-reset
// event, flushing, stopping, and slots changing under a running producer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "protocol/catalogue.h"
#include "stream/consumer_slots.h"
#include "stream/stream_frames.h"
#include "stream/stream_test_bytes.h"

namespace taviro::stream {
namespace {

using namespace std::chrono_literals;

QueuedFrame FrameOfGeneration(std::uint32_t generation) {
    FrameInfo info;
    info.generation = generation;
    info.payloadLength = 4;
    const std::uint8_t payload[4] = {1, 2, 3, 4};
    return *QueuedFrame::Make(info, protocol::PacketHeader{}, payload);
}

TEST(ConsumerQueue, ConsumerThreadTakesEntriesInArrivalOrder) {
    CVideoQueue queue;
    std::atomic<bool> stop{false};
    std::vector<std::uint32_t> seen;
    std::size_t maxBacklog = 0;
    std::thread consumer([&] {
        while (auto taken = queue.Next(stop, 10ms, 1ms)) {
            seen.push_back(taken->entry.Info().generation);
            maxBacklog = std::max(maxBacklog, taken->backlog);
            queue.ResetEvent();
            if (seen.size() == 2000) {
                break;
            }
        }
    });
    for (std::uint32_t i = 0; i < 2000; ++i) {
        queue.Put(FrameOfGeneration(i));
        if (i % 100 == 0) {
            std::this_thread::yield();
        }
    }
    consumer.join();
    ASSERT_EQ(seen.size(), 2000u);
    for (std::uint32_t i = 0; i < 2000; ++i) {
        ASSERT_EQ(seen[i], i);
    }
    EXPECT_GE(maxBacklog, 1u);
    EXPECT_EQ(queue.Count(), 0u);
}

TEST(ConsumerQueue, BacklogCountsTheEntryTaken) {
    CAudioQueue queue;
    for (std::uint8_t i = 0; i < 3; ++i) {
        HeardBlock b{};
        b.bytes[0] = i;
        queue.Put(b);
    }
    auto t = queue.TryTake();
    EXPECT_EQ(t->backlog, 3u);
    EXPECT_EQ(t->entry.bytes[0], 0);
    t = queue.TryTake();
    EXPECT_EQ(t->backlog, 2u);
    EXPECT_EQ(t->entry.bytes[0], 1);
    EXPECT_EQ(queue.Clear(), 1u);
    EXPECT_FALSE(queue.TryTake());
}

TEST(ManualResetEvent, SetWakesEveryWaiterAndStaysSetUntilReset) {
    CManualResetEvent event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            // A lost wake-up would sleep out the whole minute and fail below.
            if (event.WaitFor(60s)) {
                woken.fetch_add(1);
            }
        });
    }
    std::this_thread::sleep_for(20ms);
    const auto start = std::chrono::steady_clock::now();
    event.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_TRUE(event.WaitFor(0ms));  // still set
    EXPECT_TRUE(event.IsSet());
    event.Reset();
    EXPECT_FALSE(event.WaitFor(5ms));
}

TEST(ConsumerQueue, PutWakesAConsumerWaitingOnTheEvent) {
    CVideoQueue queue;
    std::atomic<bool> stop{false};
    std::atomic<bool> got{false};
    std::thread consumer([&] {
        if (auto taken = queue.Next(stop, 60s, 0ms)) {
            got = taken->entry.Generation() == 7;
        }
    });
    std::this_thread::sleep_for(20ms);
    const auto start = std::chrono::steady_clock::now();
    queue.Put(FrameOfGeneration(7));
    consumer.join();
    EXPECT_TRUE(got.load());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(ConsumerQueue, ResetKeepsTheEventWhileEntriesWait) {
    CAudioQueue queue;
    queue.Put(HeardBlock{});
    queue.Put(HeardBlock{});
    ASSERT_TRUE(queue.TryTake());
    queue.ResetEvent();
    EXPECT_TRUE(queue.EventSet());
    ASSERT_TRUE(queue.TryTake());
    queue.ResetEvent();
    EXPECT_FALSE(queue.EventSet());
}

TEST(ConsumerQueue, FlushFreesEntriesUnprocessedAndStopEndsTheWait) {
    CVideoQueue queue;
    std::atomic<bool> stop{false};
    std::atomic<int> processed{0};
    std::atomic<std::uint32_t> last{0};
    queue.SetFlush(true);
    std::thread consumer([&] {
        while (auto taken = queue.Next(stop, 10ms, 1ms)) {
            processed.fetch_add(1);
            last = taken->entry.Generation();
            queue.ResetEvent();
        }
    });
    for (std::uint32_t i = 0; i < 50; ++i) {
        queue.Put(FrameOfGeneration(i));
    }
    while (queue.Count() != 0) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(processed.load(), 0);
    queue.SetFlush(false);
    queue.Put(FrameOfGeneration(99));
    while (processed.load() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    consumer.join();  // returns: the stop flag ends Next() without an entry
    EXPECT_EQ(processed.load(), 1);
    EXPECT_EQ(last.load(), 99u);
}

TEST(ConsumerSlots, SlotsChangeWhileTheReceiveThreadQueues) {
    CStreamState state;
    state.SetLiveOn(true);
    CConsumerSlots slots;
    CStreamFrames frames(state, slots);
    auto queue = std::make_shared<CVideoQueue>();
    slots.AttachVideo(3, queue);
    std::atomic<bool> stop{false};
    std::atomic<std::uint64_t> taken{0};

    std::thread decoder([&] {
        while (queue->Next(stop, 10ms, 1ms)) {
            taken.fetch_add(1);
            queue->ResetEvent();
        }
    });
    std::thread ui([&] {
        // The user interface stops and starts the decoder of channel 3 and toggles the
        // live pause while frames stream in.
        for (int i = 0; i < 200; ++i) {
            slots.DetachVideo(3);
            state.SetLiveFrozen(i % 7 == 0);
            slots.AttachVideo(3, queue);
            std::this_thread::yield();
        }
    });
    test::Encoder e;
    e.channel = 3;
    const test::Bytes element = test::LiveVideo(e, test::Pattern(600));
    for (int i = 0; i < 2000; ++i) {
        const auto h = protocol::PacketHeader::Make(protocol::msg::LIVE_DATA, 600, true);
        frames.OnStreamPiece(protocol::msg::LIVE_DATA, h, element);
    }
    ui.join();
    const StreamStats s = frames.Stats();
    EXPECT_EQ(s.videoQueued + s.noConsumer + s.frozen, 2000u);
    while (queue->Count() != 0) {
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    decoder.join();
    EXPECT_EQ(taken.load(), s.videoQueued);
}

}  // namespace
}  // namespace taviro::stream
