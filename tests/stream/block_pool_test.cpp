#include "stream/block_pool.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/sanitizer_time.h"

namespace taviro::stream {
namespace {

constexpr std::size_t kMax = CBlockPool::kMaxBlock;

// The pool never holds more than its limit, blocks too large for it are never kept, and a
// block of a size still in use takes the room of blocks of a size no longer sent.
TEST(BlockPool, KeepsNoMoreThanItsLimitAndMakesRoomForSizesInUse) {
    CBlockPool pool;
    std::vector<PooledBlock> taken;
    const std::size_t count = CBlockPool::kMaxKeptBytes / kMax + 4;
    for (std::size_t i = 0; i < count; ++i) {
        taken.push_back(pool.Take(kMax - 10));
        ASSERT_TRUE(taken.back());
        EXPECT_EQ(taken.back().Capacity(), kMax);
    }
    PooledBlock half = pool.Take(kMax / 2);
    taken.clear();
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes);

    PooledBlock huge = pool.Take(kMax + 1);
    ASSERT_TRUE(huge);
    huge.Reset();
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes);

    half.Reset();
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes - kMax / 2);
    PooledBlock again = pool.Take(kMax / 2 - 100);
    EXPECT_EQ(again.Capacity(), kMax / 2);
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes - kMax);
    EXPECT_EQ(pool.Take(0).Capacity(), CBlockPool::kMinBlock);
}

// Under AddressSanitizer a block waiting in the pool, and the part of a block beyond the
// size asked for, are reported when read.
TEST(BlockPoolDeathTest, PoisonsWhatIsNotHandedOut) {
    if (!testing::kAddressSanitizer) {
        GTEST_SKIP() << "only AddressSanitizer sees poisoned memory";
    }
    CBlockPool pool;
    EXPECT_DEATH(
        {
            PooledBlock b = pool.Take(100);
            volatile std::uint8_t* p = b.get();
            p[99] = 1;
            static_cast<void>(p[200]);
        },
        "use-after-poison");
    EXPECT_DEATH(
        {
            PooledBlock b = pool.Take(100);
            volatile std::uint8_t* p = b.get();
            b.Reset();
            static_cast<void>(p[0]);
        },
        "use-after-poison");
}

}  // namespace
}  // namespace taviro::stream
