#include "platform/message_sink.h"

namespace taviro::platform {

void CQueueSink::Deliver(PostedMessage m) {
    {
        std::lock_guard lock(m_lock);
        m_pending.push_back(m);
        m_history.push_back(std::move(m));
    }
    m_changed.notify_all();
}

std::optional<PostedMessage> CQueueSink::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_lock);
    if (!m_changed.wait_for(lock, timeout, [&] { return !m_pending.empty(); })) {
        return std::nullopt;
    }
    PostedMessage m = std::move(m_pending.front());
    m_pending.pop_front();
    return m;
}

std::vector<PostedMessage> CQueueSink::History() const {
    std::lock_guard lock(m_lock);
    return m_history;
}

bool CQueueSink::WaitFor(const std::function<bool(const PostedMessage&)>& match,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] {
        for (const auto& m : m_history) {
            if (match(m))
                return true;
        }
        return false;
    });
}

std::vector<std::pair<int, int>> CQueueSink::Notifications() const {
    std::lock_guard lock(m_lock);
    std::vector<std::pair<int, int>> out;
    for (const auto& m : m_history) {
        if (!m.messageBox && m.message == WM_RECORDER_NOTIFY) {
            out.emplace_back(NotifyCategory(m.lParam), NotifyCode(m.lParam));
        }
    }
    return out;
}

}  // namespace taviro::platform
