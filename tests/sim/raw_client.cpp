#include "raw_client.h"

#include <sys/socket.h>

#include <cerrno>

#include "platform/socket.h"
#include "protocol/catalogue.h"
#include "protocol/hello.h"

namespace taviro::sim::test {

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::milliseconds Left(Clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

}  // namespace

bool CRawClient::Connect(std::uint16_t port) {
    platform::CSocket s = platform::CSocket::CreateTcp();
    const auto address = platform::ParseIPv4("127.0.0.1", port);
    if (!s.Valid() || !address ||
        platform::ConnectWithTimeout(s, *address, 3s) != platform::ConnectResult::Ok) {
        return false;
    }
    s.SetNoDelay(true);
    m_wire.Attach(std::move(s));
    return true;
}

void CRawClient::Abort() {
    // SO_LINGER 0 turns close into a reset, the way a crashed client disappears.
    if (m_wire.Fd() >= 0) {
        linger l{1, 0};
        ::setsockopt(m_wire.Fd(), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    platform::CSocket dummy;
    m_wire.Attach(std::move(dummy));
}

bool CRawClient::Send(std::uint16_t code, std::span<const std::uint8_t> payload) {
    return protocol::SendMessage(m_wire, code, payload);
}

bool CRawClient::SendRaw(std::span<const std::uint8_t> bytes) {
    return m_wire.SendAll(bytes);
}

bool CRawClient::SendHello(const std::string& user, const std::string& password) {
    const auto hello = protocol::BuildHelloPayload(user, password);
    return Send(protocol::msg::HELLO, hello);
}

std::optional<Received> CRawClient::Recv(std::chrono::milliseconds timeout) {
    if (platform::WaitReadable(m_wire.Fd(), timeout) != platform::WaitResult::Ready) {
        return std::nullopt;
    }
    m_wire.SetRecvLimit(timeout);
    std::uint8_t head[protocol::kHeaderSize];
    if (!protocol::RecvExact(m_wire, head, sizeof head)) {
        return std::nullopt;
    }
    Received r;
    r.header = protocol::PacketHeader::FromNetwork(head);
    r.payload.resize(r.header.Length());
    if (!protocol::RecvExact(m_wire, r.payload.data(), r.payload.size())) {
        return std::nullopt;
    }
    return r;
}

std::optional<std::vector<std::uint8_t>> CRawClient::RecvRaw(std::size_t count,
                                                             std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> out(count);
    m_wire.SetRecvLimit(timeout);
    if (!protocol::RecvExact(m_wire, out.data(), out.size())) {
        return std::nullopt;
    }
    return out;
}

bool CRawClient::WaitForClose(std::chrono::milliseconds timeout,
                              std::vector<std::uint8_t>* before) {
    const auto deadline = Clock::now() + timeout;
    std::uint8_t buffer[4096];
    for (;;) {
        const auto left = Left(deadline);
        if (left.count() == 0 ||
            platform::WaitReadable(m_wire.Fd(), left) != platform::WaitResult::Ready) {
            return false;
        }
        const ssize_t n = ::recv(m_wire.Fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) {
            return true;
        }
        if (n > 0 && before != nullptr) {
            before->insert(before->end(), buffer, buffer + n);
        }
    }
}

bool CRawClient::StaysQuiet(std::chrono::milliseconds period) {
    return platform::WaitReadable(m_wire.Fd(), period) == platform::WaitResult::Timeout;
}

std::optional<std::vector<std::uint8_t>> CRawClient::Login(std::uint16_t port,
                                                           const std::string& user,
                                                           const std::string& password) {
    if (!Connect(port) || !SendHello(user, password)) {
        return std::nullopt;
    }
    auto answer = Recv();
    if (!answer || answer->header.Command() != protocol::msg::HELLO48_ACK) {
        return std::nullopt;
    }
    return answer->payload;
}

std::vector<std::uint8_t> HeaderBytes(std::uint32_t word0, std::uint32_t word1) {
    std::vector<std::uint8_t> out(16, 0);
    for (int i = 0; i < 4; ++i) {
        out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(word0 >> (24 - 8 * i));
        out[static_cast<std::size_t>(4 + i)] = static_cast<std::uint8_t>(word1 >> (24 - 8 * i));
    }
    return out;
}

std::size_t CountEntries(const std::vector<JournalEntry>& entries,
                         bool (*match)(const JournalEntry&)) {
    std::size_t n = 0;
    for (const auto& e : entries) {
        n += match(e) ? 1u : 0u;
    }
    return n;
}

const JournalEntry* FindClose(const std::vector<JournalEntry>& entries, std::size_t nth) {
    for (const auto& e : entries) {
        if (e.IsEvent("close") && nth-- == 0) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace taviro::sim::test
