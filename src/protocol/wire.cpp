#include "protocol/wire.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/trace.h"
#include "protocol/byte_order.h"

namespace taviro::protocol {

using Clock = std::chrono::steady_clock;
using platform::Trace;

void CWireSocket::Attach(platform::CSocket socket) {
    std::lock_guard lock(m_sendLock);
    std::lock_guard fdLock(m_fdLock);
    m_socket = std::move(socket);
    m_fd.store(m_socket.Fd());
}

void CWireSocket::Close() {
    std::lock_guard lock(m_sendLock);
    std::lock_guard fdLock(m_fdLock);
    if (m_socket.Valid()) {
        m_socket.ShutdownSend();
        m_socket.Close();
    }
    m_fd.store(-1);
}

void CWireSocket::Interrupt() {
    std::lock_guard fdLock(m_fdLock);
    const int fd = m_fd.load();
    if (fd >= 0) {
        ::shutdown(fd, SHUT_RDWR);
    }
}

void CWireSocket::ShutdownSend() {
    std::lock_guard lock(m_sendLock);
    m_socket.ShutdownSend();
}

bool CWireSocket::SetNonBlocking(bool on) {
    std::lock_guard lock(m_sendLock);
    return m_socket.Valid() && m_socket.SetNonBlocking(on);
}

bool CWireSocket::SendAll(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(m_sendLock);
    if (!m_socket.Valid()) {
        return false;
    }
    // A peer that stops reading must not hold a sender (and with it every other sender)
    // forever: the same limit as for reading bounds the whole message.
    const auto start = Clock::now();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_socket.Fd(), bytes.data() + sent, bytes.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Waits in short slices so that a shorter limit set meanwhile (a shutdown)
            // takes effect at once.
            const auto limit = std::chrono::milliseconds(m_sendLimitMs.load());
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(start + limit - Clock::now());
            if (left.count() > 0 &&
                platform::WaitWritable(m_socket.Fd(),
                                       std::min(left, std::chrono::milliseconds(100))) !=
                    platform::WaitResult::Error) {
                continue;
            }
        }
        Trace("nErr : %d... send error...socket closed\n", errno);
        if (sent > 0) {
            // Half a message is on the wire: nothing sent after it could be understood.
            m_socket.ShutdownBoth();
        }
        return false;
    }
    return true;
}

bool SendPacket(CWireSocket& socket, const PacketHeader& header, const void* payload,
                std::size_t payloadLength) {
    if (payloadLength > kMaxPayload || (payloadLength > 0 && payload == nullptr)) {
        return false;
    }
    std::vector<std::uint8_t> buffer(kHeaderSize + payloadLength);
    const auto head = header.ToNetwork();
    std::memcpy(buffer.data(), head.data(), kHeaderSize);
    if (payloadLength > 0) {
        std::memcpy(buffer.data() + kHeaderSize, payload, payloadLength);
    }
    return socket.SendAll(buffer);
}

bool SendMessage(CWireSocket& socket, std::uint16_t command, std::span<const std::uint8_t> payload,
                 bool lastFragment, bool audioOn) {
    if (payload.size() > kMaxPayload) {
        return false;
    }
    const auto header = PacketHeader::Make(command, static_cast<std::uint16_t>(payload.size()),
                                           lastFragment, audioOn);
    return SendPacket(socket, header, payload.data(), payload.size());
}

bool RecvExact(CWireSocket& socket, void* buffer, std::size_t count) {
    if (count == 0) {
        return true;
    }
    const int fd = socket.Fd();
    if (fd < 0 || buffer == nullptr) {
        return false;
    }
    const auto start = Clock::now();
    const auto limit = socket.RecvLimit();
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    while (got < count) {
        const auto elapsed = Clock::now() - start;
        if (elapsed >= limit) {
            Trace("nErr : %d... receive error...socket closed\n", ETIMEDOUT);
            return false;
        }
        const ssize_t n = ::recv(fd, out + got, count - got, MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) {
            // The peer has closed: the rest can never arrive.
            Trace("nErr : %d... receive error...socket closed\n", 0);
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            Trace("nErr : %d... receive error...socket closed\n", errno);
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(limit - (Clock::now() - start));
        // +1 ms so the wait does not wake just before the limit and spin on a zero timeout.
        if (left.count() >= 0 && platform::WaitReadable(fd, left + std::chrono::milliseconds(1)) ==
                                     platform::WaitResult::Error) {
            return false;
        }
    }
    return true;
}

std::int32_t ReadNackReason(CWireSocket& socket, const PacketHeader& header,
                            std::array<std::uint8_t, 8>* extra) {
    const std::size_t length = header.Length();
    if (length == 0) {
        return kReasonEmpty;
    }
    std::vector<std::uint8_t> payload(length);
    if (!RecvExact(socket, payload.data(), length)) {
        return kReasonReadFailed;
    }
    if (length < 4) {
        return kReasonEmpty;
    }
    if (length == 12 && extra != nullptr) {
        std::memcpy(extra->data(), payload.data() + 4, 8);
    }
    return static_cast<std::int32_t>(LoadBE32(payload.data()));
}

bool DiscardPayload(CWireSocket& socket, const PacketHeader& header) {
    std::uint8_t scratch[4096];
    std::size_t left = header.Length();
    while (left > 0) {
        const std::size_t chunk = left < sizeof scratch ? left : sizeof scratch;
        if (!RecvExact(socket, scratch, chunk)) {
            return false;
        }
        left -= chunk;
    }
    return true;
}

}  // namespace taviro::protocol
