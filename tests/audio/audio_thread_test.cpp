// The audio thread between the audio queue and a recording device: chunk sizes, the
// decoded bytes and their order, mute and flush, and the live pipeline's audio start and
// stop with the heard channel chosen by the first element.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/audio_thread.h"
#include "audio/g726.h"
#include "audio/live_audio.h"
#include "protocol/byte_order.h"
#include "protocol/catalogue.h"
#include "stream/stream_frames.h"

namespace taviro::audio {
namespace {

using namespace std::chrono_literals;

class CRecordingOut final : public platform::ISoundOut {
  public:
    bool Open(const platform::SoundFormat& format, std::size_t chunkBytes) override {
        std::lock_guard lock(m_lock);
        m_format = format;
        m_chunkBytes = chunkBytes;
        return true;
    }
    bool Write(std::span<const std::uint8_t> pcm) override {
        std::lock_guard lock(m_lock);
        m_writes.emplace_back(pcm.begin(), pcm.end());
        return true;
    }
    void SetVolume(double) override {}
    void SetMuted(bool) override {}
    void Stop() override { m_bStopped.store(true); }

    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::lock_guard lock(m_lock);
        return m_writes;
    }
    bool WaitForWrites(std::size_t n, std::chrono::milliseconds limit = 3s) const {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            if (Writes().size() >= n)
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    std::size_t ChunkBytes() const {
        std::lock_guard lock(m_lock);
        return m_chunkBytes;
    }
    platform::SoundFormat Format() const {
        std::lock_guard lock(m_lock);
        return m_format;
    }
    std::atomic<bool> m_bStopped{false};

  private:
    mutable std::mutex m_lock;
    platform::SoundFormat m_format{0, 0, 0};
    std::size_t m_chunkBytes = 0;
    std::vector<std::vector<std::uint8_t>> m_writes;
};

// Block b of a test stream: varied code words so a decoder state mix-up shows.
stream::HeardBlock Block(std::size_t b) {
    stream::HeardBlock block{};
    for (std::size_t i = 0; i < block.bytes.size(); ++i)
        block.bytes[i] = static_cast<std::uint8_t>((b * 37 + i * 11) ^ (i >> 2));
    return block;
}

// What the device must receive for blocks [from, to) decoded with one decoder from reset.
std::vector<std::uint8_t> Expected(std::size_t from, std::size_t to) {
    std::vector<std::uint8_t> packed;
    for (std::size_t b = from; b < to; ++b) {
        const auto block = Block(b);
        packed.insert(packed.end(), block.bytes.begin(), block.bytes.end());
    }
    std::vector<std::int16_t> samples(packed.size() / 3 * 8);
    CG726Decoder decoder;
    decoder.Decode(packed, samples);
    std::vector<std::uint8_t> bytes;
    for (const std::int16_t s : samples) {
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8));
    }
    return bytes;
}

bool WaitEmpty(const stream::CAudioQueue& queue) {
    for (int i = 0; i < 1000 && queue.Count() > 0; ++i)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);  // the last entry taken is handled too
    return queue.Count() == 0;
}

TEST(ChunkSize, GrowsByFourBlocksPerAudioBufStep) {
    EXPECT_EQ(ChunkBlocks(0), 32u);
    EXPECT_EQ(ChunkBlocks(1), 36u);
    EXPECT_EQ(ChunkBlocks(2), 40u);
    EXPECT_EQ(ChunkBlocks(8), 64u);
    EXPECT_EQ(ChunkBlocks(-3), 32u);
    EXPECT_EQ(ChunkBlocks(99), 64u);
}

