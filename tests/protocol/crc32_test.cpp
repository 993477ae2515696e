// CRC-32 of camera titles and the settings database: the reflected 0xEDB88320 polynomial
// with all-ones start and final XOR, compared against zlib's implementation.
#include "protocol/crc32.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

namespace taviro::protocol {
namespace {

std::uint32_t Zlib(const std::vector<std::uint8_t>& data) {
    return static_cast<std::uint32_t>(
        crc32(0L, data.empty() ? Z_NULL : data.data(), static_cast<uInt>(data.size())));
}

std::span<const std::uint8_t> AsBytes(std::string_view s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

TEST(Crc32Test, CheckValue) {
    EXPECT_EQ(Crc32(AsBytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(Crc32(AsBytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
    EXPECT_EQ(Crc32({}), 0u);
    const std::uint8_t zero[1] = {0};
    EXPECT_EQ(Crc32(zero), 0xD202EF8Du);
}

TEST(Crc32Test, MatchesZlibOnRandomBuffersOfManySizes) {
    std::mt19937 rng(12345);
    std::vector<std::size_t> sizes;
    for (std::size_t s = 0; s <= 70; ++s)
        sizes.push_back(s);
    for (std::size_t s :
         {127u, 128u, 255u, 256u, 257u, 1000u, 4095u, 4096u, 65535u, 65536u, 100003u}) {
        sizes.push_back(s);
    }
    for (std::size_t size : sizes) {
        std::vector<std::uint8_t> data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(rng());
        EXPECT_EQ(Crc32(data), Zlib(data)) << "size " << size;
    }
    // All-ones and all-zeros buffers, where a wrong start value shows most.
    for (std::uint8_t fill : {std::uint8_t{0}, std::uint8_t{0xFF}}) {
        std::vector<std::uint8_t> data(333, fill);
        EXPECT_EQ(Crc32(data), Zlib(data));
    }
}

TEST(Crc32Test, ChainedEqualsOneShot) {
    std::mt19937 rng(777);
    std::vector<std::uint8_t> data(5000);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(rng());
    const std::uint32_t whole = Crc32(data);
    for (std::size_t cut : {0u, 1u, 3u, 64u, 2500u, 4999u, 5000u}) {
        const std::span<const std::uint8_t> all(data);
        const std::uint32_t first = Crc32(all.first(cut));
        EXPECT_EQ(Crc32(all.subspan(cut), first), whole) << "cut " << cut;
    }
    // Three pieces, including an empty one in the middle.
    const std::span<const std::uint8_t> all(data);
    std::uint32_t c = Crc32(all.first(100));
    c = Crc32(all.subspan(100, 0), c);
    c = Crc32(all.subspan(100), c);
    EXPECT_EQ(c, whole);
    EXPECT_EQ(Crc32(AsBytes("56789"), Crc32(AsBytes("1234"))), 0xCBF43926u);
}

}  // namespace
}  // namespace taviro::protocol
