#include "protocol/reply_collector.h"

#include <algorithm>
#include <memory>

#include "platform/trace.h"

namespace taviro::protocol {

CReplyCollector::CReplyCollector(platform::IMessageSink& sink, std::size_t capacity)
    : m_sink(sink), m_capacity(capacity) {}

void CReplyCollector::Expect(const ReplyRoute& route) {
    std::lock_guard lock(m_lock);
    // What is already on its way answers an earlier request: its rest is not this one's.
    for (InFlight& reply : m_inFlight) {
        reply.ours = false;
    }
    m_route = route;
    m_bytes.clear();
    m_activeCode = 0;
    m_cutShort = false;
}

void CReplyCollector::GiveUp() {
    {
        std::lock_guard lock(m_lock);
        if (m_route && m_activeCode == 0 && m_owed.size() < kMaxOwed) {
            // None of its reply came yet: the recorder still owes it.
            m_owed.push_back(Owed{m_route->replyCode, m_route->alternateCode,
                                  std::chrono::steady_clock::now() + kOwedLimit});
        }
    }
    Cancel();
}

void CReplyCollector::Cancel() {
    std::lock_guard lock(m_lock);
    for (InFlight& reply : m_inFlight) {
        reply.ours = false;
    }
    m_route.reset();
    m_bytes.clear();
    m_activeCode = 0;
    m_cutShort = false;
}

CReplyCollector::Outcome CReplyCollector::Add(std::uint16_t code,
                                              std::span<const std::uint8_t> fragment, bool last,
                                              const std::function<void()>& beforeDelivery) {
    ReplyRoute route;
    std::vector<std::uint8_t> reply;
    bool cutShort = false;
    {
        std::lock_guard lock(m_lock);
        if (code == 0) {
            return Outcome::NotExpected;
        }
        const bool wanted = m_route &&
                            (code == m_route->replyCode || code == m_route->alternateCode) &&
                            (m_activeCode == 0 || code == m_activeCode);
        // Follow the reply on the wire: a fragment continues the reply of its code that
        // has begun, or begins one, which is ours only when it is what we wait for.
        auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                               [code](const InFlight& r) { return r.code == code; });
        bool ours = wanted;
        if (it != m_inFlight.end()) {
            ours = it->ours && wanted;
            if (last) {
                m_inFlight.erase(it);
            }
        } else {
            // A reply that begins answers the oldest request of its code still owed first.
            ours = wanted && !SettleOwed(code);
            if (!last && m_inFlight.size() < kMaxInFlight) {
                m_inFlight.push_back(InFlight{code, ours});
            }
        }
        if (!ours) {
            return Outcome::NotExpected;
        }
        m_activeCode = code;
        const std::size_t room = m_capacity - m_bytes.size();
        const std::size_t take = std::min(room, fragment.size());
        m_bytes.insert(m_bytes.end(), fragment.begin(),
                       fragment.begin() + static_cast<std::ptrdiff_t>(take));
        if (take < fragment.size()) {
            m_cutShort = true;
        }
        if (!last) {
            return Outcome::Partial;
        }
        route = *m_route;
        if (code != route.replyCode) {
            route.message = route.alternateMessage;
        }
        reply.swap(m_bytes);
        cutShort = m_cutShort;
        m_route.reset();
        m_activeCode = 0;
        m_cutShort = false;
    }
    if (cutShort) {
        platform::Trace("reply %u cut short at %zu bytes\n", static_cast<unsigned>(code),
                        reply.size());
    }
    if (beforeDelivery) {
        beforeDelivery();
    }
    platform::PostedMessage message;
    message.window = route.window;
    message.message = route.message;
    message.wParam = route.wParam;
    message.lParam = cutShort ? kReplyCutShort : 0;
    message.data = std::make_shared<const std::vector<std::uint8_t>>(std::move(reply));
    m_sink.Deliver(std::move(message));
    return Outcome::Complete;
}

bool CReplyCollector::SettleOwed(std::uint16_t code) {
    const auto now = std::chrono::steady_clock::now();
    std::erase_if(m_owed, [now](const Owed& o) { return o.until <= now; });
    const auto it = std::find_if(m_owed.begin(), m_owed.end(), [code](const Owed& o) {
        return code == o.code || (o.alternate != 0 && code == o.alternate);
    });
    if (it == m_owed.end()) {
        return false;
    }
    m_owed.erase(it);
    return true;
}

bool CReplyCollector::TakeOwed(std::uint16_t replyCode) {
    std::lock_guard lock(m_lock);
    return replyCode != 0 && SettleOwed(replyCode);
}

std::optional<std::uint16_t> CReplyCollector::Outstanding() const {
    std::lock_guard lock(m_lock);
    if (!m_route) {
        return std::nullopt;
    }
    return m_route->replyCode;
}

bool CReplyCollector::Expects(std::uint16_t code) const {
    std::lock_guard lock(m_lock);
    return m_route && code != 0 && (code == m_route->replyCode || code == m_route->alternateCode);
}

}  // namespace taviro::protocol
