// A planar YUV 4:2:0 picture as the simulated recorder's encoder takes it in: Y is
// width x height bytes, U and V are (width / 2) x (height / 2) bytes each, rows top-down
// without padding, the same layout the client's decoder writes out.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace taviro::sim {

struct YuvPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y;
    std::vector<std::uint8_t> u;
    std::vector<std::uint8_t> v;

    // A picture of the given (even, positive) size with every sample set to the values.
    static YuvPicture Filled(int w, int h, std::uint8_t luma, std::uint8_t cb, std::uint8_t cr) {
        YuvPicture p;
        p.width = w;
        p.height = h;
        const auto lumaSize = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        p.y.assign(lumaSize, luma);
        p.u.assign(lumaSize / 4, cb);
        p.v.assign(lumaSize / 4, cr);
        return p;
    }

    // True when the planes have exactly the sizes the dimensions call for.
    [[nodiscard]] bool IsConsistent() const {
        if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0) {
            return false;
        }
        const auto lumaSize = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        return y.size() == lumaSize && u.size() == lumaSize / 4 && v.size() == lumaSize / 4;
    }

    bool operator==(const YuvPicture&) const = default;
};

// Fills luma [x0, x1) x [y0, y1) of a consistent picture, clipped to it, and the chroma
// samples whose 2 x 2 luma block starts inside that rectangle. Row by row with memset: the
// simulated cameras draw every picture of every channel this way.
inline void FillYuvRect(YuvPicture& p, int x0, int y0, int x1, int y1, std::uint8_t luma,
                        std::uint8_t cb, std::uint8_t cr) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, p.width);
    y1 = std::min(y1, p.height);
    if (x0 >= x1 || y0 >= y1) {
        return;
    }
    const auto lumaRun = static_cast<std::size_t>(x1 - x0);
    // The chroma samples c with 2c in [x0, x1).
    const int cx0 = (x0 + 1) / 2;
    const int cx1 = (x1 + 1) / 2;
    const auto chromaRun = static_cast<std::size_t>(cx1 - cx0);
    const auto width = static_cast<std::size_t>(p.width);
    for (int y = y0; y < y1; ++y) {
        std::memset(p.y.data() + static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x0),
                    luma, lumaRun);
        if (y % 2 == 0 && chromaRun > 0) {
            const std::size_t c =
                static_cast<std::size_t>(y / 2) * (width / 2) + static_cast<std::size_t>(cx0);
            std::memset(p.u.data() + c, cb, chromaRun);
            std::memset(p.v.data() + c, cr, chromaRun);
        }
    }
}

}  // namespace taviro::sim
