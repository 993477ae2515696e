#include "stream/queued_frame.h"

#include <algorithm>
#include <new>

#include "protocol/byte_order.h"

namespace taviro::stream {

namespace {

// An entry the heap cannot hold drops that element; the stream goes on with the next.
std::unique_ptr<std::uint8_t[]> AllocateBlock(std::size_t size) {
    try {
        return std::make_unique_for_overwrite<std::uint8_t[]>(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

std::optional<QueuedFrame> QueuedFrame::Make(const FrameInfo& info,
                                             const protocol::PacketHeader& header,
                                             std::span<const std::uint8_t> payload,
                                             bool displayExempt, bool reverse,
                                             std::uint16_t paceTicket) {
    if (info.payloadLength != payload.size() || info.size > info.payloadLength) {
        return std::nullopt;
    }
    const std::size_t size = kQueuedPrefixSize + payload.size() + kQueuedTailPadding;
    auto block = CBlockPool::Shared().Take(size);
    if (!block) {
        return std::nullopt;
    }
    std::uint8_t* p = block.get();
    std::fill_n(p, kQueuedPrefixSize, std::uint8_t{0});
    protocol::StoreLE32(p, info.size);
    protocol::StoreLE32(p + 4, info.generation);
    p[8] = displayExempt ? 1 : 0;
    p[9] = reverse ? 1 : 0;
    protocol::StoreLE16(p + 10, paceTicket);
    info.WriteTo(std::span<std::uint8_t, kFrameInfoSize>(p + kQueuedInfoOffset, kFrameInfoSize));
    for (std::size_t i = 0; i < header.word.size(); ++i) {
        protocol::StoreLE32(p + kQueuedHeaderOffset + 4 * i, header.word[i]);
    }
    std::copy(payload.begin(), payload.end(), p + kQueuedPrefixSize);
    std::fill_n(p + kQueuedPrefixSize + payload.size(), kQueuedTailPadding, std::uint8_t{0});
    return QueuedFrame(std::move(block), size);
}

std::uint16_t QueuedFrame::PaceTicket() const {
    return protocol::LoadLE16(m_block.get() + 10);
}

std::uint32_t QueuedFrame::DecodeLength() const {
    return protocol::LoadLE32(m_block.get());
}

std::uint32_t QueuedFrame::Generation() const {
    return protocol::LoadLE32(m_block.get() + 4);
}

FrameInfo QueuedFrame::Info() const {
    return FrameInfo::ReadFrom(std::span<const std::uint8_t, kFrameInfoSize>(
        m_block.get() + kQueuedInfoOffset, kFrameInfoSize));
}

protocol::PacketHeader QueuedFrame::Header() const {
    protocol::PacketHeader h;
    for (std::size_t i = 0; i < h.word.size(); ++i) {
        h.word[i] = protocol::LoadLE32(m_block.get() + kQueuedHeaderOffset + 4 * i);
    }
    return h;
}

std::span<const std::uint8_t> QueuedFrame::Payload() const {
    return {m_block.get() + kQueuedPrefixSize, m_size - kQueuedPrefixSize - kQueuedTailPadding};
}

std::span<const std::uint8_t> QueuedFrame::DecodeBytes() const {
    return Payload().first(std::min<std::size_t>(DecodeLength(), Payload().size()));
}

std::optional<ElementBlock> ElementBlock::Copy(std::span<const std::uint8_t> bytes) {
    auto block = AllocateBlock(bytes.size() + 1);
    if (!block) {
        return std::nullopt;
    }
    std::copy(bytes.begin(), bytes.end(), block.get());
    return ElementBlock(std::move(block), bytes.size());
}

}  // namespace taviro::stream
