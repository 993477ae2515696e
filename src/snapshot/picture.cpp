#include "snapshot/picture.h"

#include <algorithm>
#include <cstring>

#include "platform/h264_decoder.h"

namespace taviro::snapshot {

namespace {

// Smallest source kept: every crop rectangle of an even size from here on is non-empty.
constexpr int kMinSide = 24;
// Larger than any picture the buffer can hold; keeps all size arithmetic far from overflow.
constexpr int kMaxSide = 4096;

std::uint8_t Clamp255(int value) {
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

int Saturate16(int value) {
    return std::clamp(value, -32768, 32767);
}

std::size_t PictureBytes(int width, int height, std::uint32_t pictureFormat) {
    const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    return pictureFormat == platform::kH264FormatRgb24 ? pixels * 3 : pixels * 3 / 2;
}

}  // namespace

Rect CropRect(int width, int height) {
    if (width <= 700) {
        return Rect{6, 6, width - 11, height - 10};
    }
    return Rect{12, 12, width - 22, height - 20};
}

std::optional<std::string> CheckSource(int width, int height, std::uint32_t pictureFormat) {
    if (pictureFormat != platform::kH264FormatYuv420 &&
        pictureFormat != platform::kH264FormatRgb24) {
        return "unknown picture format";
    }
    if (width < kMinSide || height < kMinSide || width > kMaxSide || height > kMaxSide) {
        return "picture size " + std::to_string(width) + "x" + std::to_string(height) +
               " cannot be saved";
    }
    if (width % 2 != 0 || height % 2 != 0) {
        return "odd picture size " + std::to_string(width) + "x" + std::to_string(height);
    }
    const Rect crop = CropRect(width, height);
    if (crop.width <= 0 || crop.height <= 0) {
        return "picture " + std::to_string(width) + "x" + std::to_string(height) +
               " leaves nothing after the border is cut";
    }
    if (PictureBytes(width, height, pictureFormat) > video::kPictureBufferSize) {
        return "picture " + std::to_string(width) + "x" + std::to_string(height) +
               " is larger than the picture buffer";
    }
    return std::nullopt;
}

void YuvToBgr(int y, int u, int v, std::uint8_t* bgr) {
    const int luma = 74 * (y - 16);
    const int cb = u - 128;
    const int cr = v - 128;
    const int r = Saturate16(luma + 102 * cr) >> 6;
    const int g = Saturate16(luma - 25 * cb - 52 * cr) >> 6;
    const int b = Saturate16(luma + 129 * cb) >> 6;
    bgr[0] = Clamp255(b);
    bgr[1] = Clamp255(g);
    bgr[2] = Clamp255(r);
}

std::optional<BgrImage> SourceImage(const SnapshotJob& job, std::string* error) {
    if (auto problem = CheckSource(job.width, job.height, job.pictureFormat)) {
        if (error != nullptr) {
            *error = *problem;
        }
        return std::nullopt;
    }
    if (!job.picture) {
        if (error != nullptr) {
            *error = "no picture";
        }
        return std::nullopt;
    }
    const auto w = static_cast<std::size_t>(job.width);
    const auto h = static_cast<std::size_t>(job.height);
    BgrImage image;
    image.width = job.width;
    image.height = job.height;
    image.bytes.resize(w * h * 3);
    const std::uint8_t* src = job.picture.get();
    if (job.pictureFormat == platform::kH264FormatRgb24) {
        // Already blue, green, red; the view keeps the rows bottom-up.
        for (std::size_t row = 0; row < h; ++row) {
            std::memcpy(image.bytes.data() + row * w * 3, src + (h - 1 - row) * w * 3, w * 3);
        }
        return image;
    }
    const std::uint8_t* yPlane = src;
    const std::uint8_t* first = src + w * h;
    const std::uint8_t* second = first + (w / 2) * (h / 2);
    const std::uint8_t* uPlane = job.planeOrder == PlaneOrder::kUThenV ? first : second;
    const std::uint8_t* vPlane = job.planeOrder == PlaneOrder::kUThenV ? second : first;
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* yRow = yPlane + row * w;
        const std::uint8_t* uRow = uPlane + (row / 2) * (w / 2);
        const std::uint8_t* vRow = vPlane + (row / 2) * (w / 2);
        std::uint8_t* out = image.bytes.data() + row * w * 3;
        for (std::size_t col = 0; col < w; ++col) {
            YuvToBgr(yRow[col], uRow[col / 2], vRow[col / 2], out + col * 3);
        }
    }
    return image;
}

BgrImage Stretch(const BgrImage& source, Rect from, int width, int height) {
    BgrImage out;
    out.width = width;
    out.height = height;
    out.bytes.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    if (from.width <= 0 || from.height <= 0 || from.x < 0 || from.y < 0 ||
        from.x + from.width > source.width || from.y + from.height > source.height) {
        return out;
    }
    // Each output position maps to a source position in 1/256 pixel steps, centre to centre.
    struct Tap {
        int index;   // the first of the two source samples
        int weight;  // of the second one, 0..256
    };
    auto taps = [](int outSize, int start, int size) {
        std::vector<Tap> result(static_cast<std::size_t>(outSize));
        for (int i = 0; i < outSize; ++i) {
            const std::int64_t pos =
                ((2 * static_cast<std::int64_t>(i) + 1) * size * 256) / (2 * outSize) - 128;
            const std::int64_t clamped = std::clamp<std::int64_t>(pos, 0, (size - 1) * 256LL);
            int index = static_cast<int>(clamped / 256);
            int weight = static_cast<int>(clamped % 256);
            if (index >= size - 1) {
                index = size - 1;
                weight = 0;
            }
            result[static_cast<std::size_t>(i)] = Tap{start + index, weight};
        }
        return result;
    };
    const std::vector<Tap> columns = taps(width, from.x, from.width);
    const std::vector<Tap> rows = taps(height, from.y, from.height);
    const auto stride = static_cast<std::size_t>(source.width) * 3;
    const std::uint8_t* src = source.bytes.data();
    std::uint8_t* dst = out.bytes.data();
    for (const Tap& row : rows) {
        const std::uint8_t* top = src + static_cast<std::size_t>(row.index) * stride;
        const std::uint8_t* bottom = row.weight > 0 ? top + stride : top;
        for (const Tap& col : columns) {
            const std::size_t a = static_cast<std::size_t>(col.index) * 3;
            const std::size_t b = col.weight > 0 ? a + 3 : a;
            for (std::size_t k = 0; k < 3; ++k) {
                const int upper = top[a + k] * (256 - col.weight) + top[b + k] * col.weight;
                const int lower = bottom[a + k] * (256 - col.weight) + bottom[b + k] * col.weight;
                const int value = (upper * (256 - row.weight) + lower * row.weight + 32768) >> 16;
                *dst++ = static_cast<std::uint8_t>(value);
            }
        }
    }
    return out;
}

int CaptionX(std::size_t length) {
    const int n = static_cast<int>(std::min(length, kMaxCaptionLength));
    return (kOutputWidth + n * kCaptionFontHeight / 2) / 2;
}

std::optional<RgbImage> ReadBack(const BgrImage& image, DisplayFormat display) {
    int shiftR = 0, shiftG = 0, shiftB = 0;  // bits each colour loses on the display
    if (display.bitsPerPixel == 16) {
        if (display.layout == Pixel16Layout::k555) {
            shiftR = shiftG = shiftB = 3;
        } else if (display.layout == Pixel16Layout::k565) {
            shiftR = shiftB = 3;
            shiftG = 2;
        } else {
            return std::nullopt;
        }
    } else if (display.bitsPerPixel != 24 && display.bitsPerPixel != 32) {
        return std::nullopt;
    }
    RgbImage out;
    out.width = image.width;
    out.height = image.height;
    out.bytes.resize(image.bytes.size());
    for (std::size_t i = 0; i + 2 < image.bytes.size(); i += 3) {
        out.bytes[i] = static_cast<std::uint8_t>((image.bytes[i + 2] >> shiftR) << shiftR);
        out.bytes[i + 1] = static_cast<std::uint8_t>((image.bytes[i + 1] >> shiftG) << shiftG);
        out.bytes[i + 2] = static_cast<std::uint8_t>((image.bytes[i] >> shiftB) << shiftB);
    }
    return out;
}

std::optional<RgbImage> ComposeSnapshot(const SnapshotJob& job, ICaptionPainter& painter,
                                        DisplayFormat display, std::string* error) {
    std::optional<BgrImage> source = SourceImage(job, error);
    if (!source) {
        return std::nullopt;
    }
    BgrImage canvas =
        Stretch(*source, CropRect(source->width, source->height), kOutputWidth, kOutputHeight);
    source.reset();
    const std::string_view caption =
        std::string_view(job.caption).substr(0, std::min(job.caption.size(), kMaxCaptionLength));
    painter.Paint(canvas, CaptionX(caption.size()), kCaptionY, caption, kCaptionColour);
    std::optional<RgbImage> result = ReadBack(canvas, display);
    if (!result && error != nullptr) {
        *error = "display depth " + std::to_string(display.bitsPerPixel) + " is not supported";
    }
    return result;
}

}  // namespace taviro::snapshot
