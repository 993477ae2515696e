// CStreamFrames: the receive thread's end of the video pipeline. It takes the pieces of
// live (LIVE_DATA) and playback (PLAY_DATA) stream elements as the session reads them,
// reassembles each element in one fixed buffer allocated once, parses it and puts a
// QueuedFrame on the channel's decoder queue or the heard channel's 48-byte audio block on
// the audio queue. It also handles the live channel info that opens a live stream.
//
// Threads: OnStreamPiece(), OnLiveChannelInfo(), ResetReassembly() and FillCount() belong
// to the receive thread alone (the reassembly buffer is its state); Stats() may be read
// from any thread. The state and slot table are shared with the other threads and are
// safe to use from any of them. The object needs no session: tests and the fuzz harness
// feed it pieces directly.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "protocol/channel_mask.h"
#include "protocol/packet_header.h"
#include "protocol/stream_receiver.h"
#include "stream/consumer_slots.h"
#include "stream/stream_state.h"

namespace taviro::stream {

// 720 x 576 x 3: the largest element the recorders send.
inline constexpr std::size_t kReassemblySize = 1'244'160;

// What happened to the elements so far; for diagnostics and tests.
struct StreamStats {
    std::uint64_t videoQueued = 0;
    std::uint64_t audioQueued = 0;
    std::uint64_t tooShort = 0;       // shorter than its headers
    std::uint64_t overflowed = 0;     // pieces that would not fit the reassembly buffer
    std::uint64_t notStreaming = 0;   // live / playback not running
    std::uint64_t noConsumer = 0;     // channel or audio slot empty
    std::uint64_t frozen = 0;         // live view paused
    std::uint64_t audioNotHeard = 0;  // no block of the heard channel, or audio muted
    std::uint64_t allocationFailed = 0;
    std::uint64_t notAdmitted = 0;  // playback: paused, re-positioning or muted
};

// The video elements one channel's queue was handed, and their payload bytes.
struct ChannelReceived {
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
};

// The outcome of a live channel info message.
struct LiveChannelInfo {
    bool accepted = false;  // false: payload shorter than its 4-byte word, nothing changed
    protocol::ChannelMask available = 0;
    bool availableChanged = false;  // the views' grid is to be repainted
};

class CStreamFrames final : public protocol::IStreamReceiver {
  public:
    CStreamFrames(CStreamState& state, CConsumerSlots& slots);
    CStreamFrames(const CStreamFrames&) = delete;
    CStreamFrames& operator=(const CStreamFrames&) = delete;

    // One message payload of LIVE_DATA or PLAY_DATA; other commands are ignored.
    void OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                       std::span<const std::uint8_t> piece) override;

    // The LIVE_CHANNEL_INFO payload: starts a new stream generation, drops a half-built
    // element, rebuilds the video-loss set and the available channels, sets live on.
    LiveChannelInfo OnLiveChannelInfo(std::span<const std::uint8_t> payload);
    // The session's hand-over of the same payload.
    void OnChannelInfo(std::span<const std::uint8_t> payload) override {
        OnLiveChannelInfo(payload);
    }

    // Remote playback's say over each playback element (null: every element is queued).
    // Set before the connection starts or while no playback data flows.
    void SetPlayGate(protocol::IPlayGate* gate) { m_pPlayGate.store(gate); }

    // Drops a half-built element (a stream restarts).
    void ResetReassembly();
    [[nodiscard]] std::size_t FillCount() const { return m_nFill; }
    [[nodiscard]] StreamStats Stats() const;
    // Totals for the object's life (any thread; 0..15, others give zeros).
    [[nodiscard]] ChannelReceived Received(int channel) const;

  private:
    void Append(std::uint16_t command, const protocol::PacketHeader& header,
                std::span<const std::uint8_t> piece);
    void HandleLive(const protocol::PacketHeader& header, std::span<const std::uint8_t> element);
    void HandlePlay(const protocol::PacketHeader& header, std::span<const std::uint8_t> element);
    // `stamp`: remote playback's pace ticket and picture time for the block (none live).
    void QueueAudio(std::span<const std::uint8_t> element, protocol::ChannelMask mask,
                    const protocol::PlayAdmission& stamp = {});
    // False when the frame did not reach a queue (no decoder for its channel, no memory).
    bool QueueVideo(const FrameInfo& info, protocol::PacketHeader header,
                    std::span<const std::uint8_t> payload, bool displayExempt, bool reverse,
                    std::uint16_t paceTicket = 0);

    CStreamState& m_state;
    CConsumerSlots& m_slots;
    std::atomic<protocol::IPlayGate*> m_pPlayGate{nullptr};
    std::unique_ptr<std::uint8_t[]> m_buffer;
    std::size_t m_nFill = 0;
    // Set when a piece did not fit: the rest of that element is skipped up to its last
    // piece, so its tail is never taken for a new element.
    bool m_bSkipToLast = false;

    struct Counters {
        std::atomic<std::uint64_t> videoQueued{0}, audioQueued{0}, tooShort{0}, overflowed{0},
            notStreaming{0}, noConsumer{0}, frozen{0}, audioNotHeard{0}, allocationFailed{0},
            notAdmitted{0};
    } m_count;
    // Per channel, for the stream statistics: relaxed counters on the receive path.
    std::array<std::atomic<std::uint64_t>, protocol::kMaxChannels> m_videoFrames{};
    std::array<std::atomic<std::uint64_t>, protocol::kMaxChannels> m_videoBytes{};
};

}  // namespace taviro::stream
