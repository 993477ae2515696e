#include "recordings/playback_service.h"

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"

namespace taviro::recordings {

void CPlaybackService::SetRunning(bool running, protocol::ChannelMask channels) {
    m_nChannels = running ? channels : 0;
    m_bRunning = running;
}

bool CPlaybackService::SendViewChannels(protocol::ChannelMask visible) {
    if (!m_bRunning.load() || !m_login.PlaybackViewChannelCapable()) {
        return false;
    }
    std::uint8_t payload[4];
    protocol::StoreBE32(payload, m_nChannels.load() & visible & protocol::kAllChannels);
    return m_session.Send(protocol::msg::PLAY_VIEW_CH, payload);
}

bool CPlaybackService::StopRunning() {
    return Stop();
}

bool CPlaybackService::Stop() {
    if (!m_bRunning.exchange(false)) {
        return false;
    }
    m_session.Send(protocol::msg::RPLAY_STOP);
    return true;
}

}  // namespace taviro::recordings
