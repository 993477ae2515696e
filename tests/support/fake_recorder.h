// The recorder's end of a socket pair, scripted by a test: read what the client sent and
// answer message by message. Every read is bounded in time so a broken client fails the
// test instead of hanging it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/socket.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "protocol/hello.h"
#include "protocol/packet_header.h"
#include "protocol/wire.h"

namespace taviro::testing {

struct Message {
    protocol::PacketHeader header;
    std::vector<std::uint8_t> payload;
    [[nodiscard]] std::uint16_t Command() const { return header.Command(); }
};

class CFakeRecorder {
  public:
    explicit CFakeRecorder(platform::CSocket socket) : m_wire(std::move(socket)) {
        m_wire.SetRecvLimit(std::chrono::milliseconds(3000));
    }

    // Next message from the client within `timeout`; nullopt on timeout or close.
    std::optional<Message> Read(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        if (platform::WaitReadable(m_wire.Fd(), timeout) != platform::WaitResult::Ready) {
            return std::nullopt;
        }
        std::uint8_t raw[protocol::kHeaderSize];
        if (!protocol::RecvExact(m_wire, raw, sizeof raw)) {
            return std::nullopt;
        }
        Message m{protocol::PacketHeader::FromNetwork(raw), {}};
        m.payload.resize(m.header.Length());
        if (!protocol::RecvExact(m_wire, m.payload.data(), m.payload.size())) {
            return std::nullopt;
        }
        return m;
    }

    // Reads until a message with `command` arrives (others are kept in Skipped()).
    std::optional<Message> ReadUntil(std::uint16_t command, std::chrono::milliseconds timeout =
                                                                std::chrono::milliseconds(3000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            auto m = Read(left);
            if (!m)
                return std::nullopt;
            if (m->Command() == command)
                return m;
            m_skipped.push_back(*m);
        }
        return std::nullopt;
    }

    // Everything until the client closes (or `timeout` passes).
    std::vector<Message> ReadAll(
        std::chrono::milliseconds timeout = std::chrono::milliseconds(3000)) {
        std::vector<Message> out;
        while (auto m = Read(timeout))
            out.push_back(*m);
        return out;
    }

    bool Send(std::uint16_t command, std::vector<std::uint8_t> payload = {},
              std::uint32_t word0Extra = 0, std::uint32_t word1Extra = 0) {
        auto h = protocol::PacketHeader::Make(command, static_cast<std::uint16_t>(payload.size()));
        h.word[0] |= word0Extra;
        h.word[1] |= word1Extra;
        return protocol::SendPacket(m_wire, h, payload.data(), payload.size());
    }
    bool SendRaw(const std::vector<std::uint8_t>& bytes) { return m_wire.SendAll(bytes); }

    bool SendHello(const protocol::HelloAck& ack) {
        const auto bytes = ack.Encode();
        return Send(protocol::msg::HELLO48_ACK,
                    std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    bool SendReason(std::uint16_t command, std::int32_t reason,
                    std::vector<std::uint8_t> tail = {}) {
        std::vector<std::uint8_t> p(4);
        protocol::StoreBE32(p.data(), static_cast<std::uint32_t>(reason));
        p.insert(p.end(), tail.begin(), tail.end());
        return Send(command, p);
    }
    void Close() { m_wire.Close(); }

    [[nodiscard]] const std::vector<Message>& Skipped() const { return m_skipped; }

  private:
    protocol::CWireSocket m_wire;
    std::vector<Message> m_skipped;
};

inline protocol::HelloAck SupportedHello(std::uint8_t productNumber = 11,
                                         std::uint8_t channels = 16) {
    protocol::HelloAck a;
    a.protocol_major_ver = 1;
    a.product_number = productNumber;
    a.product_major_ver = 2;
    a.channel_num = channels;
    a.capabilities = 0x08;
    a.mac_address = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    return a;
}

}  // namespace taviro::testing
