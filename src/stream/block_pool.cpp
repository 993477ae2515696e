#include "stream/block_pool.h"

#include <algorithm>
#include <bit>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define TAVIRO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVIRO_ASAN 1
#endif
#endif

#if defined(TAVIRO_ASAN)
#include <sanitizer/asan_interface.h>
// A block waiting in a pool is poisoned, and so is the part of a block beyond what its
// taker asked for, so reads there are reported as they would be on the heap.
#define TAVIRO_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define TAVIRO_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define TAVIRO_POISON(p, n) static_cast<void>(0)
#define TAVIRO_UNPOISON(p, n) static_cast<void>(0)
#endif

namespace taviro::stream {

namespace {

std::size_t ClassOf(std::size_t capacity) {
    return static_cast<std::size_t>(std::countr_zero(capacity)) -
           static_cast<std::size_t>(std::countr_zero(CBlockPool::kMinBlock));
}

}  // namespace

PooledBlock& PooledBlock::operator=(PooledBlock&& other) noexcept {
    if (this != &other) {
        Reset();
        m_pool = other.m_pool;
        m_data = other.m_data;
        m_capacity = other.m_capacity;
        other.m_pool = nullptr;
        other.m_data = nullptr;
        other.m_capacity = 0;
    }
    return *this;
}

void PooledBlock::Reset() {
    if (m_data != nullptr) {
        m_pool->Give(m_data, m_capacity);
    }
    m_pool = nullptr;
    m_data = nullptr;
    m_capacity = 0;
}

CBlockPool::~CBlockPool() {
    for (std::size_t i = 0; i < kClasses; ++i) {
        for (std::uint8_t* p : m_free[i]) {
            TAVIRO_UNPOISON(p, kMinBlock << i);
            delete[] p;
        }
    }
}

CBlockPool& CBlockPool::Shared() {
#if defined(TAVIRO_ASAN)
    // Under AddressSanitizer nothing is kept: a dropped frame goes back to the heap and
    // waits in the sanitizer's quarantine, so a late read of it is still reported instead
    // of landing in the next frame.
    static CBlockPool* const shared = new CBlockPool(0);
#else
    static CBlockPool* const shared = new CBlockPool;
#endif
    return *shared;
}

PooledBlock CBlockPool::Take(std::size_t size) {
    const bool pooled = size <= kMaxBlock;
    const std::size_t capacity = pooled ? std::max(kMinBlock, std::bit_ceil(size)) : size;
    std::uint8_t* p = nullptr;
    if (pooled) {
        const std::lock_guard lock(m_lock);
        auto& list = m_free[ClassOf(capacity)];
        if (!list.empty()) {
            p = list.back();
            list.pop_back();
            m_keptBytes -= capacity;
        }
    }
    if (p == nullptr) {
        try {
            p = new std::uint8_t[capacity];
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    TAVIRO_UNPOISON(p, size);
    TAVIRO_POISON(p + size, capacity - size);
    return {this, p, capacity};
}

void CBlockPool::Give(std::uint8_t* data, std::size_t capacity) noexcept {
    if (capacity <= kMaxBlock && capacity <= m_maxKeptBytes) {
        const std::lock_guard lock(m_lock);
        const std::size_t own = ClassOf(capacity);
        // Room is made by freeing blocks of other sizes, largest first: sizes a stream no
        // longer sends must not hold the pool against the sizes it sends now.
        for (std::size_t i = kClasses; i-- > 0 && m_keptBytes + capacity > m_maxKeptBytes;) {
            while (i != own && !m_free[i].empty() && m_keptBytes + capacity > m_maxKeptBytes) {
                std::uint8_t* old = m_free[i].back();
                m_free[i].pop_back();
                m_keptBytes -= kMinBlock << i;
                TAVIRO_UNPOISON(old, kMinBlock << i);
                delete[] old;
            }
        }
        if (m_keptBytes + capacity <= m_maxKeptBytes) {
            try {
                m_free[own].push_back(data);
            } catch (const std::bad_alloc&) {
                TAVIRO_UNPOISON(data, capacity);
                delete[] data;  // no room to list it: freed instead
                return;
            }
            TAVIRO_POISON(data, capacity);
            m_keptBytes += capacity;
            return;
        }
    }
    TAVIRO_UNPOISON(data, capacity);
    delete[] data;
}

std::size_t CBlockPool::KeptBytes() const {
    const std::lock_guard lock(m_lock);
    return m_keptBytes;
}

}  // namespace taviro::stream
