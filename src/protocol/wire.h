// The only socket operations the rest of the client uses: send one message, read an exact
// number of bytes, read a refusal's reason, skip a payload.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "platform/socket.h"
#include "protocol/packet_header.h"

namespace taviro::protocol {

inline constexpr std::chrono::milliseconds kDefaultRecvLimit{180'000};

// The connection's socket with the lock that keeps each message contiguous on the wire.
// Several threads send (requests, keep-alive, microphone, firmware); exactly one thread
// reads. Closing happens under the send lock so no sender writes to a reused descriptor.
class CWireSocket {
  public:
    CWireSocket() = default;
    explicit CWireSocket(platform::CSocket socket)
        : m_socket(std::move(socket)), m_fd(m_socket.Fd()) {}
    CWireSocket(const CWireSocket&) = delete;
    CWireSocket& operator=(const CWireSocket&) = delete;

    // Replaces the socket (closing any previous one).
    void Attach(platform::CSocket socket);
    // Shuts the sending side down and closes; idempotent.
    void Close();
    void ShutdownSend();
    [[nodiscard]] bool Valid() const { return m_fd.load() >= 0; }
    // Descriptor for the reading thread's poll; -1 once closed.
    [[nodiscard]] int Fd() const { return m_fd.load(); }
    bool SetNonBlocking(bool on);

    // Breaks off blocked reads and sends at once (both directions shut down) without
    // waiting for a sender that holds the send lock. Safe from any thread.
    void Interrupt();

    // How long one message may take to go out when the peer does not read (180 s unless
    // changed); a sender already waiting follows a change.
    void SetSendLimit(std::chrono::milliseconds limit) { m_sendLimitMs.store(limit.count()); }

    // How long RecvExact may take in all, from the start of the call. The same limit then
    // bounds a message going out, until SetSendLimit changes that.
    void SetRecvLimit(std::chrono::milliseconds limit) {
        m_recvLimit = limit;
        m_sendLimitMs.store(limit.count());
    }
    [[nodiscard]] std::chrono::milliseconds RecvLimit() const { return m_recvLimit; }

    // Sends header + payload as one contiguous unit. False when the socket is closed or the
    // write fails; a write that fails half-way leaves the stream unusable, so the socket is
    // then shut down and the reading side ends the connection.
    bool SendAll(std::span<const std::uint8_t> bytes);

  private:
    std::mutex m_sendLock;
    // Held while the descriptor is closed or replaced, so Interrupt never shuts down a
    // descriptor number that has been reused meanwhile.
    std::mutex m_fdLock;
    platform::CSocket m_socket;
    std::atomic<int> m_fd{-1};
    std::atomic<std::int64_t> m_sendLimitMs{kDefaultRecvLimit.count()};
    std::chrono::milliseconds m_recvLimit = kDefaultRecvLimit;
};

// Sends one message: the header as given (the caller's header is not changed), then
// `payloadLength` bytes of `payload`. False when nothing or only part went out.
bool SendPacket(CWireSocket& socket, const PacketHeader& header, const void* payload,
                std::size_t payloadLength);
// Convenience: header made from the code and the payload's size.
bool SendMessage(CWireSocket& socket, std::uint16_t command, std::span<const std::uint8_t> payload,
                 bool lastFragment = false, bool audioOn = false);

// Reads exactly `count` bytes. Waits on poll for the remaining time, never spins; fails on
// a socket error, on the peer closing the connection, or when the socket's receive limit
// (180 s by default) has passed since the call began. `count` 0 succeeds at once.
bool RecvExact(CWireSocket& socket, void* buffer, std::size_t count);

inline constexpr std::int32_t kReasonEmpty = -100;
inline constexpr std::int32_t kReasonReadFailed = -99;

// Reads a refusal's whole payload and returns its first four bytes as a signed big-endian
// reason: -100 for an empty payload, -99 when the read fails. A 12-byte payload also copies
// its bytes 4..11 into `extra`. Payloads of 1..3 bytes are read and give -100, since they
// hold no reason.
std::int32_t ReadNackReason(CWireSocket& socket, const PacketHeader& header,
                            std::array<std::uint8_t, 8>* extra = nullptr);

// Reads and drops the header's payload; false only when the read fails.
bool DiscardPayload(CWireSocket& socket, const PacketHeader& header);

}  // namespace taviro::protocol
