// POSIX TCP sockets behind a small RAII wrapper. This is the stand-in for the
// platform socket service: the protocol layer never calls the C socket API itself.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace taviro::platform {

// Owns one file descriptor; closes it on destruction. Not thread-safe by itself:
// callers that share a socket between threads serialise access (see protocol/wire.h).
class CSocket {
  public:
    CSocket() = default;
    explicit CSocket(int fd) : m_fd(fd) {}
    ~CSocket() { Close(); }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    CSocket& operator=(CSocket&& other) noexcept;

    [[nodiscard]] int Fd() const { return m_fd; }
    [[nodiscard]] bool Valid() const { return m_fd >= 0; }
    void Close();
    void ShutdownSend();
    void ShutdownBoth();
    int Release() { return std::exchange(m_fd, -1); }

    bool SetNonBlocking(bool on);
    // TCP keep-alive probing: idle time before the first probe and the interval between probes.
    bool SetKeepAlive(std::chrono::milliseconds idle, std::chrono::milliseconds interval);
    bool SetNoDelay(bool on);
    // The kernel's send buffer (SO_SNDBUF); the kernel may round it.
    bool SetSendBuffer(int bytes);
    // The kernel's receive buffer (SO_RCVBUF).
    bool SetReceiveBuffer(int bytes);

    // An IPv4 stream socket (close-on-exec); invalid on failure with errno set.
    static CSocket CreateTcp();

  private:
    int m_fd = -1;
};

enum class ConnectResult { Ok, TimedOut, Refused, Cancelled, OtherError };

// Connects without blocking longer than `timeout`; `cancel`, when given, is polled every
// 100 ms so a caller can abandon a slow connect. The socket is left blocking on success.
ConnectResult ConnectWithTimeout(CSocket& socket, const sockaddr_in& address,
                                 std::chrono::milliseconds timeout,
                                 bool (*cancel)(const void*) = nullptr,
                                 const void* cancelContext = nullptr, int* errorOut = nullptr);

// Dotted IPv4 text to an address; nullopt for anything else (host names are resolved earlier).
std::optional<sockaddr_in> ParseIPv4(const std::string& dotted, std::uint16_t port);

// Host name or dotted address to dotted IPv4 text (first IPv4 answer); nullopt when unknown.
std::optional<std::string> ResolveIPv4(const std::string& host);

// A connected pair of stream sockets, for tests and the fuzz harness.
std::optional<std::pair<CSocket, CSocket>> MakeSocketPair();

// Listening socket on address:port (port 0 picks one); BoundPort tells which.
CSocket ListenTcp(const std::string& address, std::uint16_t port, int backlog = 4);
std::uint16_t BoundPort(const CSocket& socket);
// Waits up to `timeout` for a connection; invalid socket on timeout or error.
CSocket AcceptWithTimeout(const CSocket& listener, std::chrono::milliseconds timeout);

enum class WaitResult { Ready, Timeout, Error };
// Waits for the descriptor to become readable (or hung up) / writable. EINTR is retried
// with the remaining time.
WaitResult WaitReadable(int fd, std::chrono::milliseconds timeout);
WaitResult WaitWritable(int fd, std::chrono::milliseconds timeout);

}  // namespace taviro::platform
