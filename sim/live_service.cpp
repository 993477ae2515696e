#include "sim/live_service.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "sim/connection.h"

namespace taviro::sim {

namespace msg = protocol::msg;

CLiveService::CLiveService(const SimConfig& config)
    : m_channels(config.channels),
      m_available(config.live_available),
      m_videoLoss(config.video_loss),
      m_liveReason(config.live_reason),
      m_stopReason(config.live_stop_reason) {}

bool CLiveService::Handles(std::uint16_t code) const {
    return code == msg::LIVE_REQ || code == msg::LIVE_STOP;
}

std::uint32_t CLiveService::ChannelInfoWord() const {
    const std::uint32_t channelBits = m_channels >= 16 ? 0xFFFFu : ((1u << m_channels) - 1u);
    const std::uint32_t available = m_available.value_or(0xFFFF) & channelBits;
    return available | ((m_videoLoss & channelBits) << 16);
}

void CLiveService::OnMessage(CSimConnection& connection, const protocol::PacketHeader& header,
                             std::span<const std::uint8_t> payload) {
    std::uint8_t word[4];
    if (header.Command() == msg::LIVE_STOP) {
        if (m_stopReason) {
            protocol::StoreBE32(word, static_cast<std::uint32_t>(*m_stopReason));
            connection.Send(msg::LIVE_STOP_NACK, word);
            return;
        }
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
    if (m_liveReason) {
        protocol::StoreBE32(word, static_cast<std::uint32_t>(*m_liveReason));
        connection.Send(msg::LIVE_NACK, word);
        return;
    }
    const std::uint32_t channelBits = m_channels >= 32 ? 0xFFFFFFFFu : ((1u << m_channels) - 1u);
    m_mask = protocol::LoadBE32(payload.data()) & channelBits & 0xFFFFu;
    m_liveOn = true;
    // Every request (re)opens the stream with the channel information; the pictures
    // themselves are not simulated here.
    protocol::StoreBE32(word, ChannelInfoWord());
    connection.Send(msg::LIVE_CHANNEL_INFO, word);
}

}  // namespace taviro::sim
