// The queues between the receive thread (the only producer) and the stream consumers, and
// the table of consumer slots the receive thread looks them up in: slots 0..15 are the
// channel decoders, 16 the audio output, 17 the backup writer, 18 the talk object. An
// empty slot means nobody consumes that stream; its elements are dropped.
//
// Threads: the receive thread calls Put() and the slot look-ups; each consumer thread
// calls Next()/TryTake()/ResetEvent() on its own queue; whoever starts or stops a
// consumer (the user interface thread) attaches and detaches it. A queue is shared by
// the slot table and its consumer, so detaching never frees a queue under a producer
// that still holds it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "protocol/channel_mask.h"
#include "stream/queued_frame.h"

namespace taviro::stream {

// A manual-reset event: once set it stays set, waking every waiter, until reset.
class CManualResetEvent {
  public:
    void Set();
    void Reset();
    [[nodiscard]] bool IsSet() const;
    // True when the event is set on return; false when the time ran out.
    bool WaitFor(std::chrono::milliseconds timeout);

  private:
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_set = false;
};

// A producer's wake-up that a queue rings whenever its consumer takes entries. The receive
// thread never waits on consumers, but the local player must not run ahead of its decoders:
// it waits on this lock and condition for room in a queue and for the user's buttons at
// once, instead of polling the queue.
struct CWakeSignal {
    std::mutex lock;
    std::condition_variable changed;
    void Notify() {
        { std::lock_guard hold(lock); }  // a waiter between its check and its wait sees this
        changed.notify_all();
    }
};

// One consumer's FIFO with its lock and its event. Producers never wait on consumers:
// the list is unbounded and a slow consumer sheds load on its own side.
template <typename Entry>
class CConsumerQueue {
  public:
    struct Taken {
        Entry entry;
        // Entries waiting when this one was taken, this one included: the consumer's
        // measure of how far it has fallen behind.
        std::size_t backlog = 0;
    };

    // Producer: append at the tail, then wake the consumer.
    void Put(Entry entry) {
        {
            std::lock_guard lock(m_lock);
            m_entries.push_back(std::move(entry));
        }
        m_event.Set();
    }

    [[nodiscard]] std::size_t Count() const {
        std::lock_guard lock(m_lock);
        return m_entries.size();
    }

    // The oldest entry, if any, without waiting.
    std::optional<Taken> TryTake() {
        std::shared_ptr<CWakeSignal> signal;
        std::optional<Taken> taken;
        {
            std::lock_guard lock(m_lock);
            if (m_entries.empty()) {
                return std::nullopt;
            }
            taken.emplace(Taken{std::move(m_entries.front()), m_entries.size()});
            m_entries.pop_front();
            signal = m_signal;
        }
        if (signal) {
            signal->Notify();  // outside the queue's lock: the waiter reads Count() under its own
        }
        return taken;
    }

    // The producer that waits for room (null: none). Rung after every entry taken or cleared.
    void SetTakeSignal(std::shared_ptr<CWakeSignal> signal) {
        std::lock_guard lock(m_lock);
        m_signal = std::move(signal);
    }

    // The consumer loop's wait: blocks until an entry is to be processed (returned) or
    // `stop` is set (nothing). Waits on the event at most `wait` at a time and sleeps
    // `idle` when the list turns out empty; while the flush flag is set, entries are taken
    // and freed unprocessed. After processing, the consumer calls ResetEvent(). With
    // `returnWhenQuiet` it also returns nothing once a whole `wait` passed without a wake-up
    // and nothing waits, so the consumer may tidy up while it idles (it tells that from a
    // stop by `stop`).
    std::optional<Taken> Next(const std::atomic<bool>& stop, std::chrono::milliseconds wait,
                              std::chrono::milliseconds idle, bool returnWhenQuiet = false) {
        while (!stop.load()) {
            const bool woken = m_event.WaitFor(wait);
            if (stop.load()) {
                break;
            }
            if (!woken && returnWhenQuiet && Count() == 0) {
                return std::nullopt;
            }
            auto taken = TryTake();
            if (!taken) {
                if (idle.count() > 0) {
                    std::this_thread::sleep_for(idle);
                } else {
                    std::this_thread::yield();
                }
                ResetEvent();
                continue;
            }
            if (m_bFlush.load()) {
                continue;  // `taken` is freed here
            }
            return taken;
        }
        return std::nullopt;
    }

    // Resets the event unless entries are still waiting, so a consumer that resets after
    // each entry never sleeps out a wait while its list is not empty.
    void ResetEvent() {
        std::lock_guard lock(m_lock);
        if (m_entries.empty()) {
            m_event.Reset();
        }
    }
    bool WaitFor(std::chrono::milliseconds timeout) { return m_event.WaitFor(timeout); }
    // Wakes the consumer without an entry: it is being stopped (its stop flag is set first),
    // so an idle consumer may wait long on its event.
    void Wake() { m_event.Set(); }
    [[nodiscard]] bool EventSet() const { return m_event.IsSet(); }

    void SetFlush(bool flush) { m_bFlush.store(flush); }
    [[nodiscard]] bool Flushing() const { return m_bFlush.load(); }

    // Frees every waiting entry (flush, or the consumer being destroyed); returns how many.
    std::size_t Clear() {
        std::deque<Entry> gone;
        std::shared_ptr<CWakeSignal> signal;
        {
            std::lock_guard lock(m_lock);
            gone.swap(m_entries);
            signal = m_signal;
        }
        if (signal) {
            signal->Notify();
        }
        return gone.size();
    }

  private:
    mutable std::mutex m_lock;
    std::deque<Entry> m_entries;
    std::shared_ptr<CWakeSignal> m_signal;
    CManualResetEvent m_event;
    std::atomic<bool> m_bFlush{false};
};

using CVideoQueue = CConsumerQueue<QueuedFrame>;
using CAudioQueue = CConsumerQueue<HeardBlock>;
using CElementQueue = CConsumerQueue<ElementBlock>;

inline constexpr int kAudioSlot = 16;
inline constexpr int kBackupSlot = 17;
inline constexpr int kTalkSlot = 18;
inline constexpr int kConsumerSlotCount = 19;  // decoders 0..15, audio, backup, talk

class CConsumerSlots {
  public:
    // Channel decoder slots 0..15; out-of-range channels are ignored / have no queue.
    void AttachVideo(int channel, std::shared_ptr<CVideoQueue> queue);
    void DetachVideo(int channel);
    [[nodiscard]] std::shared_ptr<CVideoQueue> Video(int channel) const;
    // Bit n set when slot n holds a decoder.
    [[nodiscard]] protocol::ChannelMask VideoSlotMask() const;

    void AttachAudio(std::shared_ptr<CAudioQueue> queue);
    void DetachAudio();
    [[nodiscard]] std::shared_ptr<CAudioQueue> Audio() const;

    // Slots 17 and 18; other slot numbers are ignored / have no queue.
    void AttachElement(int slot, std::shared_ptr<CElementQueue> queue);
    void DetachElement(int slot);
    [[nodiscard]] std::shared_ptr<CElementQueue> Element(int slot) const;

  private:
    mutable std::mutex m_lock;  // guards the table only, never held around a queue's lock
    std::array<std::shared_ptr<CVideoQueue>, protocol::kMaxChannels> m_video;
    std::shared_ptr<CAudioQueue> m_audio;
    std::array<std::shared_ptr<CElementQueue>, 2> m_element;
};

}  // namespace taviro::stream
