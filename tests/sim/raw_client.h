// A bare client for driving the simulated recorder byte by byte: whole messages through
// the project's wire layer, raw bytes for the faults that break the framing on purpose.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "protocol/packet_header.h"
#include "protocol/wire.h"
#include "sim/journal.h"

namespace taviro::sim::test {

using namespace std::chrono_literals;

struct Received {
    protocol::PacketHeader header;
    std::vector<std::uint8_t> payload;
};

class CRawClient {
  public:
    bool Connect(std::uint16_t port);
    void Close() { m_wire.Close(); }
    // Drops the connection without the orderly half-close.
    void Abort();

    bool Send(std::uint16_t code, std::span<const std::uint8_t> payload = {});
    bool SendRaw(std::span<const std::uint8_t> bytes);
    // HELLO with the user ID and password lower-cased and padded as the client does.
    bool SendHello(const std::string& user, const std::string& password);

    // The next whole message, or nullopt when none is complete within `timeout` or the
    // connection ends.
    std::optional<Received> Recv(std::chrono::milliseconds timeout = 3s);
    // Exactly `count` raw bytes within `timeout`.
    std::optional<std::vector<std::uint8_t>> RecvRaw(std::size_t count,
                                                     std::chrono::milliseconds timeout = 3s);
    // True when the recorder ends the connection within `timeout`; any bytes that arrive
    // first go to `before`.
    bool WaitForClose(std::chrono::milliseconds timeout = 3s,
                      std::vector<std::uint8_t>* before = nullptr);
    // True when nothing at all (no byte, no end of stream) arrives for `period`.
    bool StaysQuiet(std::chrono::milliseconds period);

    // Connects and logs in; the HELLO48_ACK payload, or nullopt.
    std::optional<std::vector<std::uint8_t>> Login(std::uint16_t port,
                                                   const std::string& user = "admin",
                                                   const std::string& password = "1234");

  private:
    protocol::CWireSocket m_wire;
};

// Hand-built big-endian header bytes, independent of PacketHeader.
std::vector<std::uint8_t> HeaderBytes(std::uint32_t word0, std::uint32_t word1);

// Journal helpers.
std::size_t CountEntries(const std::vector<JournalEntry>& entries,
                         bool (*match)(const JournalEntry&));
const JournalEntry* FindClose(const std::vector<JournalEntry>& entries, std::size_t nth = 0);

}  // namespace taviro::sim::test
