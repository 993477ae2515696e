// A planar YUV 4:2:0 picture as the simulated recorder's encoder takes it in: Y is
// width x height bytes, U and V are (width / 2) x (height / 2) bytes each, rows top-down
// without padding, the same layout the client's decoder writes out.
#pragma once

#include <cstddef>
#include <cstdint>
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

}  // namespace taviro::sim
