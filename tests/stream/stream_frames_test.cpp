// The receive-side stream path fed piece by piece, as the session hands over messages.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "protocol/catalogue.h"
#include "protocol/crc32.h"
#include "stream/stream_frames.h"
#include "stream/stream_test_bytes.h"

namespace taviro::stream {
namespace {

using protocol::PacketHeader;
using test::Bytes;
using test::PutBE32;
using test::PutLE32;

constexpr std::uint16_t kLive = protocol::msg::LIVE_DATA;
constexpr std::uint16_t kPlay = protocol::msg::PLAY_DATA;

// The oldest entry; the queue must hold one.
template <typename Entry>
Entry Take(CConsumerQueue<Entry>& queue) {
    auto taken = queue.TryTake();
    if (!taken) {
        throw std::runtime_error("the queue is empty");  // reported as a test failure
    }
    return std::move(taken->entry);
}

class StreamFramesTest : public ::testing::Test {
  protected:
    StreamFramesTest() { state.SetLiveOn(true); }

    std::shared_ptr<CVideoQueue> Watch(int channel) {
        auto q = std::make_shared<CVideoQueue>();
        slots.AttachVideo(channel, q);
        return q;
    }
    std::shared_ptr<CAudioQueue> Listen() {
        auto q = std::make_shared<CAudioQueue>();
        slots.AttachAudio(q);
        return q;
    }
    // Sends `element` as pieces of the given sizes; the last piece takes the rest.
    void Send(std::uint16_t command, const Bytes& element, std::vector<std::size_t> sizes = {},
              std::uint32_t time = 0) {
        std::size_t at = 0;
        for (std::size_t n : sizes) {
            Piece(command, std::span(element).subspan(at, n), false, time);
            at += n;
        }
        Piece(command, std::span(element).subspan(at), true, time);
    }
    void Piece(std::uint16_t command, std::span<const std::uint8_t> piece, bool last,
               std::uint32_t time = 0) {
        PacketHeader h =
            PacketHeader::Make(command, static_cast<std::uint16_t>(piece.size()), last);
        h.word[3] = time;
        frames.OnStreamPiece(command, h, piece);
    }
    static Bytes Payload(const QueuedFrame& f) {
        return Bytes(f.Payload().begin(), f.Payload().end());
    }

