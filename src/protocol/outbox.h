// The session's outbox: requests from threads that must never wait on the network (the
// window's above all) are queued here whole and sent in order by the session's one sender
// thread, which alone waits when the recorder stops reading. Bounded: a request that does
// not fit (too many waiting, or too many bytes) is refused at once rather than queued
// without end.
//
// Threads: Push from any thread; Pop and Done from the sender thread; WaitIdle and Close
// from the thread that shuts the session down. Everything is under one lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace taviro::protocol {

class COutbox {
  public:
    static constexpr std::size_t kDefaultMessageLimit = 256;
    static constexpr std::size_t kDefaultByteLimit = 2u << 20;

    explicit COutbox(std::size_t messageLimit = kDefaultMessageLimit,
                     std::size_t byteLimit = kDefaultByteLimit)
        : m_messageLimit(messageLimit), m_byteLimit(byteLimit) {}

    // Queues one whole message (header and payload as they go on the wire). Never waits;
    // false when the outbox is closed or full. `gapAfter`: how long the sender leaves the
    // socket alone after this message (the recorder's pace for play-control messages).
    bool Push(std::vector<std::uint8_t> wire,
              std::chrono::milliseconds gapAfter = std::chrono::milliseconds{0});
    // The oldest message, waiting up to `timeout` for one; nullopt when none came, or when
    // the outbox is closed and empty. The message counts as in flight until Done(). Its
    // gap goes to `gapAfter` when given.
    std::optional<std::vector<std::uint8_t>> Pop(std::chrono::milliseconds timeout,
                                                 std::chrono::milliseconds* gapAfter = nullptr);
    // The message taken by the last Pop has gone out (or failed).
    void Done();
    // Waits until nothing is queued or in flight; false when `limit` passed first.
    bool WaitIdle(std::chrono::milliseconds limit);
    // Refuses every Push from now on; Pop still hands out what is queued.
    void Close();
    // Drops everything still queued (a connection that cannot send any more).
    std::size_t Discard();

    [[nodiscard]] std::size_t Size() const;
    [[nodiscard]] bool Closed() const;
    // Messages refused because the outbox was full.
    [[nodiscard]] std::uint64_t Refused() const;

  private:
    const std::size_t m_messageLimit;
    const std::size_t m_byteLimit;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    struct Entry {
        std::vector<std::uint8_t> wire;
        std::chrono::milliseconds gapAfter{0};
    };
    std::deque<Entry> m_queue;
    std::size_t m_bytes = 0;
    bool m_inFlight = false;
    bool m_closed = false;
    std::uint64_t m_refused = 0;
};

}  // namespace taviro::protocol
