// Gathers a reply that the recorder sends in fragments (the month and day lists of the
// calendar, event pages, logs, status) for the one request that is outstanding, and hands
// the finished reply to its window by a posted message. The window gets its own immutable
// copy (PostedMessage::data), so it never shares a buffer with the receive thread.
//
// Only fragments of the expected reply code are taken; anything else is left to its
// handler. The buffer is bounded: fragments beyond the capacity are read off the socket by
// the caller and dropped here, never written past the buffer, and the finished reply is
// posted marked as cut short (lParam kReplyCutShort).
//
// The recorder finishes a reply it has begun, whatever the client does meanwhile. So the
// collector follows every reply of its codes on the wire from its first fragment to its
// last: a reply that began for a request since cancelled or replaced is read to its end
// and dropped, and never completes the next request of the same code. A request given up
// before any of its reply came is still owed by the recorder: the next reply of its code
// to begin (or its refusal, TakeOwed) is that one's and is dropped too, for kOwedLimit.
//
// Threads: Expect and Cancel from any thread (the owner's, when a request goes out); Add on
// the receive thread. One lock guards the state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/message_sink.h"

namespace taviro::protocol {

// lParam of a reply that did not fit the collector and was cut at its capacity.
inline constexpr std::int64_t kReplyCutShort = 1;

struct ReplyRoute {
    std::uint16_t replyCode = 0;  // the recorder-to-client code that carries the reply
    platform::Window window = platform::Window::Main;
    std::uint32_t message = 0;  // posted with the reply's bytes when it is complete
    std::uint64_t wParam = 0;
    // A second form of the same answer (the event list comes paged or whole), posted as
    // `alternateMessage`; 0 for none. The first fragment decides which form is collected.
    std::uint16_t alternateCode = 0;
    std::uint32_t alternateMessage = 0;
};

class CReplyCollector {
  public:
    enum class Outcome {
        NotExpected,  // no reply of this code is outstanding: the caller's to drop
        Partial,      // taken, more fragments to come
        Complete,     // the last fragment: the reply went to its window
    };

    // `sink` receives the finished replies and must outlive the collector.
    CReplyCollector(platform::IMessageSink& sink, std::size_t capacity);

    // A request goes out whose answer is `route.replyCode`: what was collected for an
    // earlier one is dropped.
    void Expect(const ReplyRoute& route);
    // The request is over (refused, or never sent): nothing more is collected until the
    // next Expect.
    void Cancel();
    // The client gave the request up while the recorder may still answer it: as Cancel,
    // and a reply it still owes (none of it came yet) is dropped when it comes.
    void GiveUp();
    // Receive thread: one fragment with message code `code`; `last` is its lastFragment.
    // `beforeDelivery` runs once the reply is complete, before it is posted (the owner
    // clears its busy flag there, so the window never sees the reply while still busy).
    Outcome Add(std::uint16_t code, std::span<const std::uint8_t> fragment, bool last,
                const std::function<void()>& beforeDelivery = nullptr);

    [[nodiscard]] std::optional<std::uint16_t> Outstanding() const;
    // A refusal of `replyCode`'s request came: true when it answers a request cancelled
    // before its reply began (and is not the outstanding one's), which it settles.
    bool TakeOwed(std::uint16_t replyCode);
    // Whether a reply of `code` (either form) is outstanding.
    [[nodiscard]] bool Expects(std::uint16_t code) const;
    [[nodiscard]] std::size_t Capacity() const { return m_capacity; }

  private:
    platform::IMessageSink& m_sink;
    const std::size_t m_capacity;
    mutable std::mutex m_lock;
    std::optional<ReplyRoute> m_route;
    std::vector<std::uint8_t> m_bytes;
    std::uint16_t m_activeCode = 0;  // the form the first fragment came in; 0 before it
    bool m_cutShort = false;
    // A reply that is part-way over the wire (its first fragment came, its last not yet),
    // and whether it answers the request outstanding now. One per code, so an unasked
    // reply of another code in between does not lose track of it.
    struct InFlight {
        std::uint16_t code = 0;
        bool ours = false;
    };
    static constexpr std::size_t kMaxInFlight = 8;
    std::vector<InFlight> m_inFlight;
    // Requests cancelled before their reply began, by reply code (and alternate), until
    // their reply or refusal comes or kOwedLimit has passed (a recorder that never answers
    // one would otherwise take the next answer of its code away for good).
    struct Owed {
        std::uint16_t code = 0;
        std::uint16_t alternate = 0;
        std::chrono::steady_clock::time_point until;
    };
    static constexpr std::chrono::seconds kOwedLimit{10};
    static constexpr std::size_t kMaxOwed = 8;
    std::vector<Owed> m_owed;
    // Takes the owed entry `code` settles, after forgetting the expired ones (lock held).
    bool SettleOwed(std::uint16_t code);
};

}  // namespace taviro::protocol
