#include <algorithm>
#include <cstring>

#include "platform/h264_decoder.h"

namespace taviro::platform {

std::size_t PackedPictureBytes(int width, int height, std::uint32_t format) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (format == kH264FormatRgb24) {
        return w * h * 3U;
    }
    return w * h + 2U * ((w + 1U) / 2U) * ((h + 1U) / 2U);
}

CPackedPicture::CPackedPicture(int pictureWidth, int pictureHeight, std::uint32_t pictureFormat,
                               std::size_t capacity)
    : m_size(PackedPictureBytes(pictureWidth, pictureHeight, pictureFormat)) {
    width = m_size != 0 ? pictureWidth : 0;
    height = m_size != 0 ? pictureHeight : 0;
    format = pictureFormat;
    // Zeroed, so a picture that is never written holds no stale memory.
    m_bytes = std::make_unique<std::uint8_t[]>(std::max<std::size_t>({m_size, capacity, 1}));
    std::uint8_t* p = m_bytes.get();
    if (format == kH264FormatRgb24) {
        planes = {p, nullptr, nullptr};
        strides = {width * 3, 0, 0};
        return;
    }
    const int chromaWidth = (width + 1) / 2;
    const auto luma = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const auto chroma =
        static_cast<std::size_t>(chromaWidth) * static_cast<std::size_t>((height + 1) / 2);
    planes = {p, p + luma, p + luma + chroma};
    strides = {width, chromaWidth, chromaWidth};
}

std::size_t CopyPacked(const DecodedPicture& picture, std::span<std::uint8_t> out) {
    const std::size_t bytes = PackedPictureBytes(picture.width, picture.height, picture.format);
    if (bytes == 0 || bytes > out.size()) {
        return 0;
    }
    const auto width = static_cast<std::size_t>(picture.width);
    const auto height = static_cast<std::size_t>(picture.height);
    const bool rgb = picture.format == kH264FormatRgb24;
    const int planes = rgb ? 1 : 3;
    for (int i = 0; i < planes; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const std::size_t rowBytes = rgb ? width * 3 : i == 0 ? width : (width + 1) / 2;
        if (picture.planes[k] == nullptr || picture.strides[k] < 0 ||
            static_cast<std::size_t>(picture.strides[k]) < rowBytes) {
            return 0;
        }
    }
    std::uint8_t* target = out.data();
    for (int i = 0; i < planes; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const std::size_t rowBytes = rgb ? width * 3 : i == 0 ? width : (width + 1) / 2;
        const std::size_t rows = i == 0 ? height : (height + 1) / 2;
        for (std::size_t r = 0; r < rows; ++r) {
            std::memcpy(target,
                        picture.planes[k] + r * static_cast<std::size_t>(picture.strides[k]),
                        rowBytes);
            target += rowBytes;
        }
    }
    return bytes;
}

}  // namespace taviro::platform
