// The simulated camera picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "sim/h264_test_pattern.h"

namespace taviro::sim {
namespace {

// Number of 16 x 16 macroblocks (with their chroma) that differ between two pictures.
std::size_t ChangedMacroblocks(const YuvPicture& a, const YuvPicture& b) {
    std::size_t changed = 0;
    const auto w = static_cast<std::size_t>(a.width);
    for (std::size_t my = 0; my < static_cast<std::size_t>(a.height) / 16; ++my) {
        for (std::size_t mx = 0; mx < w / 16; ++mx) {
            bool same = true;
            for (std::size_t y = 0; y < 16 && same; ++y) {
                for (std::size_t x = 0; x < 16; ++x) {
                    const std::size_t l = (my * 16 + y) * w + mx * 16 + x;
                    const std::size_t c = (my * 8 + y / 2) * (w / 2) + mx * 8 + x / 2;
                    same = same && a.y[l] == b.y[l] && a.u[c] == b.u[c] && a.v[c] == b.v[c];
                }
            }
            changed += same ? 0 : 1;
        }
    }
    return changed;
}

TEST(H264TestPattern, DeterministicAndInVideoRange) {
    for (const auto& [w, h] : {std::pair{352, 240}, std::pair{704, 480}, std::pair{720, 576}}) {
        const YuvPicture p = MakeH264TestPattern(5, 1234, w, h);
        ASSERT_TRUE(p.IsConsistent());
        EXPECT_EQ(p.width, w);
        EXPECT_EQ(p.height, h);
        EXPECT_EQ(p, MakeH264TestPattern(5, 1234, w, h));
        const auto [yMin, yMax] = std::minmax_element(p.y.begin(), p.y.end());
        EXPECT_GE(*yMin, 16);
        EXPECT_LE(*yMax, 235);
        for (const auto* plane : {&p.u, &p.v}) {
            const auto [cMin, cMax] = std::minmax_element(plane->begin(), plane->end());
            EXPECT_GE(*cMin, 16);
            EXPECT_LE(*cMax, 240);
        }
        // Big white digits are really there: a good share of peak-white samples.
        const auto white = std::count(p.y.begin(), p.y.end(), std::uint8_t{235});
        EXPECT_GT(white, static_cast<long>(w) * h / 200);
    }
}

TEST(H264TestPattern, OnlyTheClockAndTheBarMove) {
    const int w = 704;
    const int h = 480;
    const std::size_t all = (w / 16) * (h / 16);
    for (std::uint32_t f : {0u, 9u, 99u, 999999u}) {
        const YuvPicture a = MakeH264TestPattern(3, f, w, h);
        const YuvPicture b = MakeH264TestPattern(3, f + 1, w, h);
        const std::size_t changed = ChangedMacroblocks(a, b);
        EXPECT_GT(changed, 0u) << f;
        EXPECT_LT(changed, all / 10) << f;
        // Between the clock plate and the bar's band nothing moves.
        const auto stillFrom = static_cast<std::size_t>(h * 2 / 5 * w);
        const auto stillTo = static_cast<std::size_t>((h - h / 6) * w);
        EXPECT_TRUE(std::equal(a.y.begin() + static_cast<std::ptrdiff_t>(stillFrom),
                               a.y.begin() + static_cast<std::ptrdiff_t>(stillTo),
                               b.y.begin() + static_cast<std::ptrdiff_t>(stillFrom)))
            << f;
    }
    // Different channels look different in their label and tint.
    EXPECT_GT(ChangedMacroblocks(MakeH264TestPattern(0, 5, w, h), MakeH264TestPattern(1, 5, w, h)),
              all / 2);
    // The bar comes round again: frame f and f + width / 8 differ only in the counter.
    const YuvPicture a = MakeH264TestPattern(3, 10, w, h);
    const YuvPicture b = MakeH264TestPattern(3, 10 + w / 8, w, h);
    const std::size_t band = static_cast<std::size_t>(h - h / 6) * w;
    EXPECT_TRUE(std::equal(a.y.begin() + static_cast<std::ptrdiff_t>(band), a.y.end(),
                           b.y.begin() + static_cast<std::ptrdiff_t>(band)));
}

TEST(H264TestPattern, RejectsUnusableSizes) {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{15, 16}, std::pair{16, 15},
                               std::pair{353, 240}, std::pair{-16, 16}}) {
        const YuvPicture p = MakeH264TestPattern(0, 0, w, h);
        EXPECT_EQ(p.width, 0);
        EXPECT_TRUE(p.y.empty());
    }
}

}  // namespace
}  // namespace taviro::sim
