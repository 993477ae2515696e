// How the recorder sends its list answers (events, log, status): the answer's bytes in
// consecutive messages of one code, each at most the configured piece size, the split
// falling anywhere (not on record boundaries) and the last piece flagged; an empty answer
// is one empty, flagged message. Refusals carry the 4-byte reason. Called on the
// simulator's server thread by the service that answers; the bytes stay the caller's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "protocol/byte_order.h"
#include "protocol/packet_header.h"
#include "sim/connection.h"

namespace taviro::sim {

// The piece size a configuration asks for, kept within what one message can carry.
inline std::size_t InfoPieceSize(std::size_t configured) {
    return std::clamp<std::size_t>(configured, 1, protocol::kMaxPayload);
}

// `afterPiece(n)`, when given, runs after the n-th piece (1-based) went out and may send
// messages of its own in between. False when the socket failed.
inline bool SendPieces(CSimConnection& connection, std::uint16_t code,
                       std::span<const std::uint8_t> bytes, std::size_t pieceSize,
                       const std::function<void(std::size_t)>& afterPiece = {}) {
    if (bytes.empty()) {
        return connection.Send(code, {}, true);
    }
    std::size_t pieces = 0;
    for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
        const std::size_t n = std::min(pieceSize, bytes.size() - at);
        if (!connection.Send(code, bytes.subspan(at, n), at + n == bytes.size())) {
            return false;
        }
        if (afterPiece) {
            afterPiece(++pieces);
        }
    }
    return true;
}

inline bool SendRefusal(CSimConnection& connection, std::uint16_t code, std::int32_t reason) {
    std::uint8_t word[4];
    protocol::StoreBE32(word, static_cast<std::uint32_t>(reason));
    return connection.Send(code, word);
}

}  // namespace taviro::sim
