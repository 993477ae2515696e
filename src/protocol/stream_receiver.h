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

// One complete playback element as the stream layer has read it.
struct PlayElement {
    bool audio = false;
    std::uint32_t headerWord1 = 0;  // the last message's second header word (speed code)
    bool readable = false;          // video: its headers were read (the fields below are set)
    int channel = 0;                // video: the frame's channel
    std::int32_t seconds = 0;       // video: the encoder's time of the frame
    std::int32_t microseconds = 0;
    std::int32_t position = 0;  // video: the stream part's time (whole seconds)
};

struct PlayAdmission {
    bool queue = false;    // video: onto its channel's queue; audio: may be heard
    bool reverse = false;  // the frame is played backward or stepped
    // Video: decoded for the frames after it, but not shown (skipped on the way to a
    // position): queued as display-exempt and stepped.
    bool hidden = false;
    // Stamped on the queued frame, or on the heard audio block together with the time of
    // the picture it is heard with (`seconds`, `microseconds`).
    std::uint16_t paceTicket = 0;
    std::int32_t seconds = 0;  // audio
    std::int32_t microseconds = 0;
};

// Where the stream layer asks remote playback what becomes of each element: credit,
// speed, pause, re-positioning and pacing live behind it.
//
// Threads: the receive thread only, and neither call waits. Admit runs before the frame is
// stamped with the stream generation (it may start a new one); Queued follows every
// admitted video frame, with whether it reached its channel's queue (a channel without a
// decoder, or no memory, drops it).
class IPlayGate {
  public:
    virtual ~IPlayGate() = default;
    virtual PlayAdmission Admit(const PlayElement& element) = 0;
    virtual void Queued(const PlayElement& element, bool queued) = 0;
};

}  // namespace taviro::protocol
