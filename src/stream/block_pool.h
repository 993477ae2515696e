// CBlockPool: recycles the heap blocks that carry queued frames from the receive thread to
// the decoders. A decoder frees a frame's block a moment before the receive thread wants
// one of about the same size again; handing the same block back spares the heap's
// consolidation work and, for the large blocks of key frames, the page faults of fresh
// memory on every one of them.
//
// Blocks come in powers of two from 4 KiB to 2 MiB (the largest element with its queue
// prefix fits); anything larger is allocated and freed as it is. At most kMaxKeptBytes
// wait in the pool: a block given back when it is full takes the room of blocks of other
// sizes, or is freed when there are none.
//
// Threads: any; the free lists are behind one lock. A PooledBlock belongs to one thread at
// a time, as the queued frame that holds it does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace taviro::stream {

class CBlockPool;

// One block taken from a pool; gives it back when dropped. Move-only.
class PooledBlock {
  public:
    PooledBlock() = default;
    ~PooledBlock() { Reset(); }
    PooledBlock(PooledBlock&& other) noexcept { *this = static_cast<PooledBlock&&>(other); }
    PooledBlock& operator=(PooledBlock&& other) noexcept;
    PooledBlock(const PooledBlock&) = delete;
    PooledBlock& operator=(const PooledBlock&) = delete;

    [[nodiscard]] std::uint8_t* get() const { return m_data; }
    [[nodiscard]] std::size_t Capacity() const { return m_capacity; }
    explicit operator bool() const { return m_data != nullptr; }
    void Reset();

  private:
    friend class CBlockPool;
    PooledBlock(CBlockPool* pool, std::uint8_t* data, std::size_t capacity)
        : m_pool(pool), m_data(data), m_capacity(capacity) {}

    CBlockPool* m_pool = nullptr;
    std::uint8_t* m_data = nullptr;
    std::size_t m_capacity = 0;
};

class CBlockPool {
  public:
    static constexpr std::size_t kMinBlock = std::size_t{1} << 12;
    static constexpr std::size_t kMaxBlock = std::size_t{1} << 21;
    static constexpr std::size_t kMaxKeptBytes = std::size_t{32} << 20;

    explicit CBlockPool(std::size_t maxKeptBytes = kMaxKeptBytes) : m_maxKeptBytes(maxKeptBytes) {}
    ~CBlockPool();  // every block taken must have come back first
    CBlockPool(const CBlockPool&) = delete;
    CBlockPool& operator=(const CBlockPool&) = delete;

    // The pool of the queued frames. It is never destroyed, so a frame may be dropped at
    // any time, even while the process ends. Under AddressSanitizer it keeps nothing.
    static CBlockPool& Shared();

    // A block of at least `size` bytes with unspecified contents; empty when the heap has
    // no room for it.
    [[nodiscard]] PooledBlock Take(std::size_t size);
    // Bytes waiting in the pool.
    [[nodiscard]] std::size_t KeptBytes() const;

  private:
    friend class PooledBlock;
    static constexpr std::size_t kClasses = 10;  // 4 KiB .. 2 MiB
    void Give(std::uint8_t* data, std::size_t capacity) noexcept;

    const std::size_t m_maxKeptBytes;
    mutable std::mutex m_lock;
    std::array<std::vector<std::uint8_t*>, kClasses> m_free;
    std::size_t m_keptBytes = 0;
};

}  // namespace taviro::stream
