// The viewer's TIFF loader over any bytes: either a picture of the claimed size with three
// bytes per pixel within the limits, or an error text; never a crash, a read past the
// input or an allocation beyond the limits.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "../fuzz_check.h"
#include "snapshot/image_file.h"

using namespace taviro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Limits well below the viewer's keep each run fast; the checks are the same code.
    snapshot::ImageLimits limits;
    limits.maxPixels = 4'000'000;
    limits.maxBytes = 16'000'000;
    std::string error;
    const auto image =
        snapshot::DecodeTiff(std::span<const std::uint8_t>(data, size), limits, &error);
    if (!image) {
        TAVIRO_FUZZ_CHECK(!error.empty());
        return 0;
    }
    TAVIRO_FUZZ_CHECK(image->width > 0 && image->height > 0);
    const auto pixels =
        static_cast<std::uint64_t>(image->width) * static_cast<std::uint64_t>(image->height);
    TAVIRO_FUZZ_CHECK(pixels <= limits.maxPixels);
    TAVIRO_FUZZ_CHECK(image->bytes.size() == pixels * 3);
    return 0;
}
