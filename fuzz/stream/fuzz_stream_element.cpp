// Arbitrary pieces of live and playback stream elements fed to the stream path as the
// receive thread would: nothing is read past a buffer, the fill count never passes the
// reassembly buffer, and every queued frame describes exactly the bytes it holds.
//
// Input: byte 0 sets the scene (bits 0-1 product type, bit 2 playback audio heard, bit 3
// playback reverse, bits 4-7 the heard channel, 15 = none); bytes 1-2 are the channels
// with a decoder (big-endian); then pieces, each a control byte and a length byte:
//   control bit 0   last fragment
//   control bit 1   playback data (else live data)
//   control bit 2   the bytes are a live channel info payload instead
//   control bit 3   toggle the live pause
//   control bits 4-5  high bits of the length (pieces of up to 1,023 bytes)
//   control bit 6   toggle live view, bit 7 toggle playback
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "../fuzz_check.h"
#include "protocol/catalogue.h"
#include "stream/stream_frames.h"

using namespace taviro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    stream::CStreamState state;
    stream::CConsumerSlots slots;
    stream::CStreamFrames frames(state, slots);
    state.SetProductType(data[0] & 0x3);
    state.SetPlaybackAudio((data[0] & 0x4) != 0);
    state.SetPlaybackReverse((data[0] & 0x8) != 0);
    const int heard = data[0] >> 4;
    state.SetSelectedAudioChannel(heard == 15 ? -1 : heard);
    state.SetLiveOn(true);
    state.SetPlaybackOn(true);
    const std::uint32_t watched = (static_cast<std::uint32_t>(data[1]) << 8) | data[2];
    std::shared_ptr<stream::CVideoQueue> queues[protocol::kMaxChannels];
    for (int ch = 0; ch < protocol::kMaxChannels; ++ch) {
        if ((watched >> ch) & 1u) {
            queues[ch] = std::make_shared<stream::CVideoQueue>();
            slots.AttachVideo(ch, queues[ch]);
        }
    }
    auto audio = std::make_shared<stream::CAudioQueue>();
    slots.AttachAudio(audio);

    std::span<const std::uint8_t> rest(data + 3, size - 3);
    while (rest.size() >= 2) {
        const std::uint8_t control = rest[0];
        std::size_t length = rest[1] | (static_cast<std::size_t>((control >> 4) & 0x3) << 8);
        rest = rest.subspan(2);
        length = std::min(length, rest.size());
        const auto piece = rest.first(length);
        rest = rest.subspan(length);

        if (control & 0x08) {
            state.SetLiveFrozen(!state.LiveFrozen());
        }
        if (control & 0x40) {
            state.SetLiveOn(!state.LiveOn());
        }
        if (control & 0x80) {
            state.SetPlaybackOn(!state.PlaybackOn());
        }
        if (control & 0x04) {
            const std::uint32_t before = state.Generation();
            const auto info = frames.OnLiveChannelInfo(piece);
            TAVIRO_FUZZ_CHECK(info.accepted == (piece.size() >= 4));
            if (info.accepted) {
                TAVIRO_FUZZ_CHECK(state.Generation() == before + 1);
                TAVIRO_FUZZ_CHECK(frames.FillCount() == 0);
                TAVIRO_FUZZ_CHECK((state.VideoLossSet() & ~watched) == 0);
                TAVIRO_FUZZ_CHECK(info.available <= 0xFFFFu);
            }
            continue;
        }
        const std::uint16_t command =
            (control & 0x02) ? protocol::msg::PLAY_DATA : protocol::msg::LIVE_DATA;
        const auto header = protocol::PacketHeader::Make(
            command, static_cast<std::uint16_t>(piece.size()), (control & 0x01) != 0);
        frames.OnStreamPiece(command, header, piece);
        TAVIRO_FUZZ_CHECK(frames.FillCount() <= stream::kReassemblySize);
        if (header.LastFragment()) {
            TAVIRO_FUZZ_CHECK(frames.FillCount() == 0);
        }
    }

    std::uint64_t drained = 0;
    for (int ch = 0; ch < protocol::kMaxChannels; ++ch) {
        if (!queues[ch]) {
            continue;
        }
        while (auto taken = queues[ch]->TryTake()) {
            const stream::QueuedFrame& f = taken->entry;
            const stream::FrameInfo info = f.Info();
            TAVIRO_FUZZ_CHECK(info.channel == ch);
            TAVIRO_FUZZ_CHECK(f.Header().Channel() == static_cast<std::uint32_t>(ch));
            TAVIRO_FUZZ_CHECK(info.payloadLength == f.Payload().size());
            TAVIRO_FUZZ_CHECK(f.DecodeLength() == info.size);
            TAVIRO_FUZZ_CHECK(f.DecodeLength() <= f.Payload().size());
            TAVIRO_FUZZ_CHECK(f.Block().size() == stream::kQueuedPrefixSize + f.Payload().size() +
                                                      stream::kQueuedTailPadding);
            // The zeros a decoder may read past the payload.
            for (std::size_t i = f.Block().size() - stream::kQueuedTailPadding;
                 i < f.Block().size(); ++i) {
                TAVIRO_FUZZ_CHECK(f.Block()[i] == 0);
            }
            TAVIRO_FUZZ_CHECK(f.Generation() == info.generation);
            TAVIRO_FUZZ_CHECK(info.generation <= state.Generation());
            ++drained;
        }
    }
    const stream::StreamStats stats = frames.Stats();
    TAVIRO_FUZZ_CHECK(drained == stats.videoQueued);
    TAVIRO_FUZZ_CHECK(audio->Count() == stats.audioQueued);
    return 0;
}
