#include "snapshot/encoders.h"

#include "snapshot/write_file.h"

namespace taviro::snapshot {

namespace {

void Put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
    Put16(at, value & 0xFFFFu);
    Put16(at + 2, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> EncodeBmp(const RgbImage& image) {
    const auto w = static_cast<std::size_t>(image.width);
    const auto h = static_cast<std::size_t>(image.height);
    const std::size_t row = (w * 3 + 3) / 4 * 4;
    const std::size_t pixelBytes = row * h;
    std::vector<std::uint8_t> out(kBmpHeaderSize + pixelBytes, 0);
    std::uint8_t* header = out.data();
    header[0] = 'B';
    header[1] = 'M';
    Put32(header + 2, static_cast<std::uint32_t>(out.size()));
    Put32(header + 10, static_cast<std::uint32_t>(kBmpHeaderSize));
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<std::uint32_t>(image.width));
    Put32(header + 22, static_cast<std::uint32_t>(image.height));  // positive: bottom-up
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    Put32(header + 30, 0);
    Put32(header + 34, static_cast<std::uint32_t>(pixelBytes));
    if (image.bytes.size() < w * h * 3) {
        return out;  // a malformed image gives black pixels, never a read past its end
    }
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = image.bytes.data() + (h - 1 - y) * w * 3;
        std::uint8_t* dst = out.data() + kBmpHeaderSize + y * row;
        for (std::size_t x = 0; x < w; ++x) {
            dst[x * 3] = src[x * 3 + 2];
            dst[x * 3 + 1] = src[x * 3 + 1];
            dst[x * 3 + 2] = src[x * 3];
        }
    }
    return out;
}

bool WriteSnapshotFile(const std::filesystem::path& file, const RgbImage& image, SaveFormat format,
                       std::string* error) {
    if (image.width <= 0 || image.height <= 0 ||
        image.bytes.size() !=
            static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        if (error != nullptr) {
            *error = "no picture to write";
        }
        return false;
    }
    std::vector<std::uint8_t> bytes;
    switch (format) {
        case SaveFormat::kBmp:
            bytes = EncodeBmp(image);
            break;
        case SaveFormat::kJpeg:
            if (!EncodeJpeg(image, &bytes, error)) {
                return false;
            }
            break;
        case SaveFormat::kTiff:
            if (!EncodeTiff(image, &bytes, error)) {
                return false;
            }
            break;
    }
    return WriteFileAtomically(file, bytes, error);
}

}  // namespace taviro::snapshot
