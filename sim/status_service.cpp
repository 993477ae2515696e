#include "sim/status_service.h"

#include <algorithm>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"
#include "sim/info_reply.h"

namespace taviro::sim {

namespace msg = protocol::msg;

namespace {

// The recorder leaves its own values in the fields a client does not show, never zeros, so
// a client that reads them by mistake shows something odd.
constexpr std::uint32_t kReserved0 = 0x0000A5A5;
constexpr std::uint32_t kReserved1 = 0x5A5A0000;
constexpr std::uint8_t kUnused = 0xA5;

}  // namespace

std::vector<std::uint8_t> StatusBytes(const SimConfig& config) {
    std::vector<std::uint8_t> out(kStatusInfoSize, 0);
    std::uint8_t* p = out.data();
    protocol::StoreBE32(p, kReserved0);
    protocol::StoreBE32(p + 4, kReserved1);
    protocol::StoreBE32(p + 8, config.status_disk_total);
    protocol::StoreBE32(p + 12, config.status_disk_part);
    std::copy(config.status_a_present.begin(), config.status_a_present.end(), p + 16);
    std::copy(config.status_a_value.begin(), config.status_a_value.end(), p + 20);
    std::copy(config.status_a_state.begin(), config.status_a_state.end(), p + 24);
    std::copy(config.status_b_present.begin(), config.status_b_present.end(), p + 28);
    std::copy(config.status_b_value.begin(), config.status_b_value.end(), p + 32);
    std::copy(config.status_b_state.begin(), config.status_b_state.end(), p + 36);
    for (const std::size_t unused : {std::size_t{30}, std::size_t{34}, std::size_t{38}}) {
        p[unused] = kUnused;
        p[unused + 1] = kUnused;
    }
    std::copy(config.status_modes.begin(), config.status_modes.end(), p + 40);
    if (config.status_short) {
        out.resize(kShortStatusInfoSize);
    }
    return out;
}

CStatusService::CStatusService(const SimConfig& config)
    : m_bytes(StatusBytes(config)),
      m_pieceSize(InfoPieceSize(config.info_fragment_size)),
      m_reason(config.status_reason) {}

bool CStatusService::Handles(std::uint16_t code) const {
    return code == msg::STATUS_INFO_REQ;
}

void CStatusService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& /*header*/,
                               std::span<const std::uint8_t> /*payload*/) {
    // The request has no payload; anything that came with it is not looked at.
    if (m_reason) {
        SendRefusal(connection, msg::STATUS_INFO_NACK, *m_reason);
        return;
    }
    SendPieces(connection, msg::STATUS_INFO_ACK, m_bytes, m_pieceSize);
}

}  // namespace taviro::sim
