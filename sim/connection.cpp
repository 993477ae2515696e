#include "sim/connection.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "protocol/catalogue.h"

namespace taviro::sim {

namespace msg = protocol::msg;
using protocol::PacketHeader;

void CConnectionAbort::Attach(int fd) {
    std::lock_guard lock(m_lock);
    m_fd = fd;
}

void CConnectionAbort::Detach() {
    std::lock_guard lock(m_lock);
    m_fd = -1;
}

void CConnectionAbort::Abort() {
    std::lock_guard lock(m_lock);
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
}

CSimConnection::CSimConnection(platform::CSocket socket, CJournal& journal,
                               std::chrono::milliseconds readTimeout, CConnectionAbort* abort)
    : m_journal(journal), m_abort(abort) {
    // Our own answers must not sit in Nagle's buffer: tests and the client measure
    // reply times in milliseconds.
    socket.SetNoDelay(true);
    m_wire.Attach(std::move(socket));
    // The limit bounds one message once its first byte has arrived; an idle client is
    // never timed out (it sends keep-alives every 10 seconds).
    m_wire.SetRecvLimit(readTimeout);
    if (m_abort != nullptr) {
        m_abort->Attach(m_wire.Fd());
    }
}

CSimConnection::~CSimConnection() {
    CloseSocket();
}

void CSimConnection::CloseSocket() {
    if (m_abort != nullptr) {
        m_abort->Detach();
    }
    m_wire.Close();
}

bool CSimConnection::Send(std::uint16_t code, std::span<const std::uint8_t> payload,
                          bool lastFragment, bool audioOn, std::string_view fault) {
    if (m_sendingStopped) {
        return true;
    }
    if (payload.size() > protocol::kMaxPayload ||
        !protocol::SendMessage(m_wire, code, payload, lastFragment, audioOn || m_audioOn)) {
        m_sendFailed = true;
        return false;
    }
    m_journal.Message(JournalDir::Tx, code, static_cast<std::uint32_t>(payload.size()), payload,
                      fault);
    return true;
}

bool CSimConnection::SendBroken(std::uint16_t code, std::uint16_t announced,
                                std::span<const std::uint8_t> bytes, std::string_view fault) {
    if (m_sendingStopped) {
        return true;
    }
    const auto head = PacketHeader::Make(code, announced).ToNetwork();
    std::vector<std::uint8_t> buffer(head.begin(), head.end());
    buffer.insert(buffer.end(), bytes.begin(), bytes.end());
    if (!m_wire.SendAll(buffer)) {
        m_sendFailed = true;
        return false;
    }
    m_journal.Message(JournalDir::Tx, code, announced, bytes, fault);
    return true;
}

bool CSimConnection::SendPrebuilt(const PacketHeader& header, std::span<const std::uint8_t> wire) {
    if (m_sendingStopped) {
        return true;
    }
    if (!m_wire.SendAll(wire)) {
        m_sendFailed = true;
        return false;
    }
    m_journal.Message(JournalDir::Tx, header.Command(), header.Length(), {}, {});
    return true;
}

void CSimConnection::CloseAfter(std::chrono::milliseconds pause, std::string_view why) {
    const auto at = Clock::now() + pause;
    if (!m_closeAt || at < *m_closeAt) {
        m_closeAt = at;
        m_closeWhy = std::string(why);
    }
}

void CSimConnection::SetLoggedIn(std::size_t userSlot) {
    m_userSlot = userSlot;
    m_loginTime = Clock::now();
}

CSimConnection::ReadResult CSimConnection::ReadMessage(PacketHeader& header,
                                                       std::vector<std::uint8_t>& payload) {
    std::uint8_t head[protocol::kHeaderSize];
    if (!protocol::RecvExact(m_wire, head, sizeof head)) {
        return ReadResult::Failed;
    }
    header = PacketHeader::FromNetwork(head);
    // Length() is 16 bits wide, so no header can make this allocate more than 64 KiB.
    payload.resize(header.Length());
    if (!protocol::RecvExact(m_wire, payload.data(), payload.size())) {
        return ReadResult::Failed;
    }
    return ReadResult::Message;
}

void CSimConnection::JournalPending() {
    // Only whole messages already there; a client that went mid-message leaves the rest.
    m_wire.SetRecvLimit(std::chrono::milliseconds(100));
    PacketHeader header;
    std::vector<std::uint8_t> payload;
    for (int n = 0; n < 1000; ++n) {
        std::uint8_t probe = 0;
        if (::recv(m_wire.Fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT) <= 0 ||
            ReadMessage(header, payload) != ReadResult::Message) {
            return;
        }
        ++m_received;
        m_journal.Message(JournalDir::Rx, header.Command(), header.Length(), payload);
    }
}

void CSimConnection::Dispatch(std::span<const std::unique_ptr<ISimService>> services,
                              const PacketHeader& header, std::span<const std::uint8_t> payload) {
    const std::uint16_t code = header.Command();
    if (code == msg::BYE) {
        CloseNow("goodbye");
        return;
    }
    if (code == msg::KEEP_ALIVE) {
        return;  // the client's keep-alive needs no answer
    }
    for (const auto& service : services) {
        if (!service->Handles(code)) {
            continue;
        }
        if (service->RequiresLogin() && !LoggedIn()) {
            return;  // a recorder ignores requests from a client that has not logged in
        }
        const bool wasLoggedIn = LoggedIn();
        service->OnMessage(*this, header, payload);
        if (!wasLoggedIn && LoggedIn()) {
            for (const auto& s : services) {
                s->OnLogin(*this);
            }
        }
        return;
    }
    // Codes nobody claims are only journaled, like a recorder that skips what it does not
    // know.
}

std::string CSimConnection::Run(std::span<const std::unique_ptr<ISimService>> services,
                                const std::atomic<bool>& stop) {
    std::string why;
    PacketHeader header;
    std::vector<std::uint8_t> payload;
    for (;;) {
        if (stop.load()) {
            why = "stopped";
            break;
        }
        if (m_sendFailed) {
            why = "send failed";
            // What the client sent before it went (its goodbye, say) is still readable:
            // journal it, as a recorder that was busy sending would still have read it.
            JournalPending();
            break;
        }
        if (m_closeAt && Clock::now() >= *m_closeAt) {
            why = m_closeWhy;
            break;
        }
        bool busy = false;
        for (const auto& service : services) {
            service->Poll(*this);
            busy = busy || service->Busy();
        }
        if (m_sendFailed || (m_closeAt && Clock::now() >= *m_closeAt)) {
            continue;
        }
        if (m_stopReadingAfter && LoggedIn() && Clock::now() >= m_loginTime + *m_stopReadingAfter) {
            // Wedged: whatever the client sends stays in the buffers until they are full.
            std::this_thread::sleep_for(kPollStep);
            continue;
        }
        auto wait = busy ? std::chrono::milliseconds(0) : kPollStep;
        if (m_closeAt) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(*m_closeAt - Clock::now());
            wait = std::min(wait, std::clamp(left, std::chrono::milliseconds(0), kPollStep));
        }
        const auto ready = platform::WaitReadable(m_wire.Fd(), wait);
        if (ready == platform::WaitResult::Timeout) {
            continue;
        }
        if (ready == platform::WaitResult::Error) {
            why = "socket error";
            break;
        }
        // Tell an orderly end of the stream between messages from a failure inside one.
        std::uint8_t probe = 0;
        const ssize_t n = ::recv(m_wire.Fd(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            why = stop.load() ? "stopped" : (n == 0 ? "peer closed" : "connection reset");
            break;
        }
        if (n < 0) {
            continue;
        }
        if (ReadMessage(header, payload) != ReadResult::Message) {
            why = stop.load() ? "stopped" : "read failed";
            break;
        }
        ++m_received;
        m_journal.Message(JournalDir::Rx, header.Command(), header.Length(), payload);
        Dispatch(services, header, payload);
    }
    if (m_reset && why == m_closeWhy) {
        // A zero linger time makes the close send a reset instead of an orderly end.
        const linger hard{1, 0};
        ::setsockopt(m_wire.Fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else if (why != "stopped" && why != "socket error" && why != "connection reset") {
        Drain(stop);
    }
    CloseSocket();
    m_journal.Event("close", why);
    return why;
}

void CSimConnection::Drain(const std::atomic<bool>& stop) {
    m_wire.ShutdownSend();
    const auto deadline = Clock::now() + kDrainTime;
    std::uint8_t scratch[4096];
    while (!stop.load()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 ||
            platform::WaitReadable(m_wire.Fd(), left) != platform::WaitResult::Ready) {
            break;
        }
        const ssize_t n = ::recv(m_wire.Fd(), scratch, sizeof scratch, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            break;
        }
    }
}

}  // namespace taviro::sim
