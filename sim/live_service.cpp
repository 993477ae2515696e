#include "sim/live_service.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

CLiveService::CLiveService(const SimConfig& config) : m_channels(config.channels) {}

bool CLiveService::Handles(std::uint16_t code) const {
    return code == msg::LIVE_REQ || code == msg::LIVE_STOP;
}

void CLiveService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                             std::span<const std::uint8_t> payload) {
    if (header.Command() == msg::LIVE_STOP) {
        m_liveOn = false;
        m_mask = 0;
        connection.Send(msg::LIVE_STOP_ACK, {});
        return;
    }
    // LIVE_REQ: a 4-byte channel mask; any other size is journaled (by the connection) and
    // otherwise ignored, as the recorder cannot tell which channels were meant.
    if (payload.size() != 4) {
        return;
    }
    const std::uint32_t channelBits = m_channels >= 32 ? 0xFFFFFFFFu : ((1u << m_channels) - 1u);
    m_mask = protocol::LoadBE32(payload.data()) & channelBits & 0xFFFFu;
    m_liveOn = true;
    // The live stream starts here: LIVE_CHANNEL_INFO for m_mask, then LIVE_DATA fragments
    // from Poll().
}

}  // namespace taviro::sim
