#include "video/channel_views.h"

#include <cmath>

namespace taviro::video {

CChannelViews::CChannelViews() {
    for (auto& view : m_views) {
        view.picture = std::make_unique<std::uint8_t[]>(kPictureBufferSize);  // zeroed
    }
}

bool CChannelViews::SetAvailableMask(protocol::ChannelMask mask) {
    return m_available.exchange(mask) != mask;
}

void CChannelViews::ClearHasDecoded() {
    m_hasDecoded.store(0);
    for (ChannelView& view : m_views) {
        std::lock_guard lock(view.lock);
        view.shown = 0;
        view.shownMillis = 0;
    }
}

void CChannelViews::MarkPicture(int channel) {
    const protocol::ChannelMask bit = protocol::ChannelBit(channel);
    m_hasPicture.fetch_or(bit);
    m_hasDecoded.fetch_or(bit);
}

void CChannelViews::TickFrameRate(std::int64_t elapsedMs) {
    if (elapsedMs <= 0) {
        return;
    }
    for (auto& view : m_views) {
        std::lock_guard lock(view.lock);
        view.frameRate = static_cast<int>(
            (static_cast<std::int64_t>(view.decodedCount) * 1000 + elapsedMs / 2) / elapsedMs);
        view.decodedCount = 0;
    }
}

void CChannelViews::SetTextWidth(std::function<int(std::string_view)> widthOf) {
    std::lock_guard lock(m_textLock);
    m_textWidth = std::move(widthOf);
}

int CChannelViews::TextWidth(std::string_view text) const {
    {
        std::lock_guard lock(m_textLock);
        if (m_textWidth) {
            return m_textWidth(text);
        }
    }
    return static_cast<int>(text.size()) * LabelCharWidth();
}

int CChannelViews::LabelCharWidth(int fontHeight) {
    const double h = -(static_cast<double>(fontHeight) + 0.5);
    return static_cast<int>(std::trunc(std::trunc(h / 1.33) * 0.85));
}

std::string CChannelViews::FitTitle(std::string_view title, int paneWidth) const {
    std::string text(title);
    bool cut = false;
    while (!text.empty() && TextWidth(text) > paneWidth - 95) {
        text.pop_back();
        cut = true;
    }
    return cut ? text + "..." : text;
}

}  // namespace taviro::video