TEST(AudioThread, WritesOneChunkPerFortyBlocksAtAudioBufTwo) {
    auto queue = std::make_shared<stream::CAudioQueue>();
    CRecordingOut out;
    CAudioThread thread(queue, out, 2);
    EXPECT_EQ(thread.ChunkBlockCount(), 40u);
    EXPECT_EQ(out.ChunkBytes(), 10'240u);
    EXPECT_EQ(out.Format().channels, 2);
    EXPECT_EQ(out.Format().framesPerSecond, 8000);
    EXPECT_EQ(out.Format().bitsPerSample, 16);
    for (std::size_t b = 0; b < 39; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(WaitEmpty(*queue));
    EXPECT_TRUE(out.Writes().empty());  // 1,872 bytes in: not a chunk yet
    queue->Put(Block(39));
    ASSERT_TRUE(out.WaitForWrites(1));
    for (std::size_t b = 40; b < 80; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(out.WaitForWrites(2));
    const auto writes = out.Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].size(), 10'240u);
    // One decoder state across chunks, samples little-endian in order.
    const auto all = Expected(0, 80);
    EXPECT_EQ(writes[0], std::vector<std::uint8_t>(all.begin(), all.begin() + 10'240));
    EXPECT_EQ(writes[1], std::vector<std::uint8_t>(all.begin() + 10'240, all.end()));
    thread.Stop();
    EXPECT_TRUE(out.m_bStopped.load());
    EXPECT_FALSE(thread.Running());
}

TEST(AudioThread, MuteDropsEntriesAndThePartialChunk) {
    auto queue = std::make_shared<stream::CAudioQueue>();
    CRecordingOut out;
    CAudioThread thread(queue, out, 0);  // 32 blocks
    for (std::size_t b = 0; b < 20; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(WaitEmpty(*queue));
    thread.SetMuted(true);
    for (std::size_t b = 100; b < 140; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(WaitEmpty(*queue));
    EXPECT_TRUE(out.Writes().empty());
    EXPECT_GE(thread.EntriesDropped(), 40u);
    thread.SetMuted(false);
    // The 20 blocks before the mute are gone: a chunk takes 32 new ones, decoded from the
    // state the decoder had (no chunk decoded yet: the reset state).
    for (std::size_t b = 200; b < 231; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(WaitEmpty(*queue));
    EXPECT_TRUE(out.Writes().empty());
    queue->Put(Block(231));
    ASSERT_TRUE(out.WaitForWrites(1));
    EXPECT_EQ(out.Writes()[0], Expected(200, 232));
}

TEST(AudioThread, FlushFreesEntriesUnprocessed) {
    auto queue = std::make_shared<stream::CAudioQueue>();
    CRecordingOut out;
    CAudioThread thread(queue, out, 0);
    queue->SetFlush(true);
    for (std::size_t b = 0; b < 64; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(WaitEmpty(*queue));
    EXPECT_TRUE(out.Writes().empty());
    queue->SetFlush(false);
    for (std::size_t b = 0; b < 32; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(out.WaitForWrites(1));
    EXPECT_EQ(out.Writes()[0], Expected(0, 32));
}

TEST(AudioThread, StopsPromptlyWhileIdleAndAfterTheFirstChunkPause) {
    auto queue = std::make_shared<stream::CAudioQueue>();
    CRecordingOut out;
    auto thread = std::make_unique<CAudioThread>(queue, out, 0);
    for (std::size_t b = 0; b < 32; ++b)
        queue->Put(Block(b));
    ASSERT_TRUE(out.WaitForWrites(1));
    const auto start = std::chrono::steady_clock::now();
    thread.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

// A live audio element of `mask` whose block for channel c is filled with c + 1 + 16 * k.
std::vector<std::uint8_t> AudioElement(protocol::ChannelMask mask, std::uint8_t k) {
    std::vector<std::uint8_t> e(64, 0);
    protocol::StoreBE32(e.data() + 16, 0x2518F049u);
    protocol::StoreBE32(e.data() + 40, mask);
    for (int c = 0; c < 16; ++c) {
        if (protocol::HasChannel(mask, c))
            e.insert(e.end(), 48, static_cast<std::uint8_t>(c + 1 + 16 * k));
    }
    protocol::StoreBE32(e.data() + 28, static_cast<std::uint32_t>(e.size() - 64));
    return e;
}

TEST(LiveAudio, StartsOnlyWithADeviceAndHearsTheLowestChannelFirst) {
    stream::CStreamState state;
    stream::CConsumerSlots slots;
    stream::CStreamFrames frames(state, slots);
    CLiveAudio audio(state, slots);
    audio.Start(0, nullptr);  // no sound device: no audio thread, slot 16 empty
    EXPECT_EQ(audio.Thread(), nullptr);
    EXPECT_EQ(slots.Audio(), nullptr);

    CRecordingOut out;
    state.SetSelectedAudioChannel(5);
    state.SetLastAudioMask(0x20);
    audio.Start(0, &out);
    ASSERT_NE(audio.Thread(), nullptr);
    EXPECT_TRUE(audio.Running());
    EXPECT_EQ(state.SelectedAudioChannel(), -1);  // start resets the selection
    EXPECT_EQ(state.LastAudioMask(), 0u);

    std::uint8_t info[4] = {0, 0, 0xFF, 0xFF};
    frames.OnLiveChannelInfo(info);
    const auto header = protocol::PacketHeader::Make(protocol::msg::LIVE_DATA, 0, true);
    for (std::uint8_t k = 0; k < 32; ++k) {
        const auto element = AudioElement(0x0A, k % 8);  // channels 1 and 3
        frames.OnStreamPiece(protocol::msg::LIVE_DATA, header, element);
    }
    EXPECT_EQ(state.SelectedAudioChannel(), 1);
    EXPECT_EQ(state.LastAudioMask(), 0x0Au);
    ASSERT_TRUE(out.WaitForWrites(1));
    // Channel 1's blocks, never channel 3's.
    std::vector<std::uint8_t> packed;
    for (std::uint8_t k = 0; k < 32; ++k)
        packed.insert(packed.end(), 48, static_cast<std::uint8_t>(2 + 16 * (k % 8)));
    std::vector<std::int16_t> samples(packed.size() / 3 * 8);
    CG726Decoder decoder;
    decoder.Decode(packed, samples);
    const auto written = out.Writes()[0];
    ASSERT_EQ(written.size(), samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        ASSERT_EQ(static_cast<std::int16_t>(written[2 * i] | written[2 * i + 1] << 8), samples[i]);

    audio.DrainAndStop();
    EXPECT_EQ(audio.Thread(), nullptr);
    EXPECT_FALSE(audio.Running());
    EXPECT_EQ(slots.Audio(), nullptr);
    EXPECT_TRUE(out.m_bStopped.load());
}

}  // namespace
}  // namespace taviro::audio
