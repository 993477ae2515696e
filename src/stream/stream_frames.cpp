#include "stream/stream_frames.h"

#include <algorithm>
#include <new>
#include <thread>

#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "stream/stream_records.h"

namespace taviro::stream {

namespace {

void Count(std::atomic<std::uint64_t>& counter) {
    counter.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

CStreamFrames::CStreamFrames(CStreamState& state, CConsumerSlots& slots)
    : m_state(state),
      m_slots(slots),
      // Allocated once for the life of the object and reused for every element.
      m_buffer(std::make_unique_for_overwrite<std::uint8_t[]>(kReassemblySize)) {}

void CStreamFrames::ResetReassembly() {
    m_nFill = 0;
    m_bSkipToLast = false;
}

StreamStats CStreamFrames::Stats() const {
    StreamStats s;
    s.videoQueued = m_count.videoQueued.load();
    s.audioQueued = m_count.audioQueued.load();
    s.tooShort = m_count.tooShort.load();
    s.overflowed = m_count.overflowed.load();
    s.notStreaming = m_count.notStreaming.load();
    s.noConsumer = m_count.noConsumer.load();
    s.frozen = m_count.frozen.load();
    s.audioNotHeard = m_count.audioNotHeard.load();
    s.allocationFailed = m_count.allocationFailed.load();
    s.notAdmitted = m_count.notAdmitted.load();
    return s;
}

ChannelReceived CStreamFrames::Received(int channel) const {
    if (channel < 0 || channel >= protocol::kMaxChannels) {
        return {};
    }
    const auto c = static_cast<std::size_t>(channel);
    return {m_videoFrames[c].load(std::memory_order_relaxed),
            m_videoBytes[c].load(std::memory_order_relaxed)};
}

void CStreamFrames::OnStreamPiece(std::uint16_t command, const protocol::PacketHeader& header,
                                  std::span<const std::uint8_t> piece) {
    bool streaming = false;
    if (command == protocol::msg::LIVE_DATA) {
        streaming = m_state.LiveOn();
    } else if (command == protocol::msg::PLAY_DATA) {
        streaming = m_state.PlaybackOn();
    } else {
        return;
    }
    if (!streaming) {
        // Read and dropped: whatever was half-built belongs to a stream that has stopped.
        ResetReassembly();
        Count(m_count.notStreaming);
        return;
    }
    Append(command, header, piece);
}

void CStreamFrames::Append(std::uint16_t command, const protocol::PacketHeader& header,
                           std::span<const std::uint8_t> piece) {
    if (m_bSkipToLast) {
        if (header.LastFragment()) {
            ResetReassembly();
        }
        return;
    }
    if (piece.size() > kReassemblySize - m_nFill) {
        Count(m_count.overflowed);
        m_nFill = 0;
        m_bSkipToLast = !header.LastFragment();
        return;
    }
    std::copy(piece.begin(), piece.end(), m_buffer.get() + m_nFill);
    m_nFill += piece.size();
    if (!header.LastFragment()) {
        return;
    }
    const std::span<const std::uint8_t> element(m_buffer.get(), m_nFill);
    if (command == protocol::msg::LIVE_DATA) {
        HandleLive(header, element);
    } else {
        HandlePlay(header, element);
    }
    m_nFill = 0;
}

void CStreamFrames::HandleLive(const protocol::PacketHeader& header,
                               std::span<const std::uint8_t> element) {
    if (IsLiveAudioElement(element)) {
        const auto audio = ParseLiveAudioHeader(element);
        if (!audio) {
            Count(m_count.tooShort);
            return;
        }
        m_state.SetLastAudioMask(audio->channelMask);
        QueueAudio(element, audio->channelMask);
        return;
    }
    // The recorders always send the whole prefix and encoder header; anything shorter
    // has no frame in it.
    if (element.size() < kLivePayloadOffset) {
        Count(m_count.tooShort);
        return;
    }
    const auto encoder = ParseEncoderHeader(element.subspan(kLiveEncoderOffset));
    if (!encoder) {
        Count(m_count.tooShort);
        return;
    }
    const auto payload = element.subspan(kLivePayloadOffset);
    const FrameInfo info =
        MakeFrameInfo(*encoder, static_cast<std::uint32_t>(payload.size()), m_state.Generation());
    if (m_state.LiveOn() && m_state.LiveFrozen()) {
        Count(m_count.frozen);
        return;
    }
    QueueVideo(info, header, payload, false, false);
}

void CStreamFrames::HandlePlay(const protocol::PacketHeader& header,
                               std::span<const std::uint8_t> element) {
    const int productType = m_state.ProductType();
    protocol::IPlayGate* gate = m_pPlayGate.load();
    protocol::PlayElement played;
    played.headerWord1 = header.word[1];
    if (IsPlayAudioElement(element, productType)) {
        played.audio = true;
        const auto audio = ParsePlayAudioHeader(element, productType);
        // The gate sees every element first: the speed code and the credit count them all.
        protocol::PlayAdmission admission{true};
        if (gate != nullptr) {
            admission = gate->Admit(played);
        }
        if (!admission.queue) {
            Count(m_count.notAdmitted);
            return;
        }
        if (!audio) {
            Count(m_count.tooShort);
            return;
        }
        m_state.SetLastAudioMask(audio->channelMask);
        // Audio is heard at normal speed only; the playback controls mute it otherwise.
        if (!m_state.PlaybackAudio()) {
            Count(m_count.audioNotHeard);
            return;
        }
        QueueAudio(element, audio->channelMask, admission);
        return;
    }
    const auto frame = ParseStreamFrameHeader(element);
    if (frame) {
        played.readable = true;
        played.channel = frame->encoder.channel;
        played.seconds = frame->encoder.seconds;
        played.microseconds = frame->encoder.microseconds;
        played.position = static_cast<std::int32_t>(frame->frameTime);
    }
    protocol::PlayAdmission admission{true, m_state.PlaybackReverse()};
    if (gate != nullptr) {
        // A short element still counts for the credit, but is never queued.
        admission = gate->Admit(played);
    }
    if (!frame) {
        Count(m_count.tooShort);
        return;
    }
    if (!admission.queue) {
        Count(m_count.notAdmitted);
        return;
    }
    // The stated payload length is believed only as far as the bytes that arrived.
    const std::size_t arrived = element.size() - kStreamFrameHeaderSize;
    const auto payloadLength =
        static_cast<std::uint32_t>(std::min<std::size_t>(frame->payloadLength, arrived));
    FrameInfo info = MakeFrameInfo(frame->encoder, payloadLength, m_state.Generation());
    info.title = PlaybackTitle(*frame);
    info.position = played.position;
    // A hidden frame is decoded for the ones after it and shown by none: the decoders'
    // display-exempt rule of stepped frames.
    const bool queued =
        QueueVideo(info, header, element.subspan(kStreamFrameHeaderSize, payloadLength),
                   frame->displayExempt == 1 || admission.hidden,
                   admission.reverse || admission.hidden, admission.paceTicket);
    if (gate != nullptr) {
        gate->Queued(played, queued);
    }
    // Give the decoders a chance to run between frames of a fast playback stream.
    std::this_thread::yield();
}

void CStreamFrames::QueueAudio(std::span<const std::uint8_t> element, protocol::ChannelMask mask,
                               const protocol::PlayAdmission& stamp) {
    // The heard channel is chosen whether or not a sound output takes the block: the panes'
    // icons say which channel would be heard either way.
    auto selection = SelectAudioBlock(mask, m_state.SelectedAudioChannel());
    if (selection) {
        const int chosen = m_state.SelectAudioIfNone(selection->channel);
        if (chosen != selection->channel) {
            // The user picked a channel while this element was handled.
            selection = SelectAudioBlock(mask, chosen);
        }
    }
    const auto queue = m_slots.Audio();
    if (!queue) {
        Count(m_count.noConsumer);
        return;
    }
    if (!selection || !m_state.AudioHeard()) {
        Count(m_count.audioNotHeard);
        return;
    }
    const std::size_t offset = kAudioBlockHeaderSize + kAudioBlockSize * selection->index;
    if (offset > element.size() || element.size() - offset < kAudioBlockSize) {
        Count(m_count.audioNotHeard);  // the mask names more blocks than arrived
        return;
    }
    HeardBlock block{{}, stamp.paceTicket, stamp.seconds, stamp.microseconds};
    std::copy_n(element.begin() + static_cast<std::ptrdiff_t>(offset), kAudioBlockSize,
                block.bytes.begin());
    queue->Put(block);
    Count(m_count.audioQueued);
    std::this_thread::yield();
}

bool CStreamFrames::QueueVideo(const FrameInfo& info, protocol::PacketHeader header,
                               std::span<const std::uint8_t> payload, bool displayExempt,
                               bool reverse, std::uint16_t paceTicket) {
    const auto queue = m_slots.Video(info.channel);
    if (!queue) {
        Count(m_count.noConsumer);
        return false;
    }
    header.SetChannel(info.channel);
    auto frame = QueuedFrame::Make(info, header, payload, displayExempt, reverse, paceTicket);
    if (!frame) {
        Count(m_count.allocationFailed);
        return false;
    }
    queue->Put(std::move(*frame));
    Count(m_count.videoQueued);
    const auto c = static_cast<std::size_t>(info.channel);  // in range: it had a slot
    m_videoFrames[c].fetch_add(1, std::memory_order_relaxed);
    m_videoBytes[c].fetch_add(payload.size(), std::memory_order_relaxed);
    return true;
}

LiveChannelInfo CStreamFrames::OnLiveChannelInfo(std::span<const std::uint8_t> payload) {
    protocol::CByteReader r(payload);
    protocol::ChannelMask m = r.BE32();
    if (!r.Ok()) {
        return {};
    }
    m_state.NewGeneration();
    ResetReassembly();
    m &= ~(m_state.BlockedChannels() & protocol::kAllChannels);
    m_state.SetVideoLossSet((m >> 16) & protocol::kAllChannels & m_slots.VideoSlotMask());
    LiveChannelInfo result;
    result.accepted = true;
    result.available = m & protocol::kAllChannels;
    result.availableChanged = m_state.AvailableChannels() != result.available;
    m_state.SetAvailableChannels(result.available);
    m_state.SetLiveOn(true);
    return result;
}

}  // namespace taviro::stream
