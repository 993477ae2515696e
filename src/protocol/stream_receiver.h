// Where the receive thread hands the pieces of live and playback stream elements. The
// video pipeline implements it (reassembly, parsing, per-channel queues); the session
// only reads each piece off the socket and passes it on.
#pragma once

#include <cstdint>
#include <span>

#include "protocol/packet_header.h"

namespace taviro::protocol {

class IStreamReceiver {
  public:
    virtual ~IStreamReceiver() = default;
    // One piece (one message's payload) of a LIVE_DATA or PLAY_DATA element, in arrival
    // order; `header` is the message header in host order (lastFragment marks the piece
    // that completes the element). Called on the receive thread only; `piece` is valid
    // for the call only. Must not block for long.
    virtual void OnStreamPiece(std::uint16_t command, const PacketHeader& header,
                               std::span<const std::uint8_t> piece) = 0;
    // The payload of LIVE_CHANNEL_INFO, after the session has taken what it keeps: a live
    // stream (re)starts. Receive thread only.
    virtual void OnChannelInfo(std::span<const std::uint8_t> payload) { (void)payload; }
};

}  // namespace taviro::protocol
