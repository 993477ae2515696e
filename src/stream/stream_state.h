// The session-side state the stream path reads and writes: who is streaming, what the
// user may see, which channels lost video, the audio selection and the stream generation.
// Every field is atomic, so any thread may read or set any of it; the comment on each
// setter names the thread that normally calls it.
#pragma once

#include <atomic>
#include <cstdint>

#include "protocol/channel_mask.h"
#include "stream/stream_records.h"

namespace taviro::stream {

// Remote playback shows its pictures at their recorded pace where they are handed to the
// views: the decoder threads ask here. The receive thread never waits for a picture's
// moment, so the replies that follow the pictures on the wire are read at once.
//
// Every remote playback frame is queued with a pace ticket (QueuedFrame::PaceTicket, never
// 0): the playback's pace when it was admitted, and whether it waits for its moment.
// Threads: the decoder threads; the implementation guards its own state.
class IPlayPacing {
  public:
    virtual ~IPlayPacing() = default;
    // The picture of `frame`, stamped `ticket`, is about to be shown. Waits for its moment
    // when the frame is paced (never more than three seconds; at once when `stop` is set or
    // the playback changes). False when a button or the stop since its admission discards
    // it: the picture is not shown.
    virtual bool BeforeShow(std::uint16_t ticket, const FrameInfo& frame,
                            const std::atomic<bool>& stop) = 0;
    // The entry stamped `ticket` has been handled, whether its picture was shown or not.
    virtual void Handled(std::uint16_t ticket) = 0;
    // The audio thread: a block stamped `ticket` is heard with the picture of that time.
    // Waits until that picture is due (never more than three seconds; at once when `stop`
    // is set or the playback changes). False when the block is discarded.
    virtual bool BeforeHear(std::uint16_t ticket, std::int32_t seconds, std::int32_t microseconds,
                            const std::atomic<bool>& stop) = 0;
};

class CStreamState {
  public:
    // Session, receive thread: the product type from the login answer.
    void SetProductType(int type) { m_nProductType.store(type); }
    [[nodiscard]] int ProductType() const { return m_nProductType.load(); }

    // Session: live view runs (set by the live channel info, cleared when live stops).
    void SetLiveOn(bool on) { m_bLiveOn.store(on); }
    [[nodiscard]] bool LiveOn() const { return m_bLiveOn.load(); }

    // Remote playback: active, audio heard (normal speed only), frames played backward or
    // stepped.
    void SetPlaybackOn(bool on) { m_bPlaybackOn.store(on); }
    [[nodiscard]] bool PlaybackOn() const { return m_bPlaybackOn.load(); }
    void SetPlaybackAudio(bool on) { m_bPlaybackAudio.store(on); }
    [[nodiscard]] bool PlaybackAudio() const { return m_bPlaybackAudio.load(); }
    void SetPlaybackReverse(bool on) { m_bPlaybackReverse.store(on); }
    [[nodiscard]] bool PlaybackReverse() const { return m_bPlaybackReverse.load(); }

    // Main window: the live-pause toggle. Every change starts a new stream generation, so
    // the decoders pick up again at a key frame after unfreezing.
    void SetLiveFrozen(bool frozen);
    [[nodiscard]] bool LiveFrozen() const { return m_bLiveFrozen.load(); }

    // Main window (live requests): channels whose view is blocked for this user (covert or
    // without viewing right), and the subset that is covert for this user (marked covert by
    // the recorder, and the account may not see covert channels).
    void SetBlockedChannels(protocol::ChannelMask mask) { m_nBlocked.store(mask); }
    [[nodiscard]] protocol::ChannelMask BlockedChannels() const { return m_nBlocked.load(); }
    void SetCovertChannels(protocol::ChannelMask mask) { m_nCovert.store(mask); }
    [[nodiscard]] protocol::ChannelMask CovertChannels() const { return m_nCovert.load(); }

    // Receive thread (live channel info): channels that lost video, and the channels
    // available to the views.
    void SetVideoLossSet(protocol::ChannelMask mask) { m_nVideoLoss.store(mask); }
    [[nodiscard]] protocol::ChannelMask VideoLossSet() const { return m_nVideoLoss.load(); }
    void SetAvailableChannels(protocol::ChannelMask mask) { m_nAvailable.store(mask); }
    [[nodiscard]] protocol::ChannelMask AvailableChannels() const { return m_nAvailable.load(); }

    // Audio: the mask of the last audio element (receive thread) and the channel being
    // heard, -1 for none (main window; the receive thread selects the lowest channel of an
    // element's mask while none is selected).
    void SetLastAudioMask(protocol::ChannelMask mask) { m_nLastAudioMask.store(mask); }
    [[nodiscard]] protocol::ChannelMask LastAudioMask() const { return m_nLastAudioMask.load(); }
    void SetSelectedAudioChannel(int channel) { m_nSelectedAudio.store(channel); }
    [[nodiscard]] int SelectedAudioChannel() const { return m_nSelectedAudio.load(); }
    // Makes `channel` the selection only while none is selected; returns the selection.
    int SelectAudioIfNone(int channel);
    // Whether this recorder's sound goes to the speaker at all (main window): of several
    // recorders in one window only the selected one is heard; the others' blocks are
    // counted and dropped.
    void SetAudioHeard(bool heard) { m_bAudioHeard.store(heard); }
    [[nodiscard]] bool AudioHeard() const { return m_bAudioHeard.load(); }

    // The stream generation: a decoder that sees a new one on a frame treats the stream
    // as new. Bumped by the live channel info, by freezing and by playback restarts.
    [[nodiscard]] std::uint32_t Generation() const { return m_nGeneration.load(); }
    std::uint32_t NewGeneration() { return m_nGeneration.fetch_add(1) + 1; }

    // The decoders' live drop rule: while live view runs, frames of a channel that lost
    // video or is covert for this user are freed unshown.
    [[nodiscard]] bool DropLiveFrame(int channel) const;

    // Remote playback's pacing (set by the playback service for its lifetime; null: none).
    void SetPlayPacing(IPlayPacing* pacing) { m_pPlayPacing.store(pacing); }
    [[nodiscard]] IPlayPacing* PlayPacing() const { return m_pPlayPacing.load(); }

  private:
    std::atomic<int> m_nProductType{0};
    std::atomic<bool> m_bLiveOn{false};
    std::atomic<bool> m_bPlaybackOn{false};
    std::atomic<bool> m_bPlaybackAudio{false};
    std::atomic<bool> m_bPlaybackReverse{false};
    std::atomic<bool> m_bLiveFrozen{false};
    std::atomic<protocol::ChannelMask> m_nBlocked{0};
    std::atomic<protocol::ChannelMask> m_nCovert{0};
    std::atomic<protocol::ChannelMask> m_nVideoLoss{0};
    std::atomic<protocol::ChannelMask> m_nAvailable{0};
    std::atomic<protocol::ChannelMask> m_nLastAudioMask{0};
    std::atomic<int> m_nSelectedAudio{-1};
    std::atomic<bool> m_bAudioHeard{true};
    std::atomic<std::uint32_t> m_nGeneration{0};
    std::atomic<IPlayPacing*> m_pPlayPacing{nullptr};
};

}  // namespace taviro::stream