    CStreamState state;
    CConsumerSlots slots;
    CStreamFrames frames{state, slots};
};

TEST_F(StreamFramesTest, FiveFragmentsQueueOneFrameOnTheLastPiece) {
    auto q2 = Watch(2);
    auto q0 = Watch(0);
    test::Encoder e;
    e.channel = 2;
    e.size = 5000;
    e.seconds = 1'300'000'000;
    const Bytes payload = test::Pattern(5000);
    const Bytes element = test::LiveVideo(e, payload);

    const std::vector<std::size_t> sizes = {100, 300, 1000, 2000};
    std::size_t at = 0;
    for (std::size_t n : sizes) {
        Piece(kLive, std::span(element).subspan(at, n), false, 1'286'798'400u);
        at += n;
        EXPECT_EQ(frames.FillCount(), at);
        EXPECT_EQ(q2->Count(), 0u);
    }
    Piece(kLive, std::span(element).subspan(at), true, 1'286'798'400u);
    EXPECT_EQ(frames.FillCount(), 0u);
    ASSERT_EQ(q2->Count(), 1u);
    EXPECT_EQ(q0->Count(), 0u);

    const auto f = Take(*q2);
    EXPECT_EQ(Payload(f), payload);
    EXPECT_EQ(f.DecodeLength(), 5000u);
    EXPECT_EQ(f.Block().size(), element.size() - 228 + 64);
    EXPECT_TRUE(f.DecodeBytesPadded());
    const FrameInfo info = f.Info();
    EXPECT_EQ(info.channel, 2);
    EXPECT_EQ(info.payloadLength, 5000u);
    EXPECT_EQ(info.seconds, 1'300'000'000);
    EXPECT_EQ(info.width, 704);
    EXPECT_EQ(info.title, (std::array<std::uint8_t, 32>{}));  // live titles come from the views
    // The last piece's header travels with the frame, its channel field filled in.
    EXPECT_EQ(f.Header().Channel(), 2u);
    EXPECT_TRUE(f.Header().LastFragment());
    EXPECT_EQ(f.Header().Length(), element.size() - 3400);
    EXPECT_EQ(f.Header().Reserved2(), 1'286'798'400u);
}

TEST_F(StreamFramesTest, ElementShorterThanItsHeadersIsDroppedAndTheNextOneArrives) {
    auto q = Watch(0);
    test::Encoder e;
    e.size = 10;
    Bytes element = test::LiveVideo(e, {});
    element.pop_back();  // 323 bytes
    Send(kLive, element, {200});
    EXPECT_EQ(q->Count(), 0u);
    EXPECT_EQ(frames.FillCount(), 0u);
    EXPECT_EQ(frames.Stats().tooShort, 1u);
    Send(kLive, Bytes(10, 0));
    EXPECT_EQ(frames.Stats().tooShort, 2u);

    // Exactly the headers: a frame with nothing to decode.
    Send(kLive, test::LiveVideo(e, {}));
    ASSERT_EQ(q->Count(), 1u);
    const auto f = Take(*q);
    EXPECT_EQ(f.DecodeLength(), 0u);
    EXPECT_TRUE(f.Payload().empty());

    Send(kLive, test::LiveVideo(e, test::Pattern(10)));
    ASSERT_EQ(q->Count(), 1u);
    EXPECT_EQ(Payload(Take(*q)), test::Pattern(10));
}

TEST_F(StreamFramesTest, PiecesThatOverflowTheBufferDropTheWholeElement) {
    auto q = Watch(0);
    test::Encoder e;
    const Bytes full(65535, 0x55);
    // 18 full pieces fit (1,179,630 bytes); the 19th would pass 1,244,160.
    Piece(kLive, test::LiveVideo(e, Bytes(65535 - 324, 1)), false);
    for (int i = 1; i < 18; ++i) {
        Piece(kLive, full, false);
    }
    EXPECT_EQ(frames.FillCount(), 18u * 65535u);
    Piece(kLive, full, false);
    EXPECT_EQ(frames.FillCount(), 0u);
    EXPECT_EQ(frames.Stats().overflowed, 1u);
    // The rest of that element, up to its last piece, is not taken for a new element.
    Piece(kLive, test::LiveVideo(e, Bytes(10, 2)), false);
    EXPECT_EQ(frames.FillCount(), 0u);
    Piece(kLive, test::LiveVideo(e, Bytes(10, 3)), true);
    EXPECT_EQ(q->Count(), 0u);

    // A buffer filled to the byte is still one element.
    Piece(kLive, test::LiveVideo(e, Bytes(65535 - 324, 4)), false);
    for (int i = 1; i < 18; ++i) {
        Piece(kLive, full, false);
    }
    Piece(kLive, Bytes(kReassemblySize - 18u * 65535u, 0x66), true);
    ASSERT_EQ(q->Count(), 1u);
    EXPECT_EQ(Take(*q).Payload().size(), kReassemblySize - 324);

    // An overflowing last piece ends the element itself: the next one starts clean.
    Piece(kLive, test::LiveVideo(e, Bytes(65535 - 324, 1)), false);
    for (int i = 1; i < 19; ++i) {
        Piece(kLive, full, i == 18);
    }
    EXPECT_EQ(frames.Stats().overflowed, 2u);
    Send(kLive, test::LiveVideo(e, Bytes(7, 9)));
    ASSERT_EQ(q->Count(), 1u);
    EXPECT_EQ(Payload(Take(*q)), Bytes(7, 9));
}

TEST_F(StreamFramesTest, AudioElementGoesToTheAudioQueueOnly) {
    std::vector<std::shared_ptr<CVideoQueue>> video;
    for (int ch = 0; ch < 16; ++ch) {
        video.push_back(Watch(ch));
    }
    auto audio = Listen();
    // Channels 1 and 3; whatever lies where a video element's encoder header would be.
    Bytes element = test::LiveAudio(0x0000000Au, 2);
    element.resize(400, 0);
    test::Encoder e;
    e.channel = 1;
    test::PutEncoder(element, 260, e);
    state.SetSelectedAudioChannel(3);
    Send(kLive, element, {100});

    ASSERT_EQ(audio->Count(), 1u);
    AudioBlock second{};
    second.fill(0xA1);  // the block at 64 + 48
    EXPECT_EQ(Take(*audio).bytes, second);
    for (const auto& q : video) {
        EXPECT_EQ(q->Count(), 0u);
    }
    EXPECT_EQ(state.LastAudioMask(), 0x0000000Au);

    // Nobody selected: the lowest channel of the mask is heard and becomes the selection.
    state.SetSelectedAudioChannel(-1);
    Send(kLive, element);
    ASSERT_EQ(audio->Count(), 1u);
    EXPECT_EQ(Take(*audio).bytes[0], 0xA0);
    EXPECT_EQ(state.SelectedAudioChannel(), 1);

    // A selection outside the mask hears nothing.
    state.SetSelectedAudioChannel(2);
    Send(kLive, element);
    EXPECT_EQ(audio->Count(), 0u);

    // A mask naming more blocks than arrived delivers nothing from past the end.
    state.SetSelectedAudioChannel(5);
    Send(kLive, test::LiveAudio(0x00000023u, 2));
    EXPECT_EQ(audio->Count(), 0u);

    // Without an audio consumer the element is dropped, and still no video queue gets it.
    slots.DetachAudio();
    state.SetSelectedAudioChannel(1);
    Send(kLive, element);
    for (const auto& q : video) {
        EXPECT_EQ(q->Count(), 0u);
    }
    EXPECT_EQ(frames.Stats().videoQueued, 0u);
}

TEST_F(StreamFramesTest, StatedSizesAreBoundedByWhatArrived) {
    auto q = Watch(5);
    test::Encoder e;
    e.channel = 5;
    e.size = 0xFFFFF;  // the encoder claims far more than was sent
    Send(kLive, test::LiveVideo(e, test::Pattern(1000)), {500});
    ASSERT_EQ(q->Count(), 1u);
    auto f = Take(*q);
    EXPECT_EQ(f.DecodeLength(), 1000u);
    EXPECT_EQ(f.Info().size, 1000u);
    EXPECT_EQ(f.Info().payloadLength, 1000u);

    // Playback: the stream part's payload length may claim more or less than arrived.
    state.SetPlaybackOn(true);
    auto play = [&](std::uint32_t stated, std::uint32_t encoded, std::size_t sent) {
        Bytes b(192, 0);
        PutBE32(b, 16, 0x20061123u);
        PutBE32(b, 28, stated);
        test::Encoder pe;
        pe.channel = 5;
        pe.size = encoded;
        test::PutEncoder(b, 128, pe);
        const Bytes payload = test::Pattern(sent, 3);
        test::Append(b, payload);
        Send(kPlay, b);
    };
    play(5000, 5000, 800);
    ASSERT_EQ(q->Count(), 1u);
    f = Take(*q);
    EXPECT_EQ(f.Info().payloadLength, 800u);
    EXPECT_EQ(f.DecodeLength(), 800u);
    EXPECT_EQ(Payload(f), test::Pattern(800, 3));

    play(100, 4000, 800);
    f = Take(*q);
    EXPECT_EQ(f.Info().payloadLength, 100u);
    EXPECT_EQ(f.DecodeLength(), 100u);
    EXPECT_EQ(Payload(f), test::Pattern(100, 3));

    play(800, 60, 800);
    EXPECT_EQ(Take(*q).DecodeLength(), 60u);

    play(0, 0, 0);
    EXPECT_TRUE(Take(*q).Payload().empty());
    Send(kPlay, Bytes(191, 0));
    EXPECT_EQ(q->Count(), 0u);
}

TEST_F(StreamFramesTest, LiveChannelInfoOpensTheStreamAndCountsAGeneration) {
    state.SetLiveOn(false);
    auto q2 = Watch(2);
    auto q0 = Watch(0);
    const std::uint32_t g0 = state.Generation();

    // A half-built element from before is thrown away.
    Send(kLive, test::LiveVideo({}, test::Pattern(10)));  // live off: dropped
    EXPECT_EQ(frames.Stats().notStreaming, 1u);
    state.SetLiveOn(true);
    Piece(kLive, test::LiveVideo({}, test::Pattern(10)), false);

    Bytes info(4, 0);
    PutBE32(info, 0, 0x00040007u);
    state.SetLiveOn(false);
    const auto r = frames.OnLiveChannelInfo(info);
    EXPECT_TRUE(r.accepted);
    EXPECT_TRUE(state.LiveOn());
    EXPECT_EQ(frames.FillCount(), 0u);
    EXPECT_EQ(state.Generation(), g0 + 1);
    EXPECT_EQ(r.available, 0x7u);
    EXPECT_TRUE(r.availableChanged);
    EXPECT_EQ(state.AvailableChannels(), 0x7u);
    EXPECT_EQ(state.VideoLossSet(), 0x4u);
    EXPECT_FALSE(frames.OnLiveChannelInfo(info).availableChanged);
    EXPECT_EQ(state.Generation(), g0 + 2);

    // Frames carry the generation in force when they were queued.
    test::Encoder e;
    Send(kLive, test::LiveVideo(e, test::Pattern(4)));
    EXPECT_EQ(Take(*q0).Generation(), g0 + 2);

    // Video loss counts only for channels with a decoder; blocked channels are not
    // available.
    slots.DetachVideo(2);
    Watch(1);
    state.SetBlockedChannels(0x2u);
    PutBE32(info, 0, 0x00060007u);
    const auto r2 = frames.OnLiveChannelInfo(info);
    EXPECT_EQ(r2.available, 0x5u);
    EXPECT_EQ(state.VideoLossSet(), 0x2u);

    // A payload too short for its word changes nothing.
    EXPECT_FALSE(frames.OnLiveChannelInfo(std::span(info).first(3)).accepted);
    EXPECT_EQ(state.Generation(), g0 + 3);
    EXPECT_EQ(state.AvailableChannels(), 0x5u);
}

TEST_F(StreamFramesTest, FrozenLiveViewDropsFramesAndRestartsWithANewGeneration) {
    auto q = Watch(0);
    test::Encoder e;
    Send(kLive, test::LiveVideo(e, test::Pattern(4)));
    const std::uint32_t before = Take(*q).Generation();

    state.SetLiveFrozen(true);
    Send(kLive, test::LiveVideo(e, test::Pattern(4)), {100});
    Send(kLive, test::LiveVideo(e, test::Pattern(4)));
    EXPECT_EQ(q->Count(), 0u);
    EXPECT_EQ(frames.Stats().frozen, 2u);
    state.SetLiveFrozen(true);  // no change, no new generation

    state.SetLiveFrozen(false);
    Send(kLive, test::LiveVideo(e, test::Pattern(4)));
    ASSERT_EQ(q->Count(), 1u);
    EXPECT_EQ(Take(*q).Generation(), before + 2);

    // Freezing is a live matter: playback frames still flow.
    state.SetLiveFrozen(true);
    state.SetPlaybackOn(true);
    Bytes b(192, 0);
    PutBE32(b, 16, 0x20061123u);
    test::PutEncoder(b, 128, e);
    Send(kPlay, b);
    EXPECT_EQ(q->Count(), 1u);
}

TEST(LiveDropRule, VideoLossAndCovertChannelsWhileLive) {
    CStreamState state;
    state.SetVideoLossSet(0x4u);
    state.SetCovertChannels(0x100u);
    EXPECT_FALSE(state.DropLiveFrame(2));  // only while live view runs
    state.SetLiveOn(true);
    EXPECT_TRUE(state.DropLiveFrame(2));
    EXPECT_TRUE(state.DropLiveFrame(8));
    EXPECT_FALSE(state.DropLiveFrame(0));
    EXPECT_FALSE(state.DropLiveFrame(3));
    state.SetVideoLossSet(0);
    EXPECT_FALSE(state.DropLiveFrame(2));
}

TEST_F(StreamFramesTest, StreamsThatAreNotRunningOrNotWatchedAreDropped) {
    auto q1 = Watch(1);
    test::Encoder e;
    e.channel = 3;  // no decoder
    Send(kLive, test::LiveVideo(e, test::Pattern(4)));
    EXPECT_EQ(frames.Stats().noConsumer, 1u);

    // Live pieces after live stopped are read and dropped, half-built ones included.
    e.channel = 1;
    Piece(kLive, test::LiveVideo(e, test::Pattern(4)), false);
    state.SetLiveOn(false);
    Piece(kLive, test::Pattern(4), true);
    EXPECT_EQ(frames.FillCount(), 0u);
    state.SetLiveOn(true);
    Send(kLive, test::LiveVideo(e, test::Pattern(6)));
    ASSERT_EQ(q1->Count(), 1u);
    EXPECT_EQ(Payload(Take(*q1)), test::Pattern(6));

    // Playback data needs playback to run; other codes are not stream pieces at all.
    Bytes b(192, 0);
    PutBE32(b, 16, 0x20061123u);
    test::PutEncoder(b, 128, e);
    Send(kPlay, b);
    EXPECT_EQ(q1->Count(), 0u);
    Piece(protocol::msg::LIVE_CHANNEL_INFO, test::LiveVideo(e, {}), true);
    EXPECT_EQ(q1->Count(), 0u);
}

TEST_F(StreamFramesTest, PlaybackFramesCarryTitleAndDisplayMarks) {
    state.SetPlaybackOn(true);
    auto q4 = Watch(4);
    Bytes b(192, 0);
    PutBE32(b, 16, 0x20061123u);
    PutBE32(b, 28, 3);
    b[52] = 1;
    std::memcpy(b.data() + 96, "Gate", 4);
    PutBE32(b, 92, protocol::Crc32(std::span(b).subspan(96, 32)));
    test::Encoder e;
    e.channel = 4;
    e.size = 3;
    test::PutEncoder(b, 128, e);
    test::Append(b, {7, 8, 9});

    state.SetPlaybackReverse(true);
    Send(kPlay, b, {150});
    ASSERT_EQ(q4->Count(), 1u);
    auto f = Take(*q4);
    EXPECT_TRUE(f.DisplayExempt());
    EXPECT_TRUE(f.Reverse());
    EXPECT_EQ(std::memcmp(f.Info().title.data(), "Gate\0", 5), 0);
    EXPECT_EQ(f.Header().Channel(), 4u);
    EXPECT_EQ(Payload(f), (Bytes{7, 8, 9}));

    b[92] ^= 0xFF;  // title no longer matches its CRC
    b[52] = 2;      // only 1 marks a display-exempt frame
    state.SetPlaybackReverse(false);
    Send(kPlay, b);
    f = Take(*q4);
    EXPECT_FALSE(f.DisplayExempt());
    EXPECT_FALSE(f.Reverse());
    EXPECT_EQ(std::memcmp(f.Info().title.data(), "CH5\0", 4), 0);
}

TEST_F(StreamFramesTest, PlaybackAudioFollowsProductTypeAndSpeed) {
    state.SetPlaybackOn(true);
    auto audio = Listen();
    auto q = Watch(0);
    state.SetSelectedAudioChannel(2);
    // Little-endian header as most recorders store it: channels 0 and 2.
    Bytes le(64 + 96, 0);
    PutLE32(le, 16, 0x2518F049u);
    PutLE32(le, 52, 0x5u);
    std::fill(le.begin() + 64 + 48, le.end(), 0xB2);

    state.SetProductType(1);
    state.SetPlaybackAudio(false);  // not normal speed
    Send(kPlay, le);
    EXPECT_EQ(audio->Count(), 0u);
    EXPECT_EQ(state.LastAudioMask(), 0x5u);
    state.SetPlaybackAudio(true);
    Send(kPlay, le);
    ASSERT_EQ(audio->Count(), 1u);
    EXPECT_EQ(Take(*audio).bytes[47], 0xB2);

    // Product type 3 reads the same bytes big-endian: not an audio element, so it is
    // taken as a (broken) video frame and never reaches the audio queue.
    state.SetProductType(3);
    Send(kPlay, le);
    EXPECT_EQ(audio->Count(), 0u);
    Bytes be = le;
    PutBE32(be, 16, 0x2518F049u);
    PutBE32(be, 52, 0x5u);
    Send(kPlay, be);
    ASSERT_EQ(audio->Count(), 1u);
    EXPECT_EQ(Take(*audio).bytes[0], 0xB2);
    EXPECT_EQ(frames.Stats().audioQueued, 2u);

    // A recorder that is not the one heard (another is selected in the window) keeps its
    // selection and mask, but none of its blocks reaches the speaker.
    const std::uint64_t notHeard = frames.Stats().audioNotHeard;
    state.SetAudioHeard(false);
    Send(kPlay, be);
    EXPECT_EQ(audio->Count(), 0u);
    EXPECT_EQ(state.SelectedAudioChannel(), 2);
    EXPECT_EQ(frames.Stats().audioNotHeard, notHeard + 1);
    state.SetAudioHeard(true);
    Send(kPlay, be);
    EXPECT_EQ(audio->Count(), 1u);
}

}  // namespace
}  // namespace taviro::stream
