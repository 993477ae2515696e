#include "video/channel_views.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace taviro::video {

std::size_t PackPicture(const platform::DecodedPicture& picture, bool doubleLines,
                        std::uint8_t* out, std::size_t capacity) {
    const int width = picture.width;
    const int height = picture.height;
    const std::size_t bytes = platform::PackedPictureBytes(width, height, picture.format);
    const bool rgb = picture.format == platform::kH264FormatRgb24;
    if (bytes == 0 || bytes > capacity || out == nullptr || picture.planes[0] == nullptr ||
        (!rgb && (picture.planes[1] == nullptr || picture.planes[2] == nullptr))) {
        return 0;
    }
    // Doubling repeats the even rows of planar pictures and the odd rows of RGB ones (the
    // lower row of each pair, which bottom-up doubling keeps).
    auto plane = [doubleLines](const std::uint8_t* source, int stride, std::size_t rowBytes,
                               int rows, std::uint8_t* target, bool bottomUp) {
        for (int r = 0; r < rows; ++r) {
            const int from = !doubleLines ? r : bottomUp ? std::min(r | 1, rows - 1) : (r & ~1);
            const int to = bottomUp ? rows - 1 - r : r;
            std::memcpy(target + rowBytes * static_cast<std::size_t>(to),
                        source + static_cast<std::ptrdiff_t>(stride) * from, rowBytes);
        }
    };
    const auto w = static_cast<std::size_t>(width);
    const auto cw = (w + 1) / 2;
    if (picture.strides[0] < static_cast<std::ptrdiff_t>(rgb ? w * 3 : w) ||
        (!rgb && (picture.strides[1] < static_cast<std::ptrdiff_t>(cw) ||
                  picture.strides[2] < static_cast<std::ptrdiff_t>(cw)))) {
        return 0;  // rows that overlap, or run backwards
    }
    if (rgb) {
        plane(picture.planes[0], picture.strides[0], w * 3, height, out, true);
        return bytes;
    }
    const int ch = (height + 1) / 2;
    std::uint8_t* u = out + w * static_cast<std::size_t>(height);
    std::uint8_t* v = u + cw * static_cast<std::size_t>(ch);
    plane(picture.planes[0], picture.strides[0], w, height, out, false);
    plane(picture.planes[1], picture.strides[1], cw, ch, u, false);
    plane(picture.planes[2], picture.strides[2], cw, ch, v, false);
    return bytes;
}

CChannelViews::CChannelViews() = default;

bool CChannelViews::SetAvailableMask(protocol::ChannelMask mask) {
    return m_available.exchange(mask) != mask;
}

void CChannelViews::ClearHasDecoded() {
    m_hasDecoded.store(0);
    for (ChannelView& view : m_views) {
        std::lock_guard lock(view.lock);
        view.shown = 0;
        view.shownMillis = 0;
        view.firstMillis = 0;
    }
}

void CChannelViews::MarkPicture(int channel) {
    const protocol::ChannelMask bit = protocol::ChannelBit(channel);
    m_hasPicture.fetch_or(bit);
    m_hasDecoded.fetch_or(bit);
}

protocol::ChannelMask CChannelViews::TickFrameRate(std::int64_t elapsedMs) {
    protocol::ChannelMask changed = 0;
    if (elapsedMs <= 0) {
        return changed;
    }
    for (int c = 0; c < protocol::kMaxChannels; ++c) {
        ChannelView& view = m_views[static_cast<std::size_t>(c)];
        std::lock_guard lock(view.lock);
        const int rate = static_cast<int>(
            (static_cast<std::int64_t>(view.decodedCount) * 1000 + elapsedMs / 2) / elapsedMs);
        view.decodedCount = 0;
        if (rate != view.frameRate && view.labelMode != ViewMode::Idle) {
            changed |= protocol::ChannelBit(c);
        }
        view.frameRate = rate;
    }
    return changed;
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
