// Allocation counts on the frame path, by a counting replacement of the global operator
// new: a queued frame is one heap block, and pieces that do not end an element allocate
// nothing (the reassembly buffer is allocated once).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

#include "protocol/catalogue.h"
#include "stream/stream_frames.h"
#include "stream/stream_test_bytes.h"
#include "support/sanitizer_time.h"

namespace {
std::atomic<long> g_allocations{0};
}

// gcc sees free() of what the replaced new returned once both are inlined into one caller
// and takes them for a mismatched pair; they are the matching pair here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
// Array new is replaced as well: sanitizer runtimes bring their own, which would not count.
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace taviro::stream {
namespace {

TEST(Allocations, QueuedFrameIsOneBlockUsedAgainOnceDropped) {
    FrameInfo info;
    info.payloadLength = 100'000;
    info.size = 90'000;
    const test::Bytes payload = test::Pattern(100'000);
    static_cast<void>(CBlockPool::Shared());  // made once for the process, not per frame
    long before = g_allocations.load();
    auto frame = QueuedFrame::Make(info, protocol::PacketHeader{}, payload);
    ASSERT_TRUE(frame);
    EXPECT_EQ(g_allocations.load() - before, 1);
    EXPECT_EQ(frame->Block().size(), 96u + 100'000u + 64u);

    if (testing::kAddressSanitizer) {
        GTEST_SKIP() << "the shared pool keeps nothing under AddressSanitizer";
    }
    // The decoder drops it; the next key frame of about that size takes the same block.
    const std::uint8_t* first = frame->Block().data();
    frame.reset();
    info.payloadLength = 120'000;
    info.size = 120'000;
    const test::Bytes larger = test::Pattern(120'000);
    before = g_allocations.load();
    auto next = QueuedFrame::Make(info, protocol::PacketHeader{}, larger);
    ASSERT_TRUE(next);
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(next->Block().data(), first);
    EXPECT_TRUE(std::equal(larger.begin(), larger.end(), next->Payload().begin()));
    EXPECT_EQ(next->DecodeLength(), 120'000u);
}

TEST(Allocations, PiecesAreCopiedIntoTheBufferAllocatedOnce) {
    CStreamState state;
    state.SetLiveOn(true);
    CConsumerSlots slots;
    auto queue = std::make_shared<CVideoQueue>();
    slots.AttachVideo(0, queue);
    CStreamFrames frames(state, slots);
    const test::Bytes element = test::LiveVideo({}, test::Pattern(60'000));
    const auto piece = std::span(element).first(30'000);
    const auto h = protocol::PacketHeader::Make(protocol::msg::LIVE_DATA, 30'000, false);

    const long before = g_allocations.load();
    for (int i = 0; i < 40; ++i) {
        frames.OnStreamPiece(protocol::msg::LIVE_DATA, h, piece);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
    EXPECT_EQ(frames.FillCount(), 40u * 30'000u);
}

}  // namespace
}  // namespace taviro::stream
