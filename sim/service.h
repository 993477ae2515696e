// One simulated recorder service (login, live, and later playback, backup, logs, PTZ,
// firmware ...). The connection reads every message itself, journals it and hands it to the
// first service that claims its code; services answer through the connection, which
// journals what they send. A fresh set of services is made for every client, so a service
// keeps per-client state in its members; state that outlives a client belongs in
// CRecorderSim.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/packet_header.h"

namespace taviro::sim {

class CSimConnection;

class ISimService {
  public:
    virtual ~ISimService() = default;

    // The client-to-recorder codes this service answers.
    [[nodiscard]] virtual bool Handles(std::uint16_t code) const = 0;
    // False for the few codes a recorder answers before login (HELLO); everything else that
    // arrives before login is journaled and dropped.
    [[nodiscard]] virtual bool RequiresLogin() const { return true; }
    // A whole message: the header as received and its complete payload.
    virtual void OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                           std::span<const std::uint8_t> payload) = 0;
    // Once, right after the login was accepted.
    virtual void OnLogin(CSimConnection& /*connection*/) {}
    // On every pass of the connection loop (at least every 20 ms), for timed work such as
    // pushing streams or playing scripted faults.
    virtual void Poll(CSimConnection& /*connection*/) {}
    // True when the last Poll stopped with more to send right away (a stream that is only
    // bounded by what the client allows); the loop then polls again without waiting.
    [[nodiscard]] virtual bool Busy() const { return false; }

  protected:
    ISimService() = default;
    ISimService(const ISimService&) = default;
    ISimService& operator=(const ISimService&) = default;
};

}  // namespace taviro::sim
