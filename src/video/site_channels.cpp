#include "video/site_channels.h"

#include <algorithm>

namespace taviro::video {

void CSiteChannels::Set(std::vector<SiteRecorder> recorders) {
    m_recorders = std::move(recorders);
    if (m_recorders.size() > static_cast<std::size_t>(kMaxSiteRecorders))
        m_recorders.resize(static_cast<std::size_t>(kMaxSiteRecorders));
    m_offsets.clear();
    m_count = 0;
    for (SiteRecorder& recorder : m_recorders) {
        recorder.channelCount = std::clamp(recorder.channelCount, 0, protocol::kMaxChannels);
        // A recorder whose channels no longer fit keeps none in the grid.
        if (m_count + recorder.channelCount > kMaxPanes)
            recorder.channelCount = 0;
        m_offsets.push_back(m_count);
        m_count += recorder.channelCount;
    }
}

std::optional<SiteChannel> CSiteChannels::At(int gridChannel) const {
    if (gridChannel < 0 || gridChannel >= m_count)
        return std::nullopt;
    for (std::size_t place = 0; place < m_recorders.size(); ++place) {
        const int first = m_offsets[place];
        if (gridChannel < first + m_recorders[place].channelCount)
            return SiteChannel{m_recorders[place].id, static_cast<int>(place), gridChannel - first,
                               m_recorders[place].views};
    }
    return std::nullopt;
}

int CSiteChannels::Offset(int recorderId) const {
    for (std::size_t place = 0; place < m_recorders.size(); ++place)
        if (m_recorders[place].id == recorderId)
            return m_offsets[place];
    return -1;
}

int CSiteChannels::OffsetAt(int place) const {
    return place >= 0 && place < static_cast<int>(m_offsets.size())
               ? m_offsets[static_cast<std::size_t>(place)]
               : -1;
}

int CSiteChannels::GridChannel(int recorderId, int channel) const {
    for (std::size_t place = 0; place < m_recorders.size(); ++place) {
        const SiteRecorder& r = m_recorders[place];
        if (r.id == recorderId)
            return channel >= 0 && channel < r.channelCount ? m_offsets[place] + channel : -1;
    }
    return -1;
}

protocol::ChannelMask CSiteChannels::RecorderMask(PaneMask mask, int recorderId) const {
    protocol::ChannelMask part = 0;
    for (std::size_t place = 0; place < m_recorders.size(); ++place) {
        const SiteRecorder& r = m_recorders[place];
        if (r.id != recorderId)
            continue;
        for (int c = 0; c < r.channelCount; ++c)
            if (HasPane(mask, m_offsets[place] + c))
                part |= protocol::ChannelBit(c);
    }
    return part;
}

PaneMask CSiteChannels::GridMask(protocol::ChannelMask mask, int recorderId) const {
    PaneMask grid = 0;
    for (std::size_t place = 0; place < m_recorders.size(); ++place) {
        const SiteRecorder& r = m_recorders[place];
        if (r.id != recorderId)
            continue;
        for (int c = 0; c < r.channelCount; ++c)
            if (protocol::HasChannel(mask, c))
                grid |= PaneBit(m_offsets[place] + c);
    }
    return grid;
}

}  // namespace taviro::video
