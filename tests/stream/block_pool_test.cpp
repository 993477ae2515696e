#include "stream/block_pool.h"

#include <gtest/gtest.h>

#include <vector>

namespace taviro::stream {
namespace {

// The pool never holds more than its limit, whatever comes back, and blocks too large for
// it are never kept.
TEST(BlockPool, KeepsNoMoreThanItsLimit) {
    CBlockPool pool;
    std::vector<PooledBlock> taken;
    const std::size_t count = CBlockPool::kMaxKeptBytes / CBlockPool::kMaxBlock + 4;
    for (std::size_t i = 0; i < count; ++i) {
        taken.push_back(pool.Take(CBlockPool::kMaxBlock - 10));
        ASSERT_TRUE(taken.back());
        EXPECT_EQ(taken.back().Capacity(), CBlockPool::kMaxBlock);
    }
    taken.clear();
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes);

    PooledBlock huge = pool.Take(CBlockPool::kMaxBlock + 1);
    ASSERT_TRUE(huge);
    huge.Reset();
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes);

    // Sizes share a block only within their power of two; a small one gets a new block.
    PooledBlock small = pool.Take(1);
    EXPECT_EQ(small.Capacity(), CBlockPool::kMinBlock);
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes);
    PooledBlock again = pool.Take(CBlockPool::kMaxBlock / 2 + 1);
    EXPECT_EQ(pool.KeptBytes(), CBlockPool::kMaxKeptBytes - CBlockPool::kMaxBlock);
}

}  // namespace
}  // namespace taviro::stream
