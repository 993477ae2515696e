// The receive dispatch: one handler per message code the recorder sends. Only codes the
// catalogue lists from the recorder to the client can be claimed, each by one handler;
// the transport reads every other code over in step (or, for a tabled refusal, posts what
// the refusal table says).
//
// Threads: filled on the owner's thread before the receive thread starts, read by the
// receive thread only afterwards; never changed while a connection runs.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "protocol/packet_header.h"

namespace taviro::protocol {

class CDispatchTable {
  public:
    // Reads exactly the header's payload and returns false only when the socket read failed
    // (which ends the connection).
    using Handler = std::function<bool(const PacketHeader&)>;

    // False (and nothing changes) when `code` is not a recorder-to-client message of the
    // catalogue, is already claimed, or `handler` is empty.
    bool Register(std::uint16_t code, Handler handler);
    // The handler of `code`, or null.
    [[nodiscard]] const Handler* Find(std::uint16_t code) const;

  private:
    std::array<Handler, kCommandLimit> m_handlers;
};

}  // namespace taviro::protocol
