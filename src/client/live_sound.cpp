#include "client/live_sound.h"

#include <mutex>

namespace taviro::client {

CLiveSoundController::CLiveSoundController(video::CChannelViews& views,
                                           platform::ISoundPlayer* device, double volume)
    : m_ownViews(views), m_views(&views) {
    if (device != nullptr) {
        m_ring = std::make_unique<audio::CSoundRing>(device);
        m_ring->SetVolume(volume);
    }
}

void CLiveSoundController::Attach(CConnection* connection, video::CChannelViews* views) {
    m_connection = connection;
    if (views == nullptr)
        views = &m_ownViews;
    if (views == m_views)
        return;
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        video::ChannelView& view = m_views->Channel(c);
        std::lock_guard lock(view.lock);
        view.audioIcon = -1;
    }
    m_views = views;
}

void CLiveSoundController::Recheck(protocol::ChannelMask shown) {
    if (m_connection == nullptr)
        return;
    auto& selection = m_connection->Audio().Selection();
    selection.Recheck(shown);
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        const auto icon = selection.Icon(c);
        video::ChannelView& view = m_views->Channel(c);
        std::lock_guard lock(view.lock);
        view.audioIcon = icon ? static_cast<int>(*icon) : -1;
    }
}

void CLiveSoundController::Select(int channel, protocol::ChannelMask shown) {
    if (m_connection != nullptr)
        m_connection->Audio().Selection().SelectChannel(channel);
    Recheck(shown);
}

void CLiveSoundController::SelectNext(protocol::ChannelMask shown) {
    if (m_connection == nullptr)
        return;
    m_connection->Audio().Selection().SelectNext(shown);
    Recheck(shown);
}

bool CLiveSoundController::ToggleMute() {
    m_muted = !m_muted;
    if (m_ring)
        m_ring->SetMuted(m_muted);
    return m_muted;
}

void CLiveSoundController::SetVolume(double volume) {
    if (m_ring)
        m_ring->SetVolume(volume);
}

}  // namespace taviro::client
