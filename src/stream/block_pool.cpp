#include "stream/block_pool.h"

#include <algorithm>
#include <bit>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A block waiting in the pool is poisoned, so a frame read after it was dropped is still
// caught as it would be on freed memory.
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
    static CBlockPool* const shared = new CBlockPool;
    return *shared;
}

PooledBlock CBlockPool::Take(std::size_t size) {
    const bool pooled = size <= kMaxBlock;
    const std::size_t capacity = pooled ? std::max(kMinBlock, std::bit_ceil(size)) : size;
    if (pooled) {
        const std::lock_guard lock(m_lock);
        auto& list = m_free[ClassOf(capacity)];
        if (!list.empty()) {
            std::uint8_t* p = list.back();
            list.pop_back();
            m_keptBytes -= capacity;
            TAVIRO_UNPOISON(p, capacity);
            return {this, p, capacity};
        }
    }
    try {
        return {this, new std::uint8_t[capacity], capacity};
    } catch (const std::bad_alloc&) {
        return {};
    }
}

void CBlockPool::Give(std::uint8_t* data, std::size_t capacity) noexcept {
    if (capacity <= kMaxBlock) {
        const std::lock_guard lock(m_lock);
        if (m_keptBytes + capacity <= kMaxKeptBytes) {
            try {
                m_free[ClassOf(capacity)].push_back(data);
            } catch (const std::bad_alloc&) {
                delete[] data;  // no room to list it: freed instead
                return;
            }
            TAVIRO_POISON(data, capacity);
            m_keptBytes += capacity;
            return;
        }
    }
    delete[] data;
}

std::size_t CBlockPool::KeptBytes() const {
    const std::lock_guard lock(m_lock);
    return m_keptBytes;
}

}  // namespace taviro::stream
