// QueuedFrame: one video frame on its way from the receive thread to a channel decoder.
// The whole entry is one heap block laid out as the decoder reads it:
//
//   0   4   length to decode (the encoded size, never more than the payload)
//   4   4   stream generation
//   8   1   playback: display-exempt frame
//   9   1   playback: played backward or stepped
//   10  2   remote playback: the pace ticket the frame was admitted with (0: none)
//   12  68  FrameInfo
//   80  16  the element's last message header (host order), channel field filled in
//   96  n   the H.264 payload
//
// plus kQueuedTailPadding zero bytes at the end, so a decoder may read past the payload. The block
// comes from the shared block pool (its capacity may be larger than the entry); the handle is
// move-only, and dropping it gives the block back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "protocol/packet_header.h"
#include "stream/block_pool.h"
#include "stream/stream_records.h"

namespace taviro::stream {

inline constexpr std::size_t kQueuedPrefixSize = 96;
inline constexpr std::size_t kQueuedInfoOffset = 12;
inline constexpr std::size_t kQueuedHeaderOffset = 80;
inline constexpr std::size_t kQueuedTailPadding = 64;

class QueuedFrame {
  public:
    // Builds the block: the info's payloadLength must equal `payload.size()` and its size
    // must not exceed it (MakeFrameInfo keeps both true); otherwise, or when the block
    // cannot be allocated, nothing is returned and the element is to be dropped.
    static std::optional<QueuedFrame> Make(const FrameInfo& info,
                                           const protocol::PacketHeader& header,
                                           std::span<const std::uint8_t> payload,
                                           bool displayExempt = false, bool reverse = false,
                                           std::uint16_t paceTicket = 0);

    [[nodiscard]] std::uint32_t DecodeLength() const;
    [[nodiscard]] std::uint32_t Generation() const;
    [[nodiscard]] bool DisplayExempt() const { return m_block.get()[8] != 0; }
    [[nodiscard]] bool Reverse() const { return m_block.get()[9] != 0; }
    [[nodiscard]] std::uint16_t PaceTicket() const;
    [[nodiscard]] FrameInfo Info() const;
    [[nodiscard]] protocol::PacketHeader Header() const;
    [[nodiscard]] std::span<const std::uint8_t> Payload() const;
    // The bytes the decoder feeds: the first DecodeLength() bytes of the payload.
    [[nodiscard]] std::span<const std::uint8_t> DecodeBytes() const;
    // True when DecodeBytes() is followed by kQueuedTailPadding zero bytes (it is the whole
    // payload).
    [[nodiscard]] bool DecodeBytesPadded() const { return DecodeLength() == Payload().size(); }
    // The whole block, prefix and payload, as allocated.
    [[nodiscard]] std::span<const std::uint8_t> Block() const { return {m_block.get(), m_size}; }

  private:
    QueuedFrame(PooledBlock block, std::size_t size) : m_block(std::move(block)), m_size(size) {}

    PooledBlock m_block;
    std::size_t m_size = 0;
};

// One 48-byte G.726 block of the channel being heard.
using AudioBlock = std::array<std::uint8_t, kAudioBlockSize>;

// An audio queue entry. Remote playback's blocks carry a pace ticket and the time of the
// picture they are heard with (the recorder interleaves the two in time order but sends
// ahead of the screen): the audio thread holds such a block until that picture is due.
// Live and local playback blocks have no ticket and are heard as they come.
struct HeardBlock {
    AudioBlock bytes{};
    std::uint16_t paceTicket = 0;
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
};

// An opaque element for the consumers that take whole elements (the backup writer and
// the talk object): one heap block, move-only.
class ElementBlock {
  public:
    // Nothing when the block cannot be allocated.
    static std::optional<ElementBlock> Copy(std::span<const std::uint8_t> bytes);
    [[nodiscard]] std::span<const std::uint8_t> Bytes() const { return {m_block.get(), m_size}; }

  private:
    ElementBlock(std::unique_ptr<std::uint8_t[]> block, std::size_t size)
        : m_block(std::move(block)), m_size(size) {}

    std::unique_ptr<std::uint8_t[]> m_block;
    std::size_t m_size = 0;
};

}  // namespace taviro::stream
