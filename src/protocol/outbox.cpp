#include "protocol/outbox.h"

namespace taviro::protocol {

bool COutbox::Push(std::vector<std::uint8_t> wire, std::chrono::milliseconds gapAfter) {
    {
        std::lock_guard lock(m_lock);
        if (m_closed) {
            return false;
        }
        if (m_queue.size() >= m_messageLimit || m_bytes + wire.size() > m_byteLimit) {
            ++m_refused;
            return false;
        }
        m_bytes += wire.size();
        m_queue.push_back(Entry{std::move(wire), gapAfter});
    }
    m_changed.notify_all();
    return true;
}

std::optional<std::vector<std::uint8_t>> COutbox::Pop(std::chrono::milliseconds timeout,
                                                      std::chrono::milliseconds* gapAfter) {
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, timeout, [&] { return !m_queue.empty() || m_closed; });
    if (m_queue.empty()) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> wire = std::move(m_queue.front().wire);
    if (gapAfter != nullptr) {
        *gapAfter = m_queue.front().gapAfter;
    }
    m_queue.pop_front();
    m_bytes -= wire.size();
    m_inFlight = true;
    return wire;
}

void COutbox::Done() {
    {
        std::lock_guard lock(m_lock);
        m_inFlight = false;
    }
    m_changed.notify_all();
}

bool COutbox::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, limit, [&] { return m_queue.empty() && !m_inFlight; });
}

void COutbox::Close() {
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
    }
    m_changed.notify_all();
}

std::size_t COutbox::Discard() {
    std::size_t dropped = 0;
    {
        std::lock_guard lock(m_lock);
        dropped = m_queue.size();
        m_queue.clear();
        m_bytes = 0;
    }
    m_changed.notify_all();
    return dropped;
}

std::size_t COutbox::Size() const {
    std::lock_guard lock(m_lock);
    return m_queue.size();
}

bool COutbox::Closed() const {
    std::lock_guard lock(m_lock);
    return m_closed;
}

std::uint64_t COutbox::Refused() const {
    std::lock_guard lock(m_lock);
    return m_refused;
}

}  // namespace taviro::protocol
