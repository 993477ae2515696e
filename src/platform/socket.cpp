#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace taviro::platform {

using Clock = std::chrono::steady_clock;

CSocket& CSocket::operator=(CSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void CSocket::Close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

void CSocket::ShutdownSend() {
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_WR);
    }
}

void CSocket::ShutdownBoth() {
    if (m_fd >= 0) {
        ::shutdown(m_fd, SHUT_RDWR);
    }
}

bool CSocket::SetNonBlocking(bool on) {
    const int flags = ::fcntl(m_fd, F_GETFL, 0);
    if (flags < 0) {
        return false;
    }
    const int wanted = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(m_fd, F_SETFL, wanted) == 0;
}

bool CSocket::SetKeepAlive(std::chrono::milliseconds idle, std::chrono::milliseconds interval) {
    int on = 1;
    // Linux counts keep-alive times in whole seconds; round up so 3,000 ms stays 3 s.
    int idleSec = static_cast<int>((idle.count() + 999) / 1000);
    int intervalSec = static_cast<int>((interval.count() + 999) / 1000);
    if (idleSec < 1)
        idleSec = 1;
    if (intervalSec < 1)
        intervalSec = 1;
    return ::setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0 &&
           ::setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSec, sizeof idleSec) == 0 &&
           ::setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSec, sizeof intervalSec) == 0;
}

bool CSocket::SetNoDelay(bool on) {
    int value = on ? 1 : 0;
    return ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value) == 0;
}

bool CSocket::SetSendBuffer(int bytes) {
    return ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0;
}

bool CSocket::SetReceiveBuffer(int bytes) {
    return ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) == 0;
}

CSocket CSocket::CreateTcp() {
    return CSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

namespace {

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
        return 0;
    }
    return left > 1000000 ? 1000000 : static_cast<int>(left);
}

WaitResult WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
    if (fd < 0) {
        return WaitResult::Error;
    }
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, RemainingMs(deadline));
        if (n > 0) {
            if (p.revents & POLLNVAL) {
                return WaitResult::Error;
            }
            return WaitResult::Ready;  // readable, writable, hung up or in error: the caller's
                                       // next read or write tells which
        }
        if (n == 0) {
            return WaitResult::Timeout;
        }
        if (errno != EINTR) {
            return WaitResult::Error;
        }
        if (Clock::now() >= deadline) {
            return WaitResult::Timeout;
        }
    }
}

}  // namespace

WaitResult WaitReadable(int fd, std::chrono::milliseconds timeout) {
    return WaitFor(fd, POLLIN | POLLRDHUP, timeout);
}

WaitResult WaitWritable(int fd, std::chrono::milliseconds timeout) {
    return WaitFor(fd, POLLOUT, timeout);
}

ConnectResult ConnectWithTimeout(CSocket& socket, const sockaddr_in& address,
                                 std::chrono::milliseconds timeout, bool (*cancel)(const void*),
                                 const void* cancelContext, int* errorOut) {
    auto fail = [&](ConnectResult r, int err) {
        if (errorOut)
            *errorOut = err;
        return r;
    };
    if (!socket.Valid() || !socket.SetNonBlocking(true)) {
        return fail(ConnectResult::OtherError, errno);
    }
    const int rc =
        ::connect(socket.Fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (rc != 0 && errno != EINPROGRESS) {
        const int err = errno;
        return fail(err == ECONNREFUSED ? ConnectResult::Refused : ConnectResult::OtherError, err);
    }
    if (rc != 0) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (cancel && cancel(cancelContext)) {
                return fail(ConnectResult::Cancelled, ECANCELED);
            }
            const int slice = RemainingMs(deadline) < 100 ? RemainingMs(deadline) : 100;
            pollfd p{socket.Fd(), POLLOUT, 0};
            const int n = ::poll(&p, 1, slice);
            if (n < 0 && errno != EINTR) {
                return fail(ConnectResult::OtherError, errno);
            }
            if (n > 0) {
                break;
            }
            if (Clock::now() >= deadline) {
                return fail(ConnectResult::TimedOut, ETIMEDOUT);
            }
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(socket.Fd(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) {
            return fail(ConnectResult::OtherError, errno);
        }
        if (err == ECONNREFUSED) {
            return fail(ConnectResult::Refused, err);
        }
        if (err == ETIMEDOUT) {
            return fail(ConnectResult::TimedOut, err);
        }
        if (err != 0) {
            return fail(ConnectResult::OtherError, err);
        }
    }
    socket.SetNonBlocking(false);
    return fail(ConnectResult::Ok, 0);
}

std::optional<sockaddr_in> ParseIPv4(const std::string& dotted, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, dotted.c_str(), &a.sin_addr) != 1) {
        return std::nullopt;
    }
    return a;
}

std::optional<std::string> ResolveIPv4(const std::string& host) {
    if (host.empty()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) {
        return std::nullopt;
    }
    std::optional<std::string> dotted;
    for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            char text[INET_ADDRSTRLEN] = {};
            const auto* sin = reinterpret_cast<const sockaddr_in*>(ai->ai_addr);
            if (::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr) {
                dotted = text;
                break;
            }
        }
    }
    ::freeaddrinfo(result);
    return dotted;
}

std::optional<std::pair<CSocket, CSocket>> MakeSocketPair() {
    int fds[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        return std::nullopt;
    }
    return std::make_pair(CSocket(fds[0]), CSocket(fds[1]));
}

CSocket ListenTcp(const std::string& address, std::uint16_t port, int backlog) {
    auto addr = ParseIPv4(address, port);
    if (!addr) {
        return CSocket();
    }
    CSocket s = CSocket::CreateTcp();
    if (!s.Valid()) {
        return s;
    }
    int on = 1;
    ::setsockopt(s.Fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(s.Fd(), reinterpret_cast<const sockaddr*>(&*addr), sizeof *addr) != 0 ||
        ::listen(s.Fd(), backlog) != 0) {
        return CSocket();
    }
    return s;
}

std::uint16_t BoundPort(const CSocket& socket) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(socket.Fd(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

CSocket AcceptWithTimeout(const CSocket& listener, std::chrono::milliseconds timeout) {
    if (WaitReadable(listener.Fd(), timeout) != WaitResult::Ready) {
        return CSocket();
    }
    return CSocket(::accept4(listener.Fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

}  // namespace taviro::platform
